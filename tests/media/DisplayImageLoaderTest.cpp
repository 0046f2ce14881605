#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "media/DicomRenderer.h"
#include "media/DisplayImageLoader.h"
#include "media/PlaceholderImage.h"
#include "support/DicomTestImage.h"

using namespace ovalis;

namespace {

class DisplayImageLoaderTest : public ::testing::Test
{
protected:
    QString writeImage(const QString &name, const QSize &size, const QColor &colour, const char *format = "JPEG")
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour);
        const QString path = m_directory.filePath(name);
        EXPECT_TRUE(image.save(path, format));
        return path;
    }

    QString writeFile(const QString &name, const QByteArray &data)
    {
        const QString path = m_directory.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return path;
    }

    static bool waitFor(DisplayImageLoader &loader, const QString &path)
    {
        return QTest::qWaitFor([&] { return loader.cached(path).has_value(); }, 5000);
    }

    QTemporaryDir m_directory;
};

TEST_F(DisplayImageLoaderTest, DecodesReducedToTheMaximumSizeAndTellsImagesFromOtherFiles)
{
    const QString large = writeImage(QStringLiteral("large.jpg"), QSize(3000, 2000), Qt::darkRed);
    DisplayImageLoader::Image decoded = DisplayImageLoader::decode(large, QSize(1000, 1000));
    EXPECT_EQ(decoded.originalSize, QSize(3000, 2000));
    // Half its size: a quarter (750 × 500) would not cover the fit (1000 × 666).
    EXPECT_EQ(decoded.image.size(), QSize(1500, 1000));
    EXPECT_EQ(DisplayImageLoader::decode(large, QSize(600, 600)).image.size(), QSize(750, 500));
    EXPECT_EQ(DisplayImageLoader::decode(large, QSize(100, 100)).image.size(), QSize(375, 250));
    EXPECT_NEAR(qRed(decoded.image.pixel(500, 300)), 128, 4);

    // PNG has no reduced decoding: scaled after decoding, to the same fit.
    const QString png = writeImage(QStringLiteral("tall.png"), QSize(400, 1600), Qt::blue, "PNG");
    decoded = DisplayImageLoader::decode(png, QSize(1000, 1000));
    EXPECT_EQ(decoded.originalSize, QSize(400, 1600));
    EXPECT_EQ(decoded.image.size(), QSize(250, 1000));

    const QString small = writeImage(QStringLiteral("small.jpg"), QSize(64, 48), Qt::green);
    decoded = DisplayImageLoader::decode(small, QSize(1000, 1000));
    EXPECT_EQ(decoded.image.size(), QSize(64, 48));

    // Not images: text, a file named as a movie (not even read), nothing at all.
    EXPECT_TRUE(DisplayImageLoader::decode(writeFile(QStringLiteral("notes.txt"), "plain text"), QSize(100, 100)).image.isNull());
    QFile::copy(small, m_directory.filePath(QStringLiteral("movie.mp4")));
    EXPECT_TRUE(DisplayImageLoader::decode(m_directory.filePath(QStringLiteral("movie.mp4")), QSize(100, 100)).image.isNull());
    EXPECT_TRUE(DisplayImageLoader::decode(m_directory.filePath(QStringLiteral("absent.jpg")), QSize(100, 100)).image.isNull());
}

TEST_F(DisplayImageLoaderTest, LoadsOnWorkersKeepsWhatIsRetainedAndNoticesChangedFiles)
{
    DisplayImageLoader loader;
    loader.setMaximumSize(QSize(800, 600));
    const QString first = writeImage(QStringLiteral("1.jpg"), QSize(1600, 1200), Qt::red);
    const QString second = writeImage(QStringLiteral("2.jpg"), QSize(1600, 1200), Qt::green);
    const QString third = writeImage(QStringLiteral("3.jpg"), QSize(1600, 1200), Qt::blue);
    const QString text = writeFile(QStringLiteral("3.txt"), "not an image");

    QSignalSpy loaded(&loader, &DisplayImageLoader::loaded);
    loader.load(first);
    // Never reported from within load().
    EXPECT_EQ(loaded.count(), 0);
    EXPECT_TRUE(loader.isLoading(first));
    loader.retain({first, second, text});
    ASSERT_TRUE(waitFor(loader, first));
    ASSERT_TRUE(waitFor(loader, second));
    ASSERT_TRUE(waitFor(loader, text));
    EXPECT_EQ(loader.cached(first)->image.size(), QSize(800, 600));
    EXPECT_EQ(loader.cached(first)->originalSize, QSize(1600, 1200));
    EXPECT_EQ(loader.cached(second)->originalSize, QSize(1600, 1200));
    EXPECT_TRUE(loader.cached(text)->image.isNull());
    EXPECT_FALSE(loader.cached(third));
    QStringList reported;
    for (const QList<QVariant> &arguments : loaded)
        reported.append(arguments.at(0).toString());
    reported.sort();
    EXPECT_EQ(reported, (QStringList{first, second, text}));

    // Moving on forgets what is no longer retained.
    loader.retain({second, third});
    EXPECT_FALSE(loader.cached(first));
    EXPECT_TRUE(loader.cached(second));
    ASSERT_TRUE(waitFor(loader, third));

    // A file written again is decoded again.
    writeImage(QStringLiteral("2.jpg"), QSize(400, 300), Qt::yellow);
    QFile file(second);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime);
    file.close();
    EXPECT_FALSE(loader.cached(second));
    loader.load(second);
    ASSERT_TRUE(waitFor(loader, second));
    EXPECT_EQ(loader.cached(second)->image.size(), QSize(400, 300));

    // With a display size, images larger than it come with a copy scaled to
    // the size the display draws them at (in device pixels).
    loader.setDisplaySize(QSizeF(300, 300), 2.0);
    const QString fourth = writeImage(QStringLiteral("4.jpg"), QSize(1600, 1200), Qt::cyan);
    const QString small = writeImage(QStringLiteral("5.jpg"), QSize(200, 100), Qt::cyan);
    loader.retain({fourth, small});
    ASSERT_TRUE(waitFor(loader, fourth));
    ASSERT_TRUE(waitFor(loader, small));
    EXPECT_EQ(loader.cached(fourth)->displayCopy.size(), QSize(600, 450));
    EXPECT_TRUE(loader.cached(small)->displayCopy.isNull());
    EXPECT_EQ(DisplayImageLoader::displayCopySize(QSize(1000, 100), QSizeF(500, 500), 1.0), QSize(500, 50));
    EXPECT_FALSE(DisplayImageLoader::displayCopySize(QSize(500, 100), QSizeF(500, 500), 1.0).isValid());

    // A new maximum size forgets everything decoded at the old one.
    loader.setMaximumSize(QSize(200, 200));
    EXPECT_FALSE(loader.cached(third));
    loader.load(third);
    ASSERT_TRUE(waitFor(loader, third));
    EXPECT_EQ(loader.cached(third)->image.size(), QSize(200, 150));
}

} // namespace

TEST_F(DisplayImageLoaderTest, DicomFilesComeWithTheirFramesOrAPlaceholderSayingWhyNot)
{
    test::DicomTestImage dicom = test::DicomTestImage::ramp(300, 400, 0, 1);
    const QString path = writeFile(QStringLiteral("scan.dcm"), dicom.bytes());
    const DisplayImageLoader::Image decoded = DisplayImageLoader::decode(path, QSize(200, 200));
    EXPECT_EQ(decoded.originalSize, QSize(400, 300));
    EXPECT_EQ(decoded.image.size(), QSize(200, 150));
    ASSERT_TRUE(decoded.dicom);
    EXPECT_TRUE(decoded.dicom->canDisplay());
    EXPECT_EQ(decoded.dicom->size(), QSize(400, 300));

    // A header without pixels behind it: the reason, as an image, so that
    // the display does not take the file for a movie.
    dicom.frameCountText = QStringLiteral("9");
    const QString broken = writeFile(QStringLiteral("broken.dcm"), dicom.bytes());
    const DisplayImageLoader::Image refused = DisplayImageLoader::decode(broken, QSize(1000, 1000));
    ASSERT_TRUE(refused.dicom);
    EXPECT_FALSE(refused.dicom->canDisplay());
    EXPECT_EQ(refused.image,
              PlaceholderImage::unavailable(QStringLiteral("cannot display: the pixel data is shorter than the image"), 512));
}
