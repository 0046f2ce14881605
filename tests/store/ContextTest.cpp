#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <functional>
#include <thread>

#include <sqlite3.h>

#include "store/PersistentStore.h"
#include "store/SharedBackgroundContext.h"
#include "support/StoreFixture.h"
#include "util/Log.h"

using namespace ovalis;
using ovalis::test::StoreFixture;

class ContextTest : public StoreFixture
{
};

TEST_F(ContextTest, OneObjectPerRecordPerContext)
{
    newCase(QStringLiteral("A1"), QStringLiteral("x"));
    context()->saveWithParent(true);
    const QList<Case *> first = fetchCases(QStringLiteral("patientID == %@"), {QStringLiteral("A1")});
    const QList<Case *> second = fetchCases(QString());
    ASSERT_EQ(first.size(), 1);
    ASSERT_EQ(second.size(), 1);
    EXPECT_EQ(first.first(), second.first());
    EXPECT_EQ(context()->existingObject(first.first()->objectID()), first.first());
}

TEST_F(ContextTest, FetchesSeeUnsavedInsertsEditsAndDeletions)
{
    Case *saved = newCase(QStringLiteral("S1"), QStringLiteral("Smith disease"));
    Case *gone = newCase(QStringLiteral("S2"), QStringLiteral("smíth"));
    Case *other = newCase(QStringLiteral("S3"), QStringLiteral("other"));
    context()->saveWithParent(true);

    Case *fresh = newCase(QStringLiteral("N1"), QStringLiteral("SMITH"));
    other->setSummary(QStringLiteral("now smith too"));
    saved->setSummary(QStringLiteral("renamed"));
    context()->deleteObject(gone);

    const QList<Case *> found = fetchCases(QStringLiteral("summary contains[cd] %@"), {QStringLiteral("smith")});
    EXPECT_EQ(QSet<Case *>(found.cbegin(), found.cend()), (QSet<Case *>{fresh, other}));
    EXPECT_EQ(context()->countOfObjects(Case::entityName()), 3);

    // Changing a tag changes which cases match a tag query, before any save.
    Tag *tag = newTag(QStringLiteral("Old"));
    saved->addToTags(tag);
    context()->saveWithParent(true);
    tag->setLabel(QStringLiteral("New"));
    EXPECT_EQ(fetchCases(QStringLiteral("ANY tags.label == %@"), {QStringLiteral("New")}), QList<Case *>{saved});
    EXPECT_TRUE(fetchCases(QStringLiteral("ANY tags.label == %@"), {QStringLiteral("Old")}).isEmpty());
}

TEST_F(ContextTest, PermanentIdentifiersAfterTheFirstSaveFindTheObjectEverywhere)
{
    Case *item = newCase(QStringLiteral("ID1"));
    const ObjectID temporary = item->objectID();
    EXPECT_TRUE(temporary.isTemporary());
    context()->saveWithParent(true);
    const ObjectID permanent = item->objectID();
    EXPECT_FALSE(permanent.isTemporary());
    EXPECT_EQ(context()->existingObject(temporary), item);
    EXPECT_EQ(context()->existingObject(permanent), item);

    auto child = m_stack->newBackgroundContext();
    QString seen;
    child->performAndWait([&] {
        if (auto *copy = static_cast<Case *>(child->existingObject(permanent)))
            seen = copy->patientID();
    });
    EXPECT_EQ(seen, QStringLiteral("ID1"));
}

TEST_F(ContextTest, ObjectsLetGoOfAreRegisteredAgainTogetherAndRecordsGoneArePassedOver)
{
    Tag *first = newTag(QStringLiteral("First"));
    const ObjectID firstTemporary = first->objectID();
    Tag *second = newTag(QStringLiteral("Second"));
    Tag *gone = newTag(QStringLiteral("Gone"));
    Case *item = newCase(QStringLiteral("R1"));
    item->addToTags(second);
    context()->saveWithParent(true);
    const ObjectID firstID = first->objectID();
    const ObjectID secondID = second->objectID();
    const ObjectID goneID = gone->objectID();
    const ObjectID itemID = item->objectID();
    context()->deleteObject(gone);
    context()->saveWithParent(true);
    context()->reset();
    ASSERT_EQ(context()->registeredObject(secondID), nullptr);

    context()->registerExistingObjects({firstTemporary, secondID, goneID, itemID, itemID});
    auto *firstAgain = static_cast<Tag *>(context()->registeredObject(firstID));
    auto *secondAgain = static_cast<Tag *>(context()->registeredObject(secondID));
    auto *itemAgain = static_cast<Case *>(context()->registeredObject(itemID));
    ASSERT_NE(firstAgain, nullptr);
    ASSERT_NE(secondAgain, nullptr);
    ASSERT_NE(itemAgain, nullptr);
    EXPECT_EQ(firstAgain->label(), QStringLiteral("First"));
    EXPECT_EQ(secondAgain->label(), QStringLiteral("Second"));
    EXPECT_EQ(itemAgain->patientID(), QStringLiteral("R1"));
    EXPECT_EQ(itemAgain->tags(), QList<Tag *>{secondAgain});
    EXPECT_EQ(context()->registeredObject(goneID), nullptr);
    EXPECT_EQ(context()->existingObject(goneID), nullptr);
    EXPECT_FALSE(context()->hasChanges());
}

TEST_F(ContextTest, ChildSeesParentUnsavedStateAndPushesItsSaveIntoTheParent)
{
    Tag *tag = newTag(QStringLiteral("Neuro"));
    Case *edited = newCase(QStringLiteral("E1"), QStringLiteral("before"));
    context()->saveWithParent(true);
    edited->setSummary(QStringLiteral("unsaved in main"));
    Case *unsavedInMain = newCase(QStringLiteral("U1"));
    const ObjectID tagId = tag->objectID();

    auto child = m_stack->newBackgroundContext();
    QStringList summaries;
    ObjectID childCaseId;
    child->performAndWait([&] {
        for (ManagedObject *object : child->arrayOfObjects(Case::entityName()))
            summaries << static_cast<Case *>(object)->summary();
        auto *childTag = static_cast<Tag *>(child->existingObject(tagId));
        Case *added = child->insertNew<Case>();
        added->setPatientID(QStringLiteral("C1"));
        added->addToTags(childTag);
        Media *media = child->insertNew<Media>();
        added->addToMedia(media);
        childCaseId = added->objectID();
        child->save();
    });
    EXPECT_TRUE(summaries.contains(QStringLiteral("unsaved in main")));
    EXPECT_EQ(summaries.size(), 2);

    auto *pushed = static_cast<Case *>(context()->existingObject(childCaseId));
    ASSERT_NE(pushed, nullptr);
    EXPECT_EQ(pushed->patientID(), QStringLiteral("C1"));
    EXPECT_EQ(pushed->tags(), QList<Tag *>{tag});
    EXPECT_EQ(pushed->media().size(), 1);
    EXPECT_TRUE(tag->cases().contains(pushed));
    EXPECT_TRUE(context()->hasChanges()); // pushed, not yet on disk

    context()->saveWithParent(true);
    Q_UNUSED(unsavedInMain);
    reopen();
    const QList<Case *> cases = fetchCases(QStringLiteral("ANY tags.label == %@"), {QStringLiteral("Neuro")});
    ASSERT_EQ(cases.size(), 1);
    EXPECT_EQ(cases.first()->patientID(), QStringLiteral("C1"));
    EXPECT_EQ(cases.first()->media().size(), 1);
}

TEST_F(ContextTest, SaveWithParentFromAChildReachesTheDiskAndNotifiesTheMainContext)
{
    QSignalSpy changes(context(), &ManagedObjectContext::objectsDidChange);
    auto child = m_stack->newBackgroundContext();
    child->performAndWait([&] {
        for (int i = 0; i < 3; ++i)
            child->insertNew<Case>()->setPatientID(QStringLiteral("B%1").arg(i));
        child->saveWithParent(true);
    });
    EXPECT_GE(changes.count(), 1);
    EXPECT_FALSE(context()->hasChanges());
    auto second = openSecondStack();
    EXPECT_EQ(second->mainContext()->countOfObjects(Case::entityName()), 3);
}

TEST_F(ContextTest, ObjectsAreReportedInsertedOnceThenUpdatedWithTheirChangedKeys)
{
    QList<ObjectsChange> batches;
    QObject guard;
    QObject::connect(context(), &ManagedObjectContext::objectsDidChange, &guard,
                     [&](const ObjectsChange &change) { batches << change; });
    // Inserted and edited in one turn: one insertion, no update.
    Case *item = newCase(QStringLiteral("K1"));
    item->setSummary(QStringLiteral("first"));
    context()->processPendingChanges();
    ASSERT_EQ(batches.size(), 1);
    EXPECT_EQ(batches[0].inserted, QList<ManagedObject *>{item});
    EXPECT_TRUE(batches[0].updated.isEmpty());
    // Edited after that, before any save: an update naming the keys.
    item->setSummary(QStringLiteral("second"));
    item->setDetail(QStringLiteral("detail"));
    context()->processPendingChanges();
    ASSERT_EQ(batches.size(), 2);
    EXPECT_EQ(batches[1].updated, QList<ManagedObject *>{item});
    EXPECT_EQ(batches[1].changedKeys.value(item), (QSet<QString>{QStringLiteral("summary"), QStringLiteral("detail")}));
    // Inserted, then saved before anyone heard of it, then edited: the edit is still heard.
    Case *saved = newCase(QStringLiteral("K2"));
    context()->saveWithParent(true);
    batches.clear();
    saved->setSummary(QStringLiteral("after save"));
    context()->processPendingChanges();
    ASSERT_EQ(batches.size(), 1);
    EXPECT_EQ(batches[0].updated, QList<ManagedObject *>{saved});
    EXPECT_EQ(batches[0].changedKeys.value(saved), QSet<QString>{QStringLiteral("summary")});

    // A child's work arrives as insertions; the parent's later edit of it is an update,
    // and a save queued on the parent reaches the disk once the queue has run.
    batches.clear();
    auto child = m_stack->newBackgroundContext();
    child->performAndWait([&] {
        child->insertNew<Case>()->setPatientID(QStringLiteral("K3"));
        child->saveWithParentLater();
    });
    QTRY_COMPARE_WITH_TIMEOUT(openSecondStack()->mainContext()->countOfObjects(Case::entityName()), 3, 10000);
    ASSERT_FALSE(batches.isEmpty());
    ASSERT_EQ(batches[0].inserted.size(), 1);
    auto *fromChild = static_cast<Case *>(batches[0].inserted.first());
    EXPECT_EQ(fromChild->patientID(), QStringLiteral("K3"));
    EXPECT_TRUE(batches[0].updated.isEmpty());
    batches.clear();
    fromChild->setSummary(QStringLiteral("edited in main"));
    context()->processPendingChanges();
    ASSERT_EQ(batches.size(), 1);
    EXPECT_EQ(batches[0].changedKeys.value(fromChild), QSet<QString>{QStringLiteral("summary")});
}

TEST_F(ContextTest, QueuedPushesAndSavesOfALongImportAllReachTheFile)
{
    // A child that runs ahead of the main thread: every push and queued save
    // lands in order, however many queued saves are left to later ones.
    auto child = SharedBackgroundContext::childOf(context());
    bool done = false;
    child->perform([&] {
        Tag *tag = child->insertNew<Tag>();
        tag->setLabel(QStringLiteral("Shared"));
        for (int i = 1; i <= 3000; ++i) {
            Case *item = child->insertNew<Case>();
            item->setPatientID(QStringLiteral("Q%1").arg(i));
            auto *media = child->insertNew<Media>();
            media->setItsCase(item);
            item->addToTags(tag);
            if (i % 50 == 0)
                child->saveWithParentLater();
        }
        // Nothing is left to push: the queued saves still have to have run.
        child->saveWithParent(true);
        child->waitForQueuedParentWork();
        done = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 60000));
    EXPECT_FALSE(context()->hasChanges());
    const std::unique_ptr<CoreDataStack> reader = openSecondStack();
    EXPECT_EQ(reader->mainContext()->countOfObjects(Case::entityName()), 3000);
    EXPECT_EQ(reader->mainContext()->countOfObjects(Media::entityName()), 3000);
    const QList<ManagedObject *> tags = reader->mainContext()->arrayOfObjects(Tag::entityName());
    ASSERT_EQ(tags.size(), 1);
    EXPECT_EQ(static_cast<Tag *>(tags.first())->cases().size(), 3000);
}

TEST_F(ContextTest, ClosingTheLibraryFinishesWorkStillRunningInABackgroundContext)
{
    // An import still running when the library closes (a window torn down,
    // the application quitting) pushes and saves through the main context,
    // or writes itself and merges into it: that work finishes before the
    // main context goes, and its saves land. Both kinds of background context.
    const std::function<std::shared_ptr<ManagedObjectContext>(ManagedObjectContext *)> makers[] = {
        SharedBackgroundContext::childOf, SharedBackgroundContext::writerFor};
    int expected = 0;
    for (const auto &make : makers) {
        auto background = make(context());
        std::atomic<bool> closing{false};
        std::atomic<bool> started{false};
        std::atomic<bool> finished{false};
        background->perform([&, work = background.get()] {
            started = true;
            while (!closing.load())
                std::this_thread::yield();
            // Give the main thread time to be well into closing the library.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            for (int i = 1; i <= 200; ++i) {
                Case *item = work->insertNew<Case>();
                item->setPatientID(QStringLiteral("LATE%1").arg(i));
                if (i % 50 == 0)
                    work->saveWithParentLater();
            }
            work->saveWithParent(true);
            work->waitForQueuedParentWork();
            finished = true;
        });
        while (!started.load())
            std::this_thread::yield();
        closing = true;
        m_stack.reset();
        EXPECT_TRUE(finished.load());
        // Cut loose from the context that went.
        EXPECT_EQ(background->parentContext(), nullptr);
        EXPECT_EQ(background->mergeTarget(), nullptr);
        background.reset();
        QCoreApplication::processEvents();

        reopen();
        expected += 200;
        EXPECT_EQ(context()->countOfObjects(Case::entityName()), expected);
    }
}

TEST_F(ContextTest, APushedNewCaseJoinsItsTagsOnceWhateverTheChildDidInBetween)
{
    Tag *popular = newTag(QStringLiteral("Popular"));
    for (int i = 0; i < 40; ++i)
        newCase(QStringLiteral("E%1").arg(i))->addToTags(popular);
    context()->saveWithParent(true);
    const ObjectID tagId = popular->objectID();
    auto child = m_stack->newBackgroundContext();
    child->performAndWait([&] {
        auto *tag = static_cast<Tag *>(child->existingObject(tagId));
        Case *item = child->insertNew<Case>();
        item->setPatientID(QStringLiteral("NEW1"));
        item->addToTags(tag);
        item->removeFromTags(tag);
        item->addToTags(tag);
        item->addToTags(tag);
        child->saveWithParent(true);
    });
    const QList<Case *> found = fetchCases(QStringLiteral("patientID == %@"), {QStringLiteral("NEW1")});
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found.first()->tags(), QList<Tag *>{popular});
    EXPECT_EQ(popular->cases().count(found.first()), 1);
    EXPECT_EQ(popular->cases().size(), 41);
    EXPECT_EQ(openSecondStack()->mainContext()->countOfObjects(Case::entityName()), 41);
}

TEST_F(ContextTest, TheMainQueueLetsEventsThroughABacklogAndDropsWorkOfAGoneContext)
{
    // A long backlog runs in slices: an event posted after it is handled
    // before the backlog is done.
    int ran = 0;
    int ranWhenEventArrived = -1;
    for (int i = 0; i < 20; ++i)
        context()->perform([&] {
            QThread::msleep(3);
            ++ran;
        });
    QMetaObject::invokeMethod(qApp, [&] { ranWhenEventArrived = ran; }, Qt::QueuedConnection);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ran == 20 && ranWhenEventArrived >= 0; }, 10000));
    EXPECT_LT(ranWhenEventArrived, 20);

    // Work queued for a main-thread context that is destroyed before it runs is dropped.
    auto gone = std::make_unique<ManagedObjectContext>(ManagedObjectContext::ConcurrencyType::MainQueue,
                                                       m_stack->persistentStore());
    bool ranForGone = false;
    gone->perform([&ranForGone] { ranForGone = true; });
    gone.reset();
    bool later = false;
    context()->perform([&] { later = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return later; }, 10000));
    EXPECT_FALSE(ranForGone);
}

TEST_F(ContextTest, ChildWorkQueuedWithPerformRunsOffTheMainThread)
{
    auto child = m_stack->newBackgroundContext();
    std::atomic<bool> done{false};
    Qt::HANDLE thread = nullptr;
    child->perform([&] {
        thread = QThread::currentThreadId();
        child->insertNew<Case>();
        child->saveWithParent(true);
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 10000);
    EXPECT_NE(thread, QThread::currentThreadId());
    QTRY_COMPARE_WITH_TIMEOUT(context()->countOfObjects(Case::entityName()), 1, 10000);
}

TEST_F(ContextTest, DidSaveCarriesInsertedUpdatedAndDeletedObjects)
{
    Case *a = newCase(QStringLiteral("A"));
    Case *b = newCase(QStringLiteral("B"));
    context()->saveWithParent(true);
    QList<ObjectsChange> saves;
    QObject guard;
    QObject::connect(context(), &ManagedObjectContext::didSave, &guard, [&](const ObjectsChange &c) { saves << c; });
    a->setSummary(QStringLiteral("edited"));
    context()->deleteObject(b);
    Case *c = newCase(QStringLiteral("C"));
    context()->saveWithParent(true);
    ASSERT_EQ(saves.size(), 1);
    EXPECT_EQ(saves[0].inserted, QList<ManagedObject *>{c});
    EXPECT_EQ(saves[0].updated, QList<ManagedObject *>{a});
    EXPECT_EQ(saves[0].deleted, QList<ManagedObject *>{b});
    EXPECT_EQ(b->managedObjectContext(), nullptr);
}

TEST_F(ContextTest, OtherProcessChangesMergeWithInMemoryChangesWinningPerProperty)
{
    Case *item = newCase(QStringLiteral("M1"), QStringLiteral("summary"));
    item->setDetail(QStringLiteral("detail"));
    context()->saveWithParent(true);
    const ObjectID id = item->objectID();

    auto other = openSecondStack();
    {
        auto *theirs = static_cast<Case *>(other->mainContext()->existingObject(id));
        ASSERT_NE(theirs, nullptr);
        theirs->setSummary(QStringLiteral("their summary"));
        theirs->setDetail(QStringLiteral("their detail"));
        auto *added = other->mainContext()->insertNew<Case>();
        added->setPatientID(QStringLiteral("M2"));
        other->mainContext()->saveWithParent(true);
    }
    item->setDetail(QStringLiteral("my unsaved detail"));
    QSignalSpy changes(context(), &ManagedObjectContext::objectsDidChange);
    context()->processPendingChanges();
    changes.clear();
    m_stack->mergeChangesFromOtherProcesses();
    EXPECT_EQ(item->summary(), QStringLiteral("their summary"));
    EXPECT_EQ(item->detail(), QStringLiteral("my unsaved detail"));
    ASSERT_EQ(changes.count(), 1);
    const ObjectsChange change = changes.first().first().value<ObjectsChange>();
    EXPECT_EQ(change.inserted.size(), 1);
    EXPECT_TRUE(change.updated.contains(item));

    // Saving writes only what this process changed: their summary survives.
    context()->saveWithParent(true);
    auto third = openSecondStack();
    auto *check = static_cast<Case *>(third->mainContext()->existingObject(id));
    EXPECT_EQ(check->summary(), QStringLiteral("their summary"));
    EXPECT_EQ(check->detail(), QStringLiteral("my unsaved detail"));
    EXPECT_EQ(third->mainContext()->countOfObjects(Case::entityName()), 2);
}

TEST_F(ContextTest, StoreOperationsLogAsTheProgramExpects)
{
    LogCapture capture;
    context()->saveWithParent(true);
    EXPECT_EQ(capture.messages(), QStringList{QStringLiteral("Save MOC, asking parent true")});

    capture.clear();
    EXPECT_TRUE(context()->arrayOfObjects(Case::entityName(), Predicate::fromFormat(QStringLiteral("summary ==== )"))).isEmpty());
    EXPECT_TRUE(capture.containsPrefix(QStringLiteral("Failed to execute request with predicate '")));

    capture.clear();
    EXPECT_EQ(context()->countOfObjects(QStringLiteral("Patient")), 0);
    EXPECT_TRUE(capture.contains(QStringLiteral("Failed to execute count of type: Patient"), LogLevel::Error));

    newCase(QStringLiteral("one"));
    newCase(QStringLiteral("two"));
    EXPECT_EQ(context()->object(Case::entityName(), Predicate::fromFormat(QStringLiteral("patientID == %@"), {QStringLiteral("one")}))
                  ->value(QStringLiteral("patientID")), QStringLiteral("one"));
    EXPECT_EQ(context()->object(Case::entityName(), Predicate()), nullptr); // two match

    m_stack->persistentStore()->setSaveFailureForTesting(QStringLiteral("disk full"));
    capture.clear();
    context()->saveWithParent(true);
    EXPECT_TRUE(capture.contains(QStringLiteral("Failed to save context: disk full"), LogLevel::Error));
    EXPECT_TRUE(context()->hasChanges());
    m_stack->persistentStore()->setSaveFailureForTesting(QString());
    context()->saveWithParent(true);
    EXPECT_FALSE(context()->hasChanges());
    EXPECT_EQ(openSecondStack()->mainContext()->countOfObjects(Case::entityName()), 2);
}

TEST_F(ContextTest, AutomaticSaveIsSkippedWhileSuspended)
{
    newCase(QStringLiteral("T1"));
    m_stack->setSuspendAutomaticSaves(true);
    LogCapture capture;
    m_stack->automaticSave();
    EXPECT_TRUE(capture.contains(QStringLiteral("Skip automatic saves"), LogLevel::Debug));
    EXPECT_TRUE(context()->hasChanges());
    m_stack->setSuspendAutomaticSaves(false);
    m_stack->automaticSave();
    EXPECT_FALSE(context()->hasChanges());
}

TEST_F(ContextTest, PurgeHistoryDeletesOnlyTransactionsOlderThanTheDays)
{
    newCase(QStringLiteral("H1"));
    context()->saveWithParent(true);
    {
        // Make that save three days old.
        sqlite3 *db = nullptr;
        sqlite3_open(m_stack->storePath().toUtf8().constData(), &db);
        sqlite3_busy_timeout(db, 5000);
        ASSERT_EQ(sqlite3_exec(db, "UPDATE history_transactions SET timestamp = timestamp - 3 * 86400", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    newCase(QStringLiteral("H2"));
    context()->saveWithParent(true);
    auto history = m_stack->persistentStore()->historySince(0, false);
    ASSERT_EQ(history.size(), 2);
    EXPECT_EQ(history.first().author, QStringLiteral("Ovalis"));
    ASSERT_EQ(history.first().changes.size(), 1);
    EXPECT_EQ(history.first().changes.first().type, HistoryTransaction::Change::Insert);

    LogCapture capture;
    context()->purgeHistory(4);
    EXPECT_TRUE(capture.contains(QStringLiteral("Purge history (4 days)")));
    EXPECT_TRUE(capture.contains(QStringLiteral("Successfully purged history (4 days)")));
    EXPECT_EQ(m_stack->persistentStore()->historySince(0, false).size(), 2);
    context()->purgeHistory(2);
    history = m_stack->persistentStore()->historySince(0, false);
    ASSERT_EQ(history.size(), 1);
    EXPECT_EQ(history.first().changes.first().key, fetchCases(QStringLiteral("patientID == %@"), {QStringLiteral("H2")}).first()->objectID().key);
}

TEST_F(ContextTest, SavedRecordsAndTheirHistoryListEveryWrittenValue)
{
    Case *item = newCase(QStringLiteral("W1"), QStringLiteral("Ménière disease"));
    item->setSex(2);
    item->setDateOfDiagnosis(QDateTime(QDate(2020, 5, 17), QTime(23, 30)));
    auto *media = context()->insertNew<Media>();
    media->setItsCase(item);
    media->setUuid(QStringLiteral("AB-CD"));
    Tag *tag = newTag(QStringLiteral("Ear"));
    item->addToTags(tag);
    context()->saveWithParent(true);
    item->setSummary(QStringLiteral("Vestibular schwannoma"));
    context()->saveWithParent(true);

    const QVector<HistoryTransaction> history = m_stack->persistentStore()->historySince(0, false);
    ASSERT_EQ(history.size(), 2);
    QHash<QString, QStringList> inserted;
    for (const HistoryTransaction::Change &change : history[0].changes) {
        EXPECT_EQ(change.type, HistoryTransaction::Change::Insert);
        inserted.insert(ManagedObjectModel::ovalisModel().entities()[change.entity].name, change.columns);
    }
    EXPECT_EQ(inserted.size(), 3);
    // A new record lists every attribute and to-one relationship, and the
    // to-many relationships it was given.
    EXPECT_TRUE(inserted.value(QStringLiteral("Case")).contains(QStringLiteral("dateOfDiagnosis")));
    EXPECT_TRUE(inserted.value(QStringLiteral("Case")).contains(QStringLiteral("tags")));
    EXPECT_TRUE(inserted.value(QStringLiteral("Media")).contains(QStringLiteral("itsCase")));
    EXPECT_TRUE(inserted.value(QStringLiteral("Media")).contains(QStringLiteral("uuid")));
    ASSERT_EQ(history[1].changes.size(), 1);
    EXPECT_EQ(history[1].changes[0].type, HistoryTransaction::Change::Update);
    EXPECT_EQ(history[1].changes[0].columns, QStringList{QStringLiteral("summary")});

    // A second stack reads back what was written, folded columns included.
    const std::unique_ptr<CoreDataStack> reader = openSecondStack();
    const QList<ManagedObject *> cases = reader->mainContext()->arrayOfObjects(
        Case::entityName(), Predicate::fromFormat(QStringLiteral("summary contains[cd] %@"), {QStringLiteral("SCHWANNOMA")}));
    ASSERT_EQ(cases.size(), 1);
    auto *read = static_cast<Case *>(cases.first());
    EXPECT_EQ(read->patientID(), QStringLiteral("W1"));
    EXPECT_EQ(read->sex(), 2);
    EXPECT_EQ(read->dateOfDiagnosis(), QDateTime(QDate(2020, 5, 17), QTime(23, 30)));
    EXPECT_FALSE(read->dateModified().isValid());
    ASSERT_EQ(read->sortedMedia().size(), 1);
    EXPECT_EQ(read->sortedMedia().first()->uuid(), QStringLiteral("AB-CD"));
    ASSERT_EQ(read->tags().size(), 1);
    EXPECT_EQ(read->tags().first()->label(), QStringLiteral("Ear"));
}

TEST_F(ContextTest, GrandchildWorkReachesTheDiskThroughTwoParents)
{
    Tag *tag = newTag(QStringLiteral("Deep"));
    context()->saveWithParent(true);
    const ObjectID tagId = tag->objectID();
    auto child = m_stack->newBackgroundContext();
    ManagedObjectContext grandchild(ManagedObjectContext::ConcurrencyType::PrivateQueue, child.get());
    grandchild.performAndWait([&] {
        auto *item = grandchild.insertNew<Case>();
        item->setPatientID(QStringLiteral("G1"));
        item->addToTags(static_cast<Tag *>(grandchild.existingObject(tagId)));
        grandchild.saveWithParent(true); // into the child and then the main context
    });
    EXPECT_TRUE(context()->hasChanges());
    child->performAndWait([&] { EXPECT_FALSE(child->hasChanges()); });
    context()->saveWithParent(true);
    EXPECT_EQ(openSecondStack()->mainContext()->countOfObjects(Case::entityName()), 1);
    EXPECT_EQ(tag->cases().size(), 1);
}

TEST_F(ContextTest, AnotherProcessAddingCasesWhileTheMainContextHasEditsLosesNothing)
{
    Case *mine = newCase(QStringLiteral("MINE"), QStringLiteral("unsaved"));
    context()->saveWithParent(true);
    mine->setSummary(QStringLiteral("edited while the other process writes"));
    QProcess cli;
    cli.start(QStringLiteral(OVALIS_CLI_PATH), {QStringLiteral("--library"), libraryPath(), QStringLiteral("generate"),
                                                 QStringLiteral("--cases"), QStringLiteral("300"), QStringLiteral("--tags"),
                                                 QStringLiteral("3")});
    ASSERT_TRUE(cli.waitForStarted());
    // Save repeatedly while the other process writes its batches.
    for (int i = 0; i < 20 && cli.state() != QProcess::NotRunning; ++i) {
        newCase(QStringLiteral("LOOP%1").arg(i));
        context()->saveWithParent(true);
        cli.waitForFinished(20);
    }
    ASSERT_TRUE(cli.state() == QProcess::NotRunning || cli.waitForFinished(120000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    m_stack->mergeChangesFromOtherProcesses();
    context()->saveWithParent(true);
    const int mine_count = int(fetchCases(QStringLiteral("patientID BEGINSWITH %@"), {QStringLiteral("LOOP")}).size());
    EXPECT_EQ(context()->countOfObjects(Case::entityName()), 301 + mine_count);
    EXPECT_EQ(openSecondStack()->mainContext()->countOfObjects(Case::entityName()), 301 + mine_count);
    EXPECT_EQ(mine->summary(), QStringLiteral("edited while the other process writes"));
    // The cases the other process added reached this context's lists too.
    EXPECT_EQ(fetchCases(QString()).size(), 301 + mine_count);
}

TEST_F(ContextTest, RecordsAnotherProcessAddsAfterTheNewestWereDeletedReachTheMainContext)
{
    // The newest case, media record and tag are saved, deleted and saved
    // again here; the records the other process adds next must not be taken
    // for them.
    Case *kept = newCase(QStringLiteral("KEPT"));
    kept->addToTags(newTag(QStringLiteral("Kept")));
    context()->insertNew<Media>()->setItsCase(kept);
    context()->saveWithParent(true);
    Case *gone = newCase(QStringLiteral("GONE"));
    auto *goneMedia = context()->insertNew<Media>();
    goneMedia->setItsCase(gone);
    Tag *goneTag = newTag(QStringLiteral("Newest"));
    gone->addToTags(goneTag);
    context()->saveWithParent(true);
    context()->deleteObject(goneMedia);
    context()->deleteObject(gone);
    context()->deleteObject(goneTag);
    context()->saveWithParent(true);

    QProcess cli;
    cli.start(QStringLiteral(OVALIS_CLI_PATH), {QStringLiteral("--library"), libraryPath(), QStringLiteral("generate"),
                                                 QStringLiteral("--cases"), QStringLiteral("2"), QStringLiteral("--tags"),
                                                 QStringLiteral("2"), QStringLiteral("--media-per-case"), QStringLiteral("1")});
    ASSERT_TRUE(cli.waitForFinished(120000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    m_stack->mergeChangesFromOtherProcesses();

    const std::unique_ptr<CoreDataStack> fresh = openSecondStack();
    for (const QString &entity : {Case::entityName(), Media::entityName(), Tag::entityName()}) {
        SCOPED_TRACE(entity.toStdString());
        const int onDisk = fresh->mainContext()->countOfObjects(entity);
        ASSERT_GT(onDisk, 1);
        // What a list shows, and what it shows after Reset fetches again.
        EXPECT_EQ(context()->arrayOfObjects(entity).size(), onDisk);
        EXPECT_EQ(context()->countOfObjects(entity), onDisk);
    }
    for (Case *item : fetchCases(QString()))
        EXPECT_NE(item->patientID(), QStringLiteral("GONE"));
}

TEST_F(ContextTest, ASeparateStoreFileOpensReadOnlyInAContextOfItsOwn)
{
    newCase(QStringLiteral("R1"));
    context()->saveWithParent(true);
    auto reader = m_stack->contextForStore(m_stack->storePath(), true, true);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->countOfObjects(Case::entityName()), 1);
    reader->insertNew<Case>();
    LogCapture capture;
    reader->saveWithParent(true);
    EXPECT_TRUE(capture.containsPrefix(QStringLiteral("Failed to save context: ")));

    capture.clear();
    EXPECT_EQ(m_stack->contextForStore(libraryPath() + QStringLiteral("/missing.sqlite"), true, false), nullptr);
    EXPECT_TRUE(capture.containsPrefix(QStringLiteral("Unable to add persistent store at file://")));
}

TEST_F(ContextTest, ARelatedChangeTheQueryDoesNotReadLeavesTheRelatedRecordsAlone)
{
    Tag *tag = newTag(QStringLiteral("Popular"));
    for (int i = 0; i < 5; ++i)
        newCase(QStringLiteral("P%1").arg(i))->addToTags(tag);
    context()->saveWithParent(true);
    reopen();
    auto *loaded = static_cast<Tag *>(context()->arrayOfObjects(Tag::entityName()).first());
    loaded->setActive(true); // as the tag filter does, before it fetches the cases
    EXPECT_EQ(fetchCases(QStringLiteral("ANY tags.label == %@"), {QStringLiteral("Popular")}).size(), 5);
    EXPECT_FALSE(loaded->isToManyLoaded(Tag::Cases)); // its cases were not faulted in to be re-evaluated
    loaded->setLabel(QStringLiteral("Renamed"));
    EXPECT_TRUE(fetchCases(QStringLiteral("ANY tags.label == %@"), {QStringLiteral("Popular")}).isEmpty());
    EXPECT_EQ(Predicate::fromFormat(QStringLiteral("ANY tags.label == %@ AND SUBQUERY(media, $m, $m.fileName == %@).@count > 0"),
                                    {QStringLiteral("x"), QStringLiteral("a")}).referencedKeys(),
              (QSet<QString>{QStringLiteral("tags"), QStringLiteral("label"), QStringLiteral("media"), QStringLiteral("fileName")}));
}

TEST_F(ContextTest, AnEditTheQueryDoesNotReadLeavesTheRecordToTheStore)
{
    Tag *tag = newTag(QStringLiteral("Popular"));
    newTag(QStringLiteral("Unused"));
    for (int i = 0; i < 5; ++i)
        newCase(QStringLiteral("P%1").arg(i))->addToTags(tag);
    context()->saveWithParent(true);
    reopen();
    const auto fetchTags = [&](const QString &format) {
        return context()->arrayOfObjects(Tag::entityName(), Predicate::fromFormat(format));
    };
    const QList<ManagedObject *> tags = fetchTags(QString::fromLatin1("label != nil"));
    ASSERT_EQ(tags.size(), 2);
    for (ManagedObject *object : tags)
        static_cast<Tag *>(object)->setHasActiveCases(true); // as the tag activity does for every tag
    auto *popular = static_cast<Tag *>(tags.first()->value(QStringLiteral("label")) == QStringLiteral("Popular") ? tags.first() : tags.last());
    EXPECT_EQ(fetchTags(QStringLiteral("cases.@count > 0")), QList<ManagedObject *>{popular});
    EXPECT_FALSE(popular->isToManyLoaded(Tag::Cases)); // answered by the store, not faulted in

    // Edits of keys the query reads are still seen before any save.
    popular->setLabel(QStringLiteral("Renamed"));
    EXPECT_EQ(fetchTags(QStringLiteral("label == 'Renamed' AND hasActiveCases == YES")), QList<ManagedObject *>{popular});
    popular->removeFromCases(popular->cases().first());
    static_cast<Case *>(fetchCases(QString()).first())->addToTags(static_cast<Tag *>(tags.first() == popular ? tags.last() : tags.first()));
    EXPECT_EQ(fetchTags(QStringLiteral("cases.@count == 4")), QList<ManagedObject *>{popular});
    EXPECT_EQ(fetchTags(QStringLiteral("cases.@count > 0")).size(), 2);
}
