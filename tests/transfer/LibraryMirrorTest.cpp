#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <future>

#include "exchange/JSONImporter.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/LibraryGenerator.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/Tag.h"
#include "support/BackupCases.h"
#include "support/PostgresTestServer.h"
#include "transfer/LibraryMirror.h"
#include "util/Settings.h"

using namespace ovalis;
using namespace ovalis::test;

namespace {

// One machine: a library of its own and its mirror, named for conflict reports.
struct Machine {
    QString name;
    QTemporaryDir folder;
    std::unique_ptr<CoreDataStack> stack;
    std::unique_ptr<LibraryMirror> mirror;

    ManagedObjectContext *context() const { return stack->mainContext(); }

    Case *caseFor(const QString &patientID) const
    {
        return static_cast<Case *>(
            context()->object(Case::entityName(), Predicate::fromFormat(QStringLiteral("patientID == %@"), {patientID})));
    }

    Tag *tagLabelled(const QString &label) const
    {
        return static_cast<Tag *>(context()->object(Tag::entityName(), Predicate::fromFormat(QStringLiteral("label == %@"), {label})));
    }

    Case *addCase(const QString &patientID, const QString &summary)
    {
        auto *made = context()->insertNew<Case>();
        made->setPatientID(patientID);
        made->setSummary(summary);
        return made;
    }

    Media *addMedia(Case *owner, int index)
    {
        auto *medium = context()->insertNew<Media>();
        medium->setFileName(medium->uuid() + QStringLiteral(".png"));
        medium->setOrderIndex(index);
        medium->setItsCase(owner);
        return medium;
    }

    Tag *addTag(const QString &label)
    {
        auto *tag = context()->insertNew<Tag>();
        tag->setLabel(label);
        return tag;
    }

    void save() const
    {
        QString error;
        ASSERT_TRUE(context()->save(&error)) << error.toStdString();
        // Two saves in one millisecond would be one time to the mirror.
        QThread::msleep(3);
    }

    // The library as a backup has it, one case per line, sorted.
    std::string exportedText() const { return exported().join(QLatin1Char('\n')).toStdString(); }
    QStringList exported() const
    {
        const QString path = folder.filePath(QStringLiteral("export.json"));
        auto reader = stack->contextForStore(stack->storePath(), true, false);
        const JSONImporter::ExportResult result = JSONImporter(QUrl::fromLocalFile(path)).exportDatabaseOnQueue(reader.get());
        EXPECT_TRUE(result.error.isEmpty()) << result.error.toStdString();
        return sortedBackupCases(path);
    }
};

} // namespace

class LibraryMirrorTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_server = new PostgresTestServer; }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_server->isRunning()) << s_server->error().toStdString();
        ASSERT_TRUE(m_settings.isValid());
        Settings::setSharedForTesting(
            std::make_unique<QSettings>(m_settings.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat));
        Settings::registerApplicationDefaults();
        // Each test has a database of its own on the one server.
        m_database = QStringLiteral("mirror%1").arg(++s_databases);
        PGconn *connection = PQconnectdb(s_server->connectionString().toUtf8().constData());
        for (const QString &statement : {QStringLiteral("CREATE DATABASE %1"), QStringLiteral("GRANT CREATE ON DATABASE %1 TO guarded")}) {
            PGresult *made = PQexec(connection, statement.arg(m_database).toUtf8().constData());
            ASSERT_EQ(PQresultStatus(made), PGRES_COMMAND_OK) << PQerrorMessage(connection);
            PQclear(made);
        }
        PQfinish(connection);
    }

    void TearDown() override
    {
        m_machines.clear();
        QCoreApplication::processEvents();
        Settings::setSharedForTesting(nullptr);
    }

    QString conninfo() const { return s_server->connectionString(m_database); }

    Machine &machine(const QString &name)
    {
        auto made = std::make_unique<Machine>();
        made->name = name;
        made->stack = std::make_unique<CoreDataStack>(made->folder.filePath(QStringLiteral("Ovalis")));
        QString error;
        EXPECT_TRUE(made->stack->loadPersistentStores(&error)) << error.toStdString();
        made->mirror = std::make_unique<LibraryMirror>(made->stack.get());
        EXPECT_TRUE(made->mirror->open(&error)) << error.toStdString();
        made->mirror->setServer(conninfo());
        made->mirror->setMachineName(name);
        m_machines.push_back(std::move(made));
        return *m_machines.back();
    }

    // One sync on a thread of its own, as the window runs it, until the
    // window's context has taken in what it wrote.
    static LibraryMirror::Report sync(Machine &machine, bool media = false, const LibraryMirror::ProgressHandler &progress = {})
    {
        auto done = std::async(std::launch::async, [&] {
            LibraryMirror::Report report = machine.mirror->sync(media, progress);
            machine.mirror->waitForMerges();
            return report;
        });
        while (done.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready)
            QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        return done.get();
    }

    static void syncOK(Machine &machine, bool media = false)
    {
        const LibraryMirror::Report report = sync(machine, media);
        ASSERT_TRUE(report.ok) << report.error.toStdString();
    }

    static inline PostgresTestServer *s_server = nullptr;
    static inline int s_databases = 0;
    QTemporaryDir m_settings;
    QString m_database;
    std::vector<std::unique_ptr<Machine>> m_machines;
};

// A first sync sends a library to an empty server, an empty library takes
// the server's, and two populated libraries end as their union, each case once.
TEST_F(LibraryMirrorTest, FirstSyncsUploadDownloadAndJoinLibrariesAsTheirUnion)
{
    Machine &hospital = machine(QStringLiteral("hospital"));
    Case *chest = hospital.addCase(QStringLiteral("ABC1235"), QStringLiteral("Pneumothorax"));
    chest->setDetail(QStringLiteral("Left apical, 2 cm"));
    hospital.addMedia(chest, 0);
    hospital.addMedia(chest, 1);
    Tag *teaching = hospital.addTag(QStringLiteral("Teaching"));
    chest->addToTags(teaching);
    hospital.addCase(QStringLiteral("XYZ0002"), QStringLiteral("Scaphoid fracture"))->addToTags(teaching);
    hospital.save();
    syncOK(hospital);

    Machine &laptop = machine(QStringLiteral("laptop"));
    syncOK(laptop);
    EXPECT_EQ(laptop.exportedText(), hospital.exportedText());
    EXPECT_EQ(laptop.exported().size(), 2);

    Machine &home = machine(QStringLiteral("home"));
    home.addCase(QStringLiteral("HOM0001"), QStringLiteral("Osteoid osteoma"))->addToTags(home.addTag(QStringLiteral("Bone")));
    home.save();
    syncOK(home);
    syncOK(hospital);
    syncOK(laptop);
    EXPECT_EQ(home.exported().size(), 3);
    EXPECT_EQ(hospital.exportedText(), home.exportedText());
    EXPECT_EQ(laptop.exportedText(), home.exportedText());
    // A sync with nothing to do sends and takes in nothing.
    const LibraryMirror::Report idle = sync(laptop);
    EXPECT_TRUE(idle.ok);
    EXPECT_EQ(idle.sent + idle.received, 0);
}

// Edits of different properties of one case both stay; of the same property,
// the later save wins even when its machine syncs first, and the losing
// value is logged with both machines' names.
TEST_F(LibraryMirrorTest, PropertiesMergeOneByOneAndTheLaterSaveWinsWhicheverSyncsLast)
{
    Machine &a = machine(QStringLiteral("hospital"));
    a.addCase(QStringLiteral("ABC1235"), QStringLiteral("Pneumothorax"));
    a.save();
    syncOK(a);
    Machine &b = machine(QStringLiteral("laptop"));
    syncOK(b);

    // Both offline: the hospital edits first, the laptop later.
    a.caseFor(QStringLiteral("ABC1235"))->setDetail(QStringLiteral("Left apical"));
    a.caseFor(QStringLiteral("ABC1235"))->setSummary(QStringLiteral("Pneumothorax (older)"));
    a.save();
    b.caseFor(QStringLiteral("ABC1235"))->setSummary(QStringLiteral("Tension pneumothorax (newer)"));
    b.caseFor(QStringLiteral("ABC1235"))->setPatientID(QStringLiteral("ABC1236"));
    b.save();
    // The laptop reconnects first; the hospital, holding the older summary, last.
    syncOK(b);
    const LibraryMirror::Report last = sync(a);
    ASSERT_TRUE(last.ok) << last.error.toStdString();
    EXPECT_GE(last.conflicts, 1);
    syncOK(b);

    Case *merged = a.caseFor(QStringLiteral("ABC1236"));
    ASSERT_NE(merged, nullptr);
    EXPECT_EQ(merged->summary(), QStringLiteral("Tension pneumothorax (newer)"));
    EXPECT_EQ(merged->detail(), QStringLiteral("Left apical"));
    EXPECT_EQ(a.exportedText(), b.exportedText());
}

// Links are merged one by one; a tag made on both sides with one label ends
// as one tag, the one with the smaller uuid, holding both sides' cases.
TEST_F(LibraryMirrorTest, TagLinksMergePerLinkAndOneLabelMadeTwiceBecomesOneTag)
{
    Machine &a = machine(QStringLiteral("hospital"));
    Case *chest = a.addCase(QStringLiteral("ABC1235"), QStringLiteral("Pneumothorax"));
    chest->addToTags(a.addTag(QStringLiteral("Chest")));
    chest->addToTags(a.addTag(QStringLiteral("Trauma")));
    a.addCase(QStringLiteral("XYZ0002"), QStringLiteral("Scaphoid fracture"));
    a.save();
    syncOK(a);
    Machine &b = machine(QStringLiteral("laptop"));
    syncOK(b);

    // One side adds a tag, the other removes another.
    a.caseFor(QStringLiteral("ABC1235"))->addToTags(a.addTag(QStringLiteral("Emergency")));
    b.caseFor(QStringLiteral("ABC1235"))->removeFromTags(b.tagLabelled(QStringLiteral("Trauma")));
    // Both make "Teaching", each on another case.
    Tag *teachingA = a.addTag(QStringLiteral("Teaching"));
    a.caseFor(QStringLiteral("ABC1235"))->addToTags(teachingA);
    Tag *teachingB = b.addTag(QStringLiteral("Teaching"));
    b.caseFor(QStringLiteral("XYZ0002"))->addToTags(teachingB);
    const QString smaller = std::min(teachingA->uuid(), teachingB->uuid());
    a.save();
    b.save();
    syncOK(a);
    syncOK(b);
    syncOK(a);

    for (Machine *side : {&a, &b}) {
        const QList<ManagedObject *> teaching = side->context()->arrayOfObjects(
            Tag::entityName(), Predicate::fromFormat(QStringLiteral("label == %@"), {QStringLiteral("Teaching")}));
        ASSERT_EQ(teaching.size(), 1) << side->name.toStdString();
        auto *tag = static_cast<Tag *>(teaching.first());
        EXPECT_EQ(tag->uuid(), smaller);
        EXPECT_EQ(tag->cases().size(), 2);
        QStringList labels;
        for (Tag *each : side->caseFor(QStringLiteral("ABC1235"))->tags())
            labels << each->label();
        labels.sort();
        EXPECT_EQ(labels, (QStringList{QStringLiteral("Chest"), QStringLiteral("Emergency"), QStringLiteral("Teaching")}));
    }
    EXPECT_EQ(a.exportedText(), b.exportedText());
}

// A case deleted on one machine stays deleted though the other edited it
// meanwhile, and a medium added to it meanwhile does not bring it back.
TEST_F(LibraryMirrorTest, ADeletedCaseStaysDeletedThoughAnotherMachineEditedIt)
{
    Machine &a = machine(QStringLiteral("hospital"));
    Case *doomed = a.addCase(QStringLiteral("DEL0001"), QStringLiteral("Duplicate"));
    a.addMedia(doomed, 0);
    a.addCase(QStringLiteral("KEEP001"), QStringLiteral("Kept"));
    a.save();
    syncOK(a);
    Machine &b = machine(QStringLiteral("laptop"));
    syncOK(b);

    b.caseFor(QStringLiteral("DEL0001"))->setSummary(QStringLiteral("Edited after the deletion"));
    b.addMedia(b.caseFor(QStringLiteral("DEL0001")), 1);
    a.context()->deleteObject(a.caseFor(QStringLiteral("DEL0001")));
    a.save();
    b.save();
    syncOK(a);
    syncOK(b);
    syncOK(a);

    EXPECT_EQ(a.caseFor(QStringLiteral("DEL0001")), nullptr);
    EXPECT_EQ(b.caseFor(QStringLiteral("DEL0001")), nullptr);
    EXPECT_EQ(a.exportedText(), b.exportedText());
    EXPECT_EQ(a.exported().size(), 1);
}

// Two machines reordering one case's media end with one order and no index twice.
TEST_F(LibraryMirrorTest, ReorderingOnBothMachinesConvergesWithoutARepeatedIndex)
{
    Machine &a = machine(QStringLiteral("hospital"));
    Case *series = a.addCase(QStringLiteral("ORD0001"), QStringLiteral("Series"));
    for (int i = 0; i < 4; ++i)
        a.addMedia(series, i);
    a.save();
    syncOK(a);
    Machine &b = machine(QStringLiteral("laptop"));
    syncOK(b);

    // The laptop moves the first to the end; the hospital, later, swaps the
    // first two. Each keeps the later value of each medium's index, which
    // leaves two media at index 1.
    QList<Media *> laptopOrder = b.caseFor(QStringLiteral("ORD0001"))->sortedMedia();
    laptopOrder[0]->setOrderIndex(3);
    laptopOrder[1]->setOrderIndex(0);
    laptopOrder[2]->setOrderIndex(1);
    laptopOrder[3]->setOrderIndex(2);
    b.save();
    QList<Media *> hospitalOrder = a.caseFor(QStringLiteral("ORD0001"))->sortedMedia();
    hospitalOrder[0]->setOrderIndex(1);
    hospitalOrder[1]->setOrderIndex(0);
    a.save();
    syncOK(a);
    syncOK(b);
    syncOK(a);

    QStringList orders;
    for (Machine *side : {&a, &b}) {
        QList<int> indexes;
        QStringList order;
        for (Media *medium : side->caseFor(QStringLiteral("ORD0001"))->sortedMedia()) {
            indexes << medium->orderIndex();
            order << medium->uuid();
        }
        EXPECT_EQ(indexes, (QList<int>{0, 1, 2, 3})) << side->name.toStdString();
        orders << order.join(QLatin1Char(' '));
    }
    // A machine joining later takes in the server's repeated index and numbers it the same way.
    Machine &c = machine(QStringLiteral("home"));
    syncOK(c);
    QStringList joined;
    for (Media *medium : c.caseFor(QStringLiteral("ORD0001"))->sortedMedia())
        joined << QStringLiteral("%1:%2").arg(medium->orderIndex()).arg(medium->uuid());
    QStringList expected;
    for (Media *medium : a.caseFor(QStringLiteral("ORD0001"))->sortedMedia())
        expected << QStringLiteral("%1:%2").arg(medium->orderIndex()).arg(medium->uuid());
    EXPECT_EQ(joined, expected);
    EXPECT_EQ(orders.first(), orders.last());
    EXPECT_EQ(a.exportedText(), b.exportedText());
}

// With media kept on the server, a file reaches the other machine byte for
// byte; a crop on one side is a new version that replaces the other's, whose
// file is kept, never deleted.
TEST_F(LibraryMirrorTest, FilesArriveByteIdenticalAndACropReplacesTheOldVersionWhichIsKept)
{
    Machine &a = machine(QStringLiteral("hospital"));
    Case *hand = a.addCase(QStringLiteral("IMG0001"), QStringLiteral("Hand"));
    Media *image = a.addMedia(hand, 0);
    a.save();
    QByteArray original(300000, '\0');
    for (int i = 0; i < original.size(); ++i)
        original[i] = char((i * 7919) % 251);
    QDir().mkpath(QFileInfo(image->filePath()).absolutePath());
    {
        QFile file(image->filePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(original);
    }
    const QString uuid = image->uuid();
    syncOK(a, true);
    Machine &b = machine(QStringLiteral("laptop"));
    syncOK(b, true);
    auto fileOf = [](Machine &side, const QString &uuid) {
        auto *medium = static_cast<Media *>(
            side.context()->object(Media::entityName(), Predicate::fromFormat(QStringLiteral("uuid == %@"), {uuid})));
        QFile file(medium ? medium->filePath() : QString());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    EXPECT_EQ(fileOf(b, uuid), original);

    // The laptop crops the image: a new version of the file.
    QImage cropped(40, 30, QImage::Format_RGB32);
    cropped.fill(Qt::darkCyan);
    auto *onLaptop = static_cast<Media *>(
        b.context()->object(Media::entityName(), Predicate::fromFormat(QStringLiteral("uuid == %@"), {uuid})));
    ASSERT_NE(onLaptop, nullptr);
    ASSERT_TRUE(onLaptop->overwriteImage(cropped));
    b.caseFor(QStringLiteral("IMG0001"))->setDateModified(QDateTime::currentDateTimeUtc());
    b.save();
    const QByteArray croppedBytes = fileOf(b, uuid);
    ASSERT_FALSE(croppedBytes.isEmpty());
    syncOK(b, true);
    syncOK(a, true);
    EXPECT_EQ(fileOf(a, uuid), croppedBytes);
    // The hospital's replaced version is kept beside the library.
    const QStringList kept = QDir(a.mirror->keptFilesFolder()).entryList(QDir::Files);
    ASSERT_EQ(kept.size(), 1);
    QFile keptFile(QDir(a.mirror->keptFilesFolder()).filePath(kept.first()));
    ASSERT_TRUE(keptFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(keptFile.readAll(), original);
    EXPECT_EQ(a.exportedText(), b.exportedText());
}

// The server stopped in the middle of a first upload: the sync says so and
// changes nothing here; started again, the upload goes on where it stopped,
// and the server ends with every record once. A first download cancelled
// after a page goes on where it stopped too.
TEST_F(LibraryMirrorTest, AServerStoppedDuringTheFirstUploadLosesAndDoublesNothing)
{
    Machine &a = machine(QStringLiteral("hospital"));
    LibraryGenerator::Options options;
    options.cases = 1500;
    options.tags = 30;
    options.mediaPerCase = 3;
    QString error;
    ASSERT_TRUE(LibraryGenerator(a.stack.get()).generate(options, &error)) << error.toStdString();
    const QStringList before = a.exported();

    int batches = 0;
    const LibraryMirror::Report stopped = sync(a, false, [&](const LibraryMirror::Progress &progress) {
        if (progress.phase == QLatin1String("Sending") && ++batches == 2)
            s_server->stop();
    });
    EXPECT_FALSE(stopped.ok);
    EXPECT_TRUE(stopped.offline) << stopped.error.toStdString();
    EXPECT_EQ(a.exportedText(), before.join(QLatin1Char('\n')).toStdString());
    ASSERT_TRUE(s_server->start()) << s_server->error().toStdString();

    const LibraryMirror::Report resumed = sync(a);
    ASSERT_TRUE(resumed.ok) << resumed.error.toStdString();
    // The batches the server committed before it stopped are not sent again.
    EXPECT_GT(stopped.sent, 0);
    EXPECT_LT(resumed.sent, a.context()->countOfObjects(Case::entityName()) + a.context()->countOfObjects(Media::entityName()));
    PGconn *connection = PQconnectdb(conninfo().toUtf8().constData());
    PGresult *counts = PQexec(connection, QStringLiteral("SELECT count(*), count(DISTINCT (entity, uuid)) FROM ovalis_%1.objects")
                                              .arg(a.mirror->libraryId())
                                              .toUtf8()
                                              .constData());
    ASSERT_EQ(PQresultStatus(counts), PGRES_TUPLES_OK) << PQerrorMessage(connection);
    const int held = std::atoi(PQgetvalue(counts, 0, 0));
    EXPECT_EQ(held, std::atoi(PQgetvalue(counts, 0, 1)));
    PQclear(counts);
    PQfinish(connection);
    EXPECT_EQ(held, a.context()->countOfObjects(Case::entityName()) + a.context()->countOfObjects(Media::entityName())
                        + a.context()->countOfObjects(Tag::entityName()));

    // A first download cancelled after its first page goes on where it stopped.
    Machine &b = machine(QStringLiteral("laptop"));
    std::atomic_bool cancel{false};
    qint64 firstPage = 0;
    auto done = std::async(std::launch::async, [&] {
        LibraryMirror::Report report = b.mirror->sync(false, [&](const LibraryMirror::Progress &progress) {
            if (progress.phase == QLatin1String("Receiving") && !cancel) {
                firstPage = progress.done;
                cancel = true;
            }
        }, &cancel);
        b.mirror->waitForMerges();
        return report;
    });
    while (done.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready)
        QCoreApplication::processEvents();
    const LibraryMirror::Report cancelled = done.get();
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_GT(firstPage, 0);
    const LibraryMirror::Report rest = sync(b);
    ASSERT_TRUE(rest.ok) << rest.error.toStdString();
    // Nothing of the first page came twice: together they are one whole download.
    Machine &c = machine(QStringLiteral("home"));
    const LibraryMirror::Report whole = sync(c);
    ASSERT_TRUE(whole.ok) << whole.error.toStdString();
    EXPECT_EQ(cancelled.received + rest.received, whole.received);
    EXPECT_EQ(b.exportedText(), before.join(QLatin1Char('\n')).toStdString());
}

// A wrong password or a server that is not there: a clear message, nothing changed.
TEST_F(LibraryMirrorTest, AWrongPasswordOrAnUnreachableServerSaysSoAndChangesNothing)
{
    Machine &a = machine(QStringLiteral("hospital"));
    a.addCase(QStringLiteral("ABC1235"), QStringLiteral("Pneumothorax"));
    a.save();
    const QStringList before = a.exported();

    a.mirror->setServer(QStringLiteral("host=%1 port=%2 dbname=%3 user=%4")
                            .arg(s_server->socketFolder())
                            .arg(PostgresTestServer::port)
                            .arg(m_database, QString::fromLatin1(PostgresTestServer::guardedRole)));
    a.mirror->setPassword(QStringLiteral("wrong"));
    const LibraryMirror::Report refused = sync(a);
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.error.contains(QStringLiteral("password authentication failed"))) << refused.error.toStdString();

    a.mirror->setServer(QStringLiteral("host=%1/nowhere port=%2 dbname=%3").arg(s_server->socketFolder()).arg(PostgresTestServer::port).arg(m_database));
    const LibraryMirror::Report unreachable = sync(a);
    EXPECT_FALSE(unreachable.ok);
    EXPECT_TRUE(unreachable.offline);
    EXPECT_TRUE(unreachable.error.startsWith(QStringLiteral("Could not connect to the server"))) << unreachable.error.toStdString();
    EXPECT_EQ(a.exportedText(), before.join(QLatin1Char('\n')).toStdString());

    // The right password reaches the server, which then holds the library.
    a.mirror->setServer(QStringLiteral("host=%1 port=%2 dbname=%3 user=%4")
                            .arg(s_server->socketFolder())
                            .arg(PostgresTestServer::port)
                            .arg(m_database, QString::fromLatin1(PostgresTestServer::guardedRole)));
    a.mirror->setPassword(QStringLiteral("right"));
    const LibraryMirror::Report accepted = sync(a);
    EXPECT_TRUE(accepted.ok) << accepted.error.toStdString();
    EXPECT_EQ(accepted.sent, 1);
}

// Nothing the server holds is trusted: records with identifiers that are
// not uuids, unknown kinds, values of the wrong type and a file whose
// content does not match its checksum are passed over, and the rest arrives.
TEST_F(LibraryMirrorTest, WhatAServerHoldsIsCheckedBeforeItIsTakenIn)
{
    Machine &a = machine(QStringLiteral("hospital"));
    Case *kept = a.addCase(QStringLiteral("GOOD001"), QStringLiteral("Arrives"));
    Media *image = a.addMedia(kept, 0);
    a.save();
    QDir().mkpath(QFileInfo(image->filePath()).absolutePath());
    {
        QFile file(image->filePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(1000, 'x'));
    }
    syncOK(a, true);

    // Another client, or an intruder, writes nonsense into the tables.
    PGconn *connection = PQconnectdb(conninfo().toUtf8().constData());
    const QString schema = QStringLiteral("ovalis_") + a.mirror->libraryId();
    const QString goodCase = kept->uuid();
    const QStringList statements{
        QStringLiteral("INSERT INTO %1.objects VALUES ('Case', '../../../etc/passwd', '{\"summary\":\"escape\"}', '{}', NULL, NULL, nextval('%1.changes'))"),
        QStringLiteral("INSERT INTO %1.objects VALUES ('Secret', 'AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE', '{}', '{}', NULL, NULL, nextval('%1.changes'))"),
        QStringLiteral("INSERT INTO %1.objects VALUES ('Case', 'AAAAAAAA-BBBB-CCCC-DDDD-000000000001', "
                       "'{\"patientID\":42,\"summary\":[\"not\",\"text\"],\"sex\":\"many\",\"dateAdded\":\"yesterday\"}', '{}', NULL, NULL, nextval('%1.changes'))"),
        QStringLiteral("INSERT INTO %1.objects VALUES ('Media', 'AAAAAAAA-BBBB-CCCC-DDDD-000000000002', "
                       "'{\"fileName\":\"../../x.jpg\",\"orderIndex\":1e300,\"case\":\"") + goodCase
            + QStringLiteral("\"}', '{}', NULL, NULL, nextval('%1.changes'))"),
        QStringLiteral("INSERT INTO %1.links VALUES ('") + goodCase
            + QStringLiteral("', 'not-a-uuid', true, 0, 'intruder', nextval('%1.changes'))"),
        QStringLiteral("UPDATE %1.content_chunks SET data = 'tampered'"),
        QStringLiteral("UPDATE %1.files SET seq = nextval('%1.changes')"),
    };
    for (const QString &statement : statements) {
        PGresult *result = PQexec(connection, statement.arg(schema).toUtf8().constData());
        EXPECT_EQ(PQresultStatus(result), PGRES_COMMAND_OK) << PQerrorMessage(connection);
        PQclear(result);
    }
    PQfinish(connection);

    Machine &b = machine(QStringLiteral("laptop"));
    const LibraryMirror::Report report = sync(b, true);
    EXPECT_FALSE(report.ok) << "a damaged file is reported";
    EXPECT_TRUE(report.error.contains(QStringLiteral("damaged"))) << report.error.toStdString();
    // The records arrived; the one of the wrong types with its values left empty.
    Case *arrived = b.caseFor(QStringLiteral("GOOD001"));
    ASSERT_NE(arrived, nullptr);
    EXPECT_EQ(b.context()->countOfObjects(Case::entityName()), 2);
    auto *odd = static_cast<Case *>(b.context()->object(
        Case::entityName(), Predicate::fromFormat(QStringLiteral("uuid == %@"), {QStringLiteral("AAAAAAAA-BBBB-CCCC-DDDD-000000000001")})));
    ASSERT_NE(odd, nullptr);
    EXPECT_TRUE(odd->patientID().isEmpty());
    EXPECT_TRUE(odd->summary().isEmpty());
    EXPECT_EQ(arrived->tags().size(), 0);
    // The medium's file name names no place outside its folder, and nothing was written for the tampered file.
    for (Media *medium : arrived->media())
        EXPECT_TRUE(medium->filePath().startsWith(b.stack->mediaDirectory())) << medium->filePath().toStdString();
    auto *original = static_cast<Media *>(
        b.context()->object(Media::entityName(), Predicate::fromFormat(QStringLiteral("uuid == %@"), {image->uuid()})));
    ASSERT_NE(original, nullptr);
    EXPECT_FALSE(QFileInfo::exists(original->filePath()));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/etc/passwd.jpg")));
}

// The mirror's state lost its last writes in a crash (the records taken in
// were saved, the keys and the number seen were not): the next sync takes the
// same pages in again, finds those records here by their uuids, makes nothing
// twice, and a deletion made afterwards still reaches the other machine.
TEST_F(LibraryMirrorTest, AStateThatLostItsLastWritesMakesNothingTwice)
{
    Machine &a = machine(QStringLiteral("hospital"));
    Case *chest = a.addCase(QStringLiteral("ABC1235"), QStringLiteral("Pneumothorax"));
    a.addMedia(chest, 0);
    chest->addToTags(a.addTag(QStringLiteral("Chest")));
    a.addCase(QStringLiteral("XYZ0002"), QStringLiteral("Scaphoid fracture"));
    a.save();
    syncOK(a);
    Machine &b = machine(QStringLiteral("laptop"));
    syncOK(b);

    b.mirror.reset();
    sqlite3 *state = nullptr;
    ASSERT_EQ(sqlite3_open(QDir(b.stack->libraryDirectory()).filePath(MirrorState::fileName()).toUtf8().constData(), &state),
              SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(state, "DELETE FROM keys; DELETE FROM links; UPDATE settings SET value = '0' WHERE key = 'pulledSeq'",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(state);
    b.mirror = std::make_unique<LibraryMirror>(b.stack.get());
    QString error;
    ASSERT_TRUE(b.mirror->open(&error)) << error.toStdString();
    b.mirror->setMachineName(b.name);
    syncOK(b);
    EXPECT_EQ(b.context()->countOfObjects(Case::entityName()), 2);
    EXPECT_EQ(b.context()->countOfObjects(Media::entityName()), 1);
    EXPECT_EQ(b.context()->countOfObjects(Tag::entityName()), 1);

    b.context()->deleteObject(b.caseFor(QStringLiteral("XYZ0002")));
    b.save();
    syncOK(b);
    syncOK(a);
    EXPECT_EQ(a.caseFor(QStringLiteral("XYZ0002")), nullptr);
    EXPECT_EQ(a.exportedText(), b.exportedText());
}
