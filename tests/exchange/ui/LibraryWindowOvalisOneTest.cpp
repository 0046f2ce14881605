#include <QFileDialog>
#include <QMenuBar>
#include <QPointer>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <gtest/gtest.h>

#include "../OvalisOneImportFixture.h"
#include "exchange/ImportVersion1ViewModel.h"
#include "exchange/ui/ImportVersion1View.h"
#include "exchange/ui/OvalisOneImportController.h"
#include "library/ui/LibraryWindowController.h"

namespace ovalis::test {
namespace {

class LibraryWindowOvalisOneTest : public OvalisOneImportFixture
{
protected:
    void TearDown() override
    {
        m_window.reset();
        OvalisOneImportFixture::TearDown();
    }

    QAction *fileMenuAction(const QString &text) const
    {
        for (QAction *menu : m_window->menuBar()->actions())
            if (menu->text().remove(QLatin1Char('&')) == QLatin1String("File") && menu->menu())
                for (QAction *action : menu->menu()->actions())
                    if (action->text() == text)
                        return action;
        return nullptr;
    }

    std::unique_ptr<LibraryWindowController> m_window;
};

TEST_F(LibraryWindowOvalisOneTest, TheFileMenuChoosesDocumentsOrSearchesForThem)
{
    ASSERT_TRUE(QDir().mkpath(m_directory.filePath(QStringLiteral("home"))));
    {
        OvalisOneDocumentWriter writer(m_directory.filePath(QStringLiteral("home/Teaching.ovalis")));
        writer.insert(QStringLiteral("Condition"));
    }
    m_window = std::make_unique<LibraryWindowController>(*m_stack);
    m_window->show();
    OvalisOneImportController *controller = m_window->ovalisOneImportController();
    controller->setSearchRoot(m_directory.filePath(QStringLiteral("home")));
    QAction *choose = fileMenuAction(QStringLiteral("Import Ovalis v1 Documents…"));
    QAction *search = fileMenuAction(QStringLiteral("Find Ovalis v1 Documents…"));
    ASSERT_TRUE(choose && search);

    choose->trigger();
    QPointer<QFileDialog> dialog = m_window->findChild<QFileDialog *>();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFiles);
    EXPECT_EQ(dialog->labelText(QFileDialog::Accept), QStringLiteral("Import"));
    EXPECT_TRUE(dialog->nameFilters().join(QString()).contains(QStringLiteral("*.ovalis")));
    dialog->reject();

    QSignalSpy shown(controller, &OvalisOneImportController::choiceWindowShown);
    search->trigger();
    ASSERT_TRUE(shown.wait(30000));
    ASSERT_TRUE(controller->choiceWindow());
    EXPECT_EQ(controller->choiceWindow()->model()->selectedURLs(),
              QList<QUrl>{QUrl::fromLocalFile(m_directory.filePath(QStringLiteral("home/Teaching.ovalis")))});
}

TEST_F(LibraryWindowOvalisOneTest, ARunSaysInTheStatusBarWhatItImportedAndAFailureKeepsItsAlert)
{
    for (const QString &name : {QStringLiteral("Teaching"), QStringLiteral("Neuro")}) {
        OvalisOneDocumentWriter writer(documentPath(name));
        writer.insert(QStringLiteral("Condition"));
        writer.insert(QStringLiteral("Condition"));
    }
    m_window = std::make_unique<LibraryWindowController>(*m_stack);
    m_window->show();
    OvalisOneImportController *controller = m_window->ovalisOneImportController();
    QStringList alerts;
    controller->setAlertPresenter([&](const QString &text, const QString &) { alerts << text; });
    QSignalSpy finished(controller, &OvalisOneImportController::importFinished);

    // One document chosen in the File menu's panel.
    fileMenuAction(QStringLiteral("Import Ovalis v1 Documents…"))->trigger();
    QPointer<QFileDialog> dialog = m_window->findChild<QFileDialog *>();
    ASSERT_TRUE(dialog);
    dialog->selectFile(documentPath(QStringLiteral("Teaching")));
    static_cast<QDialog *>(dialog.data())->accept();
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_EQ(m_window->statusBar()->currentMessage(), QStringLiteral("Imported 2 cases with 0 media files from “Teaching.ovalis”."));

    // Two documents are counted.
    controller->importDocuments({documentPath(QStringLiteral("Teaching")), documentPath(QStringLiteral("Neuro"))});
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_EQ(m_window->statusBar()->currentMessage(), QStringLiteral("Imported 4 cases with 0 media files from 2 documents."));
    EXPECT_TRUE(alerts.isEmpty());

    // A document that cannot be opened is an alert, and the status bar claims nothing.
    m_window->statusBar()->clearMessage();
    controller->importDocuments({documentPath(QStringLiteral("Missing"))});
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_EQ(alerts, QStringList{QStringLiteral("The document “Missing.ovalis” could not be opened.")});
    EXPECT_TRUE(m_window->statusBar()->currentMessage().isEmpty());
}

} // namespace
} // namespace ovalis::test
