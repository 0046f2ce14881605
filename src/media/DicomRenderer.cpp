#include "media/DicomRenderer.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmimage/diregist.h>
#include <dcmtk/dcmimgle/dcmimage.h>
#include <dcmtk/dcmjpeg/djdecode.h>
#include <dcmtk/dcmjpls/djdecode.h>
#include <dcmtk/oflog/oflog.h>

#include "store/MediaImageDecoder.h"

namespace ovalis {

namespace {

const QString unavailablePrefix = QStringLiteral("cannot display: ");

void registerDecoders()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Damaged and hostile files are expected; their warnings are noise.
        OFLog::configure(OFLogger::ERROR_LOG_LEVEL);
        DJDecoderRegistration::registerCodecs();
        DcmRLEDecoderRegistration::registerCodecs();
        DJLSDecoderRegistration::registerCodecs();
    });
}

bool isJpeg2000(E_TransferSyntax syntax)
{
    return syntax == EXS_JPEG2000LosslessOnly || syntax == EXS_JPEG2000 || syntax == EXS_JPEG2000MulticomponentLosslessOnly
           || syntax == EXS_JPEG2000Multicomponent;
}

// The grey a modality value gets in the window: the linear ramp over the
// window, black at and below its lower edge and white above its upper one.
uchar windowed(double value, const DicomWindow &window)
{
    const double width = std::max(1.0, window.width);
    const double middle = window.center - 0.5;
    const double half = (width - 1) / 2;
    if (value <= middle - half)
        return 0;
    if (value > middle + half)
        return 255;
    // ((value - middle) / (width - 1) + 0.5) * 255, rounded, multiplied
    // first so that exact values stay exact.
    const double grey = (value - middle) * 255.0 / (width - 1) + 128.0;
    return uchar(std::clamp(grey, 0.0, 255.0));
}

// The item holding tag: the dataset itself, else (in multi-frame files that
// keep them in functional groups) the shared groups' macro, else the first
// frame's; null when none has it.
DcmItem *itemWith(DcmDataset *dataset, const DcmTagKey &tag, const DcmTagKey &macro)
{
    if (dataset->tagExists(tag))
        return dataset;
    for (const DcmTagKey &groups : {DCM_SharedFunctionalGroupsSequence, DCM_PerFrameFunctionalGroupsSequence}) {
        DcmItem *group = nullptr, *item = nullptr;
        if (dataset->findAndGetSequenceItem(groups, group, 0).good() && group
            && group->findAndGetSequenceItem(macro, item, 0).good() && item && item->tagExists(tag))
            return item;
    }
    return nullptr;
}

// The store decodes media bytes below this layer: Media::image(), crops and
// annotations get DICOM pictures through the hook installed here.
[[maybe_unused]] const bool decoderInstalled = [] {
    MediaImageDecoder::setDicomDecoder(&DicomRenderer::renderDefault);
    return true;
}();

} // namespace

struct DicomRenderer::Private {
    QString reason;
    DcmFileFormat file;
    int rows = 0;
    int columns = 0;
    int frames = 0;
    int samples = 1;
    int bitsAllocated = 0;
    int bitsStored = 0;
    int highBit = 0;
    bool signedPixels = false;
    bool monochrome = false;
    bool inverted = false;
    double slope = 1.0;
    double intercept = 0.0;
    std::optional<DicomWindow> fileWindow;
    DicomWindow minMax;
    const Uint8 *pixels = nullptr; // the uncompressed pixel data, owned by file
    qint64 frameBytes = 0;

    void load(const QByteArray &data);
    bool readHeader(DcmDataset *dataset);
    bool decompress(DcmDataset *dataset);
    bool findPixels(DcmDataset *dataset);
    void readMonochromeValues(DcmDataset *dataset);
    bool unavailable(const QString &why)
    {
        reason = unavailablePrefix + why;
        return false;
    }

    // The stored value of one pixel word: its bits from highBit down, sign
    // extended when pixels are signed.
    qint64 storedValue(quint32 word) const
    {
        const int shift = highBit + 1 - bitsStored;
        const quint64 mask = (quint64(1) << bitsStored) - 1;
        qint64 value = qint64((quint64(word) >> shift) & mask);
        if (signedPixels && (value & (qint64(1) << (bitsStored - 1))))
            value -= qint64(1) << bitsStored;
        return value;
    }
    double modalityValue(quint32 word) const { return storedValue(word) * slope + intercept; }
    quint32 word(const Uint8 *frame, qint64 index) const
    {
        switch (bitsAllocated) {
        case 8:
            return frame[index];
        case 16: {
            quint16 value;
            std::memcpy(&value, frame + index * 2, 2);
            return value;
        }
        default: {
            quint32 value;
            std::memcpy(&value, frame + index * 4, 4);
            return value;
        }
        }
    }
    QImage renderMonochrome(int frame, const DicomWindow &window) const;
    QImage renderColour(int frame) const;
};

void DicomRenderer::Private::load(const QByteArray &data)
{
    registerDecoders();
    if (!isDicomData(data)) {
        unavailable(QStringLiteral("not a DICOM file"));
        return;
    }
    DcmInputBufferStream stream;
    stream.setBuffer(data.constData(), offile_off_t(data.size()));
    stream.setEos();
    file.transferInit();
    const OFCondition status = file.read(stream, EXS_Unknown, EGL_noChange);
    file.transferEnd();
    if (status.bad()) {
        unavailable(QStringLiteral("the file is damaged"));
        return;
    }
    DcmDataset *dataset = file.getDataset();
    if (!readHeader(dataset) || !decompress(dataset) || !findPixels(dataset))
        return;
    if (monochrome)
        readMonochromeValues(dataset);
}

bool DicomRenderer::Private::readHeader(DcmDataset *dataset)
{
    if (!dataset->tagExists(DCM_PixelData))
        return unavailable(QStringLiteral("no image in the file"));
    Uint16 rowCount = 0, columnCount = 0, sampleCount = 1, allocated = 0, stored = 0, high = 0, representation = 0;
    dataset->findAndGetUint16(DCM_Rows, rowCount);
    dataset->findAndGetUint16(DCM_Columns, columnCount);
    dataset->findAndGetUint16(DCM_SamplesPerPixel, sampleCount);
    dataset->findAndGetUint16(DCM_BitsAllocated, allocated);
    if (dataset->findAndGetUint16(DCM_BitsStored, stored).bad())
        stored = allocated;
    if (dataset->findAndGetUint16(DCM_HighBit, high).bad())
        high = stored > 0 ? stored - 1 : 0;
    dataset->findAndGetUint16(DCM_PixelRepresentation, representation);
    OFString frameText;
    qint64 frameNumber = 1;
    if (dataset->findAndGetOFString(DCM_NumberOfFrames, frameText).good() && !frameText.empty()) {
        bool ok = false;
        frameNumber = QString::fromLatin1(frameText.c_str()).trimmed().toLongLong(&ok);
        if (!ok || frameNumber < 1)
            return unavailable(QStringLiteral("the number of frames is not valid"));
    }
    if (rowCount == 0 || columnCount == 0)
        return unavailable(QStringLiteral("the image has no size"));
    if (allocated != 8 && allocated != 16 && allocated != 32)
        return unavailable(QStringLiteral("%1-bit pixels are not supported").arg(allocated));
    if (stored < 1 || stored > allocated || high < stored - 1 || high >= allocated)
        return unavailable(QStringLiteral("the pixel bit layout is not valid"));
    if (sampleCount != 1 && sampleCount != 3)
        return unavailable(QStringLiteral("%1 samples per pixel are not supported").arg(sampleCount));
    const qint64 framePixels = qint64(rowCount) * columnCount;
    if (framePixels > maximumFramePixels)
        return unavailable(QStringLiteral("the image is too large (%1 x %2)").arg(columnCount).arg(rowCount));
    const qint64 bytes = framePixels * sampleCount * (allocated / 8);
    if (frameNumber > maximumDecodedBytes / bytes)
        return unavailable(QStringLiteral("the frames are too large together (%1 frames)").arg(frameNumber));

    rows = rowCount;
    columns = columnCount;
    frames = int(frameNumber);
    samples = sampleCount;
    bitsAllocated = allocated;
    bitsStored = stored;
    highBit = high;
    signedPixels = representation == 1;
    frameBytes = bytes;
    return true;
}

bool DicomRenderer::Private::decompress(DcmDataset *dataset)
{
    const DcmXfer original(dataset->getOriginalXfer());
    if (!original.isEncapsulated())
        return true;
    if (isJpeg2000(original.getXfer()))
        return unavailable(QStringLiteral("JPEG 2000"));
    DcmElement *element = nullptr;
    if (dataset->findAndGetElement(DCM_PixelData, element).bad() || !element)
        return unavailable(QStringLiteral("no image in the file"));
    // Each frame takes one fragment at least (the first item is the offset
    // table): a header claiming more frames than that would have the
    // decoders allocate for frames that are not there.
    DcmPixelSequence *sequence = nullptr;
    auto *pixelData = static_cast<DcmPixelData *>(element);
    if (pixelData->getEncapsulatedRepresentation(original.getXfer(), nullptr, sequence).bad() || !sequence
        || qint64(sequence->card()) - 1 < frames)
        return unavailable(QStringLiteral("the compressed frames are missing"));
    if (dataset->chooseRepresentation(EXS_LittleEndianExplicit, nullptr).bad()
        || !dataset->canWriteXfer(EXS_LittleEndianExplicit))
        return unavailable(QStringLiteral("compressed as %1").arg(QString::fromLatin1(original.getXferName())));
    return true;
}

bool DicomRenderer::Private::findPixels(DcmDataset *dataset)
{
    OFString photometric;
    dataset->findAndGetOFString(DCM_PhotometricInterpretation, photometric);
    const QString interpretation = QString::fromLatin1(photometric.c_str()).trimmed();
    monochrome = samples == 1 && interpretation.startsWith(QLatin1String("MONOCHROME"));
    inverted = interpretation == QLatin1String("MONOCHROME1");

    DcmElement *element = nullptr;
    Uint8 *bytes = nullptr;
    if (dataset->findAndGetElement(DCM_PixelData, element).bad() || !element || element->getUint8Array(bytes).bad()
        || !bytes)
        return unavailable(QStringLiteral("no image in the file"));
    if (qint64(element->getLength()) < frameBytes * frames)
        return unavailable(QStringLiteral("the pixel data is shorter than the image"));
    pixels = bytes;
    if (!monochrome) {
        // Colour models (RGB, YBR, palettes) are DCMTK's to convert.
        DicomImage first(dataset, EXS_LittleEndianExplicit, 0UL, 0UL, 1UL);
        if (first.getStatus() != EIS_Normal || first.isMonochrome())
            return unavailable(QStringLiteral("the colour model is not supported"));
    }
    return true;
}

void DicomRenderer::Private::readMonochromeValues(DcmDataset *dataset)
{
    Float64 value = 0;
    if (DcmItem *item = itemWith(dataset, DCM_RescaleSlope, DCM_PixelValueTransformationSequence);
        item && item->findAndGetFloat64(DCM_RescaleSlope, value).good() && std::isfinite(value))
        slope = value;
    if (DcmItem *item = itemWith(dataset, DCM_RescaleIntercept, DCM_PixelValueTransformationSequence);
        item && item->findAndGetFloat64(DCM_RescaleIntercept, value).good() && std::isfinite(value))
        intercept = value;
    Float64 center = 0, width = 0;
    if (DcmItem *item = itemWith(dataset, DCM_WindowCenter, DCM_FrameVOILUTSequence);
        item && item->findAndGetFloat64(DCM_WindowCenter, center, 0).good()
        && item->findAndGetFloat64(DCM_WindowWidth, width, 0).good() && width > 0 && std::isfinite(center)
        && std::isfinite(width))
        fileWindow = DicomWindow{center, width};

    qint64 lowest = std::numeric_limits<qint64>::max(), highest = std::numeric_limits<qint64>::min();
    const qint64 count = qint64(rows) * columns * frames;
    if (bitsAllocated <= 16) {
        // Each word value once, however many pixels share it.
        std::vector<bool> seen(size_t(1) << bitsAllocated);
        for (qint64 i = 0; i < count; ++i)
            seen[word(pixels, i)] = true;
        for (size_t w = 0; w < seen.size(); ++w) {
            if (!seen[w])
                continue;
            const qint64 stored = storedValue(quint32(w));
            lowest = std::min(lowest, stored);
            highest = std::max(highest, stored);
        }
    } else {
        for (qint64 i = 0; i < count; ++i) {
            const qint64 stored = storedValue(word(pixels, i));
            lowest = std::min(lowest, stored);
            highest = std::max(highest, stored);
        }
    }
    const double a = lowest * slope + intercept, b = highest * slope + intercept;
    const double low = std::min(a, b), high = std::max(a, b);
    // The lowest value black, the highest white, and for 8-bit values each
    // grey its own value.
    minMax = DicomWindow{(low + high + 1) / 2, high - low + 1};
}

QImage DicomRenderer::Private::renderMonochrome(int frame, const DicomWindow &window) const
{
    QImage image(columns, rows, QImage::Format_Grayscale8);
    if (image.isNull())
        return {};
    const Uint8 *start = pixels + frameBytes * frame;
    const auto grey = [&](double value) {
        const uchar shade = windowed(value, window);
        return inverted ? uchar(255 - shade) : shade;
    };
    if (bitsAllocated <= 16) {
        // One table entry per possible pixel word: a window costs at most
        // 65536 evaluations, then one lookup per pixel.
        std::vector<uchar> table(size_t(1) << bitsAllocated);
        for (size_t w = 0; w < table.size(); ++w)
            table[w] = grey(modalityValue(quint32(w)));
        for (int y = 0; y < rows; ++y) {
            uchar *line = image.scanLine(y);
            const qint64 offset = qint64(y) * columns;
            if (bitsAllocated == 8) {
                const Uint8 *source = start + offset;
                for (int x = 0; x < columns; ++x)
                    line[x] = table[source[x]];
            } else {
                const Uint8 *source = start + offset * 2;
                for (int x = 0; x < columns; ++x) {
                    quint16 value;
                    std::memcpy(&value, source + x * 2, 2);
                    line[x] = table[value];
                }
            }
        }
        return image;
    }
    for (int y = 0; y < rows; ++y) {
        uchar *line = image.scanLine(y);
        const qint64 offset = qint64(y) * columns;
        for (int x = 0; x < columns; ++x)
            line[x] = grey(modalityValue(word(start, offset + x)));
    }
    return image;
}

QImage DicomRenderer::Private::renderColour(int frame) const
{
    // DCMTK reads the dataset's pixels for the frame; the dataset itself is not changed.
    DicomImage source(const_cast<DcmFileFormat &>(file).getDataset(), EXS_LittleEndianExplicit, 0UL, ulong(frame), 1UL);
    if (source.getStatus() != EIS_Normal)
        return {};
    const auto *rgb = static_cast<const uchar *>(source.getOutputData(8, 0, 0));
    if (!rgb || source.getOutputDataSize(8) < ulong(rows) * ulong(columns) * 3)
        return {};
    QImage image(columns, rows, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    for (int y = 0; y < rows; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        const uchar *pixel = rgb + qint64(y) * columns * 3;
        for (int x = 0; x < columns; ++x, pixel += 3)
            line[x] = qRgb(pixel[0], pixel[1], pixel[2]);
    }
    return image;
}

bool DicomRenderer::isDicomData(const QByteArray &head)
{
    return MediaImageDecoder::isDicomData(head);
}

DicomRenderer::DicomRenderer(const QString &path)
    : d(std::make_unique<Private>())
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        d->unavailable(QStringLiteral("the file cannot be read"));
        return;
    }
    if (file.size() > maximumDecodedBytes) {
        d->unavailable(QStringLiteral("the file is too large"));
        return;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        d->unavailable(QStringLiteral("the file cannot be read"));
        return;
    }
    d->load(data);
}

DicomRenderer::DicomRenderer(const QByteArray &data)
    : d(std::make_unique<Private>())
{
    d->load(data);
}

DicomRenderer::~DicomRenderer() = default;

bool DicomRenderer::canDisplay() const
{
    return d->reason.isEmpty();
}

QString DicomRenderer::unavailableReason() const
{
    return d->reason;
}

int DicomRenderer::frameCount() const
{
    return canDisplay() ? d->frames : 0;
}

QSize DicomRenderer::size() const
{
    return canDisplay() ? QSize(d->columns, d->rows) : QSize();
}

bool DicomRenderer::isMonochrome() const
{
    return canDisplay() && d->monochrome;
}

std::optional<DicomWindow> DicomRenderer::fileWindow() const
{
    return d->fileWindow;
}

DicomWindow DicomRenderer::minMaxWindow() const
{
    return d->monochrome ? d->minMax : DicomWindow{127.5, 256};
}

DicomWindow DicomRenderer::defaultWindow() const
{
    return d->fileWindow.value_or(minMaxWindow());
}

QImage DicomRenderer::render(int frame) const
{
    return render(frame, defaultWindow());
}

QImage DicomRenderer::render(int frame, DicomWindow window) const
{
    if (!canDisplay() || frame < 0 || frame >= d->frames)
        return {};
    return d->monochrome ? d->renderMonochrome(frame, window) : d->renderColour(frame);
}

QImage DicomRenderer::renderDefault(const QByteArray &data)
{
    const DicomRenderer renderer(data);
    return renderer.render(0);
}

} // namespace ovalis
