#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <memory>

#include "library/CaseLine.h"
#include "library/CaseListDragAndDrop.h"
#include "store/LibraryNotifications.h"
#include "LibraryViewFixture.h"
#include "support/EncodedImage.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/SerialQueue.h"
#include "util/UndoManager.h"

using namespace ovalis;
using ovalis::test::LibraryViewFixture;

namespace {

class LibraryListCommandsTest : public LibraryViewFixture
{
protected:
    void TearDown() override
    {
        m_controller->viewDidDisappear();
        LibraryViewFixture::TearDown();
    }

    // Three cases, in rows 0 … 2 by patient identifier, and the lists shown.
    void makeLibrary()
    {
        m_cases = {newCase(QStringLiteral("ABC1001"), QStringLiteral("First")), newCase(QStringLiteral("ABC1002")),
                   newCase(QStringLiteral("ABC1003"), QStringLiteral("Third"))};
        showSavedLibrary();
    }

    // Saves, shows the lists (sorted by patient identifier) and starts with no undo steps.
    void showSavedLibrary()
    {
        context()->saveWithParent(true);
        load({{QStringLiteral("patientID"), true}});
        m_controller->viewWillAppear();
        endTurn();
        undo()->removeAllActions();
    }

    UndoManager *undo() const { return m_stack->undoManager(); }
    void endTurn()
    {
        settle();
        undo()->closeAutomaticGroup();
    }

    static std::unique_ptr<QMimeData> dragOf(const QList<int> &rows)
    {
        return std::unique_ptr<QMimeData>(CaseListDragAndDrop::mimeDataForRows(IndexSet::fromIndexes(rows)));
    }

    QList<Case *> m_cases;
};

TEST_F(LibraryListCommandsTest, RemoveCasesAsksFirstDeletesAndSavesAndUndoBringsThemBack)
{
    makeLibrary();
    Tag *tag = newTag(QStringLiteral("chest"));
    m_cases[0]->addToTags(tag);
    Media *media = m_cases[0]->addMedia(test::encodedImage(QSize(8, 8), Qt::red), QStringLiteral("a.jpg"));
    context()->saveWithParent(true);
    endTurn();
    undo()->removeAllActions();
    QList<LibraryWithTagsViewController::Alert> alerts;
    int answer = 1;
    m_controller->setRemoveCasesConfirmation([&](const LibraryWithTagsViewController::Alert &alert) {
        alerts.append(alert);
        return answer;
    });

    select({m_cases[1]});
    m_controller->removeCases(); // Cancel
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].messageText, QStringLiteral("Delete Cases"));
    EXPECT_EQ(alerts[0].informativeText,
              QStringLiteral("Are you sure you want to delete 1 case from your library?\n\nThis can not be undone."));
    EXPECT_EQ(alerts[0].buttonTitles, (QStringList{QStringLiteral("Delete"), QStringLiteral("Cancel")}));
    settle();
    EXPECT_EQ(displayedIDs().size(), 3);
    EXPECT_FALSE(context()->hasChanges());

    answer = 0;
    select({m_cases[0], m_cases[2]});
    const QString description = m_cases[0]->description();
    LogCapture log;
    m_controller->removeCases();
    settle();
    EXPECT_EQ(alerts.last().informativeText,
              QStringLiteral("Are you sure you want to delete 2 cases from your library?\n\nThis can not be undone."));
    EXPECT_TRUE(log.contains(QStringLiteral("Deleting ") + description));
    EXPECT_EQ(displayedIDs(), QStringList{QStringLiteral("ABC1002")});
    EXPECT_EQ(controller().caseCountText(), QStringLiteral("Showing 1 case"));
    EXPECT_FALSE(context()->hasChanges());
    EXPECT_EQ(media->itsCase(), nullptr); // the media record stays, with its file
    EXPECT_TRUE(media->fileExists());
    EXPECT_EQ(openSecondStack()->mainContext()->countOfObjects(Case::entityName()), 1);

    endTurn();
    EXPECT_EQ(undo()->undoActionName(), QStringLiteral("Delete Cases"));
    undo()->undo();
    settle();
    EXPECT_EQ(displayedIDs().size(), 3);
    EXPECT_EQ(m_cases[0]->tags(), QList<Tag *>{tag});
    EXPECT_EQ(media->itsCase(), m_cases[0]);

    // Nothing selected: nothing to ask about.
    select({});
    m_controller->removeCases();
    EXPECT_EQ(alerts.size(), 2);
}

TEST_F(LibraryListCommandsTest, AddedCaseIsListedSelectedAndLeftUnsaved)
{
    makeLibrary();
    LogCapture log;
    Case *added = m_controller->addCase();
    settle();
    EXPECT_TRUE(log.contains(QStringLiteral("Adding new case")));
    EXPECT_EQ(m_controller->displayedCases().size(), 4);
    EXPECT_EQ(m_controller->selectedCases(), QList<Case *>{added});
    EXPECT_EQ(controller().caseCountText(), QStringLiteral("Showing 4 cases"));
    EXPECT_TRUE(context()->hasChanges());
}

TEST_F(LibraryListCommandsTest, CopyPutsIdentifiersOrCaseLinesOfTheSelectionOnTheClipboard)
{
    makeLibrary();
    m_cases[1]->setPatientID(QString());
    settle();
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("before"));
    select({m_cases[1]}); // no identifier: nothing to copy
    m_controller->copy();
    EXPECT_EQ(clipboard->text(), QStringLiteral("before"));

    select({m_cases[0], m_cases[1], m_cases[2]});
    m_controller->copy();
    EXPECT_EQ(clipboard->text(), QStringLiteral("ABC1001\nABC1003"));
    m_controller->copyAlternate();
    EXPECT_EQ(clipboard->text(), CaseLine::lines(m_controller->selectedCases()));
    EXPECT_EQ(clipboard->text().count(QLatin1Char('\n')), 2);
}

TEST_F(LibraryListCommandsTest, RenameTrimsTheNameIgnoresABlankOneAndUndoes)
{
    Tag *tag = newTag(QStringLiteral("chset"));
    m_cases = {taggedCase(QStringLiteral("P1"), {tag})};
    showSavedLibrary();

    LogCapture log;
    EXPECT_EQ(m_controller->tagToRename(tagRow(tag)), tag);
    EXPECT_TRUE(log.contains(QStringLiteral("Rename tag at index: 0")));
    EXPECT_TRUE(log.contains(QStringLiteral("Rename ") + tag->description()));

    EXPECT_FALSE(m_controller->renameTag(tag, QStringLiteral(" \t\n ")));
    EXPECT_EQ(tag->label(), QStringLiteral("chset"));
    EXPECT_FALSE(undo()->canUndo());

    QSignalSpy reloaded(m_controller.get(), &LibraryWithTagsViewController::casesReloaded);
    EXPECT_TRUE(m_controller->renameTag(tag, QStringLiteral("  chest \n")));
    EXPECT_EQ(tag->label(), QStringLiteral("chest"));
    EXPECT_FALSE(context()->hasChanges());
    EXPECT_GE(reloaded.count(), 1); // "Updated Tag Activity" re-queried the lists
    EXPECT_EQ(listedTagLabels(), QStringList{QStringLiteral("chest")});
    EXPECT_EQ(undo()->undoActionName(), QStringLiteral("Rename Tag"));
    undo()->undo();
    EXPECT_EQ(tag->label(), QStringLiteral("chset"));

    // A tag that has left its context is not renamed; the popover closes.
    Tag *gone = newTag(QStringLiteral("gone"));
    context()->deleteObject(gone);
    context()->saveWithParent(true);
    EXPECT_TRUE(m_controller->renameTag(gone, QStringLiteral("back")));
    EXPECT_TRUE(log.contains(QStringLiteral("No tag or MOC"), LogLevel::Error));
    EXPECT_EQ(gone->label(), QStringLiteral("gone"));
}

TEST_F(LibraryListCommandsTest, DeleteTagIsOneUndoableStepThatRestoresItsCases)
{
    Tag *chest = newTag(QStringLiteral("chest"));
    Tag *spine = newTag(QStringLiteral("spine"));
    m_cases = {taggedCase(QStringLiteral("P1"), {chest, spine}), taggedCase(QStringLiteral("P2"), {chest})};
    showSavedLibrary();

    LogCapture log;
    const QString description = chest->description();
    m_controller->deleteTag(tagRow(chest));
    settle();
    EXPECT_TRUE(log.contains(QStringLiteral("Delete tag at index: 0 (%1)").arg(description)));
    EXPECT_EQ(listedTagLabels(), QStringList{QStringLiteral("spine")});
    EXPECT_TRUE(m_cases[1]->tags().isEmpty());
    EXPECT_EQ(undo()->undoActionName(), QStringLiteral("Delete Tag"));

    undo()->undo();
    settle();
    EXPECT_EQ(listedTagLabels(), (QStringList{QStringLiteral("chest"), QStringLiteral("spine")}));
    EXPECT_EQ(m_cases[1]->tags(), QList<Tag *>{chest});
    EXPECT_EQ(chest->cases().size(), 2);
}

TEST_F(LibraryListCommandsTest, DeleteUnusedTagsKeepsEveryTagACaseCarries)
{
    Tag *used = newTag(QStringLiteral("used"));
    newTag(QStringLiteral("unused"));
    newTag(QString());
    Tag *emptied = newTag(QStringLiteral("emptied"));
    Case *item = taggedCase(QStringLiteral("P1"), {used, emptied});
    context()->saveWithParent(true);
    item->removeFromTags(emptied); // unsaved: the context's state counts
    load();
    LogCapture log;
    m_controller->deleteUnusedTags();
    settle();
    for (const char *line : {"Delete unused tags", "Delete tag: unused", "Delete tag: nil", "Delete tag: emptied"})
        EXPECT_TRUE(log.contains(QString::fromUtf8(line))) << line;
    EXPECT_EQ(listedTagLabels(), QStringList{QStringLiteral("used")});
}

TEST_F(LibraryListCommandsTest, DeleteMediaFilesRemovesTheSelectedCasesFilesAndNothingElse)
{
    makeLibrary();
    const auto image = [](int size) { return test::encodedImage(QSize(size, size), Qt::red); };
    Media *first = m_cases[0]->addMedia(image(8), QStringLiteral("a.jpg"));
    Media *second = m_cases[0]->addMedia(image(9), QStringLiteral("b.jpg"));
    Media *unselected = m_cases[1]->addMedia(image(10), QStringLiteral("c.jpg"));
    Media *third = m_cases[2]->addMedia(image(11), QStringLiteral("d.jpg"));
    ASSERT_TRUE(first && second && unselected && third);
    context()->saveWithParent(true);
    endTurn();
    undo()->removeAllActions();
    const QString keptPath = unselected->filePath();
    int updates = 0;
    ObserverToken updatedMediaToken = NotificationCenter::defaultCenter().addObserver(
        LibraryNotifications::updatedMedia, nullptr, [&updates](const Notification &) { ++updates; });

    select({m_cases[0], m_cases[2]});
    LogCapture log;
    m_controller->deleteMediaFiles();
    m_stack->fileDeletionQueue()->waitForDone();
    settle();
    EXPECT_TRUE(log.contains(QStringLiteral("Delete media files")));
    for (const Media *media : {first, second, third})
        EXPECT_FALSE(media->fileExists()) << media->fileName().toStdString();
    EXPECT_GE(updates, 1);

    // The records stay, now missing their files; the other case keeps its
    // file, and the media folder holds nothing else (the emptied folders went).
    EXPECT_EQ(m_cases[0]->media().size(), 2);
    EXPECT_EQ(m_cases[2]->media().size(), 1);
    EXPECT_FALSE(context()->hasChanges());
    EXPECT_EQ(openSecondStack()->mainContext()->countOfObjects(Media::entityName()), 4);
    EXPECT_EQ(unselected->image().size(), QSize(10, 10));
    QStringList left;
    QDirIterator entries(m_stack->mediaDirectory(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString path = entries.next();
        if (!QFileInfo(path).isDir() || !keptPath.startsWith(path + QLatin1Char('/')))
            left.append(path);
    }
    EXPECT_EQ(left, QStringList{keptPath});
    EXPECT_FALSE(undo()->canUndo());
}

TEST_F(LibraryListCommandsTest, CasesDroppedOnATagAllCarryIt)
{
    makeLibrary();
    Tag *tag = newTag(QStringLiteral("teaching"));
    Tag *other = newTag(QStringLiteral("other"));
    settle();
    int updatedTag = 0;
    const ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        LibraryNotifications::updatedTag, nullptr, [&updatedTag](const Notification &) { ++updatedTag; });
    LogCapture log;
    EXPECT_TRUE(m_controller->acceptTagsDrop(dragOf({0, 1, 2}).get(), tagRow(tag)));
    EXPECT_TRUE(log.contains(QStringLiteral("Accept tags tableView drop for row %1").arg(tagRow(tag))));
    EXPECT_EQ(updatedTag, 1);
    EXPECT_EQ(tag->cases().size(), 3);
    settle();
    const QModelIndex count = m_controller->tagsModel()->index(tagRow(tag), TagTableModel::CountColumn);
    EXPECT_EQ(m_controller->tagsModel()->data(count).toString(), QStringLiteral("3"));

    // Rows past the list are skipped with one line; the others are tagged.
    log.clear();
    EXPECT_TRUE(m_controller->acceptTagsDrop(dragOf({2, 3, 4, 5}).get(), tagRow(other)));
    EXPECT_EQ(log.count(QStringLiteral("Can't get case from array")), 1);
    EXPECT_EQ(other->cases(), QList<Case *>{m_cases[2]});

    QMimeData unreadable;
    unreadable.setData(CaseListDragAndDrop::caseDragType(), "x");
    EXPECT_FALSE(m_controller->acceptTagsDrop(&unreadable, tagRow(other)));
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to get dragged row indexes"), LogLevel::Error));
    EXPECT_EQ(updatedTag, 2);
}

TEST_F(LibraryListCommandsTest, ADoiGoesOnALineOfItsOwnAndACaseAsksForTheCaseDragMenu)
{
    makeLibrary();
    m_cases[1]->setDetail(QStringLiteral(""));
    m_cases[2]->setDetail(QStringLiteral("Seen at MDM"));
    QMimeData doi;
    doi.setData(CaseListDragAndDrop::doiDragType(), "10.1148/radiol.2021204183");
    for (int row = 0; row < 3; ++row) // absent, empty and one-line details
        EXPECT_TRUE(m_controller->acceptCasesDrop(&doi, row, false));
    EXPECT_EQ(m_cases[0]->detail(), QStringLiteral("10.1148/radiol.2021204183"));
    EXPECT_EQ(m_cases[1]->detail(), QStringLiteral("10.1148/radiol.2021204183"));
    EXPECT_EQ(m_cases[2]->detail(), QStringLiteral("Seen at MDM\n10.1148/radiol.2021204183"));
    EXPECT_FALSE(m_controller->acceptCasesDrop(&doi, 3, false)); // no case there

    QSignalSpy dropped(m_controller.get(), &LibraryWithTagsViewController::caseDroppedOnCase);
    EXPECT_TRUE(m_controller->acceptCasesDrop(dragOf({2}).get(), 0, false));
    ASSERT_EQ(dropped.count(), 1);
    EXPECT_EQ(dropped[0][0].value<Case *>(), m_cases[2]);
    EXPECT_EQ(dropped[0][1].value<Case *>(), m_cases[0]);
    EXPECT_FALSE(m_controller->acceptCasesDrop(dragOf({7}).get(), 0, false)); // not listed
    EXPECT_EQ(dropped.count(), 1);
}

// Files dropped onto a case, from a folder of their own.
class DroppedFilesTest : public LibraryListCommandsTest
{
protected:
    QUrl writeImage(const QString &name, int side)
    {
        QFile file(m_files.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(test::encodedImage(QSize(side, side), Qt::red));
        return QUrl::fromLocalFile(file.fileName());
    }

    // Drops the files onto the case's row and waits for their import.
    void dropAndWait(const QList<QUrl> &urls, Case *target, bool alternate)
    {
        QSignalSpy imported(m_controller.get(), &LibraryWithTagsViewController::droppedFilesImported);
        QMimeData data;
        data.setUrls(urls);
        ASSERT_TRUE(m_controller->acceptCasesDrop(&data, m_controller->rowOfCase(target), alternate));
        ASSERT_TRUE(imported.wait(10000));
        settle();
    }

    // Each media's uuid, name, position and whether its file is there; then the media folder's files.
    QStringList stateOf(const Case *item) const
    {
        QStringList state;
        for (const Media *media : item->sortedMedia())
            state.append(QStringLiteral("%1 %2 %3 %4").arg(media->uuid(), media->fileName()).arg(media->orderIndex()).arg(media->fileExists()));
        QDirIterator files(m_stack->mediaDirectory(), QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext())
            state.append(QFileInfo(files.next()).fileName());
        return state;
    }

    QTemporaryDir m_files;
};

TEST_F(DroppedFilesTest, ReadableFilesAreImportedAndAnUnreadableOneIsLoggedAndSkipped)
{
    makeLibrary();
    Case *target = m_cases[1];
    target->addMedia(test::encodedImage(QSize(8, 8), Qt::green, "PNG"), QStringLiteral("existing.png"));
    context()->saveWithParent(true);
    const QUrl first = writeImage(QStringLiteral("first.jpg"), 10);
    const QUrl missing = QUrl::fromLocalFile(m_files.filePath(QStringLiteral("missing.jpg")));
    const QUrl last = writeImage(QStringLiteral("last.jpg"), 12);

    LogCapture log;
    dropAndWait({first, missing, last}, target, false);
    EXPECT_TRUE(log.contains(QStringLiteral("Accept fileURL to case tableView drop for row 1")));
    EXPECT_TRUE(log.contains(QStringLiteral("Import ") + first.toString(QUrl::FullyEncoded)));
    const QList<LogCapture::Entry> entries = log.entries();
    const auto failure = std::find_if(entries.cbegin(), entries.cend(), [](const LogCapture::Entry &entry) {
        return entry.message.startsWith(QStringLiteral("Unable to import media at URL: "));
    });
    ASSERT_NE(failure, entries.cend());
    EXPECT_TRUE(failure->message.contains(missing.path()));
    EXPECT_EQ(failure->level, LogLevel::Error);
    EXPECT_EQ(failure->area, LogArea::Filing);

    const QList<Media *> media = target->sortedMedia();
    ASSERT_EQ(media.size(), 3);
    EXPECT_EQ(media[1]->fileName(), QStringLiteral("first.jpg"));
    EXPECT_EQ(media[2]->fileName(), QStringLiteral("last.jpg"));
    EXPECT_EQ(media[2]->image().size(), QSize(12, 12));
    EXPECT_TRUE(QFile::exists(first.toLocalFile())); // the dropped files stay where they were
    EXPECT_FALSE(context()->hasChanges());
    EXPECT_EQ(openSecondStack()->mainContext()->countOfObjects(Media::entityName()), 3);
}

TEST_F(DroppedFilesTest, UndoingAnImportTakesItsMediaAndFilesOutAndRedoPutsThemBack)
{
    makeLibrary();
    Case *target = m_cases[0];
    target->addMedia(test::encodedImage(QSize(8, 8), Qt::green, "PNG"), QStringLiteral("existing.png"));
    context()->saveWithParent(true);
    endTurn();
    undo()->removeAllActions();
    const QStringList before = stateOf(target);

    dropAndWait({writeImage(QStringLiteral("a.jpg"), 10), writeImage(QStringLiteral("b.jpg"), 11)}, target, false);
    const QStringList imported = stateOf(target);
    ASSERT_EQ(target->media().size(), 3);
    EXPECT_EQ(undo()->undoActionName(), QStringLiteral("Import Media"));

    undo()->undo();
    settle();
    EXPECT_EQ(stateOf(target), before);
    EXPECT_EQ(undo()->redoActionName(), QStringLiteral("Import Media"));
    undo()->redo();
    settle();
    EXPECT_EQ(stateOf(target), imported);
    EXPECT_EQ(target->sortedMedia()[2]->image().size(), QSize(11, 11));
    undo()->undo();
    settle();
    EXPECT_EQ(stateOf(target), before);
    context()->saveWithParent(true);
    EXPECT_EQ(openSecondStack()->mainContext()->countOfObjects(Media::entityName()), 1);
}

TEST_F(DroppedFilesTest, WithAltHeldTheDroppedFilesGoToTheTrash)
{
    // A trash of this test's own: the freedesktop trash under XDG_DATA_HOME,
    // on the same device as the home folder.
    QTemporaryDir home;
    const QByteArray previousHome = qgetenv("HOME");
    const QByteArray previousData = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral("data")));
    const auto restore = qScopeGuard([&] {
        qputenv("HOME", previousHome);
        qputenv("XDG_DATA_HOME", previousData);
    });

    makeLibrary();
    const QUrl a = writeImage(QStringLiteral("a.jpg"), 10);
    const QUrl b = writeImage(QStringLiteral("b.jpg"), 10);
    LogCapture log;
    dropAndWait({a, b}, m_cases[2], true);
    EXPECT_EQ(m_cases[2]->media().size(), 2);
    EXPECT_TRUE(log.contains(QStringLiteral("Move to trash ") + a.path()));
    EXPECT_FALSE(QFile::exists(a.toLocalFile()));
    EXPECT_FALSE(QFile::exists(b.toLocalFile()));
    const QDir trash(home.filePath(QStringLiteral("data/Trash/files")));
    EXPECT_TRUE(trash.exists(QStringLiteral("a.jpg")));
    EXPECT_TRUE(trash.exists(QStringLiteral("b.jpg")));
    for (const Media *media : m_cases[2]->media())
        EXPECT_TRUE(media->fileExists());
}

} // namespace
