#include <QFile>
#include <QImage>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmjpeg/djencode.h>
#include <dcmtk/dcmjpeg/djrplol.h>

#include "media/DicomRenderer.h"
#include "media/DicomWindowing.h"
#include "media/MediaThumbnailRenderer.h"
#include "media/PlaceholderImage.h"
#include "store/MediaImageDecoder.h"
#include "support/DicomTestImage.h"

using namespace ovalis;
using ovalis::test::DicomTestImage;

namespace {

const QString samples = QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/test_files/");

QString sample(const char *name)
{
    return samples + QLatin1String(name);
}

std::vector<int> firstRow(const QImage &image)
{
    std::vector<int> greys;
    for (int x = 0; x < image.width(); ++x)
        greys.push_back(qGray(image.pixel(x, 0)));
    return greys;
}

int distinctGreys(const QImage &image)
{
    QSet<int> greys;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            greys.insert(qGray(image.pixel(x, y)));
    return int(greys.size());
}

long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Stored 0, 100, ..., 800 in one row; slope 2 and intercept -1000 make them
// -1000, -800, ..., 600.
DicomTestImage rescaledRamp()
{
    DicomTestImage image = DicomTestImage::ramp(1, 9, 0, 100);
    image.rescaleSlope = 2;
    image.rescaleIntercept = -1000;
    return image;
}

} // namespace

TEST(DicomRendererTest, WindowsMapRescaledValuesToTheGreysWorkedOutByHand)
{
    const DicomRenderer renderer(rescaledRamp().bytes());
    ASSERT_TRUE(renderer.canDisplay()) << renderer.unavailableReason().toStdString();
    EXPECT_TRUE(renderer.isMonochrome());
    EXPECT_EQ(renderer.frameCount(), 1);
    EXPECT_EQ(renderer.size(), QSize(9, 1));
    EXPECT_FALSE(renderer.fileWindow());

    // Centre 0.5, width 1001: -500 and below black, above 500 white,
    // (v / 1000 + 0.5) * 255 rounded in between.
    const QImage windowed = renderer.render(0, {0.5, 1001});
    EXPECT_EQ(windowed.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(firstRow(windowed), (std::vector<int>{0, 0, 0, 26, 77, 128, 179, 230, 255}));

    // Without a window in the file the values span the whole grey range.
    EXPECT_EQ(renderer.defaultWindow(), (DicomWindow{-199.5, 1601}));
    const std::vector<int> spanned = firstRow(renderer.render());
    EXPECT_EQ(spanned.front(), 0);
    EXPECT_EQ(spanned.back(), 255);
    EXPECT_TRUE(std::is_sorted(spanned.begin(), spanned.end()));

    // MONOCHROME1 shows high values dark.
    DicomTestImage inverted = rescaledRamp();
    inverted.photometric = QStringLiteral("MONOCHROME1");
    const DicomRenderer invertedRenderer(inverted.bytes());
    EXPECT_EQ(firstRow(invertedRenderer.render(0, {0.5, 1001})),
              (std::vector<int>{255, 255, 255, 229, 178, 127, 76, 25, 0}));

    // The file's window is the default one.
    DicomTestImage windowedFile = rescaledRamp();
    windowedFile.windowCenter = -300;
    windowedFile.windowWidth = 400;
    const DicomRenderer fileWindowRenderer(windowedFile.bytes());
    ASSERT_TRUE(fileWindowRenderer.fileWindow());
    EXPECT_EQ(*fileWindowRenderer.fileWindow(), (DicomWindow{-300, 400}));
    EXPECT_EQ(firstRow(fileWindowRenderer.render()), firstRow(fileWindowRenderer.render(0, {-300, 400})));
    EXPECT_NE(firstRow(fileWindowRenderer.render()), spanned);
}

TEST(DicomRendererTest, MultiFrameFilesGiveRescaleAndWindowInTheirFunctionalGroups)
{
    // The rescaled ramp, its rescale in the shared groups and its window in
    // the first frame's.
    DicomTestImage image = DicomTestImage::ramp(1, 9, 0, 100);
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("enhanced.dcm"));
    ASSERT_TRUE(image.write(path));
    DcmFileFormat file;
    ASSERT_TRUE(file.loadFile(path.toLocal8Bit().constData()).good());
    DcmDataset *dataset = file.getDataset();
    DcmItem *shared = nullptr, *perFrame = nullptr, *rescale = nullptr, *window = nullptr;
    ASSERT_TRUE(dataset->findOrCreateSequenceItem(DCM_SharedFunctionalGroupsSequence, shared, 0).good());
    ASSERT_TRUE(shared->findOrCreateSequenceItem(DCM_PixelValueTransformationSequence, rescale, 0).good());
    rescale->putAndInsertString(DCM_RescaleSlope, "2");
    rescale->putAndInsertString(DCM_RescaleIntercept, "-1000");
    ASSERT_TRUE(dataset->findOrCreateSequenceItem(DCM_PerFrameFunctionalGroupsSequence, perFrame, 0).good());
    ASSERT_TRUE(perFrame->findOrCreateSequenceItem(DCM_FrameVOILUTSequence, window, 0).good());
    window->putAndInsertString(DCM_WindowCenter, "0.5");
    window->putAndInsertString(DCM_WindowWidth, "1001");
    ASSERT_TRUE(file.saveFile(path.toLocal8Bit().constData(), EXS_LittleEndianExplicit).good());

    const DicomRenderer renderer(path);
    ASSERT_TRUE(renderer.canDisplay());
    EXPECT_EQ(renderer.fileWindow(), (DicomWindow{0.5, 1001}));
    EXPECT_EQ(renderer.minMaxWindow(), (DicomWindow{-199.5, 1601}));
    EXPECT_EQ(firstRow(renderer.render()), (std::vector<int>{0, 0, 0, 26, 77, 128, 179, 230, 255}));
}

TEST(DicomRendererTest, SignedStoredBitsBelowTheAllocatedOnesAreSignExtended)
{
    // 12 of 16 bits, two's complement: -2048 is 0x800, -1 is 0xFFF.
    DicomTestImage image;
    image.rows = 1;
    image.columns = 4;
    image.bitsStored = 12;
    image.signedPixels = true;
    image.values = {-2048, -1, 0, 2047};
    const DicomRenderer renderer(image.bytes());
    ASSERT_TRUE(renderer.canDisplay()) << renderer.unavailableReason().toStdString();
    EXPECT_EQ(renderer.minMaxWindow(), (DicomWindow{0, 4096}));
    // Centre 0.5, width 4096: (v / 4095 + 0.5) * 255 rounded.
    EXPECT_EQ(firstRow(renderer.render(0, {0.5, 4096})), (std::vector<int>{0, 127, 128, 255}));

    // Eight-bit unsigned pixels through their own table.
    DicomTestImage bytes = DicomTestImage::ramp(1, 4, 0, 85);
    bytes.bitsAllocated = 8;
    bytes.bitsStored = 8;
    const DicomRenderer byteRenderer(bytes.bytes());
    EXPECT_EQ(firstRow(byteRenderer.render()), (std::vector<int>{0, 85, 170, 255}));

    // Thirty-two-bit pixels are windowed one by one.
    DicomTestImage words = DicomTestImage::ramp(1, 3, 100000, 100000);
    words.bitsAllocated = 32;
    words.bitsStored = 32;
    const DicomRenderer wordRenderer(words.bytes());
    EXPECT_EQ(firstRow(wordRenderer.render(0, {200000.5, 200001})), (std::vector<int>{0, 128, 255}));
}

TEST(DicomRendererTest, FramesOfAMultiFrameFileRenderSeparately)
{
    DicomTestImage image = DicomTestImage::ramp(1, 2, 0, 1000);
    image.frames = 3;
    image.values = {0, 0, 500, 500, 1000, 1000};
    const DicomRenderer renderer(image.bytes());
    ASSERT_TRUE(renderer.canDisplay()) << renderer.unavailableReason().toStdString();
    EXPECT_EQ(renderer.frameCount(), 3);
    // The min-max window covers all frames, not just the first.
    EXPECT_EQ(firstRow(renderer.render(0)), (std::vector<int>{0, 0}));
    EXPECT_EQ(firstRow(renderer.render(1)), (std::vector<int>{128, 128}));
    EXPECT_EQ(firstRow(renderer.render(2)), (std::vector<int>{255, 255}));
    EXPECT_TRUE(renderer.render(3).isNull());
    EXPECT_TRUE(renderer.render(-1).isNull());

    // Uncompressed colour frames come out as their RGB values, whatever the window.
    DicomTestImage colour;
    colour.rows = 1;
    colour.columns = 2;
    colour.frames = 2;
    colour.bitsAllocated = 8;
    colour.bitsStored = 8;
    colour.samplesPerPixel = 3;
    colour.photometric = QStringLiteral("RGB");
    colour.values = {255, 0, 0, 0, 128, 255, 10, 20, 30, 40, 50, 60};
    const DicomRenderer colourRenderer(colour.bytes());
    ASSERT_TRUE(colourRenderer.canDisplay()) << colourRenderer.unavailableReason().toStdString();
    EXPECT_FALSE(colourRenderer.isMonochrome());
    const QImage first = colourRenderer.render(0, {0, 1});
    EXPECT_EQ(first.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(first.pixel(1, 0), qRgb(0, 128, 255));
    EXPECT_EQ(colourRenderer.render(1).pixel(1, 0), qRgb(40, 50, 60));
}

TEST(DicomRendererTest, CompressedSamplesDisplayAndJpeg2000OnesSayWhyNot)
{
    if (!QFile::exists(sample("MR_small.dcm")))
        GTEST_SKIP() << "pydicom's sample files are not installed";

    // Lossless compressions give the uncompressed file's pixels, at its window.
    const DicomRenderer plain(sample("MR_small.dcm"));
    ASSERT_TRUE(plain.canDisplay());
    ASSERT_TRUE(plain.fileWindow());
    EXPECT_EQ(*plain.fileWindow(), (DicomWindow{600, 1600}));
    const QImage reference = plain.render();
    EXPECT_GT(distinctGreys(reference), 50);
    for (const char *name : {"MR_small_RLE.dcm", "MR_small_jpeg_ls_lossless.dcm"}) {
        const DicomRenderer renderer(sample(name));
        ASSERT_TRUE(renderer.canDisplay()) << name << ": " << renderer.unavailableReason().toStdString();
        EXPECT_EQ(renderer.render(), reference) << name;
    }
    // Lossless JPEG (process 14), which no sample holds: the same file compressed here.
    {
        DJEncoderRegistration::registerCodecs();
        DcmFileFormat file;
        ASSERT_TRUE(file.loadFile(sample("MR_small.dcm").toLocal8Bit().constData()).good());
        const DJ_RPLossless lossless;
        ASSERT_TRUE(file.getDataset()->chooseRepresentation(EXS_JPEGProcess14SV1, &lossless).good());
        QTemporaryDir directory;
        const QString path = directory.filePath(QStringLiteral("lossless.dcm"));
        ASSERT_TRUE(file.saveFile(path.toLocal8Bit().constData(), EXS_JPEGProcess14SV1).good());
        DJEncoderRegistration::cleanup();
        const DicomRenderer renderer(path);
        ASSERT_TRUE(renderer.canDisplay()) << renderer.unavailableReason().toStdString();
        EXPECT_EQ(renderer.render(), reference);
    }

    for (const char *name : {"JPEG-lossy.dcm", "JPGExtended.dcm"}) {
        const DicomRenderer renderer(sample(name));
        ASSERT_TRUE(renderer.canDisplay()) << name << ": " << renderer.unavailableReason().toStdString();
        EXPECT_EQ(renderer.size(), QSize(256, 1024)) << name;
        EXPECT_GT(distinctGreys(renderer.render()), 50) << name;
    }

    const DicomRenderer colour(sample("SC_rgb_rle_2frame.dcm"));
    ASSERT_TRUE(colour.canDisplay()) << colour.unavailableReason().toStdString();
    EXPECT_FALSE(colour.isMonochrome());
    EXPECT_EQ(colour.frameCount(), 2);
    const QImage first = colour.render(0), second = colour.render(1);
    EXPECT_EQ(first.format(), QImage::Format_RGB32);
    EXPECT_EQ(first.size(), QSize(100, 100));
    // Coloured stripes, and the second frame is not the first.
    EXPECT_EQ(first.pixel(50, 5), qRgb(255, 0, 0));
    EXPECT_NE(first, second);

    const DicomRenderer dose(sample("rtdose.dcm"));
    ASSERT_TRUE(dose.canDisplay()) << dose.unavailableReason().toStdString();
    EXPECT_EQ(dose.frameCount(), 15);
    EXPECT_FALSE(dose.render(14).isNull());
    EXPECT_NE(dose.render(0), dose.render(14));

    for (const char *name : {"MR_small_jp2klossless.dcm", "JPEG2000.dcm"}) {
        const DicomRenderer renderer(sample(name));
        EXPECT_FALSE(renderer.canDisplay()) << name;
        EXPECT_EQ(renderer.unavailableReason(), QStringLiteral("cannot display: JPEG 2000")) << name;
        EXPECT_TRUE(renderer.render().isNull()) << name;
    }

    const DicomRenderer waveform(sample("waveform_ecg.dcm"));
    EXPECT_EQ(waveform.unavailableReason(), QStringLiteral("cannot display: no image in the file"));

    // The store's decoder renders DICOM bytes at their own window.
    QFile file(sample("MR_small.dcm"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(MediaImageDecoder::decode(file.readAll()), reference);
}

TEST(DicomRendererTest, HostileHeadersAreRefusedBeforePixelsAreDecoded)
{
    const long peakBefore = peakResidentKiB();

    DicomTestImage huge = DicomTestImage::ramp(2, 2, 0);
    huge.rows = 60000;
    huge.columns = 60000;
    const DicomRenderer hugeRenderer(huge.bytes());
    EXPECT_FALSE(hugeRenderer.canDisplay());
    EXPECT_TRUE(hugeRenderer.unavailableReason().contains(QStringLiteral("too large")))
        << hugeRenderer.unavailableReason().toStdString();
    EXPECT_TRUE(hugeRenderer.render().isNull());

    DicomTestImage frames = DicomTestImage::ramp(16, 16, 0);
    frames.frameCountText = QStringLiteral("1000000000");
    const DicomRenderer framesRenderer(frames.bytes());
    EXPECT_FALSE(framesRenderer.canDisplay());
    EXPECT_TRUE(framesRenderer.unavailableReason().contains(QStringLiteral("too large")));

    // Frames that fit the limits but are not in the pixel data.
    frames.frameCountText = QStringLiteral("40");
    const DicomRenderer shortRenderer(frames.bytes());
    EXPECT_EQ(shortRenderer.unavailableReason(), QStringLiteral("cannot display: the pixel data is shorter than the image"));
    EXPECT_EQ(shortRenderer.frameCount(), 0);

    frames.frameCountText = QStringLiteral("-3");
    EXPECT_FALSE(DicomRenderer(frames.bytes()).canDisplay());

    // A compressed file claiming more frames than its fragments hold.
    if (QFile::exists(sample("MR_small_RLE.dcm"))) {
        QTemporaryDir directory;
        const QString path = directory.filePath(QStringLiteral("frames.dcm"));
        DcmFileFormat file;
        ASSERT_TRUE(file.loadFile(sample("MR_small_RLE.dcm").toLocal8Bit().constData()).good());
        file.getDataset()->putAndInsertString(DCM_NumberOfFrames, "30000");
        ASSERT_TRUE(file.saveFile(path.toLocal8Bit().constData()).good());
        const DicomRenderer compressed(path);
        EXPECT_EQ(compressed.unavailableReason(), QStringLiteral("cannot display: the compressed frames are missing"));
    }

    // Truncated and foreign bytes.
    const QByteArray whole = DicomTestImage::ramp(64, 64, 0).bytes();
    EXPECT_FALSE(DicomRenderer(whole.left(whole.size() - 100)).canDisplay());
    EXPECT_EQ(DicomRenderer(QByteArray("not a DICOM file")).unavailableReason(),
              QStringLiteral("cannot display: not a DICOM file"));

    // Nothing above took memory for the pixels its header claimed.
    EXPECT_LT(peakResidentKiB() - peakBefore, 200 * 1024);
}

TEST(DicomRendererTest, ThumbnailsShowTheFirstFrameAtTheFileWindowOrWhyNot)
{
    QTemporaryDir directory;
    // 0 to 1000 across; the file's window makes the left half black and
    // the right half white.
    DicomTestImage image = DicomTestImage::ramp(4, 400, 0, 0);
    for (int i = 0; i < 1600; ++i)
        image.values[i] = (i % 400) < 200 ? 0 : 1000;
    image.windowCenter = 500;
    image.windowWidth = 10;
    const QString path = directory.filePath(QStringLiteral("scan.dcm"));
    ASSERT_TRUE(image.write(path));
    const MediaThumbnailRenderer::Thumbnail thumbnail = MediaThumbnailRenderer::render(path, 100);
    EXPECT_EQ(thumbnail.kind, MediaThumbnailRenderer::Kind::Image);
    ASSERT_EQ(thumbnail.image.size(), QSize(100, 1));
    EXPECT_EQ(qGray(thumbnail.image.pixel(10, 0)), 0);
    EXPECT_EQ(qGray(thumbnail.image.pixel(90, 0)), 255);

    if (!QFile::exists(sample("JPEG2000.dcm")))
        return;
    const QString jpeg2000 = directory.filePath(QStringLiteral("j2k.dcm"));
    ASSERT_TRUE(QFile::copy(sample("JPEG2000.dcm"), jpeg2000));
    const MediaThumbnailRenderer::Thumbnail refused = MediaThumbnailRenderer::render(jpeg2000, 100);
    EXPECT_EQ(refused.kind, MediaThumbnailRenderer::Kind::Placeholder);
    EXPECT_EQ(refused.image, PlaceholderImage::unavailable(QStringLiteral("cannot display: JPEG 2000"), 100));
    EXPECT_NE(refused.image, PlaceholderImage::unavailable(QStringLiteral("cannot display: no image in the file"), 100));
}

TEST(DicomRendererTest, OverlayTextNamesTheWindowWithMinusSignsAndTheFrame)
{
    EXPECT_EQ(DicomWindowing::overlayText(DicomWindow{-600, 1500}, 0, 1), QStringLiteral("W 1500 L \u2212600"));
    EXPECT_EQ(DicomWindowing::overlayText(DicomWindow{40.25, 80}, 2, 15), QStringLiteral("W 80 L 40.3  frame 3/15"));
    EXPECT_EQ(DicomWindowing::overlayText(std::nullopt, 1, 2), QStringLiteral("frame 2/2"));
    EXPECT_EQ(DicomWindowing::overlayText(std::nullopt, 0, 1), QString());
    // A drag never makes the width less than one.
    EXPECT_EQ(DicomWindowing::dragged(DicomWindow{40, 400}, QPointF(-1000, 10), 2), (DicomWindow{60, 1}));
}
