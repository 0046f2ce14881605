#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSemaphore>
#include <gtest/gtest.h>

#include "store/MediaFileStore.h"
#include "store/UndoFileFolder.h"
#include "support/EncodedImage.h"
#include "support/StoreFixture.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/SerialQueue.h"
#include "util/UndoRegistrationPause.h"

using namespace ovalis;

namespace {

const QString uuidA = QStringLiteral("0A1B2C3D-1111-4222-8333-444455556666");
const QString uuidB = QStringLiteral("0A1B2C3E-1111-4222-8333-444455556666");

class MediaRecordFileTest : public test::StoreFixture
{
protected:
    QString mediaPath(const QString &relative) const { return libraryPath() + QStringLiteral("/Media/") + relative; }

    Media *newMedia(Case *item, const QString &uuid, const QString &fileName, int orderIndex = 0)
    {
        Media *media = context()->insertNew<Media>();
        if (!uuid.isEmpty())
            media->setUuid(uuid);
        media->setFileName(fileName);
        media->setOrderIndex(orderIndex);
        item->addToMedia(media);
        return media;
    }

    Media *newMediaWithFile(Case *item, const QString &uuid, const QString &fileName, const QByteArray &data, int orderIndex = 0)
    {
        Media *media = newMedia(item, uuid, fileName, orderIndex);
        const QUrl url = *media->fileURL();
        EXPECT_TRUE(MediaFileStore::createDirectory(MediaFileStore::folderURL(url)));
        EXPECT_TRUE(MediaFileStore::writeDataAtomically(data, url));
        return media;
    }

    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static QByteArray encoded(const QColor &color, const char *format, QSize size = QSize(40, 30))
    {
        return test::encodedImage(size, color, format);
    }

    static bool near(const QColor &a, const QColor &b)
    {
        return qAbs(a.red() - b.red()) < 16 && qAbs(a.green() - b.green()) < 16 && qAbs(a.blue() - b.blue()) < 16;
    }
};

} // namespace

TEST_F(MediaRecordFileTest, FileLocationFollowsTheUuidFolders)
{
    Case *item = newCase(QStringLiteral("P1"));
    Media *media = newMedia(item, uuidA, QStringLiteral("x.png"));
    EXPECT_EQ(MediaFileStore::mediaDirectoryURL(*m_stack), QUrl::fromLocalFile(libraryPath() + QStringLiteral("/Media")));
    EXPECT_EQ(media->fileURL(), QUrl::fromLocalFile(mediaPath(QStringLiteral("0A/1B/2C/3D/") + uuidA + QStringLiteral(".png"))));
    EXPECT_EQ(media->filePath(), mediaPath(QStringLiteral("0A/1B/2C/3D/") + uuidA + QStringLiteral(".png")));

    LogCapture capture;
    EXPECT_FALSE(media->fileExists());
    EXPECT_FALSE(media->existingFileURL());
    EXPECT_TRUE(media->image().isNull());
    EXPECT_EQ(capture.countPrefix(QStringLiteral("Unable to create URL: ")), 0);
    ASSERT_TRUE(MediaFileStore::createDirectory(MediaFileStore::folderURL(*media->fileURL())));
    ASSERT_TRUE(MediaFileStore::writeDataAtomically("png", *media->fileURL()));
    EXPECT_TRUE(media->fileExists());
    EXPECT_EQ(media->existingFileURL(), media->fileURL());
    EXPECT_TRUE(media->image().isNull()); // not an image

    // The extension keeps the letter case of the name the file was added under.
    media->setFileName(QStringLiteral("scan 3.JPG"));
    EXPECT_EQ(media->filePath(), mediaPath(QStringLiteral("0A/1B/2C/3D/") + uuidA + QStringLiteral(".JPG")));

    media->setFileName(QString());
    EXPECT_FALSE(media->fileURL());
    EXPECT_EQ(media->filePath(), QString());
    EXPECT_FALSE(media->fileExists());
    EXPECT_TRUE(capture.contains(QStringLiteral("Unable to create URL: #0 ? (0A/1B/2C/3D)")));

    Media *withoutUuid = newMedia(item, QString(), QStringLiteral("x.png"), 4);
    withoutUuid->setUuid(QString());
    EXPECT_FALSE(withoutUuid->fileURL());
    EXPECT_FALSE(withoutUuid->existingFileURL());
    EXPECT_TRUE(capture.contains(QStringLiteral("Unable to create URL: #4 x.png (?)")));
}

TEST_F(MediaRecordFileTest, OnlyAUuidInItsTextFormEverBecomesAFilePath)
{
    const QUrl media = MediaFileStore::mediaDirectoryURL(*m_stack);
    for (const QString &id : {QStringLiteral("..-secret"), QStringLiteral("../../etc/passwd"), QStringLiteral("0A1B2C3D"),
                              QStringLiteral("0A1B2C3D-1111-4222-8333-44445555666"), uuidA + QStringLiteral("/.."),
                              QStringLiteral("0A1B2C3D_1111-4222-8333-444455556666"), QStringLiteral("0A1B2C3G-1111-4222-8333-444455556666")})
        EXPECT_TRUE(MediaFileStore::mediaFileURL(media, id, QStringLiteral("jpg")).isEmpty()) << id.toStdString();
    // Either letter case is a uuid.
    EXPECT_EQ(MediaFileStore::mediaFileURL(media, uuidA.toLower(), QStringLiteral("jpg")),
              QUrl::fromLocalFile(mediaPath(QStringLiteral("0a/1b/2c/3d/") + uuidA.toLower() + QStringLiteral(".jpg"))));

    // A record that came with a hostile identifier: the path its uuid would
    // name lies outside the media directory, and a file is there.
    const QString outside = libraryPath() + QStringLiteral("/..-secret.jpg");
    ASSERT_TRUE(MediaFileStore::writeDataAtomically("secret", QUrl::fromLocalFile(outside)));
    Case *item = newCase(QStringLiteral("P1"));
    Media *hostile = newMedia(item, QStringLiteral("..-secret"), QStringLiteral("x.jpg"));
    context()->saveWithParent(true);

    LogCapture capture;
    EXPECT_FALSE(hostile->fileURL());
    EXPECT_FALSE(hostile->fileExists());
    EXPECT_TRUE(hostile->image().isNull());
    EXPECT_TRUE(capture.contains(QStringLiteral("Unable to create URL: ") + hostile->description()));
    const QString exportFolder = m_directory.filePath(QStringLiteral("export"));
    const std::optional<QUrl> exported = item->exportMediaFiles(QUrl::fromLocalFile(exportFolder));
    ASSERT_TRUE(exported);
    EXPECT_FALSE(hostile->exportFile(*exported, 1));
    EXPECT_TRUE(QDir(exported->toLocalFile()).entryList(QDir::Files).isEmpty());
    EXPECT_FALSE(hostile->overwriteImage(QImage(4, 4, QImage::Format_RGB32)));

    context()->deleteObject(item);
    context()->saveWithParent(true);
    m_stack->fileDeletionQueue()->waitForDone();
    EXPECT_EQ(read(outside), QByteArray("secret"));
}

TEST_F(MediaRecordFileTest, AddMediaRenumbersWritesTheFileAndAnnouncesIt)
{
    Case *item = newCase(QStringLiteral("P1"));
    Media *first = newMedia(item, QString(), QStringLiteral("a.jpg"), 0);
    Media *second = newMedia(item, QString(), QStringLiteral("b.jpg"), 5);
    Media *third = newMedia(item, QString(), QStringLiteral("c.jpg"), 5);
    int announced = 0;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("Updated Media"), nullptr, [&](const Notification &) { ++announced; });

    const QByteArray data = encoded(Qt::green, "JPEG");
    Media *added = item->addMedia(data, QStringLiteral("scan 3.JPG"));
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(first->orderIndex(), 0);
    EXPECT_EQ(second->orderIndex() + third->orderIndex(), 3); // 1 and 2, in the set's order
    EXPECT_NE(second->orderIndex(), third->orderIndex());
    EXPECT_EQ(added->orderIndex(), 3);
    EXPECT_EQ(added->itsCase(), item);
    EXPECT_EQ(added->fileName(), QStringLiteral("scan 3.JPG"));
    EXPECT_TRUE(added->filePath().endsWith(added->uuid() + QStringLiteral(".JPG")));
    EXPECT_EQ(read(added->filePath()), data);
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(item->sortedMedia().constLast(), added);
    // Nothing but the file itself is left in its folder.
    EXPECT_EQ(QDir(QFileInfo(added->filePath()).path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QFileInfo(added->filePath()).fileName()});
}

TEST_F(MediaRecordFileTest, AddMediaKeepsTheRecordWhenTheFileCannotBeWritten)
{
    Case *item = newCase(QStringLiteral("P1"));
    int announced = 0;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("Updated Media"), nullptr, [&](const Notification &) { ++announced; });
    LogCapture capture;

    Media *unnamed = item->addMedia("data", QString());
    ASSERT_NE(unnamed, nullptr);
    EXPECT_TRUE(capture.contains(QStringLiteral("Unable to get url for new media"), LogLevel::Error));

    // A file where the media directory should be makes every folder creation fail.
    QFile blocker(libraryPath() + QStringLiteral("/Media"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Media *unwritten = item->addMedia("data", QStringLiteral("scan.jpg"));
    ASSERT_NE(unwritten, nullptr);
    EXPECT_TRUE(capture.contains(QStringLiteral("Unable to write data for scan.jpg")));
    EXPECT_EQ(item->media().size(), 2);
    EXPECT_EQ(unwritten->orderIndex(), 1);
    EXPECT_FALSE(QFileInfo::exists(unwritten->filePath()));
    EXPECT_EQ(announced, 0);

    Case *gone = newCase(QStringLiteral("P2"));
    context()->saveWithParent(true);
    context()->deleteObject(gone);
    context()->saveWithParent(true);
    ASSERT_EQ(gone->managedObjectContext(), nullptr);
    EXPECT_EQ(gone->addMedia("data", QStringLiteral("x.jpg")), nullptr);
}

TEST_F(MediaRecordFileTest, DuplicateMediaCopiesTheFileOrLeavesNoRecord)
{
    Case *source = newCase(QStringLiteral("P1"));
    Case *target = newCase(QStringLiteral("P2"), QStringLiteral("Target"));
    Media *original = newMediaWithFile(source, uuidA, QStringLiteral("x.png"), "content", 3);

    Media *copy = target->duplicateMedia(original, 7);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->uuid(), uuidA);
    EXPECT_EQ(copy->fileName(), QStringLiteral("x.png"));
    EXPECT_EQ(copy->orderIndex(), 7);
    EXPECT_EQ(copy->itsCase(), target);
    EXPECT_EQ(read(copy->filePath()), QByteArray("content"));
    EXPECT_EQ(read(original->filePath()), QByteArray("content"));

    Media *named = target->duplicateMedia(original, 8, uuidB);
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(named->uuid(), uuidB);
    EXPECT_EQ(named->filePath(), mediaPath(QStringLiteral("0A/1B/2C/3E/") + uuidB + QStringLiteral(".png")));
    EXPECT_EQ(read(named->filePath()), QByteArray("content"));

    LogCapture capture;
    Media *missing = newMedia(source, QString(), QStringLiteral("gone.jpg"), 4);
    EXPECT_EQ(target->duplicateMedia(missing, 9), nullptr);
    EXPECT_TRUE(capture.contains(QStringLiteral("Unable to find media file to duplicate: ") + target->description()));

    // Copying onto the file of an existing record fails; that file survives the failed copy's record.
    const int before = int(target->media().size());
    const int inserted = int(context()->insertedObjects().size());
    EXPECT_EQ(target->duplicateMedia(original, 9, uuidA), nullptr);
    EXPECT_EQ(capture.countPrefix(QStringLiteral("Error duplicating URL: ") + original->fileURL()->toString(QUrl::FullyEncoded)
                                  + QLatin1Char(' ')),
              1);
    EXPECT_EQ(capture.entries().constLast().level, LogLevel::Error);
    EXPECT_EQ(target->media().size(), before);
    EXPECT_EQ(context()->insertedObjects().size(), inserted);
    m_stack->fileDeletionQueue()->waitForDone();
    EXPECT_EQ(read(original->filePath()), QByteArray("content"));
}

TEST_F(MediaRecordFileTest, OverwriteImageReplacesTheFileByAUuidNamedJpeg)
{
    Case *item = newCase(QStringLiteral("P1"));
    Media *png = newMediaWithFile(item, uuidA, QStringLiteral("x.png"), encoded(Qt::red, "PNG"), 2);
    const QString pngPath = png->filePath();
    QImage crop(20, 10, QImage::Format_RGB32);
    crop.fill(Qt::blue);

    LogCapture capture;
    ASSERT_TRUE(png->overwriteImage(crop));
    const QString jpegPath = mediaPath(QStringLiteral("0A/1B/2C/3D/") + uuidA + QStringLiteral(".jpg"));
    EXPECT_FALSE(QFileInfo::exists(pngPath));
    EXPECT_EQ(png->fileName(), uuidA + QStringLiteral(".jpg"));
    EXPECT_EQ(png->filePath(), jpegPath);
    QImageReader reader(jpegPath);
    EXPECT_EQ(reader.format(), QByteArray("jpeg"));
    EXPECT_EQ(reader.size(), QSize(20, 10));
    EXPECT_EQ(capture.messages(), (QStringList{QStringLiteral("Remove image at ") + pngPath,
                                               QStringLiteral("Overwrite cropped image to ") + jpegPath,
                                               QStringLiteral("Write image to ") + jpegPath,
                                               QStringLiteral("Set file name for #2 x.png (0A/1B/2C/3D) to ") + uuidA + QStringLiteral(".jpg")}));

    Media *added = item->addMedia(encoded(Qt::red, "JPEG"), QStringLiteral("scan 3.JPG"));
    const QString addedPath = added->filePath();
    ASSERT_TRUE(added->overwriteImage(crop));
    EXPECT_EQ(added->fileName(), added->uuid() + QStringLiteral(".jpg"));
    EXPECT_FALSE(QFileInfo::exists(addedPath));
    EXPECT_TRUE(near(added->image().pixelColor(5, 5), Qt::blue));

    // Without a file there is nothing to replace, and nothing is written.
    MediaWriteError error;
    Media *fileless = newMedia(item, uuidB, QStringLiteral("y.png"), 3);
    EXPECT_FALSE(fileless->overwriteImage(crop, &error));
    EXPECT_FALSE(error.message().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(mediaPath(QStringLiteral("0A/1B/2C/3E/") + uuidB + QStringLiteral(".jpg"))));
    EXPECT_EQ(fileless->fileName(), QStringLiteral("y.png"));
    fileless->setFileName(QString());
    EXPECT_FALSE(fileless->overwriteImage(crop, &error));
    EXPECT_EQ(error.message(), QStringLiteral("Unable to get Media file URL"));
}

TEST_F(MediaRecordFileTest, RestoringBackupsAlternatesUndoAndRedo)
{
    Case *item = newCase(QStringLiteral("P1"));

    // Same extension: the two files trade places.
    Media *same = newMediaWithFile(item, uuidA, QStringLiteral("x.jpg"), "before edit");
    QUrl backup = m_stack->undoFiles().makeBackupURL(*same->fileURL());
    ASSERT_TRUE(MediaFileStore::backupMediaFile(*same->fileURL(), backup));
    ASSERT_TRUE(MediaFileStore::writeDataAtomically("after edit", *same->fileURL()));
    for (int round = 0; round < 4; ++round) {
        LogCapture capture;
        const std::optional<QUrl> next = same->restoreFromBackup(*same->fileURL(), backup);
        ASSERT_TRUE(next);
        EXPECT_EQ(*next, backup);
        EXPECT_TRUE(capture.contains(QStringLiteral("Restoring from\r\t") + backup.toLocalFile() + QStringLiteral(" to\r\t")
                                     + same->filePath()));
        const bool undone = round % 2 == 0;
        EXPECT_EQ(read(same->filePath()), QByteArray(undone ? "before edit" : "after edit"));
        EXPECT_EQ(read(next->toLocalFile()), QByteArray(undone ? "after edit" : "before edit"));
        EXPECT_EQ(same->fileName(), uuidA + QStringLiteral(".jpg"));
        backup = *next;
    }
    EXPECT_EQ(QDir(QFileInfo(backup.toLocalFile()).path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // A .png backup over a .jpg file: the record's file becomes the .png, the
    // .jpg content goes to the backup path with .jpg.
    Media *changing = newMediaWithFile(item, uuidB, QStringLiteral("scan.jpg"), "jpeg content", 1);
    const QUrl jpegURL = *changing->fileURL();
    const QUrl pngURL = MediaFileStore::urlWithExtension(jpegURL, QStringLiteral("png"));
    QUrl other = MediaFileStore::urlWithExtension(m_stack->undoFiles().makeBackupURL(jpegURL), QStringLiteral("png"));
    ASSERT_TRUE(MediaFileStore::createDirectory(MediaFileStore::folderURL(other)));
    ASSERT_TRUE(MediaFileStore::writeDataAtomically("png content", other));
    for (int round = 0; round < 4; ++round) {
        const bool toPng = round % 2 == 0;
        const std::optional<QUrl> next = changing->restoreFromBackup(*changing->fileURL(), other);
        ASSERT_TRUE(next);
        EXPECT_EQ(*next, MediaFileStore::urlWithExtension(other, toPng ? QStringLiteral("jpg") : QStringLiteral("png")));
        EXPECT_EQ(changing->fileName(), uuidB + (toPng ? QStringLiteral(".png") : QStringLiteral(".jpg")));
        EXPECT_EQ(*changing->fileURL(), toPng ? pngURL : jpegURL);
        EXPECT_EQ(read(changing->filePath()), QByteArray(toPng ? "png content" : "jpeg content"));
        EXPECT_FALSE(QFileInfo::exists((toPng ? jpegURL : pngURL).toLocalFile()));
        EXPECT_EQ(read(next->toLocalFile()), QByteArray(toPng ? "jpeg content" : "png content"));
        EXPECT_FALSE(QFileInfo::exists(other.toLocalFile()));
        EXPECT_EQ(QDir(QFileInfo(other.toLocalFile()).path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
        other = *next;
    }

    LogCapture capture;
    MediaWriteError error;
    const QUrl missing = m_stack->undoFiles().makeBackupURL(jpegURL);
    EXPECT_FALSE(changing->restoreFromBackup(*changing->fileURL(), missing, &error));
    EXPECT_FALSE(error.message().isEmpty());
    EXPECT_TRUE(capture.contains(QStringLiteral("Unable to restore file from ") + missing.toLocalFile() + QStringLiteral(": ")
                                     + error.message(),
                                 LogLevel::Error));
    EXPECT_EQ(changing->fileName(), uuidB + QStringLiteral(".jpg"));
    QDir(QFileInfo(backup.toLocalFile()).path()).removeRecursively();
    QDir(QFileInfo(other.toLocalFile()).path()).removeRecursively();
}

TEST_F(MediaRecordFileTest, ExportedFilesAreNumberedInOrderIndexOrder)
{
    Case *item = newCase(QStringLiteral("P1"));
    newMediaWithFile(item, QString(), QStringLiteral("third.png"), "png", 2);
    newMediaWithFile(item, QString(), QStringLiteral("first.jpg"), "jpg", 0);
    newMediaWithFile(item, QString(), QStringLiteral("second"), "plain", 1);
    newMedia(item, QString(), QStringLiteral("missing.jpg"), 3);
    const QString base = m_directory.filePath(QStringLiteral("export/Case"));

    LogCapture capture;
    const std::optional<QUrl> folder = item->exportMediaFiles(QUrl::fromLocalFile(base));
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->toLocalFile(), base);
    EXPECT_EQ(QDir(base).entryList(QDir::Files),
              (QStringList{QStringLiteral("00001.jpg"), QStringLiteral("00002.jpg"), QStringLiteral("00003.png")}));
    EXPECT_EQ(read(base + QStringLiteral("/00001.jpg")), QByteArray("jpg"));
    EXPECT_EQ(read(base + QStringLiteral("/00002.jpg")), QByteArray("plain"));
    EXPECT_EQ(read(base + QStringLiteral("/00003.png")), QByteArray("png"));
    EXPECT_EQ(capture.count(QStringLiteral("Unknown file extension - use jpg")), 1);

    const std::optional<QUrl> again = item->exportMediaFiles(QUrl::fromLocalFile(base + QLatin1Char('/')));
    ASSERT_TRUE(again);
    static const QRegularExpression renamed(QStringLiteral("^Case-[0-9A-F]{8}$"));
    EXPECT_TRUE(renamed.match(MediaFileStore::lastPathComponent(*again)).hasMatch()) << again->toString().toStdString();
    EXPECT_EQ(MediaFileStore::folderURL(*again), MediaFileStore::folderURL(*folder));
    EXPECT_EQ(QDir(again->toLocalFile()).entryList(QDir::Files).size(), 3);

    Media *first = item->sortedMedia().constFirst();
    capture.clear();
    EXPECT_FALSE(first->exportFile(QUrl::fromLocalFile(base), 0));
    EXPECT_EQ(capture.countPrefix(QStringLiteral("Unable to copy file from ") + first->filePath() + QStringLiteral(" to ") + base
                                  + QStringLiteral("/00001.jpg: ")),
              1);
    EXPECT_EQ(capture.entries().constLast().level, LogLevel::Error);
    EXPECT_EQ(read(base + QStringLiteral("/00001.jpg")), QByteArray("jpg"));
    EXPECT_TRUE(first->exportFile(QUrl::fromLocalFile(base), 99));
    EXPECT_EQ(read(base + QStringLiteral("/00100.jpg")), QByteArray("jpg"));

    capture.clear();
    const QString blocked = base + QStringLiteral("/00001.jpg/inner");
    EXPECT_FALSE(item->exportMediaFiles(QUrl::fromLocalFile(blocked)));
    EXPECT_EQ(capture.countPrefix(QStringLiteral("Unable to create directory at ") + blocked + QStringLiteral(" [")), 1);
    EXPECT_EQ(capture.entries().constLast().level, LogLevel::Error);
}

TEST_F(MediaRecordFileTest, DeletingMediaRemovesTheFileAndItsEmptiedFoldersOnTheQueue)
{
    // Deletions that cannot be undone.
    UndoRegistrationPause pause(context()->undoManager());
    Case *item = newCase(QStringLiteral("P1"));
    Media *a = newMediaWithFile(item, uuidA, QStringLiteral("a.jpg"), "a");
    Media *b = newMediaWithFile(item, uuidB, QStringLiteral("b.jpg"), "b");
    QFile hidden(mediaPath(QStringLiteral("0A/1B/2C/3D/.hidden")));
    ASSERT_TRUE(hidden.open(QIODevice::WriteOnly));
    hidden.close();
    const QString other = mediaPath(QStringLiteral("FF/EE/DD/CC/FFEEDDCC.jpg"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(other).path()));
    ASSERT_TRUE(MediaFileStore::writeDataAtomically("other", QUrl::fromLocalFile(other)));
    context()->saveWithParent(true);

    LogCapture capture;
    context()->deleteObject(a);
    m_stack->fileDeletionQueue()->waitForDone();
    EXPECT_FALSE(QFileInfo::exists(mediaPath(QStringLiteral("0A/1B/2C/3D"))));
    EXPECT_TRUE(QFileInfo::exists(b->filePath()));

    // The last file of the four-level folder takes the four folders with it.
    context()->deleteObject(b);
    m_stack->fileDeletionQueue()->waitForDone();
    EXPECT_FALSE(QFileInfo::exists(mediaPath(QStringLiteral("0A"))));
    EXPECT_TRUE(QFileInfo::exists(other));
    EXPECT_EQ(capture.countPrefix(QStringLiteral("Recursively delete empty folders at ")), 2);
    EXPECT_EQ(capture.countPrefix(QStringLiteral("Error deleting URL: ")), 0);

    // Records without a file schedule nothing; without a location they say so.
    capture.clear();
    context()->deleteObject(newMedia(item, QString(), QStringLiteral("never written.jpg")));
    Media *unnamed = newMedia(item, uuidA, QString());
    context()->deleteObject(unnamed);
    m_stack->fileDeletionQueue()->waitForDone();
    EXPECT_EQ(capture.countPrefix(QStringLiteral("Recursively delete empty folders at ")), 0);
    EXPECT_TRUE(capture.contains(QStringLiteral("Unable to create media URL for deletion: #0 ? (0A/1B/2C/3D)")));
}

TEST_F(MediaRecordFileTest, FileRemovalErrorsAreLoggedOnTheQueue)
{
    UndoRegistrationPause pause(context()->undoManager());
    Case *item = newCase(QStringLiteral("P1"));
    Media *media = newMediaWithFile(item, uuidA, QStringLiteral("a.jpg"), "a");
    const QString path = media->filePath();
    QSemaphore started;
    QSemaphore release;
    m_stack->fileDeletionQueue()->async([&] {
        started.release();
        release.acquire();
    });
    started.acquire();

    LogCapture capture;
    context()->deleteObject(media); // queued behind the blocked item
    EXPECT_EQ(item->media().size(), 0);
    ASSERT_TRUE(QFile::remove(path));
    release.release();
    m_stack->fileDeletionQueue()->waitForDone();
    EXPECT_EQ(capture.countPrefix(QStringLiteral("Error deleting URL: ") + QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)
                                  + QLatin1Char(' ')),
              1);
    EXPECT_TRUE(QFileInfo::exists(mediaPath(QStringLiteral("0A/1B/2C/3D"))));
}

TEST_F(MediaRecordFileTest, ImagesDecodeFromJpegPngAndThePdfFirstPage)
{
    Case *item = newCase(QStringLiteral("P1"));
    const QColor teal(20, 150, 140);
    Media *jpeg = item->addMedia(encoded(teal, "JPEG", QSize(64, 48)), QStringLiteral("a.jpg"));
    Media *png = item->addMedia(encoded(teal, "PNG", QSize(33, 17)), QStringLiteral("b.png"));
    EXPECT_EQ(jpeg->image().size(), QSize(64, 48));
    EXPECT_TRUE(near(jpeg->image().pixelColor(30, 20), teal));
    EXPECT_EQ(png->image().size(), QSize(33, 17));
    EXPECT_EQ(png->image().pixelColor(16, 8), teal);

    // Two pages of 200 x 100 points: the first red on its left half, the second all blue.
    QByteArray pdf;
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setResolution(72);
        writer.setPageSize(QPageSize(QSizeF(200, 100), QPageSize::Point));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter(&writer);
        painter.fillRect(QRectF(0, 0, 100, 100), Qt::red);
        writer.newPage();
        painter.fillRect(QRectF(0, 0, 200, 100), Qt::blue);
    }
    Media *document = item->addMedia(pdf, QStringLiteral("report.pdf"));
    const QImage page = document->image();
    ASSERT_FALSE(page.isNull());
    EXPECT_EQ(page.size(), QSize(400, 200));
    EXPECT_TRUE(near(page.pixelColor(50, 100), Qt::red)) << page.pixelColor(50, 100).name().toStdString();
    EXPECT_TRUE(near(page.pixelColor(350, 100), Qt::white)) << page.pixelColor(350, 100).name().toStdString();
    EXPECT_FALSE(page.hasAlphaChannel());

    Media *broken = item->addMedia("not an image", QStringLiteral("c.png"));
    EXPECT_TRUE(broken->image().isNull());
    Media *brokenPdf = item->addMedia("%PDF-1.4 truncated", QStringLiteral("d.pdf"));
    EXPECT_TRUE(brokenPdf->image().isNull());
    ASSERT_TRUE(QFile::remove(png->filePath()));
    EXPECT_TRUE(png->image().isNull());
}
