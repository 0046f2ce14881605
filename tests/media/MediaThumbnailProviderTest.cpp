#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPdfWriter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

#include "TestMovieWriter.h"
#include "media/MediaThumbnailDiskCache.h"
#include "media/MediaThumbnailProvider.h"
#include "media/MediaThumbnailRenderer.h"
#include "media/MovieFrameExtractor.h"

using namespace ovalis;
using Kind = MediaThumbnailRenderer::Kind;

namespace {

constexpr int side = 160;

bool near(QColor a, QColor b, int tolerance = 40)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
           && std::abs(a.blue() - b.blue()) <= tolerance;
}

class MediaThumbnailProviderTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_directory.isValid()); }

    QString path(const QString &name) const { return m_directory.filePath(name); }
    QString cacheDirectory() const { return m_directory.filePath(QStringLiteral("cache")); }

    // A picture whose left half is red and right half blue.
    QString writeImage(const QString &name, const QSize &size, const char *format = "jpeg")
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::red);
        QPainter(&image).fillRect(QRect(size.width() / 2, 0, size.width() - size.width() / 2, size.height()), Qt::blue);
        QImageWriter writer(path(name), format);
        EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
        return path(name);
    }

    // Waits until the provider has answered the request for (uuid, path).
    static QImage waitForThumbnail(MediaThumbnailProvider &provider, const QString &uuid, const QString &file)
    {
        std::optional<QImage> image = provider.thumbnail(uuid, file);
        QSignalSpy ready(&provider, &MediaThumbnailProvider::thumbnailReady);
        for (int attempt = 0; !image && attempt < 50; ++attempt) {
            ready.wait(200);
            image = provider.thumbnail(uuid, file);
        }
        return image.value_or(QImage());
    }

    static void waitUntilIdle(MediaThumbnailProvider &provider)
    {
        for (int attempt = 0; provider.isBusy() && attempt < 100; ++attempt)
            QTest::qWait(20);
        QCoreApplication::sendPostedEvents();
        ASSERT_FALSE(provider.isBusy());
    }

    QTemporaryDir m_directory;
};

} // namespace

TEST_F(MediaThumbnailProviderTest, EachFileGetsTheThumbnailOfTheFirstRuleThatApplies)
{
    // No file: the dashed question mark.
    MediaThumbnailRenderer::Thumbnail thumbnail = MediaThumbnailRenderer::render(path(QStringLiteral("gone.jpg")), side);
    EXPECT_EQ(thumbnail.kind, Kind::Placeholder);
    EXPECT_EQ(thumbnail.image, MediaThumbnailRenderer::placeholder(side));
    EXPECT_EQ(MediaThumbnailRenderer::render(QString(), side).kind, Kind::Placeholder);

    // An image, decoded to fit the square with its aspect kept.
    thumbnail = MediaThumbnailRenderer::render(writeImage(QStringLiteral("wide.jpg"), {1600, 1200}), side);
    EXPECT_EQ(thumbnail.kind, Kind::Image);
    EXPECT_EQ(thumbnail.image.size(), QSize(160, 120));
    EXPECT_TRUE(near(thumbnail.image.pixelColor(20, 60), Qt::red));
    EXPECT_TRUE(near(thumbnail.image.pixelColor(140, 60), Qt::blue));
    // Small images are not enlarged; the content decides the format, not the name.
    thumbnail = MediaThumbnailRenderer::render(writeImage(QStringLiteral("small.tif"), {40, 90}, "png"), side);
    EXPECT_EQ(thumbnail.kind, Kind::Image);
    EXPECT_EQ(thumbnail.image.size(), QSize(40, 90));

    // A PDF shows its first page, on white.
    {
        QPdfWriter pdf(path(QStringLiteral("report.pdf")));
        pdf.setPageSize(QPageSize(QPageSize::A4));
        QPainter painter(&pdf);
        painter.fillRect(QRect(0, 0, 400, 400), Qt::black);
    }
    thumbnail = MediaThumbnailRenderer::render(path(QStringLiteral("report.pdf")), side);
    EXPECT_EQ(thumbnail.kind, Kind::Image);
    EXPECT_EQ(thumbnail.image.height(), side);
    EXPECT_LT(thumbnail.image.width(), side);
    EXPECT_TRUE(near(thumbnail.image.pixelColor(thumbnail.image.width() - 5, side - 5), Qt::white));

    // A movie gives its frame at 2.0 seconds: frames before show green on
    // top, from then on yellow; the bottom half is always white.
    const auto frame = [](int index) {
        QImage image(64, 32, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter(&image).fillRect(QRect(0, 0, 64, 16), index < 20 ? Qt::green : Qt::yellow);
        return image;
    };
    ASSERT_TRUE(test::TestMovieWriter::write(path(QStringLiteral("clip.mp4")), {64, 32}, 10, 30, frame));
    thumbnail = MediaThumbnailRenderer::render(path(QStringLiteral("clip.mp4")), side);
    EXPECT_EQ(thumbnail.kind, Kind::MovieFrame);
    ASSERT_EQ(thumbnail.image.size(), QSize(64, 32));
    EXPECT_TRUE(near(thumbnail.image.pixelColor(32, 4), Qt::yellow));
    EXPECT_TRUE(near(thumbnail.image.pixelColor(32, 28), Qt::white));

    // A file that is neither: its type's icon, looked up on the UI thread.
    QFile text(path(QStringLiteral("notes.txt")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("Findings: none.\n");
    text.close();
    thumbnail = MediaThumbnailRenderer::render(text.fileName(), side);
    EXPECT_EQ(thumbnail.kind, Kind::Icon);
    EXPECT_TRUE(thumbnail.image.isNull());
    EXPECT_EQ(thumbnail.iconName, QStringLiteral("text-plain"));
    EXPECT_FALSE(MediaThumbnailRenderer::iconImage(thumbnail.iconName, thumbnail.genericIconName, 48).isNull());
    EXPECT_FALSE(MediaThumbnailRenderer::iconImage(QStringLiteral("no-such-icon"), QString(), 48).isNull());
}

TEST_F(MediaThumbnailProviderTest, MovieFramesAreTurnedAsTheirTrackSays)
{
    const auto frame = [](int) {
        QImage image(64, 32, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter(&image).fillRect(QRect(0, 0, 64, 16), Qt::green);
        return image;
    };
    // Recorded with the phone turned: shown turned a quarter clockwise, so
    // the top (green) comes to the right. The movie lasts 1.5 seconds, so
    // its last frame stands for the one at 2.0.
    ASSERT_TRUE(test::TestMovieWriter::write(path(QStringLiteral("turned.mov")), {64, 32}, 10, 15, frame, 1));
    const QImage image = MovieFrameExtractor::frameAt(path(QStringLiteral("turned.mov")), 2.0);
    ASSERT_EQ(image.size(), QSize(32, 64));
    EXPECT_TRUE(near(image.pixelColor(28, 32), Qt::green));
    EXPECT_TRUE(near(image.pixelColor(4, 32), Qt::white));
    // Scaling keeps the aspect.
    EXPECT_EQ(MovieFrameExtractor::frameAt(path(QStringLiteral("turned.mov")), 2.0, 16).size(), QSize(8, 16));

    for (int quarterTurns = -1; quarterTurns <= 4; ++quarterTurns)
        EXPECT_EQ(MovieFrameExtractor::clockwiseRotation(test::TestMovieWriter::clockwiseMatrix(quarterTurns).data()),
                  (quarterTurns + 4) % 4 * 90)
            << quarterTurns;
    EXPECT_TRUE(MovieFrameExtractor::frameAt(path(QStringLiteral("missing.mov")), 2.0).isNull());
}

TEST_F(MediaThumbnailProviderTest, ThumbnailsComeFromThePoolAndAreKeptInMemoryAndOnDisk)
{
    const QString file = writeImage(QStringLiteral("scan.jpg"), {800, 600});
    const QString uuid = QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    QImage original;
    {
        MediaThumbnailProvider provider(cacheDirectory(), side);
        QSignalSpy ready(&provider, &MediaThumbnailProvider::thumbnailReady);
        EXPECT_FALSE(provider.thumbnail(uuid, file).has_value());
        original = waitForThumbnail(provider, uuid, file);
        ASSERT_EQ(original.size(), QSize(160, 120));
        ASSERT_GE(ready.count(), 1);
        EXPECT_EQ(ready.first().first().toString(), uuid);
        EXPECT_EQ(provider.kind(uuid, file), Kind::Image);
        waitUntilIdle(provider);
    }
    const QStringList cached = QDir(cacheDirectory() + QStringLiteral("/E6")).entryList(QDir::Files);
    ASSERT_EQ(cached.size(), 1);
    EXPECT_TRUE(cached.first().startsWith(uuid + QStringLiteral("-160-")));

    // Another provider (a later run) reads it from disk: the file there is
    // what it answers, not a new decoding.
    const QString cachedPath = cacheDirectory() + QStringLiteral("/E6/") + cached.first();
    QImage marked(160, 120, QImage::Format_RGB32);
    marked.fill(Qt::green);
    ASSERT_TRUE(marked.save(cachedPath, "jpeg", 30));
    const auto cachedBytes = [&cachedPath] {
        QFile cachedFile(cachedPath);
        return cachedFile.open(QIODevice::ReadOnly) ? cachedFile.readAll() : QByteArray();
    };
    const QByteArray markedBytes = cachedBytes();
    {
        MediaThumbnailProvider provider(cacheDirectory(), side);
        EXPECT_TRUE(near(waitForThumbnail(provider, uuid, file).pixelColor(20, 60), Qt::green));
        // What came from disk is not written again.
        waitUntilIdle(provider);
        EXPECT_EQ(cachedBytes(), markedBytes);
        // Another size is another thumbnail.
        MediaThumbnailProvider larger(cacheDirectory(), 320);
        EXPECT_EQ(waitForThumbnail(larger, uuid, file).size(), QSize(320, 240));
        waitUntilIdle(larger);
    }

    // A changed modification time misses, and the new thumbnail replaces the old one.
    QFile source(file);
    ASSERT_TRUE(source.open(QIODevice::ReadWrite));
    ASSERT_TRUE(source.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    source.close();
    {
        MediaThumbnailProvider provider(cacheDirectory(), side);
        EXPECT_TRUE(near(waitForThumbnail(provider, uuid, file).pixelColor(20, 60), Qt::red));
        waitUntilIdle(provider);
    }
    const QStringList versions = QDir(cacheDirectory() + QStringLiteral("/E6")).entryList({uuid + QStringLiteral("-160-*")}, QDir::Files);
    ASSERT_EQ(versions.size(), 1);
    EXPECT_NE(versions.first(), cached.first());
}

TEST_F(MediaThumbnailProviderTest, OnlyUuidsNameCachedThumbnails)
{
    // Deep enough that a name leading upwards would still land in the test's folder.
    const MediaThumbnailDiskCache cache(path(QStringLiteral("a/b/cache")));
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::red);
    const MediaThumbnailDiskCache::FileStamp stamp{1000, 10};
    for (const QString &uuid : {QStringLiteral("../../escape"), QStringLiteral("..-secret"), QStringLiteral("E6/../../../x")}) {
        EXPECT_FALSE(cache.write(uuid, side, stamp, image)) << uuid.toStdString();
        EXPECT_TRUE(cache.read(uuid, side, stamp).isNull());
    }
    // Nothing was written, inside the cache or beside it.
    EXPECT_EQ(QDir(m_directory.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    const QString uuid = QStringLiteral("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    EXPECT_TRUE(cache.write(uuid, side, stamp, image));
    EXPECT_FALSE(cache.read(uuid, side, stamp).isNull());
}

TEST_F(MediaThumbnailProviderTest, ACachedThumbnailIsCheckedAgainstItsFileAfterRevalidation)
{
    const QString file = writeImage(QStringLiteral("edit.jpg"), {800, 600});
    const QString uuid = QStringLiteral("0A1B2C3D-0000-0000-0000-000000000001");
    MediaThumbnailProvider provider(QString(), side);
    ASSERT_TRUE(near(waitForThumbnail(provider, uuid, file).pixelColor(20, 60), Qt::red));
    waitUntilIdle(provider);

    // The file is edited in place (same name, new content).
    QImage edited(400, 300, QImage::Format_RGB32);
    edited.fill(Qt::green);
    ASSERT_TRUE(edited.save(file, "jpeg"));
    QFile source(file);
    ASSERT_TRUE(source.open(QIODevice::ReadWrite));
    ASSERT_TRUE(source.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    source.close();

    // Until told, the cached one is answered and nothing is looked at again.
    QSignalSpy ready(&provider, &MediaThumbnailProvider::thumbnailReady);
    EXPECT_TRUE(near(provider.thumbnail(uuid, file)->pixelColor(20, 60), Qt::red));
    EXPECT_FALSE(provider.isBusy());

    provider.revalidate();
    EXPECT_TRUE(near(provider.thumbnail(uuid, file)->pixelColor(20, 60), Qt::red));
    ASSERT_TRUE(ready.wait(5000));
    EXPECT_TRUE(near(provider.thumbnail(uuid, file)->pixelColor(20, 60), Qt::green));
    EXPECT_EQ(provider.thumbnail(uuid, file)->size(), QSize(160, 120));

    // An unchanged file is checked without a new thumbnail.
    provider.revalidate();
    ready.clear();
    provider.thumbnail(uuid, file);
    waitUntilIdle(provider);
    EXPECT_EQ(ready.count(), 0);
}

TEST_F(MediaThumbnailProviderTest, TheLatestPaintIsServedFirstThenPrefetchesAndWithdrawnOnesAreNotMade)
{
    QStringList files;
    for (int i = 0; i < 24; ++i)
        files.append(writeImage(QStringLiteral("image%1.jpg").arg(i), {1600, 1200}));
    const auto uuidOf = [](int i) { return QStringLiteral("UUID-%1").arg(i); };

    // One thread: thumbnails arrive in the order they are started.
    MediaThumbnailProvider provider(QString(), side);
    provider.setThreadCount(1);
    QStringList order;
    QObject::connect(&provider, &MediaThumbnailProvider::thumbnailReady, &provider, [&order](const QString &uuid) { order.append(uuid); });
    // One paint asks for the first twelve, a later one (after scrolling) for
    // the rest, all before the pool gets to them.
    provider.setPaused(true);
    for (int i = 0; i < 12; ++i)
        provider.thumbnail(uuidOf(i), files[i]);
    QTest::qWait(1);
    for (int i = 12; i < files.size(); ++i)
        provider.thumbnail(uuidOf(i), files[i]);
    QTest::qWait(20);
    EXPECT_TRUE(order.isEmpty());
    provider.setPaused(false);
    waitUntilIdle(provider);
    // Items scrolled into view come before those of the earlier paint, and
    // each paint's items come in the order painted.
    QStringList expected;
    for (int i = 12; i < files.size(); ++i)
        expected.append(uuidOf(i));
    for (int i = 0; i < 12; ++i)
        expected.append(uuidOf(i));
    EXPECT_EQ(order, expected);

    // Prefetched items wait behind those on screen, and go in the order asked.
    MediaThumbnailProvider prefetching(QString(), side);
    prefetching.setThreadCount(1);
    order.clear();
    QObject::connect(&prefetching, &MediaThumbnailProvider::thumbnailReady, &prefetching, [&order](const QString &uuid) { order.append(uuid); });
    prefetching.setPaused(true);
    for (int i = 0; i < 20; ++i)
        prefetching.thumbnail(uuidOf(i), files[i], nullptr, MediaThumbnailProvider::Priority::Prefetch);
    prefetching.thumbnail(uuidOf(23), files[23]);
    prefetching.thumbnail(uuidOf(15), files[15]);
    prefetching.setPaused(false);
    waitUntilIdle(prefetching);
    expected = QStringList{uuidOf(23), uuidOf(15)};
    for (int i = 0; i < 20; ++i)
        if (i != 15)
            expected.append(uuidOf(i));
    EXPECT_EQ(order, expected);

    // Requests withdrawn before they start are never made; one asked for by
    // another requester as well still is.
    MediaThumbnailProvider second(QString(), side);
    order.clear();
    QObject::connect(&second, &MediaThumbnailProvider::thumbnailReady, &second, [&order](const QString &uuid) { order.append(uuid); });
    int grid = 0, display = 0;
    second.setPaused(true);
    for (int i = 0; i < files.size(); ++i)
        second.thumbnail(uuidOf(i), files[i], &grid);
    second.thumbnail(uuidOf(0), files[0], &display);
    second.cancelRequests(&grid);
    second.setPaused(false);
    waitUntilIdle(second);
    EXPECT_EQ(order, QStringList{uuidOf(0)});
}
