#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QItemSelectionModel>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include "exchange/BackupReminder.h"
#include "exchange/LabelledProgressInfo.h"
#include "exchange/ui/BackupReminderView.h"
#include "exchange/ui/LabelledProgressView.h"
#include "library/CaseTableModel.h"
#include "library/LibraryWithTagsViewController.h"
#include "library/TagTableModel.h"
#include "library/ui/CaseColumnFitter.h"
#include "library/ui/DetailTabViewController.h"
#include "library/ui/InfoViewController.h"
#include "library/ui/LibrarySplitViewController.h"
#include "library/ui/LibraryWindowController.h"
#include "library/ui/LibraryWithTagsView.h"
#include "library/ui/SearchField.h"
#include "library/ui/TagTokenField.h"
#include "store/LibraryNotifications.h"
#include "support/StoreFixture.h"
#include "transfer/MirrorService.h"
#include "transfer/ui/MirrorStatusView.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/UndoManager.h"

namespace ovalis::test {
namespace {

class LibraryWindowTest : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        // Patient identifiers sort the list, so rows are predictable.
        Settings::shared().setValue(QStringLiteral("Library_Case_Columns"), QVariant());
    }

    void TearDown() override
    {
        m_window.reset();
        StoreFixture::TearDown();
    }

    // Four cases, ABC1001 … ABC1004, in rows 0 … 3 (sorted by identifier);
    // tag "chest" on the first two, "spine" on the second.
    void makeLibrary()
    {
        m_chest = newTag(QStringLiteral("chest"));
        m_spine = newTag(QStringLiteral("spine"));
        for (int i = 1; i <= 4; ++i)
            m_cases.append(newCase(QStringLiteral("ABC100%1").arg(i), QStringLiteral("Summary %1").arg(i)));
        m_cases[0]->addToTags(m_chest);
        m_cases[1]->addToTags(m_chest);
        m_cases[1]->addToTags(m_spine);
        m_cases[2]->setDetail(QStringLiteral("Compare with ABC1004 and ZZZ9999"));
        context()->saveWithParent(true);
    }

    void openWindow()
    {
        m_window = std::make_unique<LibraryWindowController>(*m_stack);
        m_window->libraryView()->casesTableView()->sortByColumn(CaseTableModel::PatientIDColumn, Qt::AscendingOrder);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }

    LibraryWithTagsViewController *library() const { return m_window->libraryViewController(); }
    QList<Case *> listed() const { return library()->displayedCases(); }
    QList<Case *> selected() const { return library()->selectedCases(); }
    void postAndDeliver(const QString &name, const QVariantMap &userInfo = {})
    {
        NotificationCenter::defaultCenter().post(name, nullptr, userInfo);
        QCoreApplication::processEvents();
    }

    QAction *fileMenuItem(const QString &title) const
    {
        for (QAction *menu : m_window->menuBar()->actions())
            if (menu->menu() && menu->text().remove(u'&') == QLatin1String("File"))
                for (QAction *action : menu->menu()->actions())
                    if (action->text() == title)
                        return action;
        return nullptr;
    }

    std::unique_ptr<LibraryWindowController> m_window;
    QList<Case *> m_cases;
    Tag *m_chest = nullptr;
    Tag *m_spine = nullptr;
};

TEST_F(LibraryWindowTest, StartsCuratingWithScopeAllWhateverTheLastRunLeft)
{
    makeLibrary();
    Settings::shared().setValue(QStringLiteral("Teaching_Mode"), true);
    openWindow();
    EXPECT_FALSE(Settings::shared().boolValue(QStringLiteral("Teaching_Mode")));
    EXPECT_EQ(m_window->searchField()->placeholderText(), QStringLiteral("Search All"));
    EXPECT_FALSE(m_window->searchField()->isHighlighted());
    EXPECT_EQ(m_window->currentSearchScopeKeysArray(),
              (QStringList{QStringLiteral("summary"), QStringLiteral("detail"), QStringLiteral("patientID")}));
    EXPECT_EQ(listed().size(), 4);
    EXPECT_FALSE(m_window->libraryView()->casesTableView()->isColumnHidden(CaseTableModel::DateAddedColumn));
    EXPECT_EQ(m_window->toggleTeachingModeMenuTitle(), QStringLiteral("Teaching Mode"));
}

TEST_F(LibraryWindowTest, ScopesSearchTheirKeysAndHighlightTheField)
{
    makeLibrary();
    openWindow();
    // "ABC1004" is the identifier of case 4 and appears in the detail of case 3.
    m_window->searchField()->setText(QStringLiteral("abc1004"));
    EXPECT_EQ(listed(), (QList<Case *>{m_cases[2], m_cases[3]}));

    LogCapture log;
    m_window->limitSearchScope(QStringLiteral("Patient Identifier"));
    EXPECT_TRUE(log.contains(QStringLiteral("Limit search scope to Patient Identifier")));
    EXPECT_TRUE(log.contains(QStringLiteral("Setting searchFieldHighlight to ON")));
    EXPECT_EQ(m_window->searchField()->placeholderText(), QStringLiteral("Search Patient Identifier"));
    EXPECT_TRUE(m_window->searchField()->isHighlighted());
    EXPECT_EQ(listed(), QList<Case *>{m_cases[3]});

    m_window->limitSearchScope(QStringLiteral("Summary"));
    EXPECT_TRUE(listed().isEmpty());
    EXPECT_EQ(library()->caseCountText(), QStringLiteral("Showing 0 cases"));

    // Emptying the field removes the search; an active tag filter stays.
    m_window->limitSearchScope(QStringLiteral("All"));
    m_chest->setActive(true);
    library()->refreshTagActivity();
    m_window->searchField()->setText(QStringLiteral("summary 2"));
    EXPECT_EQ(listed(), QList<Case *>{m_cases[1]});
    m_window->searchField()->clear();
    EXPECT_EQ(listed(), (QList<Case *>{m_cases[0], m_cases[1]}));
}

TEST_F(LibraryWindowTest, PatientIdentifierFindHasThreeOutcomes)
{
    makeLibrary();
    openWindow();

    // One listed case: selected, search and filter untouched.
    m_window->searchField()->setText(QStringLiteral("summary"));
    postAndDeliver(LibraryNotifications::setFind, {{QStringLiteral("Identifier"), QStringLiteral("abc1003")}});
    EXPECT_EQ(selected(), QList<Case *>{m_cases[2]});
    EXPECT_EQ(m_window->searchField()->text(), QStringLiteral("summary"));

    // One case hidden by the tag filter: filter and search cleared, then selected.
    m_chest->setActive(true);
    library()->refreshTagActivity();
    library()->refreshFilters();
    ASSERT_EQ(listed().size(), 2);
    postAndDeliver(LibraryNotifications::setFind, {{QStringLiteral("Identifier"), QStringLiteral("ABC1004")}});
    EXPECT_FALSE(m_chest->active());
    EXPECT_TRUE(m_window->searchField()->text().isEmpty());
    EXPECT_EQ(listed().size(), 4);
    EXPECT_EQ(selected(), QList<Case *>{m_cases[3]});

    // Several cases: a patient-identifier search listing them all, first selected.
    postAndDeliver(LibraryNotifications::setFind, {{QStringLiteral("Identifier"), QStringLiteral("ABC100")}});
    EXPECT_EQ(m_window->searchField()->text(), QStringLiteral("ABC100"));
    EXPECT_EQ(m_window->searchField()->scopeTitle(), QStringLiteral("Patient Identifier"));
    EXPECT_EQ(listed().size(), 4);
    EXPECT_EQ(selected(), QList<Case *>{m_cases[0]});

    // None: the same search, which lists nothing.
    postAndDeliver(LibraryNotifications::setFind, {{QStringLiteral("Identifier"), QStringLiteral("XYZ0000")}});
    EXPECT_TRUE(listed().isEmpty());
    EXPECT_TRUE(selected().isEmpty());

    // An identifier that is not a string is ignored.
    postAndDeliver(LibraryNotifications::setFind, {{QStringLiteral("Identifier"), 42}});
    EXPECT_EQ(m_window->searchField()->text(), QStringLiteral("XYZ0000"));
}

TEST_F(LibraryWindowTest, ResetClearsSearchAndFiltersAndSelectsTheFirstCase)
{
    makeLibrary();
    openWindow();
    m_window->limitSearchScope(QStringLiteral("Summary"));
    m_window->searchField()->setText(QStringLiteral("summary"));
    m_spine->setActive(true);
    library()->refreshTagActivity();
    library()->refreshFilters();
    ASSERT_EQ(listed(), QList<Case *>{m_cases[1]});

    m_window->reset();
    QCoreApplication::processEvents();
    EXPECT_TRUE(m_window->searchField()->text().isEmpty());
    EXPECT_EQ(m_window->searchField()->scopeTitle(), QStringLiteral("All"));
    EXPECT_FALSE(m_spine->active());
    EXPECT_FALSE(m_chest->active());
    EXPECT_EQ(listed().size(), 4);
    EXPECT_EQ(selected(), QList<Case *>{m_cases[0]});

    // Select Case In Library resets too, then selects the case.
    m_window->searchField()->setText(QStringLiteral("summary 1"));
    postAndDeliver(LibraryNotifications::selectCaseInLibrary, {{QStringLiteral("Case"), QVariant::fromValue(m_cases[2])}});
    EXPECT_TRUE(m_window->searchField()->text().isEmpty());
    EXPECT_EQ(selected(), QList<Case *>{m_cases[2]});
}

TEST_F(LibraryWindowTest, TeachingModeCollapsesDetailAndSuspendsAutomaticSaves)
{
    makeLibrary();
    openWindow();
    ASSERT_FALSE(m_window->splitViewController()->isDetailCollapsed());

    m_window->toggleTeachingMode();
    EXPECT_TRUE(Settings::shared().boolValue(QStringLiteral("Teaching_Mode")));
    EXPECT_TRUE(m_window->splitViewController()->isDetailCollapsed());
    EXPECT_TRUE(Settings::shared().boolValue(QStringLiteral("Case_Collapse_Last_SplitView")));
    EXPECT_EQ(m_window->toggleTeachingToolbarItem()->text(), QStringLiteral("Curate"));
    EXPECT_EQ(m_window->toggleDetailToolbarItem()->text(), QStringLiteral("Show Detail"));
    EXPECT_EQ(m_window->toggleTeachingModeMenuTitle(), QStringLiteral("Curating Mode"));
    EXPECT_EQ(m_window->toggleSplitViewMenuTitle(), QStringLiteral("Show Detail"));
    EXPECT_TRUE(m_stack->suspendAutomaticSaves());
    EXPECT_TRUE(m_window->libraryView()->casesTableView()->isColumnHidden(CaseTableModel::DateAddedColumn));

    m_window->toggleTeachingMode();
    EXPECT_FALSE(Settings::shared().boolValue(QStringLiteral("Teaching_Mode")));
    EXPECT_FALSE(m_window->splitViewController()->isDetailCollapsed());
    EXPECT_FALSE(Settings::shared().boolValue(QStringLiteral("Case_Collapse_Last_SplitView")));
    EXPECT_EQ(m_window->toggleTeachingToolbarItem()->text(), QStringLiteral("Teach"));
    EXPECT_EQ(m_window->toggleDetailToolbarItem()->text(), QStringLiteral("Hide Detail"));
    EXPECT_FALSE(m_stack->suspendAutomaticSaves());
    EXPECT_FALSE(m_window->libraryView()->casesTableView()->isColumnHidden(CaseTableModel::DateAddedColumn));

    // The detail side's collapsed state comes back with the next window.
    m_window->toggleSplitView();
    m_window.reset();
    openWindow();
    EXPECT_TRUE(m_window->splitViewController()->isDetailCollapsed());
    EXPECT_EQ(m_window->toggleDetailToolbarItem()->text(), QStringLiteral("Show Detail"));
}

TEST_F(LibraryWindowTest, GoNextAndPreviousStayInsideTheList)
{
    makeLibrary();
    openWindow();
    postAndDeliver(LibraryNotifications::goNext); // nothing selected: nothing happens
    EXPECT_TRUE(selected().isEmpty());

    library()->selectCaseRows({2});
    postAndDeliver(LibraryNotifications::goNext);
    EXPECT_EQ(selected(), QList<Case *>{m_cases[3]});
    postAndDeliver(LibraryNotifications::goNext);
    EXPECT_EQ(selected(), QList<Case *>{m_cases[3]});

    library()->selectCaseRows({1, 3});
    postAndDeliver(LibraryNotifications::goPrevious); // from the first selected row
    EXPECT_EQ(selected(), QList<Case *>{m_cases[0]});
    postAndDeliver(LibraryNotifications::goPrevious);
    EXPECT_EQ(selected(), QList<Case *>{m_cases[0]});
}

TEST_F(LibraryWindowTest, SearchAllAndDetailSideFollowRequestsAndSelection)
{
    makeLibrary();
    openWindow();
    m_window->limitSearchScope(QStringLiteral("Patient Identifier"));
    postAndDeliver(LibraryNotifications::searchAll, {{QStringLiteral("SearchText"), QStringLiteral("zzz9999")}});
    EXPECT_EQ(m_window->searchField()->scopeTitle(), QStringLiteral("All"));
    EXPECT_EQ(listed(), QList<Case *>{m_cases[2]});

    InfoViewController *info = m_window->splitViewController()->tabViewController()->infoViewController();
    EXPECT_EQ(info->overlayText(), QStringLiteral("No Selection"));
    library()->selectCaseRows({0});
    QCoreApplication::processEvents();
    EXPECT_EQ(info->currentCase(), m_cases[2]);
    m_window->searchField()->clear();
    library()->selectCaseRows({0, 1});
    EXPECT_EQ(info->overlayText(), QStringLiteral("Multiple Selection"));
}

TEST_F(LibraryWindowTest, FilteringToATokenNarrowsBothListsByFreshTagActivity)
{
    makeLibrary();
    Tag *knee = newTag(QStringLiteral("knee"));
    m_cases[3]->addToTags(knee);
    context()->saveWithParent(true);
    openWindow();
    library()->selectCaseRows({1});
    QCoreApplication::processEvents();
    InfoViewController *info = m_window->splitViewController()->tabViewController()->infoViewController();
    EXPECT_EQ(info->tokenField()->tokens(), (QStringList{"chest", "spine"}));

    std::unique_ptr<QMenu> menu(info->tokenMenu(QStringLiteral("spine"), nullptr));
    menu->actions()[0]->trigger();
    EXPECT_EQ(listed(), QList<Case *>{m_cases[1]});
    EXPECT_EQ(selected(), QList<Case *>{m_cases[1]});
    QStringList tagLabels;
    for (int row = 0; row < library()->tagsModel()->rowCount(); ++row)
        tagLabels.append(library()->tagsModel()->tagAtRow(row)->label());
    EXPECT_EQ(tagLabels, (QStringList{"chest", "spine"}));
}

TEST_F(LibraryWindowTest, EditsUndoThroughTheStoreAndChangesPostUpdatedMedia)
{
    makeLibrary();
    openWindow();
    int updatedMedia = 0;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        LibraryNotifications::updatedMedia, nullptr, [&](const Notification &) { ++updatedMedia; });
    UndoManager *undoManager = context()->undoManager();
    ASSERT_NE(undoManager, nullptr);
    m_cases[0]->setSummary(QStringLiteral("Edited"));
    context()->processPendingChanges();
    EXPECT_GE(updatedMedia, 1);
    undoManager->closeAutomaticGroup();
    ASSERT_TRUE(undoManager->canUndo());
    undoManager->undo();
    EXPECT_EQ(m_cases[0]->summary(), QStringLiteral("Summary 1"));

    LogCapture log;
    context()->saveWithParent(true);
    EXPECT_TRUE(log.containsPrefix(QStringLiteral("Main MOC <ManagedObjectContext: 0x")));
}

TEST_F(LibraryWindowTest, ProgressOfLongWorkShowsInTheStatusBarUntilItEnds)
{
    openWindow();
    LabelledProgressView *progress = m_window->progressView();
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(m_window->statusBar()->isAncestorOf(progress));
    EXPECT_FALSE(progress->isShowingProgress());
    LabelledProgressInfo::post(3, 7, QStringLiteral("Importing…"));
    EXPECT_TRUE(progress->isShowingProgress());
    EXPECT_TRUE(progress->isVisible());
    LabelledProgressInfo::postEnd();
    EXPECT_FALSE(progress->isShowingProgress());
}

TEST_F(LibraryWindowTest, FileMenuExportsTheSelectedCasesMediaAndImportsAFolder)
{
    makeLibrary();
    m_cases[1]->addMedia("image", QStringLiteral("a.jpg"));
    context()->saveWithParent(true);
    openWindow();
    QMenu *file = nullptr;
    for (QAction *action : m_window->menuBar()->actions())
        if (action->text().remove(u'&') == QLatin1String("File"))
            file = action->menu();
    ASSERT_NE(file, nullptr);
    QAction *exportMedia = nullptr;
    QAction *importFolder = nullptr;
    for (QAction *action : file->actions()) {
        if (action->text() == QStringLiteral("&Export Media…"))
            exportMedia = action;
        if (action->text() == QStringLiteral("&Import from Folder…"))
            importFolder = action;
    }
    ASSERT_NE(exportMedia, nullptr);
    ASSERT_NE(importFolder, nullptr);

    library()->casesSelectionModel()->clearSelection();
    emit file->aboutToShow();
    EXPECT_FALSE(exportMedia->isEnabled());
    ASSERT_TRUE(library()->selectCase(m_cases[1]));
    emit file->aboutToShow();
    EXPECT_TRUE(exportMedia->isEnabled());

    QString destination = m_directory.filePath(QStringLiteral("export"));
    QStringList alerts;
    m_window->libraryView()->setAlertPresenter([&](const QString &message, const QString &details) {
        alerts << message + QStringLiteral(" | ") + details;
    });
    m_window->libraryView()->setExportFolderChooser([&] { return destination; });
    QStatusBar *statusBar = m_window->statusBar();
    // When done, the status bar names what was exported, and the case that had no files.
    library()->selectCaseRows({0, 1});
    exportMedia->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !statusBar->currentMessage().isEmpty(); }, 20000));
    EXPECT_TRUE(QFileInfo::exists(destination + QStringLiteral("/ABC1002")));
    EXPECT_EQ(statusBar->currentMessage(),
              QStringLiteral("Exported 1 media file of 1 case to “export”. 1 case had no media files in the library."));
    // An export that could not write says so, naming what and why, in an alert.
    statusBar->clearMessage();
    destination = m_directory.filePath(QStringLiteral("blocked"));
    QFile blocker(destination);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    exportMedia->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.isEmpty(); }, 20000));
    EXPECT_TRUE(alerts.first().startsWith(QStringLiteral("Some media could not be exported to “blocked”. | ") + destination
                                          + QStringLiteral("/ABC1002/")))
        << alerts.first().toStdString();
    EXPECT_TRUE(statusBar->currentMessage().isEmpty());

    const QString tree = m_directory.filePath(QStringLiteral("Teaching"));
    ASSERT_TRUE(QDir().mkpath(tree + QStringLiteral("/Chest/Lung")));
    for (const QString &name : {QStringLiteral("1.png"), QStringLiteral("notes.txt")}) {
        QFile file(tree + QStringLiteral("/Chest/Lung/") + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("png");
    }
    m_window->setImportFolderChooser([&] { return tree; });
    importFolder->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !statusBar->currentMessage().isEmpty(); }, 20000));
    EXPECT_EQ(fetchCases(QStringLiteral("summary == %@"), {QStringLiteral("Lung")}).size(), 1);
    EXPECT_EQ(statusBar->currentMessage(), QStringLiteral("Imported 1 case with 1 media file from “Teaching”. 1 file was not imported."));
    // A folder without case folders says that nothing was imported.
    const QString empty = m_directory.filePath(QStringLiteral("Empty"));
    ASSERT_TRUE(QDir().mkpath(empty));
    statusBar->clearMessage();
    m_window->setImportFolderChooser([&] { return empty; });
    importFolder->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !statusBar->currentMessage().isEmpty(); }, 20000));
    EXPECT_EQ(statusBar->currentMessage(), QStringLiteral("No case folders were found in “Empty”; nothing was imported."));
}

TEST_F(LibraryWindowTest, TheCaseListsColumnsUseTheWindowsWidthAndTheSidesGiveWayFirst)
{
    makeLibrary();
    // Long tag lists, ages with every unit, and a long summary.
    for (Case *item : m_cases) {
        for (const QString &label : {QStringLiteral("Interventional"), QStringLiteral("Neuroradiology"), QStringLiteral("Teaching 2024")})
            item->addToTags(newTag(label));
        item->setDateOfBirth(QDateTime(QDate::currentDate().addYears(-70).addMonths(-11), QTime(12, 0)));
        item->setSex(Sex::female);
    }
    m_cases[0]->setSummary(QStringLiteral("Bilateral subdural haematoma with midline shift"));
    context()->saveWithParent(true);
    openWindow();
    QTableView *cases = m_window->libraryView()->casesTableView();
    QHeaderView *header = cases->horizontalHeader();
    QWidget *tagList = m_window->libraryView()->tagsTableView();
    QWidget *detail = m_window->splitViewController()->tabViewController();
    const auto resizeWindow = [&](int width) {
        m_window->resize(width, 1000);
        return QTest::qWaitFor([&] { return m_window->width() == width; }, 5000);
    };
    // Whether every row's text of the column shows uncut (with the margins
    // item views keep on either side of a text).
    const int margins = 2 * (cases->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, cases) + 1);
    const auto textsFit = [&](int column) {
        for (int row = 0; row < cases->model()->rowCount(); ++row) {
            const QString text = cases->model()->index(row, column).data().toString();
            if (header->sectionSize(column) < cases->fontMetrics().horizontalAdvance(text) + margins)
                return false;
        }
        return true;
    };
    const auto othersWidth = [&] {
        int width = 0;
        for (int column = 0; column < header->count(); ++column)
            if (column != CaseTableModel::SummaryColumn && !header->isSectionHidden(column))
                width += header->sectionSize(column);
        return width;
    };

    // Wide: tags and ages show whole, and the summary takes the rest.
    ASSERT_TRUE(resizeWindow(1600));
    EXPECT_TRUE(QTest::qWaitFor([&] { return textsFit(CaseTableModel::TagsColumn); }, 5000));
    for (const int column : {CaseTableModel::PatientIDColumn, CaseTableModel::AgeSexColumn, CaseTableModel::TagsColumn,
                             CaseTableModel::DateOfDiagnosisColumn, CaseTableModel::DateAddedColumn})
        EXPECT_TRUE(textsFit(column)) << column;
    EXPECT_GT(header->sectionSize(CaseTableModel::SummaryColumn), m_window->libraryView()->caseColumnFitter()->summaryMinimumWidth());
    EXPECT_EQ(header->sectionSize(CaseTableModel::SummaryColumn), cases->viewport()->width() - othersWidth());
    EXPECT_EQ(header->length(), cases->viewport()->width());

    // Default width: identifiers, ages and dates still show whole, and the
    // summary keeps a readable width.
    ASSERT_TRUE(resizeWindow(1280));
    EXPECT_TRUE(QTest::qWaitFor([&] { return header->length() == cases->viewport()->width(); }, 5000));
    for (const int column : {CaseTableModel::PatientIDColumn, CaseTableModel::AgeSexColumn, CaseTableModel::DateOfDiagnosisColumn,
                             CaseTableModel::DateAddedColumn})
        EXPECT_TRUE(textsFit(column)) << column;
    EXPECT_GE(header->sectionSize(CaseTableModel::SummaryColumn), m_window->libraryView()->caseColumnFitter()->summaryMinimumWidth());
    const int caseListWidth = cases->width();
    const int tagListWidth = tagList->width();
    const int detailWidth = detail->width();
    ASSERT_GT(detailWidth, detail->minimumWidth());
    ASSERT_GT(tagListWidth, tagList->minimumWidth());

    // Narrower: the detail side gives way first, then the tag list; the case
    // list keeps its width while they can.
    const int room = detailWidth - detail->minimumWidth() + tagListWidth - tagList->minimumWidth();
    ASSERT_TRUE(resizeWindow(1280 - (detailWidth - detail->minimumWidth())));
    EXPECT_EQ(detail->width(), detail->minimumWidth());
    EXPECT_EQ(tagList->width(), tagListWidth);
    EXPECT_EQ(cases->width(), caseListWidth);
    ASSERT_TRUE(resizeWindow(1280 - room));
    EXPECT_EQ(tagList->width(), tagList->minimumWidth());
    EXPECT_EQ(cases->width(), caseListWidth);
    // Only then the case list.
    ASSERT_TRUE(resizeWindow(1280 - room - 100));
    EXPECT_EQ(detail->width(), detail->minimumWidth());
    EXPECT_EQ(tagList->width(), tagList->minimumWidth());
    EXPECT_EQ(cases->width(), caseListWidth - 100);

    // Too narrow for every column: the summary keeps its readable width and the list scrolls sideways.
    ASSERT_TRUE(resizeWindow(900));
    const int summaryMinimum = m_window->libraryView()->caseColumnFitter()->summaryMinimumWidth();
    EXPECT_TRUE(QTest::qWaitFor([&] { return header->sectionSize(CaseTableModel::SummaryColumn) == summaryMinimum; }, 5000));
    EXPECT_GT(header->length(), cases->viewport()->width());
    EXPECT_TRUE(cases->horizontalScrollBar()->isVisible());

    // Wider again: the sides get their widths back before the case list grows.
    ASSERT_TRUE(resizeWindow(1280));
    EXPECT_TRUE(QTest::qWaitFor([&] { return header->length() == cases->viewport()->width(); }, 5000));
    EXPECT_EQ(detail->width(), detailWidth);
    EXPECT_EQ(tagList->width(), tagListWidth);
    EXPECT_EQ(cases->width(), caseListWidth);
    // Wider still: the sides up to the widths they are given, the case list takes the rest.
    const int preferredDetailWidth = m_window->splitViewController()->preferredSideWidth();
    const int preferredTagListWidth = m_window->libraryView()->splitter()->preferredSideWidth();
    ASSERT_TRUE(resizeWindow(1600));
    EXPECT_EQ(detail->width(), preferredDetailWidth);
    EXPECT_EQ(tagList->width(), preferredTagListWidth);
    EXPECT_EQ(cases->width(), caseListWidth + 320 - (preferredDetailWidth - detailWidth) - (preferredTagListWidth - tagListWidth));

    // A hidden detail side comes back at its width.
    const int wideCaseListWidth = cases->width();
    m_window->toggleSplitView();
    EXPECT_TRUE(QTest::qWaitFor([&] { return cases->width() > wideCaseListWidth; }, 5000));
    EXPECT_EQ(cases->width(), wideCaseListWidth + preferredDetailWidth + m_window->splitViewController()->handleWidth());
    m_window->toggleSplitView();
    EXPECT_TRUE(QTest::qWaitFor([&] { return cases->width() == wideCaseListWidth; }, 5000)) << cases->width();
    EXPECT_EQ(detail->width(), preferredDetailWidth);
}

TEST_F(LibraryWindowTest, NewCaseIsSelectedShownAndTakesTheKeyboardInItsPatientIdField)
{
    makeLibrary();
    openWindow();
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    QLineEdit *patientID = m_window->splitViewController()->tabViewController()->infoViewController()->patientIDField();

    // A search and a tag filter that would both hide an empty case.
    m_window->searchField()->setText(QStringLiteral("summary 2"));
    m_chest->setActive(true);
    library()->refreshTagActivity();
    library()->refreshFilters();
    ASSERT_EQ(listed(), QList<Case *>{m_cases[1]});
    m_window->toggleSplitView(); // the detail side hidden as well
    QAction *newCase = fileMenuItem(QStringLiteral("&New Case"));
    ASSERT_NE(newCase, nullptr);
    EXPECT_EQ(newCase->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
    newCase->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return selected().size() == 1 && !m_cases.contains(selected().first()); }));
    Case *added = selected().first();
    EXPECT_TRUE(m_window->searchField()->text().isEmpty());
    EXPECT_FALSE(m_chest->active());
    EXPECT_EQ(listed().size(), 5);
    EXPECT_FALSE(m_window->splitViewController()->isDetailCollapsed());
    EXPECT_EQ(QApplication::focusWidget(), patientID);
    // Typing goes into the new case, not into the list or the search field.
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("NEW0001"));
    EXPECT_EQ(patientID->text(), QStringLiteral("NEW0001"));
    EXPECT_EQ(selected(), QList<Case *>{added});
    EXPECT_TRUE(m_window->searchField()->text().isEmpty());

    // The + button, with a tag filter alone hiding the new case.
    m_window->searchField()->setFocus();
    m_spine->setActive(true);
    library()->refreshTagActivity();
    library()->refreshFilters();
    QTest::mouseClick(m_window->libraryView()->addButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return selected().size() == 1 && selected().first() != added; }));
    EXPECT_FALSE(m_spine->active());
    EXPECT_EQ(QApplication::focusWidget(), patientID);
}

TEST_F(LibraryWindowTest, EscapeInTheSearchFieldClearsIt)
{
    makeLibrary();
    openWindow();
    m_window->searchField()->setText(QStringLiteral("summary 3"));
    ASSERT_EQ(listed(), QList<Case *>{m_cases[2]});
    QTest::keyClick(m_window->searchField(), Qt::Key_Escape);
    EXPECT_TRUE(m_window->searchField()->text().isEmpty());
    EXPECT_EQ(listed().size(), 4);
}

TEST_F(LibraryWindowTest, DeleteCasesIsEnabledOnlyWithASelection)
{
    makeLibrary();
    openWindow();
    QAction *deleteCases = fileMenuItem(QStringLiteral("&Delete Cases…"));
    ASSERT_NE(deleteCases, nullptr);
    library()->casesSelectionModel()->clearSelection();
    EXPECT_FALSE(deleteCases->isEnabled());
    ASSERT_TRUE(library()->selectCase(m_cases[2]));
    EXPECT_TRUE(deleteCases->isEnabled());
    // Nothing listed, so nothing selected.
    m_window->searchField()->setText(QStringLiteral("no such case"));
    EXPECT_FALSE(deleteCases->isEnabled());
}

TEST_F(LibraryWindowTest, AnEmptyLibrarySaysHowToAddOrImportCases)
{
    openWindow();
    QLabel *hint = m_window->libraryView()->emptyLibraryHint();
    EXPECT_TRUE(hint->isVisible());
    EXPECT_TRUE(hint->text().contains(QStringLiteral("New Case"))) << hint->text().toStdString();
    EXPECT_TRUE(hint->text().contains(QStringLiteral("Import"))) << hint->text().toStdString();

    library()->addCase();
    ASSERT_TRUE(QTest::qWaitFor([&] { return listed().size() == 1; }));
    EXPECT_FALSE(hint->isVisible());
    // A search that lists nothing in a library that has cases is not an empty library.
    context()->saveWithParent(true);
    m_window->searchField()->setText(QStringLiteral("no such case"));
    ASSERT_TRUE(listed().isEmpty());
    EXPECT_FALSE(hint->isVisible());
}

TEST_F(LibraryWindowTest, StatusBarRemindsOfAWholeLibraryBackupOnlyWhenAskedAndDue)
{
    BackupReminder::recordBackup(QDate::currentDate().addDays(-10));
    openWindow();
    auto *reminder = m_window->statusBar()->findChild<BackupReminderView *>(QStringLiteral("backupReminder"));
    ASSERT_NE(reminder, nullptr);
    EXPECT_FALSE(reminder->isVisible());
    BackupReminder::setIntervalDays(30);
    EXPECT_FALSE(reminder->isVisible());
    BackupReminder::setIntervalDays(10);
    EXPECT_TRUE(reminder->isVisible());
    EXPECT_TRUE(reminder->text().contains(QLocale().toString(QDate::currentDate().addDays(-10), QStringLiteral("d MMMM yyyy"))));
}

TEST_F(LibraryWindowTest, StatusBarFollowsTheMirrorAndHidesWhileItIsOff)
{
    openWindow();
    auto mirror = std::make_unique<MirrorService>(m_stack.get());
    m_window->setMirrorService(mirror.get());
    MirrorStatusView *status = m_window->statusBar()->findChild<MirrorStatusView *>(QStringLiteral("mirrorStatus"));
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->textFormat(), Qt::PlainText);
    EXPECT_FALSE(status->isVisible());

    mirror->setServer(QStringLiteral("host=/nonexistent dbname=x"));
    mirror->start();
    EXPECT_TRUE(status->isVisible());
    EXPECT_TRUE(status->text().startsWith(QStringLiteral("Syncing")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return mirror->state() == MirrorService::State::Offline; }));
    EXPECT_EQ(status->text(), QStringLiteral("Offline"));
    // Why, in the connection's own words.
    EXPECT_TRUE(status->toolTip().contains(QStringLiteral("/nonexistent"))) << status->toolTip().toStdString();

    mirror->stop();
    EXPECT_FALSE(status->isVisible());
    mirror.reset();
}

} // namespace
} // namespace ovalis::test
