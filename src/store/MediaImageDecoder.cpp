#include "store/MediaImageDecoder.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QPdfDocument>
#include <atomic>

namespace ovalis {

namespace {
constexpr qreal pdfScale = 2.0;
// Qt refuses to decode images of more than 128 MB by default, which stops
// at about 32 megapixels; crops and annotations need the whole image of
// photographs and scans of up to some 250 megapixels.
constexpr int allocationLimitMiB = 1024;

std::atomic<MediaImageDecoder::DicomDecoder> dicomDecoder{nullptr};
constexpr int dicomPreambleLength = 128;
}

void MediaImageDecoder::setDicomDecoder(DicomDecoder decoder)
{
    dicomDecoder.store(decoder);
}

QImage MediaImageDecoder::decode(const QByteArray &data)
{
    if (data.isEmpty())
        return {};
    if (isPdfData(data))
        return renderFirstPdfPage(data);
    if (isDicomData(data)) {
        const DicomDecoder decoder = dicomDecoder.load();
        return decoder ? decoder(data) : QImage();
    }
    static const bool limitRaised = [] {
        if (QImageReader::allocationLimit() < allocationLimitMiB)
            QImageReader::setAllocationLimit(allocationLimitMiB);
        return true;
    }();
    Q_UNUSED(limitRaised);
    return QImage::fromData(data);
}

bool MediaImageDecoder::isDicomData(const QByteArray &data)
{
    return data.size() >= dicomPreambleLength + 4 && data.mid(dicomPreambleLength, 4) == "DICM";
}

bool MediaImageDecoder::isPdfData(const QByteArray &data)
{
    // Readers accept the header anywhere in the first kilobyte.
    return data.left(1024).contains("%PDF-");
}

QImage MediaImageDecoder::renderFirstPdfPage(const QByteArray &data)
{
    QByteArray bytes = data;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QPdfDocument document(nullptr);
    document.load(&buffer);
    if (document.status() != QPdfDocument::Status::Ready || document.pageCount() < 1)
        return {};
    const QSize size = (document.pagePointSize(0) * pdfScale).toSize();
    if (size.isEmpty())
        return {};
    const QImage page = document.render(0, size);
    if (page.isNull())
        return {};
    QImage result(size, QImage::Format_RGB32);
    result.fill(Qt::white);
    QPainter painter(&result);
    painter.drawImage(0, 0, page);
    painter.end();
    return result;
}

} // namespace ovalis
