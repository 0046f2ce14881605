#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include "find/ui/AdvancedFindResultsModel.h"
#include "find/ui/AdvancedFindRuleRowView.h"
#include "find/ui/AdvancedFindViewController.h"
#include "find/ui/AdvancedFindWindowController.h"
#include "find/ui/UserActions.h"
#include "library/LibraryWithTagsViewController.h"
#include "library/ui/LibraryWindowController.h"
#include "support/StoreFixture.h"

namespace ovalis::test {
namespace {

using AdvancedFindWindowControllerTest = StoreFixture;

TEST_F(AdvancedFindWindowControllerTest, OpensAtItsSizeAndComesBackWhereItWasLeft)
{
    {
        AdvancedFindWindowController window(context());
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Advanced Find"));
        EXPECT_EQ(window.size(), QSize(800, 560));
        EXPECT_EQ(window.minimumSize(), QSize(500, 350));
        window.showWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        // Narrowed to its minimum, the results columns keep their minimum widths.
        window.resize(window.minimumSize());
        QCoreApplication::processEvents();
        QHeaderView *header = window.viewController()->resultsTableView()->horizontalHeader();
        for (int column = 0; column < AdvancedFindResultsModel::ColumnCount; ++column)
            EXPECT_GE(header->sectionSize(column), AdvancedFindResultsModel::columnDescription(column).minimumWidth);
        header->resizeSection(AdvancedFindResultsModel::SummaryColumn, 10);
        EXPECT_EQ(header->sectionSize(AdvancedFindResultsModel::SummaryColumn), 120);
        window.resize(640, 420);
        // Closing hides the window, keeping what it shows.
        EXPECT_TRUE(window.close());
        EXPECT_EQ(window.viewController()->ruleRowViews().size(), 1);
    }
    AdvancedFindWindowController reopened(context());
    EXPECT_EQ(reopened.size(), QSize(640, 420));
}

TEST_F(AdvancedFindWindowControllerTest, TheLibraryWindowMakesItOnceAndSelectsADoubleClickedResult)
{
    QList<Case *> cases;
    for (int i = 0; i < 3; ++i) {
        cases << newCase(QStringLiteral("ABC100%1").arg(i), QStringLiteral("summary %1").arg(i));
        cases.last()->setDateAdded(QDateTime(QDate(2024, 5, 1 + i), QTime(8, 0)));
    }
    context()->saveWithParent(true);
    LibraryWindowController library(*m_stack);
    library.show();
    // A search in the library hides the case that will be asked for.
    library.performSearch(QStringLiteral("summary 0"));
    ASSERT_EQ(library.libraryViewController()->displayedCases(), QList<Case *>{cases[0]});

    EXPECT_EQ(library.advancedFindWindowController(), nullptr);
    EXPECT_TRUE(library.advancedFindToolbarItem()->isEnabled());
    EXPECT_EQ(library.showAdvancedFindMenuItem()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+F")));
    library.advancedFindToolbarItem()->trigger();
    AdvancedFindWindowController *window = library.advancedFindWindowController();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    window->close();
    library.showAdvancedFindMenuItem()->trigger();
    EXPECT_EQ(library.advancedFindWindowController(), window);
    EXPECT_TRUE(window->isVisible());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));

    AdvancedFindViewController *find = window->viewController();
    static_cast<QLineEdit *>(find->ruleRowViews().first()->valueControl())->setText(QStringLiteral("summary"));
    find->performSearch();
    ASSERT_EQ(find->results(), (QList<Case *>{cases[2], cases[1], cases[0]}));
    QTableView *table = find->resultsTableView();
    doubleClick(table, table->visualRect(table->model()->index(1, 0)).center());
    QCoreApplication::processEvents();
    EXPECT_EQ(library.libraryViewController()->selectedCases(), QList<Case *>{cases[1]});
    EXPECT_EQ(library.libraryViewController()->displayedCases().size(), 3);
}

} // namespace
} // namespace ovalis::test
