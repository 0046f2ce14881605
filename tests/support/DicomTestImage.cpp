#include "support/DicomTestImage.h"

#include <QFile>
#include <QTemporaryDir>

#include <cmath>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>

namespace ovalis::test {

DicomTestImage DicomTestImage::ramp(int rows, int columns, qint32 first, qint32 step)
{
    DicomTestImage image;
    image.rows = rows;
    image.columns = columns;
    image.values.reserve(size_t(rows) * columns);
    for (int i = 0; i < rows * columns; ++i)
        image.values.push_back(first + i * step);
    return image;
}

DicomTestImage DicomTestImage::ctPhantom(int side)
{
    DicomTestImage image;
    image.rows = side;
    image.columns = side;
    image.rescaleSlope = 1;
    image.rescaleIntercept = -1024;
    image.windowCenter = 40;
    image.windowWidth = 400;
    image.values.reserve(size_t(side) * side);
    const auto inside = [](double u, double v, double cu, double cv, double ru, double rv) {
        const double du = (u - cu) / ru, dv = (v - cv) / rv;
        return du * du + dv * dv < 1.0;
    };
    quint32 state = 2463534242u;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const double u = 2.0 * (x + 0.5) / side - 1.0, v = 2.0 * (y + 0.5) / side - 1.0;
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int noise = int(state % 31) - 15;
            int hu = -1000;
            if (inside(u, v, 0, 0, 0.85, 0.68)) {
                hu = 40 + noise;
                const bool lung = inside(u, v, -0.4, -0.05, 0.3, 0.48) || inside(u, v, 0.4, -0.05, 0.3, 0.48);
                const bool vessel = lung && (int(std::abs(u) * 37) % 5 == 0) && (int((v + 1) * 29) % 4 == 0);
                if (lung)
                    hu = vessel ? 30 + noise : -850 + noise;
                if (inside(u, v, 0.02, 0.05, 0.2, 0.22))
                    hu = 50 + noise;
                if (inside(u, v, 0, 0.48, 0.11, 0.1))
                    hu = inside(u, v, 0, 0.48, 0.07, 0.065) ? 300 + noise : 900 + noise;
                if (!inside(u, v, 0, 0, 0.8, 0.63) && int((std::atan2(v, u) + 4) * 12) % 3 == 0)
                    hu = 700 + noise; // ribs under the skin
            }
            image.values.push_back(hu + 1024);
        }
    }
    return image;
}

bool DicomTestImage::write(const QString &path) const
{
    DcmFileFormat file;
    DcmDataset *dataset = file.getDataset();
    char uid[100];
    dataset->putAndInsertString(DCM_SOPClassUID, UID_SecondaryCaptureImageStorage);
    dataset->putAndInsertString(DCM_SOPInstanceUID, dcmGenerateUniqueIdentifier(uid, SITE_INSTANCE_UID_ROOT));
    dataset->putAndInsertString(DCM_Modality, "CT");
    dataset->putAndInsertUint16(DCM_Rows, Uint16(rows));
    dataset->putAndInsertUint16(DCM_Columns, Uint16(columns));
    dataset->putAndInsertUint16(DCM_SamplesPerPixel, Uint16(samplesPerPixel));
    dataset->putAndInsertString(DCM_PhotometricInterpretation, photometric.toLatin1().constData());
    if (samplesPerPixel > 1)
        dataset->putAndInsertUint16(DCM_PlanarConfiguration, 0);
    dataset->putAndInsertUint16(DCM_BitsAllocated, Uint16(bitsAllocated));
    dataset->putAndInsertUint16(DCM_BitsStored, Uint16(bitsStored));
    dataset->putAndInsertUint16(DCM_HighBit, Uint16(bitsStored - 1));
    dataset->putAndInsertUint16(DCM_PixelRepresentation, signedPixels ? 1 : 0);
    if (!frameCountText.isEmpty())
        dataset->putAndInsertString(DCM_NumberOfFrames, frameCountText.toLatin1().constData());
    else if (frames > 1)
        dataset->putAndInsertString(DCM_NumberOfFrames, QByteArray::number(frames).constData());
    if (rescaleSlope)
        dataset->putAndInsertString(DCM_RescaleSlope, QByteArray::number(*rescaleSlope).constData());
    if (rescaleIntercept)
        dataset->putAndInsertString(DCM_RescaleIntercept, QByteArray::number(*rescaleIntercept).constData());
    if (windowCenter)
        dataset->putAndInsertString(DCM_WindowCenter, QByteArray::number(*windowCenter).constData());
    if (windowWidth)
        dataset->putAndInsertString(DCM_WindowWidth, QByteArray::number(*windowWidth).constData());

    const size_t bytesPerValue = size_t(bitsAllocated / 8);
    std::vector<Uint8> pixels(values.size() * bytesPerValue + (values.size() * bytesPerValue) % 2);
    for (size_t i = 0; i < values.size(); ++i) {
        const quint32 word = quint32(values[i]);
        for (size_t b = 0; b < bytesPerValue; ++b)
            pixels[i * bytesPerValue + b] = Uint8(word >> (8 * b));
    }
    OFCondition status;
    if (bitsAllocated == 8)
        status = dataset->putAndInsertUint8Array(DCM_PixelData, pixels.data(), unsigned(pixels.size()));
    else
        status = dataset->putAndInsertUint16Array(DCM_PixelData, reinterpret_cast<const Uint16 *>(pixels.data()),
                                                  unsigned(pixels.size() / 2));
    if (status.bad())
        return false;
    return file.saveFile(path.toLocal8Bit().constData(), EXS_LittleEndianExplicit).good();
}

QByteArray DicomTestImage::bytes() const
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("image.dcm"));
    if (!directory.isValid() || !write(path))
        return {};
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace ovalis::test
