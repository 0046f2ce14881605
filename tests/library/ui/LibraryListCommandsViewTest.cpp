#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>

#include "library/CaseListDragAndDrop.h"
#include "library/CaseTableModel.h"
#include "library/LibraryWithTagsViewController.h"
#include "library/TagTableModel.h"
#include "library/ui/LibraryWindowController.h"
#include "library/ui/LibraryWithTagsView.h"
#include "media/ui/CaseDragMenuController.h"
#include "library/ui/RenameTagViewController.h"
#include "support/EncodedImage.h"
#include "support/StoreFixture.h"
#include "store/Media.h"

namespace ovalis::test {
namespace {

class LibraryListCommandsViewTest : public StoreFixture
{
protected:
    // Cases ABC1001 … ABC1003 in rows 0 … 2; tags "chest" and "spine".
    void SetUp() override
    {
        StoreFixture::SetUp();
        Settings::shared().setValue(QStringLiteral("Library_Case_Columns"), QVariant());
        m_chest = newTag(QStringLiteral("chest"));
        m_spine = newTag(QStringLiteral("spine"));
        for (int i = 1; i <= 3; ++i)
            m_cases.append(newCase(QStringLiteral("ABC100%1").arg(i)));
        context()->saveWithParent(true);
        m_window = std::make_unique<LibraryWindowController>(*m_stack);
        cases()->sortByColumn(CaseTableModel::PatientIDColumn, Qt::AscendingOrder);
        m_window->show();
        m_window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    }

    void TearDown() override
    {
        m_window.reset();
        StoreFixture::TearDown();
    }

    LibraryWithTagsView *view() const { return m_window->libraryView(); }
    LibraryWithTagsViewController *library() const { return m_window->libraryViewController(); }
    QTableView *cases() const { return view()->casesTableView(); }
    QTableView *tags() const { return view()->tagsTableView(); }
    int tagRow(const Tag *tag) const { return library()->tagsModel()->rowOfObject(tag); }

    QAction *menuAction(const QString &menuTitle, const QString &text) const
    {
        for (QAction *menu : m_window->menuBar()->actions())
            if (menu->text().remove(QLatin1Char('&')) == menuTitle && menu->menu())
                for (QAction *action : menu->menu()->actions())
                    if (action->text().remove(QLatin1Char('&')) == text)
                        return action;
        return nullptr;
    }

    // A point in a row of the table's viewport: its middle, or its top edge.
    static QPoint inRow(QTableView *table, int row, bool edge = false)
    {
        const int top = table->rowViewportPosition(row);
        return QPoint(table->viewport()->width() / 2, edge ? top + 1 : top + table->rowHeight(row) / 2);
    }

    // Moves a drag over the point and drops it there, as the platform would.
    // Answers whether the move and the drop were accepted and the drop's action.
    struct DropResult {
        bool moveAccepted;
        bool dropAccepted;
        Qt::DropAction action;
    };
    static DropResult dragAndDrop(QTableView *table, QMimeData *data, const QPoint &at,
                                  Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        const Qt::DropActions possible = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        QDragEnterEvent enter(at, possible, data, Qt::LeftButton, modifiers);
        QApplication::sendEvent(table->viewport(), &enter);
        if (!enter.isAccepted())
            return {false, false, Qt::IgnoreAction};
        QDragMoveEvent move(at, possible, data, Qt::LeftButton, modifiers);
        QApplication::sendEvent(table->viewport(), &move);
        if (!move.isAccepted())
            return {false, false, Qt::IgnoreAction};
        QDropEvent drop(at, possible, data, Qt::LeftButton, modifiers);
        QApplication::sendEvent(table->viewport(), &drop);
        return {true, drop.isAccepted(), drop.dropAction()};
    }

    std::unique_ptr<LibraryWindowController> m_window;
    QList<Case *> m_cases;
    Tag *m_chest = nullptr;
    Tag *m_spine = nullptr;
};

TEST_F(LibraryListCommandsViewTest, TheRenamePopoverStaysOpenForABlankNameAndClosesOnceRenamed)
{
    view()->renameTagAtRow(tagRow(m_spine));
    QPointer<RenameTagViewController> popover = view()->renameTagPopover();
    ASSERT_TRUE(popover);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popover.data()));
    QLineEdit *nameField = popover->nameField();
    EXPECT_EQ(nameField->text(), QStringLiteral("spine"));
    EXPECT_EQ(nameField->objectName(), QStringLiteral("nameField"));
    EXPECT_TRUE(nameField->hasFocus());
    // Beside the tag list, on the right of the row.
    EXPECT_GE(popover->x(), tags()->viewport()->mapToGlobal(QPoint(tags()->viewport()->width(), 0)).x());

    nameField->setText(QStringLiteral("   "));
    QTest::keyClick(nameField, Qt::Key_Return);
    EXPECT_TRUE(popover && popover->isVisible());
    EXPECT_EQ(m_spine->label(), QStringLiteral("spine"));

    nameField->setText(QStringLiteral("  lumbar spine  "));
    QTest::keyClick(nameField, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_FALSE(popover);
    EXPECT_EQ(m_spine->label(), QStringLiteral("lumbar spine"));
    EXPECT_EQ(library()->tagsModel()->tagAtRow(1), m_spine);
}

TEST_F(LibraryListCommandsViewTest, DropsAreTakenOnlyOnARowAndWithTheActionOfTheirKind)
{
    // Cases dragged onto a tag: a copy; between rows: refused.
    std::unique_ptr<QMimeData> twoCases(library()->casesModel()->mimeData(
        {library()->casesModel()->index(0, 0), library()->casesModel()->index(0, 2), library()->casesModel()->index(2, 0)}));
    ASSERT_NE(twoCases, nullptr);
    EXPECT_EQ(CaseListDragAndDrop::draggedRows(twoCases.get()), IndexSet::fromIndexes({0, 2}));
    DropResult result = dragAndDrop(tags(), twoCases.get(), inRow(tags(), tagRow(m_chest), true));
    EXPECT_FALSE(result.moveAccepted);
    result = dragAndDrop(tags(), twoCases.get(), inRow(tags(), tagRow(m_chest)));
    EXPECT_TRUE(result.dropAccepted);
    EXPECT_EQ(result.action, Qt::CopyAction);
    EXPECT_EQ(m_chest->cases().size(), 2);
    EXPECT_TRUE(m_cases[1]->tags().isEmpty());

    // Several cases onto a case: refused; a DOI: a link, appended.
    EXPECT_FALSE(dragAndDrop(cases(), twoCases.get(), inRow(cases(), 1)).moveAccepted);
    QMimeData doi;
    doi.setData(CaseListDragAndDrop::doiDragType(), "10.1000/182");
    result = dragAndDrop(cases(), &doi, inRow(cases(), 1));
    EXPECT_TRUE(result.dropAccepted);
    EXPECT_EQ(result.action, Qt::LinkAction);
    EXPECT_EQ(m_cases[1]->detail(), QStringLiteral("10.1000/182"));
    EXPECT_FALSE(dragAndDrop(cases(), &doi, QPoint(5, cases()->rowViewportPosition(2) + cases()->rowHeight(2) + 20)).moveAccepted);
    // A PDF file: refused.
    QMimeData pdf;
    pdf.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/report.pdf"))});
    EXPECT_FALSE(dragAndDrop(cases(), &pdf, inRow(cases(), 1)).moveAccepted);

    // One case onto another: taken, and the menu is asked for once the drop is over.
    QSignalSpy dropped(view(), &LibraryWithTagsView::caseDroppedOnCase);
    std::unique_ptr<QMimeData> oneCase(CaseListDragAndDrop::mimeDataForRows(IndexSet::fromIndexes({2})));
    result = dragAndDrop(cases(), oneCase.get(), inRow(cases(), 0));
    EXPECT_TRUE(result.dropAccepted);
    EXPECT_EQ(dropped.count(), 0);
    QCoreApplication::processEvents();
    ASSERT_EQ(dropped.count(), 1);
    EXPECT_EQ(dropped[0][0].value<Case *>(), m_cases[2]);
    EXPECT_EQ(dropped[0][1].value<Case *>(), m_cases[0]);
    const QRect cell = cases()->visualRect(library()->casesModel()->index(0, cases()->horizontalHeader()->logicalIndex(0)));
    EXPECT_EQ(dropped[0][2].toPoint(), cases()->viewport()->mapToGlobal(cell.bottomLeft()));
    // The link-and-merge menu comes up for the two cases; Merge Tags takes the dragged case's tags.
    CaseDragMenuController *menus = view()->caseDragMenuController();
    ASSERT_NE(menus->menu(), nullptr);
    EXPECT_EQ(menus->sourceCase(), m_cases[2]);
    EXPECT_EQ(menus->destinationCase(), m_cases[0]);
    QStringList titles;
    for (QAction *action : menus->menu()->actions())
        titles.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Link Cases"), QStringLiteral("-"), QStringLiteral("Merge Tags"),
                                   QStringLiteral("Merge Images"), QStringLiteral("Merge All")}));
    m_cases[2]->addToTags(m_chest);
    menus->menu()->actions().at(2)->trigger();
    EXPECT_TRUE(m_cases[0]->tags().contains(m_chest));
    menus->menu()->close();
}

TEST_F(LibraryListCommandsViewTest, CameraFilesNamedInCapitalsAreTakenAndImportedIntoTheCase)
{
    QTemporaryDir folder;
    const auto write = [&](const QString &name, const QByteArray &data) {
        QFile file(folder.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return QUrl::fromLocalFile(file.fileName());
    };
    QMimeData data;
    data.setUrls({write(QStringLiteral("IMG_0001.JPG"), encodedImage(QSize(14, 10), Qt::blue)),
                  write(QStringLiteral("IMG_0002.Png"), encodedImage(QSize(6, 6), Qt::red, "PNG"))});
    Case *target = library()->caseAtRow(1);
    QSignalSpy imported(library(), &LibraryWithTagsViewController::droppedFilesImported);
    const DropResult result = dragAndDrop(cases(), &data, inRow(cases(), 1));
    EXPECT_TRUE(result.moveAccepted);
    EXPECT_TRUE(result.dropAccepted);
    EXPECT_EQ(result.action, Qt::CopyAction);
    ASSERT_TRUE(imported.wait(10000));
    context()->processPendingChanges();

    const QList<Media *> media = target->sortedMedia();
    ASSERT_EQ(media.size(), 2);
    EXPECT_EQ(media[0]->fileName(), QStringLiteral("IMG_0001.JPG"));
    EXPECT_EQ(media[0]->image().size(), QSize(14, 10));
    EXPECT_EQ(media[1]->fileName(), QStringLiteral("IMG_0002.Png"));
    EXPECT_EQ(media[1]->image().size(), QSize(6, 6));
}

TEST_F(LibraryListCommandsViewTest, MenusAndButtonsCarryTheCaseListCommandsWhileTheyApply)
{
    QAction *copy = menuAction(QStringLiteral("Edit"), QStringLiteral("Copy"));
    QAction *copyLines = menuAction(QStringLiteral("Edit"), QStringLiteral("Copy Case Lines"));
    QAction *newCase = menuAction(QStringLiteral("File"), QStringLiteral("New Case"));
    QAction *deleteCases = menuAction(QStringLiteral("File"), QStringLiteral("Delete Cases…"));
    ASSERT_TRUE(copy && copyLines && newCase && deleteCases);
    EXPECT_EQ(newCase->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));

    // Copy and the remove button need a selected case.
    cases()->setFocus();
    library()->selectCaseRows({});
    QCoreApplication::processEvents();
    EXPECT_FALSE(copy->isEnabled());
    EXPECT_FALSE(view()->removeButton()->isEnabled());
    library()->selectCaseRows({0, 2});
    EXPECT_TRUE(copy->isEnabled());
    EXPECT_TRUE(view()->removeButton()->isEnabled());
    copy->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("ABC1001\nABC1003"));
    copyLines->trigger();
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith(QStringLiteral("ABC1001\t")));

    QList<int> answers = {1, 0};
    library()->setRemoveCasesConfirmation([&answers](const LibraryWithTagsViewController::Alert &) { return answers.takeFirst(); });
    deleteCases->trigger(); // Cancel
    QTest::mouseClick(view()->removeButton(), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_TRUE(answers.isEmpty());
    EXPECT_EQ(library()->displayedCases(), QList<Case *>{m_cases[1]});

    newCase->trigger();
    QTest::mouseClick(view()->addButton(), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(library()->displayedCases().size(), 3);
    EXPECT_EQ(library()->selectedCases().size(), 1);
}

} // namespace
} // namespace ovalis::test
