#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include "support/StoreFixture.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/UndoManager.h"

using namespace ovalis;

namespace {

class CaseMergeTest : public test::StoreFixture
{
protected:
    UndoManager *undo() const { return m_stack->undoManager(); }

    // The operations as one undo step, as the case-drag menu runs them.
    void step(const std::function<void()> &operations)
    {
        undo()->closeAutomaticGroup();
        undo()->beginUndoGrouping();
        operations();
        undo()->endUndoGrouping();
    }

    // A case with one media file per name, each holding its own bytes.
    Case *caseWithMedia(const QString &patientID, const QStringList &fileNames)
    {
        Case *item = newCase(patientID);
        for (const QString &name : fileNames)
            item->addMedia(contentOf(patientID, name), name);
        return item;
    }

    static QByteArray contentOf(const QString &patientID, const QString &fileName)
    {
        return (patientID + QLatin1Char('/') + fileName).toUtf8();
    }

    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // "orderIndex fileName uuid" per media, in order.
    static QStringList mediaState(const Case *item)
    {
        QStringList lines;
        for (const Media *media : item->sortedMedia())
            lines << QStringLiteral("%1 %2 %3").arg(media->orderIndex()).arg(media->fileName(), media->uuid());
        return lines;
    }

    // Every file and folder below the media directory.
    QStringList mediaDirectoryEntries() const
    {
        QStringList entries;
        const QString root = libraryPath() + QStringLiteral("/Media");
        QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            entries << it.next().mid(root.size());
        entries.sort();
        return entries;
    }

    static QList<Media *> copiesIn(const Case *item, int firstIndex)
    {
        QList<Media *> copies;
        for (Media *media : item->sortedMedia())
            if (media->orderIndex() >= firstIndex)
                copies << media;
        return copies;
    }
};

TEST_F(CaseMergeTest, LinkingNamesTheOtherPatientInTheDetailOnce)
{
    Case *first = newCase(QStringLiteral("ABC1234"));
    Case *second = newCase(QStringLiteral("DEF5678"));
    second->setDetail(QStringLiteral("Compare ABC1234"));
    Case *third = newCase(QStringLiteral("GHI9012"));
    third->setDetail(QStringLiteral("First line"));
    Case *anonymous = newCase(QString());
    Case *blank = newCase(QStringLiteral(""));

    LogCapture capture;
    first->linkPatient(second);
    EXPECT_EQ(first->detail(), QStringLiteral("DEF5678"));
    second->linkPatient(first);
    EXPECT_EQ(second->detail(), QStringLiteral("Compare ABC1234"));
    EXPECT_TRUE(capture.contains(QStringLiteral("Link DEF5678 to ABC1234")));
    EXPECT_EQ(capture.count(QStringLiteral("Already linked")), 1);

    third->linkPatient(first);
    EXPECT_EQ(third->detail(), QStringLiteral("First line\rABC1234"));
    third->linkPatient(first);
    EXPECT_EQ(third->detail(), QStringLiteral("First line\rABC1234"));
    EXPECT_EQ(capture.count(QStringLiteral("Already linked")), 2);

    // Without an identifier on the other side there is nothing to name.
    capture.clear();
    third->linkPatient(anonymous);
    third->linkPatient(blank);
    EXPECT_EQ(third->detail(), QStringLiteral("First line\rABC1234"));
    EXPECT_TRUE(capture.contains(QStringLiteral("Link GHI9012 to nil")));
    EXPECT_EQ(capture.count(QStringLiteral("No destination patientID - exiting")), 2);
    anonymous->linkPatient(third);
    EXPECT_EQ(anonymous->detail(), QStringLiteral("GHI9012"));
    EXPECT_TRUE(capture.contains(QStringLiteral("Link nil to GHI9012")));
}

TEST_F(CaseMergeTest, DescriptionsAndTagsAreAddedAndTheSourceIsLeftAlone)
{
    Case *source = newCase(QStringLiteral("SRC0001"), QStringLiteral("Source summary"));
    source->setDetail(QStringLiteral("Source detail"));
    Case *destination = newCase(QStringLiteral("DST0001"));
    destination->setDetail(QStringLiteral("Own detail"));

    LogCapture capture;
    const QString expectedLog = QStringLiteral("Merge descriptions\nfrom\t") + source->description()
                                + QStringLiteral("\nto\t\t") + destination->description();
    destination->mergeDescriptions(source);
    EXPECT_TRUE(capture.contains(expectedLog));
    EXPECT_EQ(destination->summary(), QStringLiteral("Source summary"));
    EXPECT_EQ(destination->detail(), QStringLiteral("Own detail\n\nSource detail"));
    EXPECT_EQ(source->summary(), QStringLiteral("Source summary"));
    EXPECT_EQ(source->detail(), QStringLiteral("Source detail"));

    Case *emptied = newCase(QStringLiteral("DST0002"), QStringLiteral(""));
    emptied->mergeDescriptions(source);
    EXPECT_EQ(emptied->summary(), QStringLiteral("Source summary"));
    EXPECT_EQ(emptied->detail(), QStringLiteral("Source detail"));
    // A source without texts adds nothing, not even a blank line.
    Case *bare = newCase(QStringLiteral("SRC0002"), QStringLiteral(""));
    emptied->mergeDescriptions(bare);
    EXPECT_EQ(emptied->summary(), QStringLiteral("Source summary"));
    EXPECT_EQ(emptied->detail(), QStringLiteral("Source detail"));

    Tag *chest = newTag(QStringLiteral("chest"));
    Tag *spine = newTag(QStringLiteral("spine"));
    Tag *head = newTag(QStringLiteral("head"));
    source->addToTags(chest);
    source->addToTags(spine);
    destination->addToTags(spine);
    destination->addToTags(head);
    destination->mergeTags(source);
    EXPECT_EQ(destination->tagList(), QStringLiteral("chest | head | spine"));
    EXPECT_EQ(source->tagList(), QStringLiteral("chest | spine"));
    EXPECT_EQ(chest->cases().size(), 2);
    EXPECT_EQ(context()->countOfObjects(Tag::entityName()), 3);
    EXPECT_TRUE(capture.containsPrefix(QStringLiteral("Add tags\nfrom\t%") + source->description()));
}

TEST_F(CaseMergeTest, MergedMediaFollowTheDestinationsOwnUnderFreshUuidsWithCopiedFiles)
{
    Case *destination = caseWithMedia(QStringLiteral("DST0001"), {"a.jpg", "b.jpg", "c.png"});
    Case *source = caseWithMedia(QStringLiteral("SRC0001"), {"x.jpg", "y.png"});
    const QStringList sourceBefore = mediaState(source);
    int updates = 0;
    const ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("Updated Media"), nullptr, [&updates](const Notification &) { ++updates; });

    LogCapture capture;
    step([&] { destination->mergeMedia(source); });
    EXPECT_TRUE(capture.containsPrefix(QStringLiteral("Add media\nfrom\t") + source->description()));
    EXPECT_EQ(updates, 1);

    const QList<Media *> copies = copiesIn(destination, 3);
    ASSERT_EQ(copies.size(), 2);
    const QList<Media *> originals = source->sortedMedia();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(copies[i]->orderIndex(), 3 + i);
        EXPECT_EQ(copies[i]->fileName(), originals[i]->fileName());
        EXPECT_NE(copies[i]->uuid(), originals[i]->uuid());
        EXPECT_EQ(read(copies[i]->filePath()), contentOf(QStringLiteral("SRC0001"), originals[i]->fileName()));
    }
    EXPECT_NE(copies[0]->uuid(), copies[1]->uuid());
    EXPECT_EQ(mediaState(source), sourceBefore);
    for (const Media *original : originals)
        EXPECT_TRUE(original->fileExists());

    // Nothing to copy: no undo step, no notification.
    Case *empty = newCase(QStringLiteral("EMP0001"));
    undo()->closeAutomaticGroup();
    undo()->removeAllActions();
    destination->mergeMedia(empty);
    EXPECT_FALSE(undo()->canUndo());
    EXPECT_EQ(updates, 1);
}

TEST_F(CaseMergeTest, UndoRemovesTheCopiesAndTheirFilesAndRedoBringsThemBackAtTheSamePaths)
{
    Case *destination = caseWithMedia(QStringLiteral("DST0001"), {"a.jpg", "b.jpg", "c.jpg"});
    const QList<Media *> own = destination->sortedMedia();
    own[1]->setOrderIndex(2);
    own[2]->setOrderIndex(7);
    Case *source = caseWithMedia(QStringLiteral("SRC0001"), {"x.jpg", "y.png"});
    context()->saveWithParent(true);
    const QStringList entriesBefore = mediaDirectoryEntries();

    step([&] { destination->mergeMedia(source); });
    const QList<Media *> copies = copiesIn(destination, 3).mid(0, 2);
    ASSERT_EQ(copies.size(), 2);
    ASSERT_EQ(copies[1]->orderIndex(), 4);
    const QStringList uuids = {copies[0]->uuid(), copies[1]->uuid()};
    const QStringList paths = {copies[0]->filePath(), copies[1]->filePath()};
    const QStringList entriesMerged = mediaDirectoryEntries();

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        undo()->undo();
        EXPECT_EQ(destination->media().size(), 3);
        EXPECT_EQ(mediaState(destination),
                  (QStringList{"0 a.jpg " + own[0]->uuid(), "1 b.jpg " + own[1]->uuid(), "2 c.jpg " + own[2]->uuid()}));
        // The files and their emptied folders are gone at once.
        EXPECT_FALSE(QFileInfo::exists(paths[0]));
        EXPECT_FALSE(QFileInfo::exists(paths[1]));
        EXPECT_EQ(mediaDirectoryEntries(), entriesBefore);
        EXPECT_EQ(source->media().size(), 2);

        undo()->redo();
        const QList<Media *> back = copiesIn(destination, 3);
        ASSERT_EQ(back.size(), 2);
        EXPECT_EQ(back[0]->uuid(), uuids[0]);
        EXPECT_EQ(back[1]->uuid(), uuids[1]);
        EXPECT_EQ(back[0]->filePath(), paths[0]);
        EXPECT_EQ(back[1]->filePath(), paths[1]);
        EXPECT_EQ(read(paths[1]), contentOf(QStringLiteral("SRC0001"), QStringLiteral("y.png")));
        EXPECT_EQ(mediaDirectoryEntries(), entriesMerged);
        // Saved copies have permanent identifiers; undo finds them all the same.
        if (round == 1)
            context()->saveWithParent(true);
    }

    undo()->undo();
    context()->saveWithParent(true);
    EXPECT_EQ(openSecondStack()->mainContext()->countOfObjects(Media::entityName()), 5);
    undo()->redo();
    context()->saveWithParent(true);
    EXPECT_EQ(openSecondStack()->mainContext()->countOfObjects(Media::entityName()), 7);
}

TEST_F(CaseMergeTest, AMediaWithoutItsFileIsLeftOutAndTheOthersAreCopied)
{
    Case *destination = caseWithMedia(QStringLiteral("DST0001"), {"a.jpg"});
    Case *source = caseWithMedia(QStringLiteral("SRC0001"), {"x.jpg", "y.jpg", "z.jpg"});
    ASSERT_TRUE(QFile::remove(source->sortedMedia()[1]->filePath()));

    LogCapture capture;
    step([&] { destination->mergeMedia(source); });
    EXPECT_TRUE(capture.containsPrefix(QStringLiteral("Unable to find media file to duplicate: ")));
    EXPECT_EQ(mediaState(destination).size(), 3);
    const QList<Media *> copies = copiesIn(destination, 1);
    ASSERT_EQ(copies.size(), 2);
    EXPECT_EQ(copies[0]->fileName(), QStringLiteral("x.jpg"));
    EXPECT_EQ(copies[1]->fileName(), QStringLiteral("z.jpg"));
    EXPECT_EQ(copies[1]->orderIndex(), 3); // its place in the source's list

    undo()->undo();
    EXPECT_EQ(mediaState(destination).size(), 1);
    undo()->redo();
    EXPECT_EQ(copiesIn(destination, 1).size(), 2);
    // A redo renumbers the destination's media.
    EXPECT_EQ(copiesIn(destination, 1).last()->orderIndex(), 2);

    // A source media deleted meanwhile is not brought back by the next redo.
    undo()->undo();
    Media *first = source->sortedMedia().first();
    undo()->disableUndoRegistration();
    source->removeMedia({first});
    undo()->enableUndoRegistration();
    undo()->redo();
    const QList<Media *> remade = copiesIn(destination, 1);
    ASSERT_EQ(remade.size(), 1);
    EXPECT_EQ(remade.first()->fileName(), QStringLiteral("z.jpg"));
}

TEST_F(CaseMergeTest, MediaAreNotMergedWithoutAnUndoManager)
{
    Case *destination = caseWithMedia(QStringLiteral("DST0001"), {"a.jpg"});
    Case *source = caseWithMedia(QStringLiteral("SRC0001"), {"x.jpg"});
    context()->setUndoManager(nullptr);
    destination->mergeMedia(source);
    context()->setUndoManager(m_stack->undoManager());
    EXPECT_EQ(destination->media().size(), 1);
}

} // namespace
