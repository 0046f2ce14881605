#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

#include "exchange/EncodedCase.h"
#include "exchange/JSONImporter.h"
#include "store/MediaFileStore.h"
#include "store/MediaUuid.h"
#include "store/PersistentStore.h"
#include "ExchangeFixture.h"
#include "store/LibraryMaintenance.h"
#include "util/Log.h"
#include "util/SerialQueue.h"

namespace ovalis::test {
namespace {

class JSONImporterTest : public ExchangeFixture
{
protected:
    QString backupPath() const { return m_directory.filePath(QStringLiteral("backup.json")); }

    void writeBackup(const QByteArray &utf8) const
    {
        QFile file(backupPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(utf8);
    }

    // The patient identifiers in the file, in file order.
    QStringList identifiersInBackup() const
    {
        QFile file(backupPath());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QString error;
        const auto cases = BackupFile::decode(file.readAll(), &error);
        EXPECT_TRUE(cases) << error.toStdString();
        QStringList ids;
        for (const EncodedCase &record : cases.value_or(QList<EncodedCase>()))
            ids.append(record.patientIdentifier);
        return ids;
    }

    // Restores the file at path (the backup by default) and waits for the end.
    JSONImporter::RestoreSummary restore(const QString &path = QString())
    {
        bool done = false;
        JSONImporter::RestoreSummary result;
        JSONImporter(QUrl::fromLocalFile(path.isEmpty() ? backupPath() : path)).importBackup(context(), [&](const auto &summary) {
            result = summary;
            done = true;
        });
        waitFor(done);
        return result;
    }

    static QDateTime at(int year, int month, int day, int hour = 12)
    {
        return QDateTime(QDate(year, month, day), QTime(hour, 0));
    }

    // Each case as its backup record with sorted tags, in export order.
    QList<EncodedCase> records()
    {
        QList<EncodedCase> list;
        for (const Case *item : JSONImporter::exportOrder(allCases())) {
            EncodedCase record = EncodedCase::fromCase(item);
            QStringList labels = record.tagLabels();
            labels.sort();
            record.tags = labels.join(QLatin1Char(','));
            list.append(record);
        }
        return list;
    }
};

TEST_F(JSONImporterTest, ExportOrdersByDateAddedThenIdentifierAndReplacesTheFile)
{
    newCase(QStringLiteral("BBB2222"))->setDateAdded(at(2020, 1, 2));
    newCase(QStringLiteral("AAA1111"))->setDateAdded(at(2020, 1, 2));
    newCase(QStringLiteral("CCC3333"))->setDateAdded(at(2019, 5, 5));
    newCase(QStringLiteral("DDD4444"))->setDateAdded(QDateTime());
    context()->insertNew<Case>()->setDateAdded(at(2020, 1, 2));
    writeBackup("old contents");

    LogCapture log;
    const JSONImporter::ExportResult result = JSONImporter(QUrl::fromLocalFile(backupPath())).exportDatabase(context());
    EXPECT_TRUE(result.error.isEmpty()) << result.error.toStdString();
    EXPECT_EQ(result.casesWritten, 5);
    EXPECT_EQ(identifiersInBackup(), (QStringList{"DDD4444", "CCC3333", "", "AAA1111", "BBB2222"}));
    EXPECT_TRUE(log.containsPrefix(QStringLiteral("Export to file://")));
    // Unsaved edits are written too: the export reads the context, not the store.
    EXPECT_TRUE(context()->hasChanges());
}

TEST_F(JSONImporterTest, AnExportWrittenInBatchesIsTheFileOfAllRecordsInOrder)
{
    const auto exportedBytes = [this] {
        EXPECT_TRUE(JSONImporter(QUrl::fromLocalFile(backupPath())).exportDatabase(context()).error.isEmpty());
        QFile file(backupPath());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    };
    const auto expectedBytes = [this] {
        QList<EncodedCase> expected;
        for (const Case *item : JSONImporter::exportOrder(allCases()))
            expected.append(EncodedCase::fromCase(item));
        return BackupFile::encode(expected);
    };
    EXPECT_EQ(exportedBytes(), expectedBytes()); // an empty library

    // Enough cases for several batches, added out of order.
    for (int i = 0; i < 4500; ++i) {
        Case *item = newCase(QStringLiteral("ID%1").arg((i * 7919) % 4500, 5, 10, QLatin1Char('0')));
        item->setDateAdded(at(2000 + (i * 13) % 20, 1 + i % 12, 1 + i % 28));
        item->setSummary(QStringLiteral("case \"%1\"\n").arg(i));
    }
    const QByteArray bytes = exportedBytes();
    EXPECT_EQ(bytes, expectedBytes());
    QString error;
    const auto decoded = BackupFile::decode(bytes, &error);
    ASSERT_TRUE(decoded) << error.toStdString();
    EXPECT_EQ(decoded->size(), 4500);
}

TEST_F(JSONImporterTest, AnExportThatCannotBeWrittenSaysWhyAndLeavesNoFile)
{
    newCase(QStringLiteral("ABC1234"));
    const QString missingFolder = m_directory.filePath(QStringLiteral("no such folder/backup.json"));
    LogCapture log;
    const JSONImporter::ExportResult result = JSONImporter(QUrl::fromLocalFile(missingFolder)).exportDatabase(context());
    EXPECT_FALSE(result.error.isEmpty());
    EXPECT_TRUE(log.containsPrefix(QStringLiteral("Failed to export database summary: ")));
    EXPECT_FALSE(QFile::exists(missingFolder));
}

TEST_F(JSONImporterTest, RestoreFillsCasesAndRestoringTwiceDoublesCasesButNotTags)
{
    newTag(QStringLiteral("chest")); // an existing tag is reused
    context()->saveWithParent(true);
    writeBackup(R"([
      {"patient_identifier":"ABC1234","sex":"female","date_of_birth":"1980-02-03","date_of_diagnosis":"2020-05-06",
       "date_added":"2020-06-07","summary":"Pneumothorax","detail":"Left side","tags":"chest,Chest,trauma",
       "media":[{"identifier":"0A1B2C3D-0000-0000-0000-000000000001","filename":"a.jpg","date_of_creation":"2020-05-06"},
                {"identifier":"0A1B2C3D-0000-0000-0000-000000000002"}]},
      {"patient_identifier":"","sex":"Female","date_of_birth":"not a date","tags":""}
    ])");
    LogCapture log;
    JSONImporter::RestoreSummary summary = restore();
    EXPECT_EQ(summary.casesRead, 2);
    EXPECT_EQ(summary.mediaRecords, 2);
    EXPECT_EQ(summary.tagsCreated, 2);
    EXPECT_TRUE(log.contains(QStringLiteral("Backup contains 2 cases")));
    EXPECT_TRUE(log.contains(QStringLiteral("Tag ABC1234 with 'trauma'")));

    const QList<Case *> found = fetchCases(QStringLiteral("patientID == %@"), {QStringLiteral("ABC1234")});
    ASSERT_EQ(found.size(), 1);
    const Case *item = found.first();
    EXPECT_EQ(item->sex(), int(Sex::female));
    EXPECT_EQ(item->dateOfBirth(), QDate(1980, 2, 3).startOfDay());
    EXPECT_EQ(item->dateOfDiagnosis(), QDate(2020, 5, 6).startOfDay());
    EXPECT_EQ(item->dateAdded(), QDate(2020, 6, 7).startOfDay());
    EXPECT_EQ(item->summary(), QStringLiteral("Pneumothorax"));
    EXPECT_EQ(item->tags().size(), 3);
    const QList<Media *> media = item->sortedMedia();
    ASSERT_EQ(media.size(), 2);
    EXPECT_EQ(media[0]->uuid(), QStringLiteral("0A1B2C3D-0000-0000-0000-000000000001"));
    EXPECT_EQ(media[0]->creationDate(), QDate(2020, 5, 6).startOfDay());
    EXPECT_TRUE(media[1]->fileName().isNull());
    // Records without files: missing until their files arrive.
    EXPECT_FALSE(media[0]->fileExists());

    const QList<Case *> anonymous = fetchCases(QStringLiteral("patientID == nil"));
    ASSERT_EQ(anonymous.size(), 1);
    EXPECT_EQ(anonymous.first()->sex(), int(Sex::unknown));
    EXPECT_FALSE(anonymous.first()->dateOfBirth().isValid());

    summary = restore();
    EXPECT_EQ(summary.tagsCreated, 0);
    EXPECT_EQ(allCases().size(), 4);
    EXPECT_EQ(tagLabels(), (QStringList{"Chest", "chest", "trauma"}));
    // The work reached the store, not just the main context.
    EXPECT_FALSE(context()->hasChanges());
    reopen();
    EXPECT_EQ(allCases().size(), 4);
}

TEST_F(JSONImporterTest, IdentifiersAlreadyInUseGetFreshUuidsAndCopiesOfTheirFiles)
{
    Case *original = newCase(QStringLiteral("ORIG001"));
    Media *scan = original->addMedia("scan bytes", QStringLiteral("scan.jpg"));
    // Cropped since the backup: the file is now a JPEG under the uuid's name.
    Media *cropped = original->addMedia("cropped bytes", QStringLiteral("x.jpg"));
    cropped->setFileName(cropped->uuid() + QStringLiteral(".jpg"));
    context()->saveWithParent(true);
    const QString scanUuid = scan->uuid();
    const QString croppedUuid = cropped->uuid();
    // A file already in the library under an identifier no record uses yet.
    const QString loose = QStringLiteral("0A1B2C3D-0000-4000-8000-000000000001");
    const QUrl looseURL = MediaFileStore::mediaFileURL(MediaFileStore::mediaDirectoryURL(*m_stack), loose, QStringLiteral("jpg"));
    ASSERT_TRUE(MediaFileStore::createDirectory(MediaFileStore::folderURL(looseURL)));
    ASSERT_TRUE(MediaFileStore::writeDataAtomically("loose bytes", looseURL));
    writeBackup(QStringLiteral(R"([
      {"patient_identifier":"R1","sex":"v","tags":"","media":[{"identifier":"%1","filename":"scan.jpg"},
                                                              {"identifier":"%2","filename":"b.jpg"},
                                                              {"identifier":"%3","filename":"x.png"}]},
      {"patient_identifier":"R2","sex":"v","tags":"","media":[{"identifier":"%2","filename":"b.jpg"},
                                                              {"identifier":"%1","filename":"scan.jpg"}]}
    ])").arg(scanUuid.toLower(), loose.toLower(), croppedUuid).toUtf8());

    LogCapture log;
    const JSONImporter::RestoreSummary summary = restore();
    ASSERT_TRUE(summary.error.isEmpty()) << summary.error.toStdString();
    EXPECT_EQ(summary.mediaRecords, 5);
    EXPECT_EQ(summary.mediaRenamed, 4);
    EXPECT_EQ(summary.mediaFilesCopied, 4);

    const QList<Case *> restored1 = fetchCases(QStringLiteral("patientID == %@"), {QStringLiteral("R1")});
    const QList<Case *> restored2 = fetchCases(QStringLiteral("patientID == %@"), {QStringLiteral("R2")});
    ASSERT_EQ(restored1.size(), 1);
    ASSERT_EQ(restored2.size(), 1);
    const QList<Media *> first = restored1.first()->sortedMedia();
    const QList<Media *> second = restored2.first()->sortedMedia();
    ASSERT_EQ(first.size(), 3);
    ASSERT_EQ(second.size(), 2);
    // The first use of an identifier new to the library keeps it, in upper case.
    EXPECT_EQ(first[1]->uuid(), loose);
    QSet<QString> uuids{scanUuid, croppedUuid};
    for (const Media *media : first + second) {
        EXPECT_TRUE(MediaUuid::isValid(media->uuid()));
        EXPECT_EQ(media->uuid(), media->uuid().toUpper());
        uuids.insert(media->uuid());
    }
    EXPECT_EQ(uuids.size(), 7);
    EXPECT_TRUE(log.contains(QStringLiteral("Media identifier %1 is already in use: restored as %2").arg(scanUuid, first[0]->uuid())));

    const auto contents = [](const Media *media) {
        QFile file(media->filePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(no file)");
    };
    EXPECT_EQ(contents(first[0]), QByteArray("scan bytes"));
    EXPECT_EQ(contents(first[1]), QByteArray("loose bytes"));
    EXPECT_EQ(contents(second[0]), QByteArray("loose bytes"));
    EXPECT_EQ(contents(second[1]), QByteArray("scan bytes"));
    // The copy is the JPEG the library holds, and its name says so.
    EXPECT_EQ(contents(first[2]), QByteArray("cropped bytes"));
    EXPECT_EQ(first[2]->fileName(), first[2]->uuid() + QStringLiteral(".jpg"));

    // Deleting one case leaves every other case its images.
    context()->deleteObject(original);
    context()->deleteObject(restored2.first());
    context()->saveWithParent(true);
    m_stack->fileDeletionQueue()->waitForDone();
    EXPECT_EQ(contents(first[0]), QByteArray("scan bytes"));
    EXPECT_EQ(contents(first[1]), QByteArray("loose bytes"));
    EXPECT_EQ(contents(first[2]), QByteArray("cropped bytes"));
}

TEST_F(JSONImporterTest, DateAddedOfTwentiethJanuary2021IsReplacedByTheDateOfDiagnosis)
{
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    writeBackup(R"([
      {"patient_identifier":"A","sex":"v","tags":"","date_added":"2021-01-20","date_of_diagnosis":"2015-03-04"},
      {"patient_identifier":"B","sex":"v","tags":"","date_added":"2021-01-20"},
      {"patient_identifier":"C","sex":"v","tags":"","date_of_diagnosis":"2016-07-08"},
      {"patient_identifier":"D","sex":"v","tags":"","date_added":"2021-01-21","date_of_diagnosis":"2016-07-08"}
    ])");
    restore();
    auto addedOf = [&](const QString &id) {
        return fetchCases(QStringLiteral("patientID == %@"), {id}).value(0)->dateAdded();
    };
    EXPECT_EQ(addedOf("A"), QDate(2015, 3, 4).startOfDay());
    EXPECT_EQ(addedOf("C"), QDate(2016, 7, 8).startOfDay());
    EXPECT_EQ(addedOf("D"), QDate(2021, 1, 21).startOfDay());
    // No date of diagnosis: no date added from the file; the store gives a
    // case saved without one the time of the save.
    EXPECT_GE(addedOf("B"), before);
    EXPECT_LE(addedOf("B"), QDateTime::currentDateTimeUtc());
    const auto restoredB = fetchCases(QStringLiteral("patientID == %@"), {QStringLiteral("B")}).value(0);
    EXPECT_FALSE(restoredB->dateOfDiagnosis().isValid());
}

TEST_F(JSONImporterTest, ARestoreOf120RecordsPostsProgressEveryFiftyAndSavesOnceAtTheEnd)
{
    QString text = QStringLiteral("[");
    for (int i = 0; i < 120; ++i)
        text += QStringLiteral("%1{\"patient_identifier\":\"P%2\",\"sex\":\"v\",\"tags\":\"t%3\"}").arg(i ? "," : "").arg(i).arg(i % 7);
    writeBackup((text + QStringLiteral("]")).toUtf8());
    // Each save that reaches the file is one transaction of its history.
    PersistentStore *store = context()->persistentStore();
    const qsizetype before = store->historySince(0, false).size();
    restore();
    EXPECT_EQ(progress(), (std::vector<Progress>{{1, 100, QStringLiteral("Preparing…")},
                                                 {50, 120, QStringLiteral("Importing…")},
                                                 {100, 120, QStringLiteral("Importing…")},
                                                 {0, 0, std::nullopt}}));
    EXPECT_EQ(store->historySince(0, false).size() - before, 1);
    EXPECT_EQ(allCases().size(), 120);
    EXPECT_EQ(tagLabels().size(), 7);
}

TEST_F(JSONImporterTest, AnUnreadableFileChangesNothingAndNamesTheRecord)
{
    newCase(QStringLiteral("KEEP001"));
    context()->saveWithParent(true);
    writeBackup(R"([{"patient_identifier":"A","sex":"v","tags":""},{"patient_identifier":"B","sex":"v"}])");
    newCase(QStringLiteral("UNSAVED1"));
    LogCapture log;
    JSONImporter::RestoreSummary summary = restore();
    EXPECT_EQ(summary.error, QStringLiteral("case record 2: the key \"tags\" is missing"));
    EXPECT_EQ(summary.casesRead, 0);
    EXPECT_TRUE(log.contains(QStringLiteral("Failed to import from JSON: case record 2: the key \"tags\" is missing"), LogLevel::Error));
    summary = restore(m_directory.filePath("absent.json"));
    EXPECT_FALSE(summary.error.isEmpty());
    QCoreApplication::processEvents();
    EXPECT_EQ(allCases().size(), 2);
    // The user's unsaved edit is neither saved nor lost by a refused file.
    EXPECT_TRUE(context()->hasChanges());
    // The progress shown while the file was read is taken down again.
    EXPECT_EQ(progress(), (std::vector<Progress>{{1, 100, QStringLiteral("Preparing…")},
                                                 {0, 0, std::nullopt},
                                                 {1, 100, QStringLiteral("Preparing…")},
                                                 {0, 0, std::nullopt}}));
}

TEST_F(JSONImporterTest, ADamagedRecordLateInALargeFileRefusesTheWholeRestore)
{
    newCase(QStringLiteral("KEEP001"));
    context()->saveWithParent(true);
    int mainSaves = 0;
    QObject::connect(context(), &ManagedObjectContext::didSave, context(), [&] { ++mainSaves; }, Qt::DirectConnection);
    // Records are made 500 at a time; the damage stands in the seventh batch.
    QStringList records;
    for (int i = 1; i <= 3200; ++i)
        records << QStringLiteral(R"({"patient_identifier":"P%1","sex":"v","tags":"t%2"})").arg(i).arg(i % 7);
    QStringList mistyped = records;
    mistyped[3149] = QStringLiteral(R"({"patient_identifier":"P3150","sex":"v","tags":7})");
    const QString unterminated = QLatin1Char('[') + records.join(QLatin1Char(','));
    const QString bad = QLatin1Char('[') + mistyped.join(QLatin1Char(',')) + QLatin1Char(']');
    const QList<std::pair<QString, QString>> damaged{
        {bad, QStringLiteral("case record 3150: \"tags\" is not a string")},
        {unterminated, QStringLiteral("The file is not valid JSON (unterminated array at offset %1)").arg(unterminated.size())},
        // A damaged end is told before a bad record earlier in the file.
        {bad + QLatin1Char(']'), QStringLiteral("The file is not valid JSON (garbage at the end of the document at offset %1)").arg(bad.size())},
    };
    for (const auto &[text, message] : damaged) {
        writeBackup(text.toUtf8());
        const JSONImporter::RestoreSummary summary = restore();
        EXPECT_EQ(summary.error.toStdString(), message.toStdString());
        EXPECT_EQ(summary.casesRead, 0);
        QCoreApplication::processEvents();
        EXPECT_EQ(allCases().size(), 1);
        EXPECT_EQ(mainSaves, 0);
    }
    for (const Progress &posted : progress())
        EXPECT_NE(posted.label, QStringLiteral("Importing…"));
}

TEST_F(JSONImporterTest, ExportDeleteAllAndRestoreGivesBackEveryCase)
{
    Tag *chest = newTag(QStringLiteral("chest"));
    Tag *rare = newTag(QStringLiteral("Rare ✓"));
    for (int i = 0; i < 30; ++i) {
        Case *item = i == 29 ? context()->insertNew<Case>() : newCase(QStringLiteral("ZZZ%1").arg(1000 + i));
        item->setSex(i % 4);
        item->setDateOfBirth(i % 3 ? at(1950 + i, 1 + i % 12, 1 + i % 28, 23) : QDateTime());
        item->setDateOfDiagnosis(i % 7 ? at(2000 + i % 20, 1 + i % 12, 28 - i % 28, 22) : QDateTime());
        item->setDateAdded(at(2021, 2, 1 + i % 25, 21));
        if (i % 2)
            item->setSummary(QStringLiteral("Summary \"%1\"\nwith a second line").arg(i));
        if (i % 5)
            item->setDetail(QStringLiteral("Detail %1 \\ é").arg(i));
        if (i % 3 == 0)
            item->addToTags(chest);
        if (i % 4 == 0)
            item->addToTags(rare);
        for (int m = 0; m < i % 3; ++m) {
            Media *media = context()->insertNew<Media>();
            media->setFileName(QStringLiteral("file%1.jpg").arg(m));
            media->setOrderIndex(m);
            media->setCreationDate(at(2019, 2, 3 + m, 23));
            media->setItsCase(item);
        }
    }
    context()->saveWithParent(true);
    const QList<EncodedCase> before = records();
    ASSERT_TRUE(JSONImporter(QUrl::fromLocalFile(backupPath())).exportDatabase(context()).error.isEmpty());

    LibraryMaintenance(context()).deleteAllData();
    context()->saveWithParent(true);
    ASSERT_TRUE(allCases().isEmpty());
    restore();
    EXPECT_EQ(records(), before);
}

class MediaExportTest : public JSONImporterTest
{
protected:
    QString destination() const { return m_directory.filePath(QStringLiteral("export")); }

    JSONImporter::MediaExportSummary exportMedia(const QList<Case *> &cases)
    {
        context()->saveWithParent(true);
        QList<ObjectID> ids;
        for (const Case *item : cases)
            ids.append(item->objectID());
        bool done = false;
        JSONImporter::MediaExportSummary result;
        JSONImporter(QUrl::fromLocalFile(destination())).exportMedia(ids, context(), [&](const auto &summary) {
            result = summary;
            done = true;
        });
        waitFor(done);
        return result;
    }

    // Every file below the destination, relative to it, sorted.
    QStringList exported() const
    {
        QStringList files;
        QDir root(destination());
        std::function<void(const QString &)> walk = [&](const QString &path) {
            for (const QFileInfo &info : QDir(path).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
                if (info.isDir())
                    walk(info.filePath());
                else
                    files.append(root.relativeFilePath(info.filePath()));
            }
        };
        walk(destination());
        files.sort();
        return files;
    }
};

TEST_F(MediaExportTest, FoldersAreNamedByIdentifierAndDateAndFilesByPosition)
{
    Case *dated = newCase(QStringLiteral("ABC1234"));
    dated->setDateOfDiagnosis(at(2020, 5, 6));
    dated->addMedia("first", QStringLiteral("one.jpg"));
    Media *missing = dated->addMedia("gone", QStringLiteral("two.png"));
    dated->addMedia("third", QStringLiteral("three.png"));
    Case *slashed = newCase(QStringLiteral("AB/12"));
    slashed->setDateOfDiagnosis(QDateTime());
    slashed->addMedia("x", QStringLiteral("x.gif"));
    Case *noFiles = newCase(QStringLiteral("NOF0000"));
    noFiles->addMedia("y", QStringLiteral("y.jpg"));
    context()->saveWithParent(true);
    QFile::remove(missing->filePath());
    QFile::remove(noFiles->sortedMedia().first()->filePath());
    ASSERT_TRUE(QDir().mkpath(destination() + QStringLiteral("/ABC1234/2020-05-06")));

    const JSONImporter::MediaExportSummary summary = exportMedia({dated, slashed, noFiles});
    EXPECT_EQ(summary.casesExported, 2);
    EXPECT_EQ(summary.filesCopied, 3);
    EXPECT_EQ(summary.casesWithoutFiles, 1);
    const QStringList files = exported();
    ASSERT_EQ(files.size(), 3) << files.join(' ').toStdString();
    // The existing date folder is kept; the copy goes beside it with a suffix.
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^AB-12/[0-9A-F]{8}/00001\\.gif$")).match(files[0]).hasMatch()) << files[0].toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^ABC1234/2020-05-06-[0-9A-F]{8}/00001\\.jpg$")).match(files[1]).hasMatch());
    EXPECT_TRUE(files[2].endsWith(QStringLiteral("/00003.png")));
    EXPECT_FALSE(QFileInfo::exists(destination() + QStringLiteral("/NOF0000")));
    EXPECT_EQ(progress().back(), (Progress{0, 0, std::nullopt}));
    EXPECT_EQ(progress().front(), (Progress{0, 1, QStringLiteral("Preparing…")}));
    EXPECT_TRUE(summary.failures.isEmpty());
}

TEST_F(MediaExportTest, FoldersAndFilesThatCannotBeWrittenAreListedWithTheirReason)
{
    Case *blocked = newCase(QStringLiteral("BLOCKED"));
    blocked->setDateOfDiagnosis(at(2020, 5, 6));
    blocked->addMedia("first", QStringLiteral("one.jpg"));
    Case *fine = newCase(QStringLiteral("FINE"));
    fine->setDateOfDiagnosis(at(2020, 5, 6));
    fine->addMedia("first", QStringLiteral("one.jpg"));
    fine->addMedia("second", QStringLiteral("two.jpg"));
    // A plain file where the first case's folder must go.
    ASSERT_TRUE(QDir().mkpath(destination()));
    QFile file(destination() + QStringLiteral("/BLOCKED"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    const JSONImporter::MediaExportSummary summary = exportMedia({blocked, fine});
    ASSERT_EQ(summary.failures.size(), 1) << summary.failures.join(' ').toStdString();
    EXPECT_TRUE(summary.failures.first().startsWith(destination() + QStringLiteral("/BLOCKED/2020-05-06: ")))
        << summary.failures.first().toStdString();
    EXPECT_EQ(summary.casesExported, 1);
    EXPECT_EQ(summary.filesCopied, 2);
}

TEST_F(MediaExportTest, IdentifiersThatWouldEscapeOrHideStayVisibleInsideTheFolder)
{
    EXPECT_EQ(JSONImporter::folderName(QStringLiteral("..")), QStringLiteral("--"));
    EXPECT_EQ(JSONImporter::folderName(QStringLiteral(".")), QStringLiteral("-"));
    EXPECT_EQ(JSONImporter::folderName(QStringLiteral(".hidden.id")), QStringLiteral("-hidden.id"));
    EXPECT_EQ(JSONImporter::folderName(QStringLiteral("../../etc")), QStringLiteral("---..-etc"));
    EXPECT_EQ(JSONImporter::folderName(QStringLiteral("A.B/C")), QStringLiteral("A.B-C"));

    for (const QString &id : {QStringLiteral(".."), QStringLiteral(".secret"), QString()}) {
        Case *item = id.isNull() ? context()->insertNew<Case>() : newCase(id);
        item->setDateOfDiagnosis(at(2021, 2, 3));
        item->addMedia("data", QStringLiteral("a.jpg"));
    }
    const QList<Case *> cases = allCases();
    ASSERT_TRUE(QDir().mkpath(destination()));
    exportMedia(cases);
    const QStringList files = exported();
    ASSERT_EQ(files.size(), 3) << files.join(' ').toStdString();
    for (const QString &file : files)
        EXPECT_FALSE(file.startsWith(QLatin1Char('.'))) << file.toStdString();
    EXPECT_TRUE(files.contains(QStringLiteral("--/2021-02-03/00001.jpg")));
    EXPECT_TRUE(files.contains(QStringLiteral("-secret/2021-02-03/00001.jpg")));
    EXPECT_TRUE(QDir(m_directory.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).contains(QStringLiteral("export")));
}

} // namespace
} // namespace ovalis::test
