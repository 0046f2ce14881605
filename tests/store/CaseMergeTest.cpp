#include <QFile>
#include <gtest/gtest.h>

#include "support/MediaState.h"
#include "support/StoreFixture.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/UndoManager.h"

using namespace ovalis;
using ovalis::test::mediaState;

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

    QStringList mediaDirectoryEntries() const { return test::mediaDirectoryEntries(libraryPath()); }
};

TEST_F(CaseMergeTest, LinkingNamesTheOtherPatientInTheDetailOnce)
{
    Case *first = newCase(QStringLiteral("ABC1234"));
    Case *second = newCase(QStringLiteral("DEF5678"));
    second->setDetail(QStringLiteral("Compare ABC1234"));
    Case *anonymous = newCase(QString());

    LogCapture capture;
    first->linkPatient(second);
    second->linkPatient(first);
    EXPECT_EQ(first->detail(), QStringLiteral("DEF5678"));
    EXPECT_EQ(second->detail(), QStringLiteral("Compare ABC1234"));
    EXPECT_TRUE(capture.contains(QStringLiteral("Link DEF5678 to ABC1234")));
    EXPECT_EQ(capture.count(QStringLiteral("Already linked")), 1);
    second->setDetail(QStringLiteral("First line"));
    second->linkPatient(first);
    EXPECT_EQ(second->detail(), QStringLiteral("First line\rABC1234"));

    first->linkPatient(anonymous);
    first->linkPatient(newCase(QStringLiteral("")));
    EXPECT_EQ(first->detail(), QStringLiteral("DEF5678"));
    EXPECT_TRUE(capture.contains(QStringLiteral("Link ABC1234 to nil")));
    EXPECT_EQ(capture.count(QStringLiteral("No destination patientID - exiting")), 2);
    anonymous->linkPatient(first);
    EXPECT_EQ(anonymous->detail(), QStringLiteral("ABC1234"));
}

TEST_F(CaseMergeTest, DescriptionsAndTagsAreAddedAndTheSourceIsLeftAlone)
{
    Case *source = newCase(QStringLiteral("SRC0001"), QStringLiteral("Source summary"));
    source->setDetail(QStringLiteral("Source detail"));
    Case *destination = newCase(QStringLiteral("DST0001"), QStringLiteral(""));
    destination->setDetail(QStringLiteral("Own detail"));

    LogCapture capture;
    const QString expectedLog = QStringLiteral("Merge descriptions\nfrom\t") + source->description()
                                + QStringLiteral("\nto\t\t") + destination->description();
    destination->mergeDescriptions(source);
    destination->mergeDescriptions(newCase(QStringLiteral("SRC0002"), QStringLiteral("")));
    EXPECT_TRUE(capture.contains(expectedLog));
    EXPECT_EQ(destination->summary(), QStringLiteral("Source summary"));
    EXPECT_EQ(destination->detail(), QStringLiteral("Own detail\n\nSource detail"));
    EXPECT_EQ(source->detail(), QStringLiteral("Source detail"));

    Tag *chest = newTag(QStringLiteral("chest"));
    source->addToTags(chest);
    source->addToTags(newTag(QStringLiteral("spine")));
    destination->addToTags(newTag(QStringLiteral("head")));
    destination->mergeTags(source);
    EXPECT_EQ(destination->tagList(), QStringLiteral("chest | head | spine"));
    EXPECT_EQ(source->tagList(), QStringLiteral("chest | spine"));
    EXPECT_EQ(chest->cases().size(), 2);
    EXPECT_TRUE(capture.containsPrefix(QStringLiteral("Add tags\nfrom\t%") + source->description()));
}

TEST_F(CaseMergeTest, CopiesFollowTheDestinationsMediaAndUndoAndRedoTakeThemAndTheirFiles)
{
    Case *destination = caseWithMedia(QStringLiteral("DST0001"), {"a.jpg", "b.jpg", "c.jpg"});
    const QList<Media *> own = destination->sortedMedia();
    own[1]->setOrderIndex(2);
    own[2]->setOrderIndex(7);
    Case *source = caseWithMedia(QStringLiteral("SRC0001"), {"x.jpg", "y.png"});
    context()->saveWithParent(true);
    const QStringList sourceState = mediaState(source);
    const QStringList entriesBefore = mediaDirectoryEntries();
    int updates = 0;
    const ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("Updated Media"), nullptr, [&updates](const Notification &) { ++updates; });

    step([&] { destination->mergeMedia(source); });
    EXPECT_EQ(updates, 1);
    const QList<Media *> copies = destination->sortedMedia().mid(2, 2);
    QStringList paths;
    for (int i = 0; i < 2; ++i) {
        const Media *original = source->sortedMedia()[i];
        EXPECT_EQ(copies[i]->orderIndex(), 3 + i);
        EXPECT_EQ(copies[i]->fileName(), original->fileName());
        EXPECT_NE(copies[i]->uuid(), original->uuid());
        EXPECT_EQ(read(copies[i]->filePath()), contentOf(QStringLiteral("SRC0001"), original->fileName()));
        paths << copies[i]->filePath();
    }
    const QStringList uuids = {copies[0]->uuid(), copies[1]->uuid()};
    const QStringList entriesMerged = mediaDirectoryEntries();

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        undo()->undo();
        // Renumbered, and the files with their emptied folders gone at once.
        EXPECT_EQ(mediaState(destination),
                  (QStringList{"0 a.jpg " + own[0]->uuid(), "1 b.jpg " + own[1]->uuid(), "2 c.jpg " + own[2]->uuid()}));
        EXPECT_EQ(mediaDirectoryEntries(), entriesBefore);
        undo()->redo();
        const QStringList state = mediaState(destination);
        EXPECT_EQ(state.mid(3), (QStringList{"3 x.jpg " + uuids[0], "4 y.png " + uuids[1]}));
        EXPECT_EQ(mediaDirectoryEntries(), entriesMerged);
        EXPECT_EQ(read(paths[1]), contentOf(QStringLiteral("SRC0001"), QStringLiteral("y.png")));
        // Once saved the copies have permanent identifiers; undo finds them all the same.
        if (round == 1)
            context()->saveWithParent(true);
    }
    EXPECT_EQ(mediaState(source), sourceState);
    EXPECT_EQ(updates, 7);
    undo()->undo();
    context()->saveWithParent(true);
    EXPECT_EQ(openSecondStack()->mainContext()->countOfObjects(Media::entityName()), 5);
}

TEST_F(CaseMergeTest, AMediaWithoutItsFileIsLeftOutAndOneDeletedIsNotRedone)
{
    Case *destination = caseWithMedia(QStringLiteral("DST0001"), {"a.jpg"});
    Case *source = caseWithMedia(QStringLiteral("SRC0001"), {"x.jpg", "y.jpg", "z.jpg"});
    ASSERT_TRUE(QFile::remove(source->sortedMedia()[1]->filePath()));

    LogCapture capture;
    step([&] { destination->mergeMedia(source); });
    EXPECT_TRUE(capture.containsPrefix(QStringLiteral("Unable to find media file to duplicate: ")));
    const QList<Media *> merged = destination->sortedMedia();
    ASSERT_EQ(merged.size(), 3);
    EXPECT_EQ(merged[1]->fileName(), QStringLiteral("x.jpg"));
    EXPECT_EQ(merged[2]->fileName(), QStringLiteral("z.jpg"));
    EXPECT_EQ(merged[2]->orderIndex(), 3); // its place in the source's list

    undo()->undo();
    undo()->disableUndoRegistration();
    source->removeMedia({source->sortedMedia().first()});
    undo()->enableUndoRegistration();
    undo()->redo();
    ASSERT_EQ(destination->media().size(), 2);
    EXPECT_EQ(destination->sortedMedia().last()->fileName(), QStringLiteral("z.jpg"));
    EXPECT_EQ(destination->sortedMedia().last()->orderIndex(), 1);
}

} // namespace
