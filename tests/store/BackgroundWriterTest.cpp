#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

#include "store/FetchedResultsController.h"
#include "store/PersistentStore.h"
#include "store/SharedBackgroundContext.h"
#include "support/StoreFixture.h"
#include "util/ThreadPriority.h"
#include "util/UndoManager.h"

using namespace ovalis;
using ovalis::test::StoreFixture;

class BackgroundWriterTest : public StoreFixture
{
protected:
    UndoManager *undo() const { return m_stack->undoManager(); }

    // Waits without serving the main thread's queue or its events.
    static bool waitBlocking(const std::atomic<bool> &flag)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!flag.load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return flag.load();
    }
};

TEST_F(BackgroundWriterTest, SavesReachTheFileWithoutTheMainThreadAndTheMainContextsListsInSlices)
{
    Tag *shared = newTag(QStringLiteral("Shared"));
    newCase(QStringLiteral("OLD"));
    context()->saveWithParent(true);
    const ObjectID tagId = shared->objectID();
    const int sharedCasesBefore = int(shared->cases().size()); // loads the to-many on this side

    undo()->removeAllActions();
    FetchRequest request;
    request.entityName = Case::entityName();
    request.sortDescriptors = {SortDescriptor{QStringLiteral("patientID")}};
    FetchedResultsController cases(request, context());
    ASSERT_TRUE(cases.performFetch());
    QSignalSpy changes(context(), &ManagedObjectContext::objectsDidChange);

    // The writer makes and saves its records while the main thread does
    // not turn at all: nothing of the save waits for it.
    const int total = 20000;
    auto writer = SharedBackgroundContext::writerFor(context());
    std::atomic<bool> saved{false};
    int writerNiceness = 0;
    writer->perform([&, w = writer.get()] {
        // Its thread stands back when the window's thread wants a processor.
        writerNiceness = ::getpriority(PRIO_PROCESS, ::gettid());
        for (int i = 1; i <= total; ++i) {
            // The writer lets go of its objects after each save and finds
            // the tag again by its identifier.
            auto *tag = static_cast<Tag *>(w->existingObject(tagId));
            Case *item = w->insertNew<Case>();
            item->setPatientID(QStringLiteral("W%1").arg(i, 5, 10, QLatin1Char('0')));
            item->addToTags(tag);
            auto *media = w->insertNew<Media>();
            media->setItsCase(item);
            if (i % 2000 == 0) {
                w->saveWithParentLater();
                w->reset();
            }
        }
        saved = true;
    });
    ASSERT_TRUE(waitBlocking(saved));
    EXPECT_GE(writerNiceness, backgroundNiceness);
    {
        const std::unique_ptr<CoreDataStack> reader = openSecondStack();
        EXPECT_EQ(reader->mainContext()->countOfObjects(Case::entityName()), total + 1);
        EXPECT_EQ(reader->mainContext()->countOfObjects(Media::entityName()), total);
    }
    EXPECT_EQ(cases.fetchedObjects().size(), 1);

    // The merge comes in slices, each with its own objects-did-change, and
    // the list ends with every case in order.
    bool merged = false;
    writer->perform([&, w = writer.get()] {
        w->waitForQueuedParentWork();
        merged = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return merged; }, 60000));
    EXPECT_GT(changes.count(), 1);
    ASSERT_EQ(cases.fetchedObjects().size(), total + 1);
    EXPECT_EQ(static_cast<Case *>(cases.fetchedObjects().first())->patientID(), QStringLiteral("OLD"));
    EXPECT_EQ(static_cast<Case *>(cases.fetchedObjects().last())->patientID(), QStringLiteral("W20000"));
    EXPECT_EQ(shared->cases().size(), sharedCasesBefore + total);
    // Nothing of it is an unsaved change here or a step to undo.
    EXPECT_FALSE(context()->hasChanges());
    EXPECT_FALSE(undo()->canUndo());
    const auto *last = static_cast<Case *>(cases.fetchedObjects().last());
    EXPECT_EQ(last->tags(), QList<Tag *>{shared});
    EXPECT_EQ(last->sortedMedia().size(), 1);
}

TEST_F(BackgroundWriterTest, ABackgroundSaveMeetsUnsavedEditsAndUndoLeavesItAlone)
{
    Case *item = newCase(QStringLiteral("C1"), QStringLiteral("summary before"));
    item->setDetail(QStringLiteral("detail before"));
    Tag *old = newTag(QStringLiteral("Old"));
    item->addToTags(old);
    context()->saveWithParent(true);
    undo()->removeAllActions();
    const ObjectID id = item->objectID();
    const ObjectID oldId = old->objectID();
    // Both sides' lists are loaded here, so the merge must bring them up to date.
    ASSERT_EQ(item->tags(), QList<Tag *>{old});
    ASSERT_EQ(old->cases(), QList<Case *>{item});

    // An edit of this window, not yet saved.
    item->setDetail(QStringLiteral("my detail"));
    undo()->closeAutomaticGroup();

    auto writer = SharedBackgroundContext::writerFor(context());
    writer->performAndWait([&, w = writer.get()] {
        auto *theirs = static_cast<Case *>(w->existingObject(id));
        ASSERT_NE(theirs, nullptr);
        theirs->setSummary(QStringLiteral("their summary"));
        theirs->setDetail(QStringLiteral("their detail"));
        Tag *tag = w->insertNew<Tag>();
        tag->setLabel(QStringLiteral("Theirs"));
        theirs->addToTags(tag);
        theirs->removeFromTags(static_cast<Tag *>(w->existingObject(oldId)));
        QString error;
        ASSERT_TRUE(w->save(&error)) << error.toStdString();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return item->summary() == QStringLiteral("their summary"); }, 10000));
    EXPECT_EQ(item->detail(), QStringLiteral("my detail"));
    ASSERT_EQ(item->tags().size(), 1);
    EXPECT_EQ(item->tags().first()->label(), QStringLiteral("Theirs"));
    EXPECT_EQ(item->tags().first()->cases(), QList<Case *>{item});
    EXPECT_TRUE(old->cases().isEmpty());
    EXPECT_FALSE(old->isUpdated()); // a merged link is no unsaved change here

    // Undo takes back this window's edit and nothing of the merge.
    ASSERT_TRUE(undo()->canUndo());
    undo()->undo();
    EXPECT_EQ(item->detail(), QStringLiteral("detail before"));
    EXPECT_EQ(item->summary(), QStringLiteral("their summary"));
    EXPECT_EQ(item->tags().size(), 1);
    EXPECT_FALSE(undo()->canUndo());
    undo()->redo();
    EXPECT_EQ(item->detail(), QStringLiteral("my detail"));

    // Saving writes what this window changed; the writer's work survives.
    context()->saveWithParent(true);
    const std::unique_ptr<CoreDataStack> reader = openSecondStack();
    auto *check = static_cast<Case *>(reader->mainContext()->existingObject(id));
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check->summary(), QStringLiteral("their summary"));
    EXPECT_EQ(check->detail(), QStringLiteral("my detail"));
    EXPECT_EQ(check->tags().size(), 1);
}

TEST_F(BackgroundWriterTest, AnOlderBackgroundSaveArrivingLateDoesNotOverwriteANewerSaveHere)
{
    Case *item = newCase(QStringLiteral("R1"), QStringLiteral("first"));
    context()->saveWithParent(true);
    const ObjectID id = item->objectID();

    // The writer's save is merged only after this window saved a newer value.
    // The main thread waits without serving its queue, so the merge cannot run before its own save.
    auto writer = SharedBackgroundContext::writerFor(context());
    std::atomic<bool> saved{false};
    writer->perform([&, w = writer.get()] {
        static_cast<Case *>(w->existingObject(id))->setSummary(QStringLiteral("older"));
        w->saveWithParent(true);
        saved = true;
    });
    ASSERT_TRUE(waitBlocking(saved));
    item->setSummary(QStringLiteral("newer"));
    context()->saveWithParent(true);
    bool merged = false;
    writer->perform([&, w = writer.get()] {
        w->waitForQueuedParentWork();
        merged = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return merged; }, 10000));
    EXPECT_EQ(item->summary(), QStringLiteral("newer"));
    EXPECT_EQ(openSecondStack()->mainContext()->arrayOfObjects(Case::entityName()).size(), 1);
    auto *stored = static_cast<Case *>(openSecondStack()->mainContext()->existingObject(id));
    EXPECT_EQ(stored->summary(), QStringLiteral("newer"));
}

TEST_F(BackgroundWriterTest, AFailedSaveWritesAndMergesNothing)
{
    newCase(QStringLiteral("F0"));
    context()->saveWithParent(true);
    QSignalSpy changes(context(), &ManagedObjectContext::objectsDidChange);
    auto writer = SharedBackgroundContext::writerFor(context());
    m_stack->persistentStore()->setSaveFailureForTesting(QStringLiteral("disk full"));
    writer->performAndWait([&, w = writer.get()] {
        for (int i = 0; i < 10; ++i)
            w->insertNew<Case>()->setPatientID(QStringLiteral("F%1").arg(i + 1));
        QString error;
        EXPECT_FALSE(w->save(&error));
        EXPECT_EQ(error, QStringLiteral("disk full"));
        EXPECT_TRUE(w->hasChanges());
        w->waitForQueuedParentWork();
    });
    m_stack->persistentStore()->setSaveFailureForTesting(QString());
    QCoreApplication::processEvents();
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(fetchCases(QString()).size(), 1);
    EXPECT_EQ(openSecondStack()->mainContext()->countOfObjects(Case::entityName()), 1);
}
