#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "library/CaseHistory.h"
#include "library/CaseTableModel.h"
#include "library/LibraryWithTagsViewController.h"
#include "library/ui/LibraryWindowController.h"
#include "library/ui/LibraryWithTagsView.h"
#include "library/ui/SearchField.h"
#include "media/ui/MediaWindowController.h"
#include "media/ui/SelectableMediaCollectionViewController.h"
#include "support/EncodedImage.h"
#include "support/MenuTitles.h"
#include "support/StoreFixture.h"
#include "util/Log.h"

namespace ovalis::test {
namespace {

class HistoryMenuTest : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        CaseHistory::shared().clear();
        Settings::shared().setValue(QStringLiteral("Library_Case_Columns"), QVariant());
        m_delegate = std::make_unique<AppDelegate>(*m_stack);
    }

    void TearDown() override
    {
        m_window.reset();
        m_delegate.reset();
        CaseHistory::shared().clear();
        StoreFixture::TearDown();
    }

    // ABC1001 … ABC1003 with media, in rows 0 … 2.
    void openLibraryWindow()
    {
        const QByteArray data = encodedImage(QSize(40, 30), Qt::gray, "PNG");
        for (int i = 1; i <= 3; ++i) {
            m_cases.append(newCase(QStringLiteral("ABC100%1").arg(i), QStringLiteral("Summary %1").arg(i)));
            m_cases.last()->addMedia(data, QStringLiteral("image.png"));
        }
        context()->saveWithParent(true);
        m_window = std::make_unique<LibraryWindowController>(*m_stack, m_delegate.get());
        m_window->libraryView()->casesTableView()->sortByColumn(CaseTableModel::PatientIDColumn, Qt::AscendingOrder);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }

    // The titles as the menu shows them when it opens.
    static QStringList openedTitles(QMenu *menu)
    {
        emit menu->aboutToShow();
        return menuTitles(menu);
    }

    QMenu *windowHistoryMenu() const
    {
        for (QAction *action : m_window->menuBar()->actions())
            if (action->text().remove(u'&') == QStringLiteral("History"))
                return action->menu();
        return nullptr;
    }

    QList<Case *> selected() const { return m_window->libraryViewController()->selectedCases(); }

    std::unique_ptr<AppDelegate> m_delegate;
    std::unique_ptr<LibraryWindowController> m_window;
    QList<Case *> m_cases;
};

TEST_F(HistoryMenuTest, ListsTheNewestEntryFirstThenClearAllOrOnlyNoItems)
{
    QWidget parent;
    QMenu *menu = m_delegate->createHistoryMenu(&parent);
    EXPECT_EQ(openedTitles(menu), QStringList{QStringLiteral("No Items")});
    EXPECT_FALSE(menu->actions().first()->isEnabled());

    Case *adult = newCase(QStringLiteral("ABC1001"));
    adult->setDateOfBirth(QDateTime(QDate(1978, 3, 10), QTime(12, 0)));
    adult->setDateOfDiagnosis(QDateTime(QDate(2023, 6, 27), QTime(12, 0)));
    adult->setSex(Sex::male);
    Case *anonymous = newCase(QString());
    anonymous->setDateOfBirth(QDateTime(QDate(2023, 6, 1), QTime(12, 0)));
    anonymous->setDateOfDiagnosis(QDateTime(QDate(2023, 6, 18), QTime(12, 0)));
    anonymous->setSex(Sex::female);
    Case *ampersand = newCase(QStringLiteral("R&D1"));
    Case *summarised = newCase(QString(), QStringLiteral("Tension pneumothorax\nafter line insertion"));
    Case *blank = newCase(QStringLiteral("  "));
    for (Case *item : {adult, anonymous, ampersand, summarised, blank})
        CaseHistory::shared().push(item);

    // Nothing is shown as an empty identifier or an empty "( )".
    EXPECT_EQ(openedTitles(menu), (QStringList{"No identifier", "Tension pneumothorax", "R&&D1", "No identifier (2w 3d F)",
                                               "ABC1001 (45y 3m M)", "---", "Clear All"}));
    EXPECT_EQ(menu->actions().first()->data(), 4);
    EXPECT_TRUE(menu->actions().first()->isEnabled());

    // Opened again after a deletion: the deleted case is gone from the history.
    context()->deleteObject(anonymous);
    EXPECT_EQ(openedTitles(menu), (QStringList{"No identifier", "Tension pneumothorax", "R&&D1", "ABC1001 (45y 3m M)", "---", "Clear All"}));
    EXPECT_EQ(CaseHistory::shared().count(), 4);

    menu->actions().last()->trigger();
    EXPECT_EQ(CaseHistory::shared().count(), 0);
    EXPECT_EQ(openedTitles(menu), QStringList{QStringLiteral("No Items")});
}

TEST_F(HistoryMenuTest, AnEntryResetsTheLibraryAndShowsItsCasesMedia)
{
    openLibraryWindow();
    CaseHistory::shared().push(m_cases[1]);
    CaseHistory::shared().push(m_cases[2]);
    m_window->searchField()->setText(QStringLiteral("ABC1001"));
    QCoreApplication::processEvents();
    ASSERT_EQ(m_window->libraryViewController()->displayedCases(), QList<Case *>{m_cases[0]});

    QMenu *menu = windowHistoryMenu();
    ASSERT_NE(menu, nullptr);
    LogCapture capture;
    ASSERT_EQ(openedTitles(menu).value(1), QStringLiteral("ABC1002"));
    menu->actions().at(1)->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(m_window->searchField()->text().isEmpty());
    EXPECT_EQ(selected(), QList<Case *>{m_cases[1]});
    EXPECT_TRUE(capture.contains(QStringLiteral("Show case: ") + m_cases[1]->description()));
    MediaWindowController *media = m_window->mediaWindowController();
    ASSERT_NE(media, nullptr);
    EXPECT_TRUE(media->isVisible());
    EXPECT_EQ(media->collectionViewController()->currentCase(), m_cases[1]);
    // Showing the media records the case as the newest entry again.
    EXPECT_EQ(CaseHistory::shared().cases(), (QList<Case *>{m_cases[2], m_cases[1]}));

    // Outside the history, or for a deleted case, nothing happens.
    m_window->libraryViewController()->selectCaseRows({0});
    context()->deleteObject(m_cases[2]);
    QCoreApplication::processEvents();
    m_delegate->openHistoricalCase(2);
    m_delegate->openHistoricalCase(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(selected(), QList<Case *>{m_cases[0]});
    EXPECT_EQ(media->collectionViewController()->currentCase(), m_cases[0]);
}

} // namespace
} // namespace ovalis::test
