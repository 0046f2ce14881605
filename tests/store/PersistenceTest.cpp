#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <sqlite3.h>

#include "store/MediaUuid.h"
#include "store/PersistentStore.h"
#include "support/StoreFixture.h"
#include "util/Log.h"

using namespace ovalis;
using ovalis::test::StoreFixture;

namespace {

QByteArray fingerprint(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
           + QByteArray::number(QFileInfo(path).lastModified().toMSecsSinceEpoch());
}

// Runs SQL on a file directly; the error, empty when it ran.
QString execute(sqlite3 *db, const QString &sql)
{
    char *message = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message);
    const QString text = QString::fromUtf8(message ? message : "");
    sqlite3_free(message);
    return rc == SQLITE_OK ? QString() : sql + QStringLiteral(": ") + text;
}

// The first column of every row.
QStringList query(sqlite3 *db, const QString &sql)
{
    QStringList rows;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr) == SQLITE_OK)
        while (sqlite3_step(statement) == SQLITE_ROW)
            rows << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
    sqlite3_finalize(statement);
    return rows;
}

} // namespace

class PersistenceTest : public StoreFixture
{
};

TEST_F(PersistenceTest, FirstStartCreatesTheLibraryDirectoryAndLogsTheStore)
{
    QTemporaryDir home;
    const QString library = home.filePath(QStringLiteral("deep/er/Ovalis"));
    LogCapture capture;
    CoreDataStack stack(library);
    QString error;
    ASSERT_TRUE(stack.loadPersistentStores(&error)) << error.toStdString();
    EXPECT_TRUE(QFileInfo::exists(library + QStringLiteral("/Database.sqlite")));
    EXPECT_EQ(capture.messages().mid(0, 5),
              (QStringList{QStringLiteral("Open/create Database"),
                           QStringLiteral("Load store at ") + QUrl::fromLocalFile(library + QStringLiteral("/Database.sqlite")).toString(),
                           QStringLiteral("Set automaticallyMergesChangesFromParent to true"),
                           QStringLiteral("Set queryGeneration to current")}));
    EXPECT_EQ(CoreDataStack::defaultLibraryDirectory(), QDir::homePath() + QStringLiteral("/Ovalis"));
}

TEST_F(PersistenceTest, UncreatableDirectoryFallsBackWithALogLine)
{
    QTemporaryDir home;
    QFile blocker(home.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    LogCapture capture;
    CoreDataStack stack(home.filePath(QStringLiteral("file/Ovalis")));
    QString error;
    ASSERT_TRUE(stack.loadPersistentStores(&error)) << error.toStdString();
    EXPECT_TRUE(capture.contains(QStringLiteral("Unable to create default directory")));
    EXPECT_NE(stack.libraryDirectory(), home.filePath(QStringLiteral("file/Ovalis")));
    EXPECT_TRUE(QFileInfo::exists(stack.storePath()));
    qunsetenv("XDG_DATA_HOME");
}

TEST_F(PersistenceTest, EveryAttributeAndRelationshipSurvivesReopening)
{
    Case *item = newCase(QStringLiteral("ZAC5361"), QStringLiteral("Smíth's disease"));
    item->setDetail(QStringLiteral(""));
    item->setSex(Sex::nonbinary);
    const QDateTime birth = QDateTime::fromMSecsSinceEpoch(-123456789012, Qt::UTC);
    item->setDateOfBirth(birth);
    const QDateTime diagnosis = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
    item->setDateOfDiagnosis(diagnosis);
    item->setDateModified(QDateTime());
    Tag *tag = newTag(QStringLiteral("Neuro"));
    tag->setActive(true);
    item->addToTags(tag);
    Media *media = context()->insertNew<Media>();
    media->setFileName(QStringLiteral("a.png"));
    media->setOrderIndex(4);
    item->addToMedia(media);
    const QString uuid = media->uuid();
    Media *orphan = context()->insertNew<Media>();
    Q_UNUSED(orphan);
    context()->saveWithParent(true);

    reopen();
    const QList<Case *> cases = fetchCases(QString());
    ASSERT_EQ(cases.size(), 1);
    Case *loaded = cases.first();
    EXPECT_EQ(loaded->patientID(), QStringLiteral("ZAC5361"));
    EXPECT_EQ(loaded->summary(), QStringLiteral("Smíth's disease"));
    EXPECT_FALSE(loaded->detail().isNull()); // present and empty, not absent
    EXPECT_TRUE(loaded->detail().isEmpty());
    EXPECT_EQ(loaded->sex(), 3);
    EXPECT_EQ(loaded->dateOfBirth(), birth);
    EXPECT_EQ(loaded->dateOfDiagnosis(), diagnosis);
    EXPECT_FALSE(loaded->dateModified().isValid());
    ASSERT_EQ(loaded->tags().size(), 1);
    EXPECT_TRUE(loaded->tags().first()->active());
    EXPECT_FALSE(loaded->tags().first()->hasActiveCases());
    ASSERT_EQ(loaded->media().size(), 1);
    EXPECT_EQ(loaded->media().first()->uuid(), uuid);
    EXPECT_EQ(loaded->media().first()->orderIndex(), 4);
    EXPECT_EQ(loaded->media().first()->itsCase(), loaded);
    const QList<ManagedObject *> orphans = context()->arrayOfObjects(Media::entityName(), Predicate::fromFormat(QStringLiteral("itsCase == nil")));
    EXPECT_EQ(orphans.size(), 1);
}

TEST_F(PersistenceTest, DeletingACaseLeavesItsMediaOrphanedAndQueriesWorking)
{
    Case *item = newCase(QStringLiteral("D1"));
    Media *media = context()->insertNew<Media>();
    item->addToMedia(media);
    item->addToTags(newTag(QStringLiteral("T")));
    context()->saveWithParent(true);
    context()->deleteObject(item);
    EXPECT_EQ(media->itsCase(), nullptr);
    context()->saveWithParent(true);
    reopen();
    EXPECT_EQ(context()->arrayOfObjects(Media::entityName(), Predicate::fromFormat(QStringLiteral("itsCase == nil"))).size(), 1);
    EXPECT_TRUE(static_cast<Tag *>(context()->arrayOfObjects(Tag::entityName()).first())->cases().isEmpty());
}

TEST_F(PersistenceTest, AVersionOneLibraryIsBroughtForwardWithItsDataAndNeverReusesADeletedKey)
{
    Case *first = newCase(QStringLiteral("V1A"), QStringLiteral("first"));
    first->addToTags(newTag(QStringLiteral("Neuro")));
    auto *media = context()->insertNew<Media>();
    media->setFileName(QStringLiteral("a.png"));
    first->addToMedia(media);
    const QString uuid = media->uuid();
    newCase(QStringLiteral("V1B"));
    context()->saveWithParent(true);
    Case *newest = newCase(QStringLiteral("V1C"));
    context()->saveWithParent(true);
    const qint64 deletedKey = newest->objectID().key;
    context()->deleteObject(newest);
    context()->saveWithParent(true);
    const QString store = m_stack->storePath();
    m_stack.reset();

    // Version 1 had the same tables without AUTOINCREMENT, so it handed out
    // the deleted newest key again.
    const QStringList tables{QStringLiteral("cases"), QStringLiteral("media"), QStringLiteral("tags")};
    const QString indexNames = QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index' AND sql NOT NULL ORDER BY name");
    QStringList currentIndexes;
    {
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open(store.toUtf8().constData(), &db), SQLITE_OK);
        const QStringList indexes = query(db, QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'index' AND sql NOT NULL"));
        currentIndexes = query(db, indexNames);
        for (const QString &table : tables) {
            QString sql = query(db, QStringLiteral("SELECT sql FROM sqlite_master WHERE name = '%1'").arg(table)).value(0);
            ASSERT_TRUE(sql.contains(QStringLiteral(" AUTOINCREMENT")));
            sql.replace(QStringLiteral(" AUTOINCREMENT"), QString());
            sql.replace(QStringLiteral("CREATE TABLE ") + table, QStringLiteral("CREATE TABLE old_") + table);
            for (const QString &step : {sql, QStringLiteral("INSERT INTO old_%1 SELECT * FROM %1").arg(table),
                                        QStringLiteral("DROP TABLE %1").arg(table),
                                        QStringLiteral("ALTER TABLE old_%1 RENAME TO %1").arg(table),
                                        QStringLiteral("DELETE FROM sqlite_sequence WHERE name = '%1'").arg(table)})
                ASSERT_EQ(execute(db, step), QString());
        }
        for (const QString &index : indexes)
            ASSERT_EQ(execute(db, QString(index).replace(QStringLiteral("CREATE INDEX"), QStringLiteral("CREATE INDEX IF NOT EXISTS"))),
                      QString());
        ASSERT_EQ(execute(db, QStringLiteral("PRAGMA user_version = 1")), QString());
        sqlite3_close(db);
    }

    reopen();
    const QList<Case *> cases = fetchCases(QStringLiteral("patientID BEGINSWITH %@"), {QStringLiteral("V1")});
    ASSERT_EQ(cases.size(), 2);
    Case *loaded = fetchCases(QStringLiteral("patientID == %@"), {QStringLiteral("V1A")}).value(0);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->summary(), QStringLiteral("first"));
    ASSERT_EQ(loaded->tags().size(), 1);
    EXPECT_EQ(loaded->tags().first()->label(), QStringLiteral("Neuro"));
    ASSERT_EQ(loaded->media().size(), 1);
    EXPECT_EQ(loaded->media().first()->uuid(), uuid);
    EXPECT_EQ(fetchCases(QStringLiteral("summary CONTAINS[cd] %@"), {QStringLiteral("FIRST")}).size(), 1);

    // The next case takes a key above the deleted one, and the file says so.
    Case *next = newCase(QStringLiteral("V2"));
    context()->saveWithParent(true);
    EXPECT_GT(next->objectID().key, deletedKey);
    m_stack.reset();
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(store.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    EXPECT_EQ(query(db, QStringLiteral("PRAGMA user_version")), QStringList{QString::number(ManagedObjectModel::schemaVersion)});
    for (const QString &table : tables)
        EXPECT_TRUE(query(db, QStringLiteral("SELECT sql FROM sqlite_master WHERE name = '%1'").arg(table)).value(0).contains(
            QStringLiteral("AUTOINCREMENT")))
            << table.toStdString();
    EXPECT_EQ(query(db, indexNames), currentIndexes);
    EXPECT_EQ(query(db, QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
    sqlite3_close(db);
}

TEST_F(PersistenceTest, AVersionTwoLibraryGivesEveryCaseAndTagAUuidAndKeepsItsData)
{
    Tag *neuro = newTag(QStringLiteral("Neuro"));
    newTag(QStringLiteral("Chest"));
    for (int i = 0; i < 30; ++i)
        newCase(QStringLiteral("U%1").arg(i, 2, 10, QLatin1Char('0')), QStringLiteral("summary %1").arg(i))->addToTags(neuro);
    context()->saveWithParent(true);
    const QString store = m_stack->storePath();
    m_stack.reset();
    {
        // Version 2: the same tables without the uuids.
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open(store.toUtf8().constData(), &db), SQLITE_OK);
        for (const char *sql : {"DROP INDEX cases_by_uuid", "DROP INDEX tags_by_uuid", "ALTER TABLE cases DROP COLUMN uuid",
                                "ALTER TABLE tags DROP COLUMN uuid", "PRAGMA user_version = 2"})
            ASSERT_EQ(execute(db, QString::fromLatin1(sql)), QString());
        sqlite3_close(db);
    }

    reopen();
    QSet<QString> uuids;
    const QList<Case *> cases = fetchCases(QString());
    ASSERT_EQ(cases.size(), 30);
    for (Case *item : cases) {
        EXPECT_TRUE(MediaUuid::canonical(item->uuid()) == item->uuid()) << item->uuid().toStdString();
        uuids.insert(item->uuid());
        EXPECT_EQ(item->summary(), QStringLiteral("summary ") + QString::number(item->patientID().mid(1).toInt()));
        ASSERT_EQ(item->tags().size(), 1);
        EXPECT_EQ(item->tags().first()->label(), QStringLiteral("Neuro"));
    }
    const QList<ManagedObject *> tags = context()->arrayOfObjects(Tag::entityName());
    ASSERT_EQ(tags.size(), 2);
    for (ManagedObject *tag : tags)
        uuids.insert(static_cast<Tag *>(tag)->uuid());
    EXPECT_EQ(uuids.size(), 32);
    EXPECT_FALSE(uuids.contains(QString()));

    // New records have theirs from the start, and the uuids stay as they are.
    Case *fresh = newCase(QStringLiteral("NEW"));
    EXPECT_TRUE(MediaUuid::isValid(fresh->uuid()));
    EXPECT_TRUE(MediaUuid::isValid(newTag(QStringLiteral("Fresh"))->uuid()));
    context()->saveWithParent(true);
    const QString kept = cases.first()->uuid();
    const QString keptPatient = cases.first()->patientID();
    reopen();
    EXPECT_EQ(fetchCases(QStringLiteral("patientID == %@"), {keptPatient}).value(0)->uuid(), kept);
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(store.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    EXPECT_EQ(query(db, QStringLiteral("PRAGMA user_version")), QStringList{QString::number(ManagedObjectModel::schemaVersion)});
    EXPECT_EQ(query(db, QStringLiteral("SELECT COUNT(*) FROM cases WHERE uuid IS NULL")), QStringList{QStringLiteral("0")});
    EXPECT_EQ(query(db, QStringLiteral("SELECT name FROM sqlite_master WHERE name LIKE '%_by_uuid' ORDER BY name")),
              (QStringList{QStringLiteral("cases_by_uuid"), QStringLiteral("media_by_uuid"), QStringLiteral("tags_by_uuid")}));
    sqlite3_close(db);
}

TEST_F(PersistenceTest, DamagedNewerForeignAndUnwritableFilesAreRefusedUntouched)
{
    for (int i = 0; i < 50; ++i)
        newCase(QStringLiteral("R%1").arg(i), QStringLiteral("a summary long enough to fill pages %1").arg(i));
    context()->saveWithParent(true);
    const QString store = m_stack->storePath();
    m_stack.reset();
    auto expectRefused = [&](const QString &path, const QString &needle) {
        SCOPED_TRACE(path.toStdString());
        const QByteArray before = fingerprint(path);
        PersistentStore refused;
        QString error;
        EXPECT_FALSE(refused.open(path, PersistentStore::Mode::ReadWrite, &error));
        EXPECT_TRUE(error.contains(path)) << error.toStdString();
        EXPECT_TRUE(error.contains(needle)) << error.toStdString();
        EXPECT_EQ(fingerprint(path), before);
        EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral("-wal")) && QFileInfo(path + QStringLiteral("-wal")).size() > 0);
    };

    // A newer version's library.
    QTemporaryDir dir;
    const QString newer = dir.filePath(QStringLiteral("newer.sqlite"));
    QFile::copy(store, newer);
    {
        sqlite3 *db = nullptr;
        sqlite3_open(newer.toUtf8().constData(), &db);
        sqlite3_exec(db, "PRAGMA journal_mode=DELETE; PRAGMA user_version = 99", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    expectRefused(newer, QStringLiteral("newer version"));

    // Garbage and a damaged page.
    const QString garbage = dir.filePath(QStringLiteral("garbage.sqlite"));
    QFile file(garbage);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(8192, 'x'));
    file.close();
    expectRefused(garbage, QStringLiteral("damaged"));

    const QString damaged = dir.filePath(QStringLiteral("damaged.sqlite"));
    QFile::copy(store, damaged);
    {
        QFile f(damaged);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        // Every page after the first: the schema is readable, the tables are not.
        f.seek(4096);
        f.write(QByteArray(int(f.size()) - 4096, '\xff'));
    }
    expectRefused(damaged, QStringLiteral("damaged"));

    // Someone else's SQLite database.
    const QString foreign = dir.filePath(QStringLiteral("foreign.sqlite"));
    {
        sqlite3 *db = nullptr;
        sqlite3_open(foreign.toUtf8().constData(), &db);
        sqlite3_exec(db, "CREATE TABLE songs (title TEXT)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    expectRefused(foreign, QStringLiteral("not an Ovalis library"));

}

TEST_F(PersistenceTest, AFileWithoutWritePermissionIsRefusedUntouched)
{
    const QString store = m_stack->storePath();
    m_stack.reset();
    QFile::setPermissions(store, QFileDevice::ReadOwner);
    if (QFileInfo(store).isWritable())
        GTEST_SKIP() << "running with permission to write everywhere (root)";
    const QByteArray before = fingerprint(store);
    PersistentStore refused;
    QString error;
    EXPECT_FALSE(refused.open(store, PersistentStore::Mode::ReadWrite, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("permission"))) << error.toStdString();
    EXPECT_EQ(fingerprint(store), before);
    QFile::setPermissions(store, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

TEST_F(PersistenceTest, ApplicationStackReportsARefusedStoreNamingTheFile)
{
    const QString store = m_stack->storePath();
    m_stack.reset();
    {
        sqlite3 *db = nullptr;
        sqlite3_open(store.toUtf8().constData(), &db);
        sqlite3_exec(db, "PRAGMA user_version = 42", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    CoreDataStack stack(libraryPath());
    QString error;
    EXPECT_FALSE(stack.loadPersistentStores(&error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Unresolved error ")));
    EXPECT_TRUE(error.contains(store));
    EXPECT_EQ(stack.mainContext(), nullptr);
}

TEST_F(PersistenceTest, TwoStacksSavingTheSameCaseKeepEachOthersProperties)
{
    Case *item = newCase(QStringLiteral("W1"));
    Tag *shared = newTag(QStringLiteral("Shared"));
    context()->saveWithParent(true);
    auto other = openSecondStack();
    auto *theirs = static_cast<Case *>(other->mainContext()->existingObject(item->objectID()));
    auto *theirTag = static_cast<Tag *>(other->mainContext()->existingObject(shared->objectID()));
    ASSERT_NE(theirs, nullptr);

    item->setSummary(QStringLiteral("mine"));
    theirs->setDetail(QStringLiteral("theirs"));
    theirs->addToTags(theirTag);
    item->setSex(Sex::male);
    context()->saveWithParent(true);
    other->mainContext()->saveWithParent(true);

    auto third = openSecondStack();
    auto *check = static_cast<Case *>(third->mainContext()->existingObject(item->objectID()));
    EXPECT_EQ(check->summary(), QStringLiteral("mine"));
    EXPECT_EQ(check->detail(), QStringLiteral("theirs"));
    EXPECT_EQ(check->sex(), 1);
    EXPECT_EQ(check->tags().size(), 1);
}

TEST_F(PersistenceTest, ASaveThatFailsHalfWayWritesNothingAndKeepsTheEdits)
{
    newCase(QStringLiteral("K1"));
    context()->saveWithParent(true);
    {
        // A trigger makes the second insert of the next save fail inside SQLite.
        sqlite3 *db = nullptr;
        sqlite3_open(m_stack->storePath().toUtf8().constData(), &db);
        sqlite3_busy_timeout(db, 5000);
        ASSERT_EQ(sqlite3_exec(db, "CREATE TRIGGER boom BEFORE INSERT ON cases WHEN NEW.patient_id = 'BOOM' "
                                   "BEGIN SELECT RAISE(ABORT, 'boom'); END;", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    Case *good = newCase(QStringLiteral("K2"));
    Case *bad = newCase(QStringLiteral("BOOM"));
    QString error;
    EXPECT_FALSE(context()->save(&error));
    EXPECT_TRUE(error.contains(QStringLiteral("boom"))) << error.toStdString();
    EXPECT_TRUE(good->objectID().isTemporary());
    EXPECT_EQ(openSecondStack()->mainContext()->countOfObjects(Case::entityName()), 1);

    bad->setPatientID(QStringLiteral("K3"));
    EXPECT_TRUE(context()->save(&error)) << error.toStdString();
    EXPECT_EQ(openSecondStack()->mainContext()->countOfObjects(Case::entityName()), 3);
}

TEST_F(PersistenceTest, DisablingCloudSyncingIsLoggedWhenTheStoreOpens)
{
    m_stack.reset();
    Settings::shared().setValue(QStringLiteral("Disable_Cloud_Syncing"), true);
    LogCapture capture;
    reopen();
    EXPECT_TRUE(capture.contains(QStringLiteral("Disable iCloud syncing")));
    Settings::shared().setValue(QStringLiteral("Disable_Cloud_Syncing"), false);
    capture.clear();
    reopen();
    EXPECT_FALSE(capture.contains(QStringLiteral("Disable iCloud syncing")));
}

TEST_F(PersistenceTest, ClosingTheStoreFoldsItsLogIntoTheFileAndEndsItsUse)
{
    newCase(QStringLiteral("W1"), QStringLiteral("kept after closing"));
    context()->saveWithParent(true);
    const QString wal = m_stack->storePath() + QStringLiteral("-wal");
    ASSERT_GT(QFileInfo(wal).size(), 0);
    PersistentStore *store = m_stack->persistentStore();
    store->close();
    EXPECT_FALSE(store->isOpen());
    EXPECT_FALSE(QFileInfo::exists(wal)); // the last connection checkpointed and removed it
    QVector<qint64> keys;
    QString error;
    EXPECT_FALSE(store->fetchKeys(0, Predicate(), &keys, &error));
    EXPECT_FALSE(error.isEmpty());
    // The file alone holds the saved case.
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(m_stack->storePath().toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt *statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT summary FROM cases WHERE patient_id = 'W1'", -1, &statement, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)), "kept after closing");
    sqlite3_finalize(statement);
    sqlite3_close(db);
}
