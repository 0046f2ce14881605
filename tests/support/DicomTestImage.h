#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace ovalis::test {

// A small DICOM image written with DCMTK, for the tests that read DICOM:
// uncompressed little endian, CT secondary capture, one sample per pixel
// unless the values are RGB triples.
struct DicomTestImage {
    int rows = 4;
    int columns = 4;
    int frames = 1; // written as NumberOfFrames when above 1 or when frameCountText is set
    int bitsAllocated = 16;
    int bitsStored = 16;
    bool signedPixels = false;
    int samplesPerPixel = 1;
    QString photometric = QStringLiteral("MONOCHROME2");
    std::optional<double> rescaleSlope;
    std::optional<double> rescaleIntercept;
    std::optional<double> windowCenter;
    std::optional<double> windowWidth;
    // Overrides what the header says about the frames, for hostile headers.
    QString frameCountText;
    // Stored values, frame after frame, row after row (samples interleaved);
    // as many as the header asks for unless a test wants fewer.
    std::vector<qint32> values;

    // A ramp of stored values from first, one step per pixel.
    static DicomTestImage ramp(int rows, int columns, qint32 first, qint32 step = 1);

    // A CT-like axial slice of side x side pixels in Hounsfield units
    // (stored + 1024, intercept -1024): air, a body of soft tissue with two
    // lungs with vessels in them, a heart and a spine, with noise; the
    // file's window is soft tissue, 40/400.
    static DicomTestImage ctPhantom(int side);

    // The file's bytes; empty when DCMTK would not write it.
    QByteArray bytes() const;
    // Writes the file; false when it could not be written.
    bool write(const QString &path) const;
};

} // namespace ovalis::test
