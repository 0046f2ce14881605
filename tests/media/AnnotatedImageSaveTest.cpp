#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <gtest/gtest.h>

#include "media/AnnotatedImageSave.h"
#include "media/AnnotationEditor.h"
#include "media/AnnotationGeometry.h"
#include "media/AnnotationPage.h"
#include "media/MediaEditFixture.h"
#include "media/MediaFileUndo.h"
#include "support/DicomTestImage.h"
#include "util/Log.h"

using namespace ovalis;

namespace {

class AnnotatedImageSaveTest : public test::MediaEditFixture
{
protected:
    static QImage uniform(const QSize &size, const QColor &colour)
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour);
        return image;
    }

    static AnnotationMarkRef shared(const std::optional<AnnotationMark> &mark)
    {
        return mark ? std::make_shared<const AnnotationMark>(*mark) : nullptr;
    }
};

} // namespace

TEST_F(AnnotatedImageSaveTest, FlattenedPageHasTheImageSizeAndMarksWhereThePageHasThem)
{
    AnnotationPage page(uniform(QSize(300, 200), Qt::white));
    // Page coordinates: origin bottom left. A rectangle from (50, 40) to
    // (150, 120) covers pixel rows 80 to 160 (origin top left).
    page.addAnnotation(shared(AnnotationGeometry::markForDrag(AnnotationTool::rectangle, QPointF(50, 40), QPointF(150, 120), Qt::red)));

    const QImage flat = flattenPage(page, QSizeF(300, 200));
    ASSERT_EQ(flat.size(), QSize(300, 200));
    EXPECT_EQ(flat.format(), QImage::Format_RGBA8888_Premultiplied);
    // The 3-point border lies inside the bounds.
    EXPECT_EQ(flat.pixelColor(51, 120), QColor(Qt::red));   // left edge
    EXPECT_EQ(flat.pixelColor(100, 81), QColor(Qt::red));   // top edge (page y 119)
    EXPECT_EQ(flat.pixelColor(148, 158), QColor(Qt::red));  // bottom-right corner
    EXPECT_EQ(flat.pixelColor(100, 120), QColor(Qt::white)); // interior
    EXPECT_EQ(flat.pixelColor(46, 120), QColor(Qt::white));  // outside the bounds
    EXPECT_EQ(flat.pixelColor(100, 76), QColor(Qt::white));
    EXPECT_EQ(flat.pixelColor(100, 164), QColor(Qt::white));
    EXPECT_EQ(flat.pixelColor(0, 0), QColor(Qt::white));

    // A label tints its background and draws its text inside its bounds only.
    AnnotationPage labelled(uniform(QSize(300, 200), Qt::white));
    labelled.addAnnotation(shared(AnnotationGeometry::textMark(QStringLiteral("WWWW"), QPointF(20, 180), 28, Qt::blue,
                                                               AnnotationGeometry::textWidth(QStringLiteral("WWWW"), 28))));
    const QImage text = flattenPage(labelled, QSizeF(300, 200));
    const QRect bounds(20, 20, int(AnnotationGeometry::textWidth(QStringLiteral("WWWW"), 28)) + 10, 40);
    int blueInside = 0;
    int changedOutside = 0;
    for (int y = 0; y < text.height(); ++y) {
        for (int x = 0; x < text.width(); ++x) {
            const QColor colour = text.pixelColor(x, y);
            const bool inside = bounds.adjusted(-1, -1, 1, 1).contains(x, y);
            if (inside && colour.blue() > 200 && colour.red() < 100)
                ++blueInside;
            if (!inside && colour != QColor(Qt::white))
                ++changedOutside;
        }
    }
    EXPECT_GT(blueInside, 100);
    EXPECT_EQ(changedOutside, 0);
    // The background at alpha 0.12 over white.
    const QColor tint = text.pixelColor(bounds.right() - 3, bounds.center().y());
    EXPECT_NEAR(tint.red(), 224, 3);
    EXPECT_EQ(tint.blue(), 255);

    // A bitmap of a different size scales the page; fractions are dropped.
    EXPECT_EQ(flattenPage(page, QSizeF(150.7, 100.2)).size(), QSize(150, 100));
    EXPECT_EQ(flattenPage(page, QSizeF(150, 100)).pixelColor(25, 60), QColor(Qt::red));
    EXPECT_TRUE(flattenPage(AnnotationPage(), QSizeF(10, 10)).isNull());
    EXPECT_TRUE(flattenPage(page, QSizeF(0.5, 10)).isNull());
}

TEST_F(AnnotatedImageSaveTest, SavingWritesAJpegAndUndoPutsBackTheNameAndTypeTheFileHad)
{
    Case *item = newCase(QStringLiteral("ABC1235"));
    Media *media = item->addMedia(encoded(uniform(QSize(240, 160), Qt::white), "PNG"), QStringLiteral("scan.png"));
    const QString uuid = media->uuid();
    const QString pngPath = media->filePath();
    forgetSetUpUndo();

    AnnotationEditor editor(media->image());
    editor.setAnnotationColor(Qt::red);
    editor.setTool(AnnotationTool::rectangle);
    editor.beginDrag(QPointF(20, 20));
    ASSERT_TRUE(editor.endDrag(QPointF(120, 100)));

    LogCapture capture;
    ASSERT_TRUE(AnnotatedImageSave::save(media, editor.page()));
    EXPECT_TRUE(capture.contains(QStringLiteral("AnnotationViewController: saved annotated image for ") + media->description()));
    const QString jpegName = uuid + QStringLiteral(".jpg");
    EXPECT_EQ(media->fileName(), jpegName);
    EXPECT_FALSE(QFileInfo::exists(pngPath));
    const QImage saved = fileImage(media);
    ASSERT_EQ(saved.size(), QSize(240, 160));
    EXPECT_TRUE(near(saved.pixelColor(21, 100), Qt::red));  // left border (page y 60)
    EXPECT_TRUE(near(saved.pixelColor(70, 100), Qt::white)); // inside
    EXPECT_TRUE(near(saved.pixelColor(200, 20), Qt::white));

    ASSERT_TRUE(undoManager()->canUndo());
    EXPECT_EQ(undoManager()->undoActionName(), MediaFileUndo::annotateImageActionName);
    const QString jpegPath = media->filePath();
    const auto formatOf = [](const QString &path) { return QImageReader(path).format(); };
    for (int round = 0; round < 2; ++round) {
        undoManager()->undo();
        // The earlier picture, a PNG under its .png name again.
        EXPECT_EQ(media->fileName(), uuid + QStringLiteral(".png"));
        EXPECT_EQ(media->filePath(), pngPath);
        EXPECT_EQ(formatOf(pngPath), QByteArray("png"));
        EXPECT_FALSE(QFileInfo::exists(jpegPath));
        const QImage before = media->image();
        ASSERT_EQ(before.size(), QSize(240, 160));
        EXPECT_TRUE(near(before.pixelColor(21, 100), Qt::white, 0));
        ASSERT_TRUE(undoManager()->canRedo());

        undoManager()->redo();
        EXPECT_EQ(media->fileName(), jpegName);
        EXPECT_EQ(formatOf(jpegPath), QByteArray("jpeg"));
        EXPECT_FALSE(QFileInfo::exists(pngPath));
        EXPECT_TRUE(near(media->image().pixelColor(21, 100), Qt::red));
        ASSERT_TRUE(undoManager()->canUndo());
    }
}

TEST_F(AnnotatedImageSaveTest, FailuresAreLoggedAndLeaveTheFileAlone)
{
    Case *item = newCase(QStringLiteral("ABC1235"));
    Media *media = item->addMedia(encoded(uniform(QSize(40, 30), Qt::white), "PNG"), QStringLiteral("scan.png"));
    const QString path = media->filePath();
    forgetSetUpUndo();

    LogCapture capture;
    EXPECT_FALSE(AnnotatedImageSave::save(media, AnnotationPage()));
    EXPECT_TRUE(capture.contains(QStringLiteral("AnnotationViewController: missing data for save"), LogLevel::Error));

    // The copy for undo cannot be written: a file stands where its folder would go.
    const QString undoRoot = m_stack->undoFiles().root();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(undoRoot).path()));
    QFile blocker(undoRoot);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    capture.clear();
    EXPECT_FALSE(AnnotatedImageSave::save(media, AnnotationPage(media->image())));
    EXPECT_TRUE(capture.containsPrefix(QStringLiteral("AnnotationViewController: save failed – ")));
    EXPECT_EQ(media->filePath(), path);
    EXPECT_TRUE(QFileInfo::exists(path));
    EXPECT_FALSE(undoManager()->canUndo());
}

TEST_F(AnnotatedImageSaveTest, AnnotatingADicomImageAddsAPngAfterItAndKeepsTheDicomFile)
{
    // A 240 x 160 DICOM image, all one value: white at the file's window.
    test::DicomTestImage dicom = test::DicomTestImage::ramp(160, 240, 500, 0);
    dicom.windowCenter = 0;
    dicom.windowWidth = 100;
    const QByteArray bytes = dicom.bytes();
    Case *item = newCase(QStringLiteral("ABC1235"));
    Media *media = item->addMedia(bytes, QStringLiteral("scan.dcm"));
    const QString path = media->filePath();
    forgetSetUpUndo();

    // The editor gets the DICOM picture through the media's image.
    AnnotationEditor editor(media->image());
    ASSERT_EQ(editor.page().mediaBox().size(), QSizeF(240, 160));
    editor.setAnnotationColor(Qt::red);
    editor.setTool(AnnotationTool::rectangle);
    editor.beginDrag(QPointF(20, 20));
    ASSERT_TRUE(editor.endDrag(QPointF(120, 100)));
    ASSERT_TRUE(AnnotatedImageSave::save(media, editor.page()));

    EXPECT_EQ(media->filePath(), path);
    QFile kept(path);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), bytes);
    const QList<Media *> sorted = item->sortedMedia();
    ASSERT_EQ(sorted.size(), 2);
    EXPECT_EQ(sorted[1]->fileName(), QStringLiteral("scan annotated.png"));
    const QImage saved = fileImage(sorted[1]);
    ASSERT_EQ(saved.size(), QSize(240, 160));
    EXPECT_TRUE(near(saved.pixelColor(21, 100), Qt::red));
    EXPECT_TRUE(near(saved.pixelColor(70, 100), Qt::white));
    EXPECT_EQ(undoManager()->undoActionName(), MediaFileUndo::annotateImageActionName);
    undoManager()->undo();
    EXPECT_EQ(item->sortedMedia(), QList<Media *>{media});
}
