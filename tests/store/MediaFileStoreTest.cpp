#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "store/MediaFileStore.h"
#include "util/Log.h"

using namespace ovalis;

namespace {

class MediaFileStoreTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_directory.isValid()); }

    QUrl url(const QString &relativePath) const { return QUrl::fromLocalFile(m_directory.filePath(relativePath)); }

    static void write(const QUrl &url, const QByteArray &data)
    {
        ASSERT_TRUE(MediaFileStore::createDirectory(MediaFileStore::folderURL(url)));
        QFile file(url.toLocalFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
    }

    static QByteArray read(const QUrl &url)
    {
        QFile file(url.toLocalFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static bool exists(const QUrl &url) { return QFileInfo::exists(url.toLocalFile()); }

    QTemporaryDir m_directory;
};

} // namespace

TEST_F(MediaFileStoreTest, ExtensionsAreReplacedInTheLastComponentOnly)
{
    EXPECT_EQ(MediaFileStore::urlWithExtension(url(QStringLiteral("a.b/x.png")), QStringLiteral("jpg")), url(QStringLiteral("a.b/x.jpg")));
    EXPECT_EQ(MediaFileStore::urlWithExtension(url(QStringLiteral("a.b/x")), QStringLiteral("jpg")), url(QStringLiteral("a.b/x.jpg")));
    EXPECT_EQ(MediaFileStore::urlWithExtension(url(QStringLiteral("a.b/x.png")), QString()), url(QStringLiteral("a.b/x")));
}

TEST_F(MediaFileStoreTest, AtomicWritesReplaceWholeFilesAndMovesAndCopiesRefuseExistingDestinations)
{
    const QUrl a = url(QStringLiteral("a.jpg"));
    const QUrl b = url(QStringLiteral("b.jpg"));
    EXPECT_TRUE(MediaFileStore::writeDataAtomically("first content", a));
    EXPECT_TRUE(MediaFileStore::writeDataAtomically("second", a));
    EXPECT_EQ(read(a), QByteArray("second"));
    EXPECT_EQ(QDir(m_directory.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("a.jpg")});
    MediaWriteError error;
    EXPECT_FALSE(MediaFileStore::writeDataAtomically("x", url(QStringLiteral("missing/a.jpg")), &error));
    EXPECT_FALSE(error.message().isEmpty());

    EXPECT_TRUE(MediaFileStore::copyItem(a, b));
    EXPECT_EQ(read(b), QByteArray("second"));
    EXPECT_FALSE(MediaFileStore::copyItem(a, b, &error));
    EXPECT_FALSE(MediaFileStore::moveItem(a, b, &error));
    EXPECT_EQ(read(a), QByteArray("second"));

    const QUrl c = url(QStringLiteral("sub/c.jpg"));
    ASSERT_TRUE(MediaFileStore::createDirectory(MediaFileStore::folderURL(c)));
    EXPECT_TRUE(MediaFileStore::moveItem(a, c));
    EXPECT_FALSE(exists(a));
    EXPECT_EQ(read(c), QByteArray("second"));
    EXPECT_TRUE(MediaFileStore::removeItem(c));
    error = MediaWriteError();
    EXPECT_FALSE(MediaFileStore::removeItem(c, &error));
    EXPECT_FALSE(error.message().isEmpty());
}

TEST_F(MediaFileStoreTest, UnsyncedCopiesAreWholeRefuseExistingDestinationsAndLeaveNoTemporaryBehind)
{
    QByteArray large(3 * 1024 * 1024 + 17, '\0');
    for (int i = 0; i < large.size(); ++i)
        large[i] = char(i * 31 + i / 4096);
    const QUrl source = url(QStringLiteral("source.jpg"));
    write(source, large);
    const QUrl target = url(QStringLiteral("media/target.jpg"));
    ASSERT_TRUE(MediaFileStore::createDirectory(MediaFileStore::folderURL(target)));
    EXPECT_TRUE(MediaFileStore::copyFileUnsynced(source.toLocalFile(), target));
    EXPECT_EQ(read(target), large);
    EXPECT_TRUE(MediaFileStore::flushToDisk(MediaFileStore::folderURL(target)));

    MediaWriteError error;
    write(source, "changed");
    EXPECT_FALSE(MediaFileStore::copyFileUnsynced(source.toLocalFile(), target, &error));
    EXPECT_FALSE(error.message().isEmpty());
    EXPECT_EQ(read(target), large);
    error = MediaWriteError();
    EXPECT_FALSE(MediaFileStore::copyFileUnsynced(m_directory.filePath(QStringLiteral("absent.jpg")),
                                                  url(QStringLiteral("media/other.jpg")), &error));
    EXPECT_FALSE(error.message().isEmpty());
    EXPECT_EQ(QDir(MediaFileStore::folderURL(target).toLocalFile()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("target.jpg")});
    error = MediaWriteError();
    EXPECT_FALSE(MediaFileStore::flushToDisk(url(QStringLiteral("no such folder")), &error));
    EXPECT_FALSE(error.message().isEmpty());
}

TEST_F(MediaFileStoreTest, SwapExchangesContentsAndLeavesNoTemporaryBehind)
{
    const QUrl a = url(QStringLiteral("one/a.png"));
    const QUrl b = url(QStringLiteral("two/b.png"));
    write(a, "A");
    write(b, "B");
    EXPECT_TRUE(MediaFileStore::swapItems(a, b));
    EXPECT_EQ(read(a), QByteArray("B"));
    EXPECT_EQ(read(b), QByteArray("A"));
    EXPECT_EQ(QDir(m_directory.filePath(QStringLiteral("two"))).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("b.png")});
    EXPECT_EQ(QDir(m_directory.filePath(QStringLiteral("one"))).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("a.png")});

    MediaWriteError error;
    EXPECT_FALSE(MediaFileStore::swapItems(a, url(QStringLiteral("two/missing.png")), &error));
    EXPECT_FALSE(error.message().isEmpty());
    EXPECT_EQ(read(a), QByteArray("B"));
}

TEST_F(MediaFileStoreTest, ImagesAreWrittenInTheRequestedFormat)
{
    QImage image(24, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int x = 0; x < 12; ++x)
        for (int y = 0; y < 16; ++y)
            image.setPixelColor(x, y, QColor(200, 20, 20));
    const struct {
        MediaType type;
        const char *name;
        QByteArray format;
    } cases[] = {{MediaType::JPEG, "image.jpg", "jpeg"}, {MediaType::PNG, "image.png", "png"}, {MediaType::TIFF, "image.tif", "tiff"}};
    for (const auto &item : cases) {
        LogCapture capture;
        const QUrl target = url(QString::fromLatin1(item.name));
        ASSERT_TRUE(MediaFileStore::writeImage(image, target, item.type));
        EXPECT_TRUE(capture.contains(QStringLiteral("Write image to ") + target.toLocalFile()));
        QImageReader reader(target.toLocalFile());
        EXPECT_EQ(reader.format(), item.format) << item.name;
        const QImage back = reader.read();
        ASSERT_EQ(back.size(), image.size()) << item.name;
        EXPECT_LT(qAbs(back.pixelColor(3, 8).red() - 200), 12) << item.name;
    }
    // The transparent half of a JPEG shows white, not black.
    const QImage jpeg(url(QStringLiteral("image.jpg")).toLocalFile());
    EXPECT_GT(jpeg.pixelColor(20, 8).lightness(), 240);

    LogCapture capture;
    EXPECT_TRUE(MediaFileStore::writeImage(QImage(), url(QStringLiteral("null.jpg")), MediaType::JPEG));
    EXPECT_TRUE(MediaFileStore::writeImage(image, url(QStringLiteral("image.gif")), MediaType::GIF));
    EXPECT_EQ(capture.count(QStringLiteral("Failed to get JPEG data from image")), 2);
    EXPECT_TRUE(capture.contains(QStringLiteral("Failed to get JPEG data from image"), LogLevel::Error));
    EXPECT_FALSE(exists(url(QStringLiteral("null.jpg"))));
    EXPECT_FALSE(exists(url(QStringLiteral("image.gif"))));

    MediaWriteError error;
    EXPECT_FALSE(MediaFileStore::writeImage(image, url(QStringLiteral("missing/image.jpg")), MediaType::JPEG, &error));
    EXPECT_FALSE(error.message().isEmpty());
}

TEST_F(MediaFileStoreTest, BackupsMakeTheirFolderAndRefuseAnExistingCopy)
{
    const QUrl source = url(QStringLiteral("Media/0A/1B/2C/3D/0A1B2C3D-0000-0000-0000-000000000001.png"));
    write(source, "original");
    const QUrl backup = url(QStringLiteral("undo/1/0A1B2C3D-0000-0000-0000-000000000001.png"));
    const QUrl another = url(QStringLiteral("undo/2/0A1B2C3D-0000-0000-0000-000000000001.png"));

    LogCapture capture;
    ASSERT_TRUE(MediaFileStore::backupMediaFile(source, backup));
    EXPECT_TRUE(capture.contains(QStringLiteral("Backup media file from\r\t") + source.toLocalFile() + QStringLiteral(" to\r\t")
                                 + backup.toLocalFile()));
    EXPECT_EQ(read(backup), QByteArray("original"));
    EXPECT_EQ(read(source), QByteArray("original"));

    MediaWriteError error;
    EXPECT_FALSE(MediaFileStore::backupMediaFile(source, backup, &error));
    EXPECT_FALSE(error.message().isEmpty());
    EXPECT_FALSE(MediaFileStore::backupMediaFile(url(QStringLiteral("missing.png")), another, &error));
}

TEST_F(MediaFileStoreTest, EmptyFoldersArePrunedUpToTheFirstVisibleEntry)
{
    // library/Media/0A/1B/2C/{3D,3E}: 3D holds the file and a hidden file, 1B a hidden file.
    const QUrl file = url(QStringLiteral("library/Media/0A/1B/2C/3D/0A1B2C3D.jpg"));
    write(file, "jpeg");
    write(url(QStringLiteral("library/Media/0A/1B/2C/3D/.hidden")), "h");
    write(url(QStringLiteral("library/Media/0A/1B/.DS_Store")), "h");
    write(url(QStringLiteral("library/Media/0A/1B/2C/3E/0A1B2C3E.jpg")), "jpeg");
    write(url(QStringLiteral("library/Database.sqlite")), "store");

    LogCapture capture;
    ASSERT_TRUE(MediaFileStore::removeItem(file));
    ASSERT_TRUE(MediaFileStore::deleteEmptyFolders(file));
    EXPECT_TRUE(capture.contains(QStringLiteral("Recursively delete empty folders at ")
                                 + url(QStringLiteral("library/Media/0A/1B/2C/3D/")).toString(QUrl::FullyEncoded)));
    EXPECT_FALSE(exists(url(QStringLiteral("library/Media/0A/1B/2C/3D"))));
    EXPECT_TRUE(exists(url(QStringLiteral("library/Media/0A/1B/2C/3E/0A1B2C3E.jpg"))));

    // With the sibling gone the walk passes the hidden-only folder 1B and
    // stops at the library, which holds the store.
    const QUrl sibling = url(QStringLiteral("library/Media/0A/1B/2C/3E/0A1B2C3E.jpg"));
    ASSERT_TRUE(MediaFileStore::removeItem(sibling));
    ASSERT_TRUE(MediaFileStore::deleteEmptyFolders(sibling));
    EXPECT_FALSE(exists(url(QStringLiteral("library/Media"))));
    EXPECT_TRUE(exists(url(QStringLiteral("library/Database.sqlite"))));

    MediaWriteError error;
    EXPECT_FALSE(MediaFileStore::deleteEmptyFolders(url(QStringLiteral("gone/x.jpg")), &error));
    EXPECT_FALSE(error.message().isEmpty());
}

TEST_F(MediaFileStoreTest, PruningKeepsAFolderThatReceivesAFileWhileItIsPruned)
{
    const QUrl file = url(QStringLiteral("library/Media/0A/1B/2C/3D/0A1B2C3D.jpg"));
    write(file, "jpeg");
    write(url(QStringLiteral("library/Media/0A/1B/2C/3D/.DS_Store")), "h");
    write(url(QStringLiteral("library/Database.sqlite")), "store");
    ASSERT_TRUE(MediaFileStore::removeItem(file));

    // An import writes into the folder after it was found empty.
    const QString leaf = url(QStringLiteral("library/Media/0A/1B/2C/3D")).toLocalFile();
    const QUrl arrived = url(QStringLiteral("library/Media/0A/1B/2C/3D/0A1B2C3D-2.jpg"));
    QStringList listed;
    ASSERT_TRUE(MediaFileStore::deleteEmptyFolders(file, nullptr, [&](const QString &folder) {
        listed.append(folder);
        if (folder == leaf)
            write(arrived, "new image");
    }));
    EXPECT_EQ(listed, QStringList{leaf});
    EXPECT_EQ(read(arrived), QByteArray("new image"));
    EXPECT_FALSE(exists(url(QStringLiteral("library/Media/0A/1B/2C/3D/.DS_Store"))));

    // A peer's file under its hidden temporary name arrives in the parent
    // once the leaf has gone: it stays, and so does its folder.
    ASSERT_TRUE(MediaFileStore::removeItem(arrived));
    const QString parent = url(QStringLiteral("library/Media/0A/1B/2C")).toLocalFile();
    const QUrl incoming = url(QStringLiteral("library/Media/0A/1B/2C/.0A1B2C3E.part"));
    ASSERT_TRUE(MediaFileStore::deleteEmptyFolders(arrived, nullptr, [&](const QString &folder) {
        if (folder == parent)
            write(incoming, "partial");
    }));
    EXPECT_FALSE(exists(url(QStringLiteral("library/Media/0A/1B/2C/3D"))));
    EXPECT_EQ(read(incoming), QByteArray("partial"));

    // Once the peer's file is renamed into place and later removed, the
    // hidden leftovers go by name and the empty folders with them.
    write(url(QStringLiteral("library/Media/0A/1B/.hidden-dir/.x")), "h");
    ASSERT_TRUE(MediaFileStore::removeItem(incoming));
    ASSERT_TRUE(MediaFileStore::deleteEmptyFolders(incoming));
    EXPECT_FALSE(exists(url(QStringLiteral("library/Media"))));
    EXPECT_TRUE(exists(url(QStringLiteral("library/Database.sqlite"))));
}
