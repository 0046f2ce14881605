#include <QDir>
#include <QFile>

#include "store/LibraryMaintenance.h"
#include "store/PersistentStore.h"
#include "support/StoreFixture.h"
#include "util/Log.h"
#include "util/SerialQueue.h"

using namespace ovalis;
using ovalis::test::StoreFixture;

class LibraryMaintenanceTest : public StoreFixture
{
protected:
    QString writeFile(const QString &relativePath)
    {
        const QString path = m_stack->mediaDirectory() + QLatin1Char('/') + relativePath;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("data");
        return path;
    }
    QString mediaFile(const QString &uuid, const QString &extension)
    {
        return writeFile(QStringLiteral("%1/%2/%3/%4/%5.%6")
                             .arg(uuid.mid(0, 2), uuid.mid(2, 2), uuid.mid(4, 2), uuid.mid(6, 2), uuid, extension));
    }
};

TEST_F(LibraryMaintenanceTest, OrphanRecordsFilesAndFoldersAreCleanedUp)
{
    Case *item = newCase(QStringLiteral("M1"));
    Media *kept = context()->insertNew<Media>();
    kept->setFileName(QStringLiteral("kept.jpg"));
    item->addToMedia(kept);
    Media *orphan = context()->insertNew<Media>();
    orphan->setFileName(QStringLiteral("orphan.jpg"));
    context()->saveWithParent(true);

    const QString keptFile = mediaFile(kept->uuid(), QStringLiteral("png")); // kept whatever the extension
    const QString orphanRecordFile = mediaFile(orphan->uuid(), QStringLiteral("jpg"));
    const QString strayFile = mediaFile(QStringLiteral("QUUXQUUX-0000-0000-0000-000000000000"), QStringLiteral("jpg"));
    const QString metadata = writeFile(QStringLiteral(".DS_Store"));
    QDir().mkpath(m_stack->mediaDirectory() + QStringLiteral("/QQ/RR/SS"));
    writeFile(QStringLiteral("QQ/.hidden"));

    LogCapture capture;
    // The steps of deleteOrphanedMedia, letting the record's file go before the
    // files are scanned so that the two removals do not race.
    LibraryMaintenance maintenance(context());
    maintenance.deleteOrphanedRecords();
    m_stack->fileDeletionQueue()->waitForDone();
    maintenance.deleteOrphanedFiles();
    maintenance.deleteEmptyMediaFolders();
    m_stack->fileDeletionQueue()->waitForDone();

    EXPECT_TRUE(capture.contains(QStringLiteral("Find Media where itsCase == nil")));
    EXPECT_TRUE(capture.contains(QStringLiteral("Media with nil itsCase count: 1")));
    EXPECT_TRUE(orphan->isDeleted());
    EXPECT_TRUE(capture.contains(QStringLiteral("Delete media files with no Media object")));
    EXPECT_TRUE(capture.contains(QStringLiteral("No Media object - delete ") + QUrl::fromLocalFile(strayFile).toString()));
    EXPECT_TRUE(capture.contains(QStringLiteral("No Media object - delete ") + QUrl::fromLocalFile(metadata).toString()));
    EXPECT_TRUE(QFile::exists(keptFile));
    EXPECT_FALSE(QFile::exists(strayFile));
    EXPECT_FALSE(QFile::exists(metadata));
    EXPECT_FALSE(QFile::exists(orphanRecordFile));
    EXPECT_FALSE(QFileInfo::exists(m_stack->mediaDirectory() + QStringLiteral("/QU"))); // its four folders went with it
    EXPECT_TRUE(capture.contains(QStringLiteral("Delete Media folders with no content")));
    EXPECT_TRUE(capture.containsPrefix(QStringLiteral("Empty sub folders: ")));
    // Hidden files are stray files like any other; the folders they leave go too.
    EXPECT_FALSE(QFileInfo::exists(m_stack->mediaDirectory() + QStringLiteral("/QQ")));
    EXPECT_TRUE(QFileInfo::exists(m_stack->mediaDirectory()));
    EXPECT_TRUE(context()->hasChanges()); // nothing saved
}

TEST_F(LibraryMaintenanceTest, FileCleanUpDeletesNothingWhenTheRecordsCannotBeFetched)
{
    Media *media = context()->insertNew<Media>();
    newCase(QStringLiteral("F1"))->addToMedia(media);
    context()->saveWithParent(true);
    const QString file = mediaFile(media->uuid(), QStringLiteral("jpg"));
    m_stack->persistentStore()->setFetchFailureForTesting(QStringLiteral("disk I/O error"));
    LogCapture capture;
    EXPECT_FALSE(LibraryMaintenance(context()).deleteOrphanedFiles());
    m_stack->persistentStore()->setFetchFailureForTesting(QString());
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_TRUE(capture.contains(QStringLiteral("Unable to fetch Media objects - no media files deleted: disk I/O error"),
                                 LogLevel::Error));
    EXPECT_FALSE(capture.containsPrefix(QStringLiteral("No Media object - delete ")));
}

TEST_F(LibraryMaintenanceTest, ReportsCountsAndTags)
{
    Tag *a = newTag(QStringLiteral("b-tag"));
    Tag *b = newTag(QStringLiteral("a-tag"));
    context()->insertNew<Tag>();
    b->setActive(true);
    b->setHasActiveCases(true);
    Case *item = newCase(QStringLiteral("C1"));
    item->addToTags(a);
    item->addToTags(b);
    item->addToMedia(context()->insertNew<Media>());
    LogCapture capture;
    LibraryMaintenance maintenance(context());
    maintenance.logCoreDataCount();
    maintenance.logTags();
    EXPECT_EQ(capture.messages().mid(0, 3),
              (QStringList{QStringLiteral("Cases: 1"), QStringLiteral("Media: 1"), QStringLiteral("Tags: 3")}));
    // Absent labels sort first; an active tag shows the heart and the green dot.
    const QStringList tagLines = capture.messages().mid(3);
    ASSERT_EQ(tagLines.size(), 3);
    EXPECT_EQ(tagLines[0], QStringLiteral("?   - 0"));
    EXPECT_EQ(tagLines[1], QStringLiteral("a-tag \u2764\uFE0F \U0001F7E2 - 1"));
    EXPECT_EQ(tagLines[2], QStringLiteral("b-tag   - 1"));
}

TEST_F(LibraryMaintenanceTest, TagReportShowsLabelsWithPlaceholdersAsTyped)
{
    // Labels that look like placeholders must come out unchanged, and the
    // count must land after the dash, not inside a label.
    Tag *first = newTag(QStringLiteral("%1 follow-up"));
    Tag *last = newTag(QStringLiteral("grade %9 %2"));
    Case *item = newCase(QStringLiteral("P1"));
    item->addToTags(first);
    item->addToTags(last);
    newCase(QStringLiteral("P2"))->addToTags(last);
    LogCapture capture;
    LibraryMaintenance(context()).logTags();
    EXPECT_EQ(capture.messages(), (QStringList{QStringLiteral("%1 follow-up   - 1"), QStringLiteral("grade %9 %2   - 2")}));
}

TEST_F(LibraryMaintenanceTest, DateAddedIsCorrectedOnlyBeyondAYear)
{
    const QDateTime diagnosis(QDate(2020, 3, 1), QTime(12, 0));
    Case *late = newCase(QStringLiteral("L"));
    late->setDateOfDiagnosis(diagnosis);
    late->setDateAdded(diagnosis.addDays(400));
    Case *recent = newCase(QStringLiteral("R"));
    recent->setDateOfDiagnosis(diagnosis);
    recent->setDateAdded(diagnosis.addDays(300));
    Case *undated = newCase(QStringLiteral("U"));
    undated->setDateOfDiagnosis(QDateTime());
    LogCapture capture;
    LibraryMaintenance(context()).correctDateAdded();
    EXPECT_EQ(late->dateAdded(), late->dateOfDiagnosis());
    EXPECT_EQ(recent->dateAdded(), diagnosis.addDays(300));
    EXPECT_TRUE(capture.contains(QStringLiteral("Missing dates: ") + undated->description()));
    const QLocale locale;
    EXPECT_TRUE(capture.contains(QStringLiteral("Correcting dates - Diagnosed: %1 | Added: %2")
                                     .arg(locale.toString(diagnosis.date(), QLocale::ShortFormat),
                                          locale.toString(diagnosis.addDays(400).date(), QLocale::ShortFormat))));
    EXPECT_EQ(capture.countPrefix(QStringLiteral("Correcting dates")), 1);
}

TEST_F(LibraryMaintenanceTest, DeleteAllDataEmptiesTheLibraryAfterASaveAndResetHistoryPurges)
{
    Case *item = newCase(QStringLiteral("X"));
    item->addToTags(newTag(QStringLiteral("T")));
    item->addToMedia(context()->insertNew<Media>());
    context()->insertNew<Media>();
    context()->saveWithParent(true);
    LibraryMaintenance maintenance(context());
    maintenance.deleteAllData();
    EXPECT_EQ(context()->countOfObjects(Case::entityName()), 0);
    EXPECT_EQ(openSecondStack()->mainContext()->countOfObjects(Case::entityName()), 1); // not saved yet

    LogCapture capture;
    maintenance.resetCloudKitHistory();
    EXPECT_TRUE(capture.contains(QStringLiteral("Purge all history")));
    EXPECT_TRUE(capture.contains(QStringLiteral("Successfully purged all history"), LogLevel::Error));
    EXPECT_TRUE(m_stack->persistentStore()->historySince(0, false).isEmpty());
    auto other = openSecondStack();
    for (const QString &entity : {Case::entityName(), Tag::entityName(), Media::entityName()})
        EXPECT_EQ(other->mainContext()->countOfObjects(entity), 0);
}
