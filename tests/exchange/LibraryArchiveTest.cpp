#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ExchangeFixture.h"
#include "exchange/LibraryArchive.h"
#include "store/Case.h"
#include "store/Media.h"

using namespace ovalis;

namespace {

class LibraryArchiveTest : public test::ExchangeFixture
{
protected:
    void SetUp() override
    {
        ExchangeFixture::SetUp();
        Case *item = newCase(QStringLiteral("ARC1"), QStringLiteral("Fracture"));
        item->addMedia(QByteArray(2 * 1024 * 1024 + 3, 'a'), QStringLiteral("first.jpg"));
        item->addMedia(QByteArray(1024 * 1024, 'b'), QStringLiteral("second.jpg"));
        context()->saveWithParent(true);
    }

    QString archivePath() const { return m_directory.filePath(QStringLiteral("out/library.tar")); }
    QStringList filesBesideArchive() const
    {
        return QDir(m_directory.filePath(QStringLiteral("out"))).entryList(QDir::Files | QDir::Hidden);
    }
};

TEST_F(LibraryArchiveTest, ProgressReachesTheTotalAndACancelLeavesTheOldFileAlone)
{
    ASSERT_TRUE(QDir().mkpath(m_directory.filePath(QStringLiteral("out"))));
    std::vector<std::pair<qint64, qint64>> steps;
    const LibraryArchive::Result written = LibraryArchive::write(context(), archivePath(), [&](qint64 done, qint64 total) {
        steps.emplace_back(done, total);
        return true;
    });
    ASSERT_TRUE(written.succeeded()) << written.error.toStdString();
    EXPECT_EQ(written.files, 2);
    ASSERT_FALSE(steps.empty());
    for (size_t i = 1; i < steps.size(); ++i)
        EXPECT_GT(steps[i].first, steps[i - 1].first);
    EXPECT_EQ(steps.back().first, steps.back().second);
    EXPECT_GT(steps.back().second, 3 * 1024 * 1024);
    const QByteArray complete = [&] {
        QFile file(archivePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();

    // Cancelled halfway: the earlier archive stays as it was, and no partial file is left.
    int calls = 0;
    const LibraryArchive::Result cancelled = LibraryArchive::write(context(), archivePath(), [&](qint64, qint64) { return ++calls < 3; });
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_TRUE(cancelled.error.isEmpty()) << cancelled.error.toStdString();
    EXPECT_EQ(filesBesideArchive(), QStringList{QStringLiteral("library.tar")});
    QFile file(archivePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), complete);
}

TEST_F(LibraryArchiveTest, AFileDeletedWhileTheBackupRunsIsLeftOutAndTheBackupCompletes)
{
    ASSERT_TRUE(QDir().mkpath(m_directory.filePath(QStringLiteral("out"))));
    const QList<Media *> media = fetchCases(QStringLiteral("patientID == %@"), {QStringLiteral("ARC1")}).first()->sortedMedia();
    ASSERT_EQ(media.size(), 2);
    const QString deleted = media.last()->filePath();
    // Deleted once the files are listed, while the records go in.
    int calls = 0;
    const LibraryArchive::Result written = LibraryArchive::write(context(), archivePath(), [&](qint64, qint64) {
        if (++calls == 2)
            EXPECT_TRUE(QFile::remove(deleted));
        return true;
    });
    ASSERT_TRUE(written.succeeded()) << written.error.toStdString();
    EXPECT_EQ(written.files, 1);
    ASSERT_FALSE(QFileInfo::exists(deleted));

    // The archive is whole: every member matches its manifest.
    const LibraryArchive::Result restored = LibraryArchive::restore(archivePath(), context());
    ASSERT_TRUE(restored.succeeded()) << restored.error.toStdString();
    EXPECT_EQ(restored.files, 0);
    EXPECT_EQ(restored.cases, 1);
}

TEST_F(LibraryArchiveTest, RestoringIntoTheSameLibraryAddsTheCasesAndKeepsTheirFiles)
{
    ASSERT_TRUE(QDir().mkpath(m_directory.filePath(QStringLiteral("out"))));
    ASSERT_TRUE(LibraryArchive::write(context(), archivePath()).succeeded());
    const LibraryArchive::Result again = LibraryArchive::restore(archivePath(), context());
    ASSERT_TRUE(again.succeeded()) << again.error.toStdString();
    EXPECT_EQ(again.files, 0); // the library holds every file already

    // One file lost from a folder the library keeps, the other with its
    // folder: both come back as they were, beside what the folders hold.
    const QList<Media *> media = fetchCases(QStringLiteral("patientID == %@"), {QStringLiteral("ARC1")}).first()->sortedMedia();
    ASSERT_EQ(media.size(), 2);
    QMap<QString, QByteArray> original;
    for (const Media *item : media) {
        QFile file(item->filePath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        original.insert(item->filePath(), file.readAll());
    }
    const QString kept = QFileInfo(media.first()->filePath()).path() + QStringLiteral("/kept.jpg");
    ASSERT_TRUE(QFile::copy(media.first()->filePath(), kept));
    ASSERT_TRUE(QFile::remove(media.first()->filePath()));
    ASSERT_TRUE(QDir(QFileInfo(media.last()->filePath()).path()).removeRecursively());
    const LibraryArchive::Result restored = LibraryArchive::restore(archivePath(), context());
    ASSERT_TRUE(restored.succeeded()) << restored.error.toStdString();
    EXPECT_EQ(restored.cases, 1);
    EXPECT_EQ(restored.files, QFileInfo::exists(kept) ? 2 : 1);
    EXPECT_TRUE(QFileInfo::exists(kept));
    for (auto it = original.cbegin(); it != original.cend(); ++it) {
        QFile file(it.key());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << it.key().toStdString();
        EXPECT_EQ(file.readAll(), it.value());
    }
    const QList<Case *> cases = fetchCases(QStringLiteral("patientID == %@"), {QStringLiteral("ARC1")});
    ASSERT_EQ(cases.size(), 3);
    for (const Case *item : cases) {
        ASSERT_EQ(item->sortedMedia().size(), 2);
        for (const Media *media : item->sortedMedia())
            EXPECT_TRUE(media->fileExists()) << media->description().toStdString();
    }
}

TEST_F(LibraryArchiveTest, AStagingFolderLeftByAKilledRestoreGoesWithTheNextRestore)
{
    ASSERT_TRUE(QDir().mkpath(m_directory.filePath(QStringLiteral("out"))));
    ASSERT_TRUE(LibraryArchive::write(context(), archivePath()).succeeded());
    const auto leaveStaging = [&](const QString &name, const QByteArray &owner) {
        const QString folder = libraryPath() + u'/' + name;
        EXPECT_TRUE(QDir().mkpath(folder + QStringLiteral("/sub")));
        QFile unpacked(folder + QStringLiteral("/0"));
        EXPECT_TRUE(unpacked.open(QIODevice::WriteOnly));
        unpacked.write("unpacked bytes");
        if (!owner.isNull()) {
            QFile file(folder + QStringLiteral("/owner"));
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(owner);
        }
        return folder;
    };
    // A process that has ended, one still running (this one), and a folder
    // whose owner nobody recorded.
    const pid_t ended = ::fork();
    if (ended == 0)
        ::_exit(0);
    ASSERT_GT(ended, 0);
    ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
    const QString abandoned = leaveStaging(QStringLiteral(".restore-gone"), QByteArray::number(qint64(ended)));
    const QString running = leaveStaging(QStringLiteral(".restore-live"), QByteArray::number(qint64(::getpid())));
    const QString unknown = leaveStaging(QStringLiteral(".restore-unknown"), QByteArray());

    const LibraryArchive::Result restored = LibraryArchive::restore(archivePath(), context());
    ASSERT_TRUE(restored.succeeded()) << restored.error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(abandoned));
    EXPECT_TRUE(QFileInfo::exists(running + QStringLiteral("/0")));
    EXPECT_TRUE(QFileInfo::exists(unknown + QStringLiteral("/0")));
    // The restore's own staging folder is gone too.
    EXPECT_EQ(QDir(libraryPath()).entryList({QStringLiteral(".restore-*")}, QDir::Dirs | QDir::Hidden).size(), 2);
}

// The manifest's digests are those any SHA-256 tool gives for the library's
// own files: the archive is checked by standard tools too, not only by the
// program that wrote it.
TEST_F(LibraryArchiveTest, TheManifestListsEachFileWithItsSizeAndStandardDigest)
{
    ASSERT_TRUE(QDir().mkpath(m_directory.filePath(QStringLiteral("out"))));
    ASSERT_TRUE(LibraryArchive::write(context(), archivePath()).succeeded());
    std::unique_ptr<archive, int (*)(archive *)> reader(archive_read_new(), archive_read_free);
    archive_read_support_format_tar(reader.get());
    ASSERT_EQ(archive_read_open_filename(reader.get(), QFile::encodeName(archivePath()).constData(), 65536), ARCHIVE_OK);
    QByteArray manifestBytes;
    archive_entry *entry = nullptr;
    while (archive_read_next_header(reader.get(), &entry) == ARCHIVE_OK) {
        if (QString::fromUtf8(archive_entry_pathname(entry)) != LibraryArchive::manifestMember)
            continue;
        char buffer[65536];
        for (la_ssize_t count; (count = archive_read_data(reader.get(), buffer, sizeof buffer)) > 0;)
            manifestBytes.append(buffer, count);
    }
    const QJsonArray files = QJsonDocument::fromJson(manifestBytes)[QStringLiteral("files")].toArray();
    QHash<QString, QJsonObject> listed;
    for (const QJsonValue &file : files)
        listed.insert(file[QStringLiteral("path")].toString(), file.toObject());

    const QString mediaDirectory = context()->stack()->mediaDirectory();
    int checked = 0;
    for (const Media *media : fetchCases(QStringLiteral("patientID == %@"), {QStringLiteral("ARC1")}).value(0)->sortedMedia()) {
        QFile file(media->filePath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const QJsonObject row = listed.value(QStringLiteral("Media/") + QDir(mediaDirectory).relativeFilePath(media->filePath()));
        EXPECT_EQ(row[QStringLiteral("size")].toInteger(), bytes.size());
        EXPECT_EQ(row[QStringLiteral("sha256")].toString().toStdString(),
                  QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString());
        ++checked;
    }
    EXPECT_EQ(checked, 2);
}

} // namespace
