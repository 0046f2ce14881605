#include "util/UserGuideRenderer.h"

#include <QFile>
#include <QImage>
#include <QPdfDocument>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextImageFormat>
#include <gtest/gtest.h>

using namespace ovalis;

namespace {

QList<QTextImageFormat> imagesOf(const QTextDocument &document)
{
    QList<QTextImageFormat> images;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isImageFormat())
                images.append(it.fragment().charFormat().toImageFormat());
        }
    }
    return images;
}

TEST(UserGuideRendererTest, ScreenshotsAreNarrowedToThePageAndTheGuideBecomesAPdf)
{
    QTemporaryDir folder;
    QImage wide(2400, 1200, QImage::Format_RGB32);
    wide.fill(Qt::darkBlue);
    ASSERT_TRUE(wide.save(folder.filePath(QStringLiteral("wide.png"))));
    QImage narrow(200, 100, QImage::Format_RGB32);
    narrow.fill(Qt::red);
    ASSERT_TRUE(narrow.save(folder.filePath(QStringLiteral("narrow.png"))));
    const QString markdown = QStringLiteral("# Ovalis User Guide\n\nThe library window.\n\n![wide](wide.png)\n\n"
                                            "- one\n- two\n\n![narrow](narrow.png)\n\n![gone](missing.png)\n");

    QTextDocument document;
    UserGuideRenderer::prepare(document, markdown, folder.path(), 480);
    const QList<QTextImageFormat> images = imagesOf(document);
    ASSERT_EQ(images.size(), 3);
    // 2400 pixels are 1800 points: cut to the text width, keeping the shape.
    EXPECT_DOUBLE_EQ(images[0].width(), 480);
    EXPECT_DOUBLE_EQ(images[0].height(), 240);
    EXPECT_DOUBLE_EQ(images[1].width(), 150);
    EXPECT_DOUBLE_EQ(images[1].height(), 75);

    QFile guide(folder.filePath(QStringLiteral("guide.md")));
    ASSERT_TRUE(guide.open(QIODevice::WriteOnly));
    guide.write(markdown.toUtf8());
    guide.close();
    const QString pdfPath = folder.filePath(QStringLiteral("User Guide.pdf"));
    QString error;
    ASSERT_TRUE(UserGuideRenderer::render(guide.fileName(), pdfPath, &error)) << error.toStdString();
    QPdfDocument pdf;
    ASSERT_EQ(pdf.load(pdfPath), QPdfDocument::Error::None);
    EXPECT_GE(pdf.pageCount(), 1);
    EXPECT_TRUE(pdf.getAllText(0).text().contains(QStringLiteral("Ovalis User Guide")));
    const QSizeF page = pdf.pagePointSize(0);
    EXPECT_NEAR(page.width(), 595, 1); // A4
    EXPECT_NEAR(page.height(), 842, 1);

    EXPECT_FALSE(UserGuideRenderer::render(folder.filePath(QStringLiteral("absent.md")), pdfPath, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("absent.md")));
}

} // namespace
