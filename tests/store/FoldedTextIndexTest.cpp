#include <QFileInfo>
#include <QSignalSpy>
#include <future>
#include <gtest/gtest.h>

#include "store/FetchedResultsController.h"
#include "store/FoldedTextIndex.h"
#include "store/PersistentStore.h"
#include "support/StoreFixture.h"

using namespace ovalis;
using ovalis::test::StoreFixture;

namespace {

QVector<qint64> keys(std::initializer_list<qint64> list) { return QVector<qint64>(list); }

} // namespace

TEST(FoldedTextIndexTest, FindsRecordsByAttributeWithoutCrossingRecordsAndHonoursLaterSaves)
{
    FoldedTextIndex index({0, 2});
    index.append(3, {"ab", "smith"});
    index.append(5, {"cd", QByteArray()});
    index.append(9, {"xsmithx", "ab"});

    // Texts end to end never match across a record boundary ("b" + "c").
    EXPECT_TRUE(index.keysContaining({0}, "bc").isEmpty());
    EXPECT_EQ(index.keysContaining({0}, "smith"), keys({9}));
    EXPECT_EQ(index.keysContaining({2}, "smith"), keys({3}));
    EXPECT_EQ(index.keysContaining({0, 2}, "smith"), keys({3, 9}));
    EXPECT_EQ(index.keysContaining({0, 2}, "ab"), keys({3, 9})) << "a record found twice is listed once";
    // Attributes the index does not hold find nothing; nor does an empty or NUL-holding text.
    EXPECT_TRUE(index.keysContaining({1}, "ab").isEmpty());
    EXPECT_TRUE(index.keysContaining({0}, "").isEmpty());
    EXPECT_TRUE(index.keysContaining({0}, QByteArray("a\0b", 3)).isEmpty());

    // Saved records are searched as they are now, in key order with the rest.
    index.update(5, {"smithers", QByteArray()});
    index.update(3, {"ab", "jones"});
    index.update(7, {QByteArray(), "smith"});
    index.remove(9);
    EXPECT_EQ(index.keysContaining({0, 2}, "smith"), keys({5, 7}));
    EXPECT_EQ(index.keysContaining({0}, "ab"), keys({3}));
    EXPECT_EQ(index.overlaidCount(), 4);
}

class IndexedSearchTest : public StoreFixture
{
protected:
    int caseEntity() const { return ManagedObjectModel::ovalisModel().entityIndex(Case::entityName()); }

    // Saves cases P0..P(count-1), "smith" in the odd ones' summaries, and
    // opens the library again, reading its search texts in the background or not.
    void saveCasesAndReopen(int count, bool readInBackground)
    {
        for (int i = 0; i < count; ++i)
            newCase(QStringLiteral("P%1").arg(i), i % 2 ? QStringLiteral("Smith %1").arg(i) : QStringLiteral("Colles %1").arg(i));
        context()->saveWithParent(true);
        m_stack.reset();
        m_stack = std::make_unique<CoreDataStack>(libraryPath());
        m_stack->setReadsSearchTextsInBackground(readInBackground);
    }

    // A reading of the texts in the background whose worker, once it has
    // read the file, waits for release before it hands them over.
    struct HeldReading {
        std::promise<void> readDone;
        std::promise<void> release;
        std::promise<bool> handedOver;
    };
    void startHeldReading(HeldReading &held)
    {
        PersistentStore *store = m_stack->persistentStore();
        std::shared_future<void> released = held.release.get_future().share();
        store->setTextIndexHandOverHookForTesting([&held, released] {
            held.readDone.set_value();
            released.wait();
        });
        store->prepareTextIndexInBackground(caseEntity(), [&held](bool ok) { held.handedOver.set_value(ok); });
        held.readDone.get_future().wait();
    }

    Case *caseWithID(const QString &patientID)
    {
        const QList<Case *> found = fetchCases(QStringLiteral("patientID == %@"), {patientID});
        return found.size() == 1 ? found.first() : nullptr;
    }

    // The patient ids of the cases whose summary holds "smith", from the
    // index, after checking the store's indexed answer against its SQL one.
    QStringList smithCases()
    {
        QVector<qint64> indexed;
        QVector<qint64> scanned;
        QString error;
        PersistentStore *store = m_stack->persistentStore();
        EXPECT_TRUE(store->fetchKeys(caseEntity(), Predicate::fromFormat(QStringLiteral("summary CONTAINS[cd] 'smith'")),
                                     &indexed, &error));
        // Without the diacritic option the store asks SQL.
        EXPECT_TRUE(store->fetchKeys(caseEntity(), Predicate::fromFormat(QStringLiteral("summary CONTAINS[c] 'smith'")),
                                     &scanned, &error));
        std::sort(scanned.begin(), scanned.end());
        EXPECT_EQ(indexed, scanned);
        QStringList ids;
        for (Case *item : fetchCases(QStringLiteral("summary CONTAINS[cd] 'smith'")))
            ids.append(item->patientID());
        ids.sort();
        return ids;
    }
};

TEST_F(IndexedSearchTest, SearchTextsAreReadInTheBackgroundAsSoonAsTheLibraryOpens)
{
    saveCasesAndReopen(40, true);
    QSignalSpy read(m_stack.get(), &CoreDataStack::searchTextsRead);
    QString error;
    ASSERT_TRUE(m_stack->loadPersistentStores(&error)) << error.toStdString();
    // Nobody searched or moved into a search field.
    ASSERT_TRUE(read.wait(20000));
    EXPECT_TRUE(m_stack->persistentStore()->hasCurrentTextIndex(caseEntity()));
    EXPECT_EQ(smithCases().size(), 20);

    // A library opened without it reads them at the first search.
    saveCasesAndReopen(0, false);
    ASSERT_TRUE(m_stack->loadPersistentStores(&error)) << error.toStdString();
    EXPECT_FALSE(m_stack->persistentStore()->hasCurrentTextIndex(caseEntity()));
    EXPECT_EQ(smithCases().size(), 20);
    EXPECT_TRUE(m_stack->persistentStore()->hasCurrentTextIndex(caseEntity()));
}

TEST_F(IndexedSearchTest, SavesMadeWhileTheSearchTextsAreReadAreFoundOnceTheyAreHandedOver)
{
    saveCasesAndReopen(10, false);
    QString error;
    ASSERT_TRUE(m_stack->loadPersistentStores(&error)) << error.toStdString();
    PersistentStore *store = m_stack->persistentStore();
    HeldReading held;
    startHeldReading(held);

    // Meanwhile the user adds a case, renames two and deletes one.
    newCase(QStringLiteral("NEW"), QStringLiteral("SMITH again"));
    caseWithID(QStringLiteral("P0"))->setSummary(QStringLiteral("Smith, not Colles"));
    caseWithID(QStringLiteral("P1"))->setSummary(QStringLiteral("Barton fracture"));
    context()->deleteObject(caseWithID(QStringLiteral("P3")));
    context()->saveWithParent(true);
    held.release.set_value();
    ASSERT_TRUE(held.handedOver.get_future().get());
    EXPECT_TRUE(store->hasCurrentTextIndex(caseEntity()));
    EXPECT_EQ(smithCases(), (QStringList{QStringLiteral("NEW"), QStringLiteral("P0"), QStringLiteral("P5"),
                                         QStringLiteral("P7"), QStringLiteral("P9")}));
}

TEST_F(IndexedSearchTest, ClosingTheLibraryWhileItsSearchTextsAreReadGivesThemUpAndFoldsTheLog)
{
    // Closed at once, while the worker reads.
    saveCasesAndReopen(3000, true);
    QString error;
    ASSERT_TRUE(m_stack->loadPersistentStores(&error)) << error.toStdString();
    const QString wal = m_stack->storePath() + QStringLiteral("-wal");
    m_stack.reset();
    EXPECT_FALSE(QFileInfo::exists(wal)) << "the worker's connection was closed before the store's";

    // Closed while the worker waits to hand the texts over: closing waits for
    // it, and it tells whoever waits for the texts.
    m_stack = std::make_unique<CoreDataStack>(libraryPath());
    m_stack->setReadsSearchTextsInBackground(false);
    ASSERT_TRUE(m_stack->loadPersistentStores(&error)) << error.toStdString();
    PersistentStore *store = m_stack->persistentStore();
    HeldReading held;
    startHeldReading(held);
    std::future<void> closing = std::async(std::launch::async, [store] { store->close(); });
    held.release.set_value();
    closing.get();
    EXPECT_EQ(held.handedOver.get_future().wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_FALSE(store->hasCurrentTextIndex(caseEntity()));
    m_stack.reset();
    EXPECT_FALSE(QFileInfo::exists(wal));
    reopen();
    EXPECT_EQ(fetchCases(QString()).size(), 3000);
}

TEST_F(IndexedSearchTest, SearchSeesAnotherConnectionsCommits)
{
    newCase(QStringLiteral("ABC1234"), QStringLiteral("Smith fracture"));
    newCase(QStringLiteral("ABC1235"), QStringLiteral("Colles fracture"));
    context()->saveWithParent(true);
    const QString search = QStringLiteral("summary CONTAINS[cd] %@ OR patientID CONTAINS[cd] %@");
    ASSERT_EQ(fetchCases(search, {QStringLiteral("smíth"), QStringLiteral("smíth")}).size(), 1);

    {
        // Another process adds a matching case and renames the one found.
        auto other = openSecondStack();
        ManagedObjectContext *otherContext = other->mainContext();
        Case *added = otherContext->insertNew<Case>();
        added->setSummary(QStringLiteral("SMITH again"));
        for (ManagedObject *object : otherContext->arrayOfObjects(Case::entityName(),
                                                                  Predicate::fromFormat(QStringLiteral("patientID == 'ABC1234'"))))
            static_cast<Case *>(object)->setSummary(QStringLiteral("Barton fracture"));
        otherContext->saveWithParent(true);
    }
    // The store's answer includes the new case at once; the rename reaches
    // this context's object through the merge of the other process's history.
    m_stack->mergeChangesFromOtherProcesses();
    QStringList found;
    for (Case *item : fetchCases(search, {QStringLiteral("smith"), QStringLiteral("smith")}))
        found.append(item->summary());
    EXPECT_EQ(found, QStringList{QStringLiteral("SMITH again")});
}

TEST_F(IndexedSearchTest, IndexReadInTheBackgroundAnswersLikeTheFirstSearchWouldAndNeverOutlivesTheStore)
{
    newCase(QStringLiteral("ABC1234"), QStringLiteral("Smith fracture"));
    newCase(QStringLiteral("ABC1235"), QStringLiteral("Colles fracture"));
    context()->saveWithParent(true);
    const int caseEntity = ManagedObjectModel::ovalisModel().entityIndex(Case::entityName());
    m_stack->persistentStore()->prepareTextIndexInBackground(caseEntity);
    m_stack->persistentStore()->prepareTextIndexInBackground(caseEntity);
    EXPECT_EQ(fetchCases(QStringLiteral("summary CONTAINS[cd] 'FRACTURE'")).size(), 2);
    newCase(QStringLiteral("ABC1236"), QStringLiteral("Smith's fracture"));
    context()->saveWithParent(true);
    EXPECT_EQ(fetchCases(QStringLiteral("summary CONTAINS[cd] 'smith'")).size(), 2);
    // Closing while the index is being read waits for it.
    m_stack->persistentStore()->prepareTextIndexInBackground(caseEntity);
    m_stack.reset();
}

TEST_F(IndexedSearchTest, NarrowedSearchKeepsTheListOrderAndMatchesAFreshSortedFetch)
{
    for (int i = 0; i < 40; ++i) {
        Case *item = newCase(QStringLiteral("P%1").arg(i), i % 3 ? QStringLiteral("smith %1").arg(i) : QStringLiteral("sm %1").arg(i));
        item->setDateAdded(QDateTime(QDate(2020, 1, 1).addDays((i * 17) % 40), QTime(0, 0), Qt::UTC));
    }
    context()->saveWithParent(true);
    const QList<SortDescriptor> newestFirst{SortDescriptor{QStringLiteral("dateAdded"), false}};
    FetchedResultsController controller({Case::entityName(), Predicate(), newestFirst}, context(), QString());
    QString error;
    ASSERT_TRUE(controller.performFetch(&error));
    auto search = [&](const QString &text) {
        const Predicate predicate =
            text.isEmpty() ? Predicate() : Predicate::fromFormat(QStringLiteral("summary CONTAINS[cd] %@"), {text});
        ASSERT_TRUE(controller.setPredicate(predicate, &error)) << error.toStdString();
        FetchRequest fresh{Case::entityName(), predicate, newestFirst};
        EXPECT_EQ(controller.fetchedObjects(), context()->executeFetch(fresh, &error)) << text.toStdString();
    };
    for (const QString &text : {QStringLiteral("s"), QStringLiteral("sm"), QStringLiteral("smi"), QStringLiteral("s"), QString()})
        search(text);
    // Orders learnt before a case moved or a case arrived are not reused.
    Case *moved = static_cast<Case *>(controller.fetchedObjects().last());
    moved->setDateAdded(QDateTime(QDate(2030, 1, 1), QTime(0, 0), Qt::UTC));
    context()->processPendingChanges();
    search(QStringLiteral("sm"));
    search(QString());
    newCase(QStringLiteral("P99"), QStringLiteral("smith new"))->setDateAdded(QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC));
    context()->processPendingChanges();
    search(QStringLiteral("smi"));
    search(QString());
}
