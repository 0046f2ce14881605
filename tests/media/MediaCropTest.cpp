#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "media/MediaCrop.h"
#include "media/MediaEditFixture.h"
#include "media/MediaFileUndo.h"
#include "store/MediaTypes.h"
#include "support/DicomTestImage.h"
#include "store/LibraryNotifications.h"
#include "store/MediaFileStore.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"

using namespace ovalis;

namespace {

class MediaCropTest : public test::MediaEditFixture
{
protected:
    // Two images shown 1:1 in a view of their size: the view's lower-left
    // quarter is the images' lower-left quarter.
    const CropViewLayout layout{QSizeF(400, 300), false};
    const QRectF lowerLeftQuarter{0, 0, 200, 150};
};

} // namespace

TEST_F(MediaCropTest, CroppingTwoImagesIsOneUndoStepThatAlternatesWithRedo)
{
    Case *item = newCase(QStringLiteral("ABC1235"));
    Media *jpeg = item->addMedia(encoded(quarteredImage(QSize(400, 300), Qt::white, Qt::red), "JPEG"), QStringLiteral("a.jpg"));
    Media *png = item->addMedia(encoded(quarteredImage(QSize(400, 300), Qt::white, Qt::blue), "PNG"), QStringLiteral("b.png"));
    ASSERT_TRUE(jpeg && png);
    const QString uuidJpeg = jpeg->uuid();
    const QString uuidPng = png->uuid();
    forgetSetUpUndo();
    const QByteArray originalPng = [&] {
        QFile file(png->filePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();

    int updates = 0;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        LibraryNotifications::updatedMedia, nullptr, [&](const Notification &) { ++updates; });
    QList<QSize> shown;
    const QString pngDescription = png->description();
    LogCapture capture;
    MediaCrop::cropSelectedImages({jpeg, png}, lowerLeftQuarter, layout, [&](const QImage &image) { shown << image.size(); });

    EXPECT_EQ(shown, (QList<QSize>{QSize(400, 300), QSize(400, 300)}));
    EXPECT_TRUE(capture.contains(QStringLiteral("Media to crop\t\t") + pngDescription));
    EXPECT_EQ(capture.count(QStringLiteral("Register undo crop on stack")), 2);
    EXPECT_TRUE(capture.contains(QStringLiteral("Successfully cropped ") + png->description()));
    EXPECT_GE(updates, 2);

    // Both files are the red and blue quarters, as uuid-named JPEGs; the PNG is gone.
    EXPECT_EQ(jpeg->fileName(), uuidJpeg + QStringLiteral(".jpg"));
    EXPECT_EQ(png->fileName(), uuidPng + QStringLiteral(".jpg"));
    const QString pngPath = MediaFileStore::urlWithExtension(*png->fileURL(), QStringLiteral("png")).toLocalFile();
    EXPECT_FALSE(QFileInfo::exists(pngPath));
    for (const auto &[media, colour] : {std::pair{jpeg, QColor(Qt::red)}, std::pair{png, QColor(Qt::blue)}}) {
        const QImage cropped = fileImage(media);
        ASSERT_EQ(cropped.size(), QSize(200, 150));
        EXPECT_TRUE(near(cropped.pixelColor(5, 5), colour));
        EXPECT_TRUE(near(cropped.pixelColor(194, 144), colour));
    }
    EXPECT_FALSE(context()->hasChanges()); // saved with the command

    ASSERT_TRUE(undoManager()->canUndo());
    EXPECT_EQ(undoManager()->undoActionName(), MediaFileUndo::cropImagesActionName);
    for (int round = 0; round < 3; ++round) {
        undoManager()->undo();
        EXPECT_EQ(fileImage(jpeg).size(), QSize(400, 300));
        EXPECT_EQ(jpeg->fileName(), uuidJpeg + QStringLiteral(".jpg"));
        EXPECT_EQ(png->fileName(), uuidPng + QStringLiteral(".png"));
        QFile restored(png->filePath());
        ASSERT_TRUE(restored.open(QIODevice::ReadOnly));
        EXPECT_EQ(restored.readAll(), originalPng);
        EXPECT_FALSE(undoManager()->canUndo());
        ASSERT_TRUE(undoManager()->canRedo());

        undoManager()->redo();
        EXPECT_EQ(png->fileName(), uuidPng + QStringLiteral(".jpg"));
        EXPECT_FALSE(QFileInfo::exists(pngPath));
        EXPECT_EQ(fileImage(png).size(), QSize(200, 150));
        EXPECT_EQ(fileImage(jpeg).size(), QSize(200, 150));
        EXPECT_FALSE(undoManager()->canRedo());
        ASSERT_TRUE(undoManager()->canUndo());
    }
}

TEST_F(MediaCropTest, SelectionOffTheImageCropsNothing)
{
    Case *item = newCase(QStringLiteral("ABC1235"));
    Media *media = item->addMedia(encoded(quarteredImage(QSize(400, 300), Qt::white, Qt::red), "PNG"), QStringLiteral("a.png"));
    const QString path = media->filePath();
    forgetSetUpUndo();

    LogCapture capture;
    // Wholly beyond the drawn image.
    MediaCrop::cropSelectedImages({media}, QRectF(500, 400, 100, 100), layout);
    EXPECT_TRUE(capture.contains(QStringLiteral("Unable to crop image"), LogLevel::Error));
    // No rectangle at all.
    capture.clear();
    MediaCrop::cropSelectedImages({media}, std::nullopt, layout);
    EXPECT_TRUE(capture.contains(QStringLiteral("Unable to crop image"), LogLevel::Error));

    EXPECT_EQ(media->filePath(), path);
    EXPECT_EQ(fileImage(media).size(), QSize(400, 300));
    EXPECT_FALSE(undoManager()->canUndo());
    EXPECT_TRUE(undoManager()->isUndoRegistrationEnabled());

    // A media whose file is missing is skipped, the others are cropped.
    Media *missing = item->addMedia(encoded(QImage(QSize(10, 10), QImage::Format_RGB32), "PNG"), QStringLiteral("m.png"));
    ASSERT_TRUE(QFile::remove(missing->filePath()));
    forgetSetUpUndo();
    capture.clear();
    MediaCrop::cropSelectedImages({missing, media}, lowerLeftQuarter, layout);
    EXPECT_TRUE(capture.contains(QStringLiteral("Media to crop\t\t") + missing->description()));
    EXPECT_FALSE(capture.contains(QStringLiteral("Unable to crop image")));
    EXPECT_EQ(fileImage(media).size(), QSize(200, 150));
    EXPECT_TRUE(undoManager()->canUndo());
}

TEST_F(MediaCropTest, UndoWithABackupGoneLogsAndEndsTheChain)
{
    Case *item = newCase(QStringLiteral("ABC1235"));
    Media *media = item->addMedia(encoded(quarteredImage(QSize(400, 300), Qt::white, Qt::red), "JPEG"), QStringLiteral("a.jpg"));
    forgetSetUpUndo();
    MediaCrop::cropSelectedImages({media}, lowerLeftQuarter, layout);
    ASSERT_TRUE(undoManager()->canUndo());

    // The copies kept for undo were removed behind the library's back.
    ASSERT_TRUE(QDir(m_stack->undoFiles().path()).removeRecursively());
    LogCapture capture;
    undoManager()->undo();
    EXPECT_TRUE(capture.containsPrefix(QStringLiteral("Swap edited media ") + media->description()));
    EXPECT_TRUE(capture.containsPrefix(QStringLiteral("Unable to restore image from ")));
    EXPECT_FALSE(undoManager()->canRedo());
    EXPECT_EQ(fileImage(media).size(), QSize(200, 150));
}

TEST_F(MediaCropTest, ImagesBeyondTheDecodersDefaultLimitAreCroppedWhole)
{
    // 36 megapixels take 144 MB decoded, beyond the 128 MB image readers allow by default.
    Case *item = newCase(QStringLiteral("ABC1235"));
    Media *media = item->addMedia(encoded(quarteredImage(QSize(6000, 6000), Qt::white, Qt::red), "JPEG"), QStringLiteral("big.jpg"));
    forgetSetUpUndo();
    LogCapture capture;
    MediaCrop::cropSelectedImages({media}, QRectF(0, 0, 600, 600), {QSizeF(1200, 1200), false});
    EXPECT_FALSE(capture.contains(QStringLiteral("Unable to crop image")));
    const QImage cropped = fileImage(media);
    ASSERT_EQ(cropped.size(), QSize(3000, 3000));
    EXPECT_TRUE(near(cropped.pixelColor(1500, 1500), Qt::red));
}

TEST_F(MediaCropTest, CopiesKeptForUndoArePrivateAndGoWithTheLastStepThatUsesThem)
{
    Case *item = newCase(QStringLiteral("ABC1235"));
    const QByteArray original = encoded(quarteredImage(QSize(400, 300), Qt::white, Qt::red), "PNG");
    Media *media = item->addMedia(original, QStringLiteral("a.png"));
    forgetSetUpUndo();
    MediaCrop::cropSelectedImages({media}, lowerLeftQuarter, layout);
    ASSERT_TRUE(undoManager()->canUndo());

    // In the user's cache folder, closed to everyone else; nothing in the
    // shared temporary folder.
    const QString root = m_stack->undoFiles().root();
    EXPECT_TRUE(root.startsWith(m_directory.filePath(QStringLiteral("cache/"))));
    const QString folder = m_stack->undoFiles().path();
    EXPECT_TRUE(folder.startsWith(root + QLatin1Char('/')));
    for (const QString &path : {root, folder}) {
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u) << path.toStdString();
    }
    EXPECT_TRUE(QDir(QDir::tempPath()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    ASSERT_EQ(keptUndoFiles().size(), 1);
    QFile copy(keptUndoFiles().first());
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), original);

    // Undo and redo trade the file and the copy; one copy stays kept.
    undoManager()->undo();
    EXPECT_EQ(keptUndoFiles().size(), 1);
    undoManager()->redo();
    EXPECT_EQ(keptUndoFiles().size(), 1);

    // No step can use the copy any more: it goes.
    undoManager()->removeAllActions();
    EXPECT_TRUE(keptUndoFiles().isEmpty());
    EXPECT_EQ(fileImage(media).size(), QSize(200, 150));
}

TEST_F(MediaCropTest, CroppingADicomImageAddsTheCropAfterItAndKeepsTheDicomFile)
{
    // A 400 x 300 DICOM image, its lower-left quarter 1000 and the rest 0:
    // white on black at the values' own range.
    test::DicomTestImage dicom;
    dicom.rows = 300;
    dicom.columns = 400;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 400; ++x)
            dicom.values.push_back(x < 200 && y >= 150 ? 1000 : 0);
    const QByteArray dicomBytes = dicom.bytes();
    ASSERT_FALSE(dicomBytes.isEmpty());

    Case *item = newCase(QStringLiteral("ABC1235"));
    Media *first = item->addMedia(encoded(quarteredImage(QSize(400, 300), Qt::white, Qt::red), "JPEG"), QStringLiteral("a.jpg"));
    Media *scan = item->addMedia(dicomBytes, QStringLiteral("scan.dcm"));
    Media *last = item->addMedia(encoded(quarteredImage(QSize(400, 300), Qt::white, Qt::blue), "PNG"), QStringLiteral("b.png"));
    ASSERT_TRUE(first && scan && last);
    const QString scanPath = scan->filePath();
    forgetSetUpUndo();

    MediaCrop::cropSelectedImages({scan}, lowerLeftQuarter, layout);

    // The DICOM file is as it was; the crop is a PNG right after it.
    EXPECT_EQ(scan->filePath(), scanPath);
    QFile kept(scanPath);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), dicomBytes);
    QList<Media *> media = item->sortedMedia();
    ASSERT_EQ(media.size(), 4);
    EXPECT_EQ(media[0], first);
    EXPECT_EQ(media[1], scan);
    EXPECT_EQ(media[3], last);
    Media *crop = media[2];
    EXPECT_EQ(crop->fileName(), QStringLiteral("scan crop.png"));
    EXPECT_EQ(MediaTypes::extensionOf(crop->filePath()), QStringLiteral("png"));
    const QImage cropped = fileImage(crop);
    ASSERT_EQ(cropped.size(), QSize(200, 150));
    EXPECT_EQ(qGray(cropped.pixel(5, 5)), 255);
    EXPECT_EQ(qGray(cropped.pixel(194, 144)), 255);

    // Undo takes the crop out and leaves the order as it was; redo brings it back.
    ASSERT_TRUE(undoManager()->canUndo());
    EXPECT_EQ(undoManager()->undoActionName(), MediaFileUndo::cropImagesActionName);
    const QString cropPath = crop->filePath();
    undoManager()->undo();
    EXPECT_EQ(item->sortedMedia(), (QList<Media *>{first, scan, last}));
    EXPECT_FALSE(QFileInfo::exists(cropPath));
    EXPECT_TRUE(QFileInfo::exists(scanPath));
    undoManager()->redo();
    media = item->sortedMedia();
    ASSERT_EQ(media.size(), 4);
    EXPECT_EQ(media[2]->fileName(), QStringLiteral("scan crop.png"));
    EXPECT_EQ(fileImage(media[2]).size(), QSize(200, 150));
    EXPECT_EQ(media[3], last);
}
