#include <QListView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "exchange/ImportVersion1ViewModel.h"
#include "exchange/ui/ImportVersion1View.h"
#include "exchange/ui/ImportableURLDelegate.h"
#include "exchange/ui/OvalisOneImportController.h"
#include "../OvalisOneImportFixture.h"

namespace ovalis::test {
namespace {

class ImportVersion1ViewTest : public OvalisOneImportFixture
{
protected:
    // Waits for a pointer to be cleared (a window deleted) or a flag to be set.
    template<class Condition>
    static bool waitFor(Condition condition)
    {
        QDeadlineTimer deadline(30000);
        while (!condition() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        return condition();
    }

    static void clickRow(QListView *list, int row)
    {
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, ImportableURLDelegate::toggleRect(rect).center());
    }
};

TEST_F(ImportVersion1ViewTest, TheWindowOffersTheDocumentsAndOnlyItsButtonsCloseIt)
{
    auto *model = new ImportVersion1ViewModel(ImportVersion1ViewModel::importableURLs(
        {QUrl::fromLocalFile(QStringLiteral("/home/u/Teaching.ovalis")), QUrl::fromLocalFile(QStringLiteral("/home/u/Neuro.ovalis"))}));
    QPointer<ImportVersion1View> window = new ImportVersion1View(model);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));

    EXPECT_EQ(window->windowTitle(), QStringLiteral("Found Ovalis v1 Documents"));
    EXPECT_EQ(window->size(), QSize(700, 600));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(window->heading()->text(), QStringLiteral("Choose from 2 documents available to import"));
    EXPECT_EQ(window->defaultButton()->text(), QStringLiteral("Import"));
    EXPECT_TRUE(window->defaultButton()->isDefault());

    clickRow(window->listView(), 1);
    EXPECT_EQ(model->selectedURLs(), QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/home/u/Teaching.ovalis"))});
    QTest::mouseClick(window->unselectAllButton(), Qt::LeftButton);
    EXPECT_EQ(window->defaultButton()->text(), QStringLiteral("Done"));
    QTest::mouseClick(window->selectAllButton(), Qt::LeftButton);
    EXPECT_EQ(model->selectedURLs().size(), 2);

    // Closing from outside is refused; Escape dismisses.
    window->close();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(Settings::shared().boolValue(QStringLiteral("OfferedImportVersion1")));
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_TRUE(waitFor([&] { return window.isNull(); }));
    EXPECT_TRUE(Settings::shared().boolValue(QStringLiteral("OfferedImportVersion1")));
}

TEST_F(ImportVersion1ViewTest, FoundDocumentsAreOfferedAndTheChosenOnesImported)
{
    ASSERT_TRUE(QDir().mkpath(m_directory.filePath(QStringLiteral("home/Old"))));
    for (const QString &name : {QStringLiteral("home/Teaching.ovalis"), QStringLiteral("home/Old/Neuro.ovalis")}) {
        OvalisOneDocumentWriter writer(m_directory.filePath(name));
        writer.insert(QStringLiteral("Condition"), {{QStringLiteral("conditionDescription"), name}});
    }
    QWidget libraryWindow;
    OvalisOneImportController controller(context(), &libraryWindow);
    controller.setSearchRoot(m_directory.filePath(QStringLiteral("home")));
    QSignalSpy shown(&controller, &OvalisOneImportController::choiceWindowShown);
    QSignalSpy finished(&controller, &OvalisOneImportController::importFinished);

    controller.importOvalisOneAutomatically();
    ASSERT_TRUE(shown.wait(30000));
    QPointer<ImportVersion1View> window = controller.choiceWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->model()->rowCount(), 2);
    window->model()->toggleRow(0); // Old/Neuro comes first by path
    QTest::mouseClick(window->defaultButton(), Qt::LeftButton);
    ASSERT_TRUE(finished.wait(30000));

    EXPECT_TRUE(waitFor([&] { return window.isNull(); }));
    EXPECT_TRUE(Settings::shared().boolValue(QStringLiteral("OfferedImportVersion1")));
    const QList<Case *> cases = fetchCases(QString());
    ASSERT_EQ(cases.size(), 1);
    EXPECT_EQ(cases[0]->summary(), QStringLiteral("home/Teaching.ovalis"));
    EXPECT_FALSE(OvalisOneImportController::shouldOfferAtStart(context()));
}

TEST_F(ImportVersion1ViewTest, ANewerSearchReplacesTheOpenWindowWithoutRecordingTheOffer)
{
    QWidget libraryWindow;
    OvalisOneImportController controller(context(), &libraryWindow);
    controller.showChoiceWindow({documentPath(QStringLiteral("A"))});
    QPointer<ImportVersion1View> first = controller.choiceWindow();
    ASSERT_TRUE(first);

    controller.showChoiceWindow({documentPath(QStringLiteral("A")), documentPath(QStringLiteral("B"))});

    EXPECT_TRUE(waitFor([&] { return first.isNull(); }));
    ASSERT_TRUE(controller.choiceWindow());
    EXPECT_EQ(controller.choiceWindow()->model()->rowCount(), 2);
    EXPECT_FALSE(Settings::shared().boolValue(QStringLiteral("OfferedImportVersion1")));
}

TEST_F(ImportVersion1ViewTest, AFailedRunTellsTheUserWhichDocumentAndWhatCameBefore)
{
    {
        OvalisOneDocumentWriter writer(documentPath(QStringLiteral("First")));
        writer.insert(QStringLiteral("Condition"));
    }
    QWidget libraryWindow;
    OvalisOneImportController controller(context(), &libraryWindow);
    QStringList alerts;
    controller.setAlertPresenter([&](const QString &text, const QString &details) { alerts << text << details; });
    QSignalSpy finished(&controller, &OvalisOneImportController::importFinished);
    EXPECT_TRUE(OvalisOneImportController::shouldOfferAtStart(context()));

    controller.importDocuments({documentPath(QStringLiteral("First")), documentPath(QStringLiteral("Missing")), documentPath(QStringLiteral("Last"))});
    ASSERT_TRUE(finished.wait(30000));

    ASSERT_EQ(alerts.size(), 2);
    EXPECT_EQ(alerts[0], QStringLiteral("The document “Missing.ovalis” could not be opened."));
    EXPECT_EQ(alerts[1], QStringLiteral("The file does not exist.\n\nImported before it: “First.ovalis”. "
                                        "The import stopped there: documents after it were not imported."));
    EXPECT_EQ(fetchCases(QString()).size(), 1);
}

} // namespace
} // namespace ovalis::test
