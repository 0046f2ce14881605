#include <QSet>
#include <gtest/gtest.h>

#include "store/MediaTypes.h"

using namespace ovalis;

TEST(MediaTypesTest, ExtensionsAreComparedExactlyAndGroupedByType)
{
    EXPECT_EQ(MediaTypes::typeForExtension(QStringLiteral("jpeg")), MediaType::JPEG);
    EXPECT_EQ(MediaTypes::typeForExtension(QStringLiteral("tif")), MediaType::TIFF);
    EXPECT_EQ(MediaTypes::typeForExtension(QStringLiteral("m4v")), MediaType::Movie);
    EXPECT_FALSE(MediaTypes::typeForExtension(QStringLiteral("JPG")));
    EXPECT_FALSE(MediaTypes::typeForExtension(QStringLiteral(".jpg")));
    EXPECT_FALSE(MediaTypes::isAccepted(QString()));

    EXPECT_TRUE(MediaTypes::isImage(QStringLiteral("gif")));
    EXPECT_FALSE(MediaTypes::isImage(QStringLiteral("pdf")));
    EXPECT_FALSE(MediaTypes::isImage(QStringLiteral("mov")));
    EXPECT_TRUE(MediaTypes::isMovie(QStringLiteral("mov")));
    EXPECT_TRUE(MediaTypes::isPdf(QStringLiteral("pdf")));
    // The kind of a file ignores the letter case; the exact lookup does not.
    EXPECT_TRUE(MediaTypes::isImage(QStringLiteral("JPG")));
    EXPECT_TRUE(MediaTypes::isImage(QStringLiteral("Tiff")));
    EXPECT_TRUE(MediaTypes::isMovie(QStringLiteral("MOV")));
    EXPECT_TRUE(MediaTypes::isPdf(QStringLiteral("PDF")));
    EXPECT_FALSE(MediaTypes::isImage(QStringLiteral("JPGX")));
    EXPECT_EQ(MediaTypes::typeForExtensionIgnoringCase(QStringLiteral("JPEG")), MediaType::JPEG);
    EXPECT_FALSE(MediaTypes::typeForExtensionIgnoringCase(QStringLiteral(".JPG")));

    EXPECT_EQ(MediaTypes::acceptedImageExtensions(),
              (QStringList{QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"), QStringLiteral("gif"),
                           QStringLiteral("tif"), QStringLiteral("tiff")}));
    const QStringList all = MediaTypes::acceptedExtensions();
    for (const QString &extension : all) {
        EXPECT_EQ(extension, extension.toLower());
        EXPECT_EQ(int(MediaTypes::isImage(extension)) + int(MediaTypes::isMovie(extension)) + int(MediaTypes::isPdf(extension)), 1)
            << extension.toStdString();
    }
    EXPECT_EQ(all.size(), QSet<QString>(all.begin(), all.end()).size());
    EXPECT_EQ(MediaTypes::preferredExtension(MediaType::JPEG), QStringLiteral("jpg"));
    EXPECT_TRUE(MediaTypes::writerFormat(MediaType::GIF).isEmpty());

    EXPECT_EQ(MediaTypes::extensionOf(QStringLiteral("/a.b/scan 3.JPG")), QStringLiteral("JPG"));
    EXPECT_EQ(MediaTypes::extensionOf(QStringLiteral("/a.b/scan")), QString());
    EXPECT_EQ(MediaTypes::extensionOf(QStringLiteral("archive.tar.gz")), QStringLiteral("gz"));
    EXPECT_EQ(MediaTypes::extensionOf(QStringLiteral(".hidden")), QString());
}
