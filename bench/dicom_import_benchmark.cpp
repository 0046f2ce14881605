// Times the DICOM import of one CT study of 1,000 images of 512 x 512 16-bit
// pixels in four series: the scan of its headers, then the import with
// de-identification into an empty library, against a budget of 60 s for the
// two together; then the same import again, which finds every image in the
// library already.
//
//   build/bench/dicom_import_benchmark [--images N]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <cstdio>
#include <unistd.h>
#include <vector>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>

#include "BenchmarkReport.h"
#include "GeneratedLibrary.h"
#include "exchange/DicomImport.h"
#include "exchange/DicomScanner.h"

using namespace ovalis;
using namespace ovalis::bench;

namespace {

constexpr int seriesCount = 4;
constexpr int side = 512;

bool put(DcmItem &item, const DcmTagKey &key, const QString &value)
{
    return item.putAndInsertString(key, value.toLatin1().constData()).good();
}

// One synthetic CT slice with the identifying attributes real ones carry.
bool writeSlice(const QString &path, int series, int instance, std::vector<Uint16> &pixels)
{
    const QString study = QStringLiteral("1.2.826.0.1.3680043.9.7777.100");
    const QString seriesUid = study + QStringLiteral(".%1").arg(series);
    DcmFileFormat file;
    DcmDataset &data = *file.getDataset();
    for (size_t n = 0; n < pixels.size(); ++n)
        pixels[n] = Uint16((n % side + n / side + size_t(instance) * 3) & 0x0FFF);
    return put(data, DCM_SOPClassUID, QStringLiteral(UID_CTImageStorage))
           && put(data, DCM_SOPInstanceUID, seriesUid + QStringLiteral(".%1").arg(instance))
           && put(data, DCM_StudyInstanceUID, study) && put(data, DCM_SeriesInstanceUID, seriesUid)
           && put(data, DCM_FrameOfReferenceUID, study + QStringLiteral(".0")) && put(data, DCM_PatientName, QStringLiteral("Bench^Patient"))
           && put(data, DCM_PatientID, QStringLiteral("BENCH001")) && put(data, DCM_PatientBirthDate, QStringLiteral("19600101"))
           && put(data, DCM_PatientSex, QStringLiteral("M")) && put(data, DCM_StudyDate, QStringLiteral("20240101"))
           && put(data, DCM_InstitutionName, QStringLiteral("Bench Hospital")) && put(data, DCM_Modality, QStringLiteral("CT"))
           && put(data, DCM_StudyDescription, QStringLiteral("CT chest abdomen pelvis"))
           && put(data, DCM_SeriesDescription, QStringLiteral("Series %1").arg(series))
           && put(data, DCM_SeriesNumber, QString::number(series)) && put(data, DCM_InstanceNumber, QString::number(instance))
           && data.putAndInsertString(DcmTag(0x0029, 0x0010, EVR_LO), "BENCH PRIVATE").good()
           && data.putAndInsertString(DcmTag(0x0029, 0x1010, EVR_LO), "private value").good()
           && data.putAndInsertUint16(DCM_Rows, side).good() && data.putAndInsertUint16(DCM_Columns, side).good()
           && data.putAndInsertUint16(DCM_BitsAllocated, 16).good() && data.putAndInsertUint16(DCM_BitsStored, 12).good()
           && data.putAndInsertUint16(DCM_HighBit, 11).good() && data.putAndInsertUint16(DCM_PixelRepresentation, 0).good()
           && data.putAndInsertUint16(DCM_SamplesPerPixel, 1).good()
           && put(data, DCM_PhotometricInterpretation, QStringLiteral("MONOCHROME2"))
           && data.putAndInsertUint16Array(DCM_PixelData, pixels.data(), unsigned(pixels.size())).good()
           && file.saveFile(OFFilename(QFile::encodeName(path).constData()), EXS_LittleEndianExplicit).good();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false\n"));
    const qsizetype imagesAt = app.arguments().indexOf(QStringLiteral("--images"));
    const int images = imagesAt >= 0 ? app.arguments().value(imagesAt + 1).toInt() : 1000;
    if (images < seriesCount) {
        std::fprintf(stderr, "--images needs a number of at least %d\n", seriesCount);
        return 1;
    }
    QTemporaryDir scratch;
    const QString folder = scratch.filePath(QStringLiteral("Study"));
    QDir().mkpath(folder);
    std::vector<Uint16> pixels(size_t(side) * side);
    for (int n = 0; n < images; ++n) {
        const int series = n % seriesCount + 1;
        if (!writeSlice(QStringLiteral("%1/IM%2").arg(folder).arg(n, 5, 10, QLatin1Char('0')), series, n / seriesCount + 1, pixels)) {
            std::fprintf(stderr, "could not write the synthetic study\n");
            return 1;
        }
    }
    std::unique_ptr<CoreDataStack> stack = openLibraryAt(scratch.filePath(QStringLiteral("Library")));
    if (!stack)
        return 1;
    // Nothing of the generated study is left waiting to be written.
    ::sync();

    QElapsedTimer timer;
    timer.start();
    const DicomScanResult scan = DicomScanner::scan({folder});
    const double scanMs = double(timer.nsecsElapsed()) / 1e6;
    // The import's summary and its time in milliseconds.
    const auto timedImport = [&] {
        bool done = false;
        DicomImportSummary summary;
        QElapsedTimer importTimer;
        importTimer.start();
        DicomImport::importStudies(scan, {}, stack->mainContext(), [&](const DicomImportSummary &result) {
            summary = result;
            done = true;
        });
        waitFor(done);
        return std::make_pair(summary, double(importTimer.nsecsElapsed()) / 1e6);
    };
    const auto [summary, importMs] = timedImport();
    // The same study again: every image is found in the library and skipped.
    const auto [again, againMs] = timedImport();
    std::printf("DICOM import: %d studies, %d images scanned, %d imported into %d cases, %zu failed\n", int(scan.studies.size()),
                scan.imageCount(), summary.imagesImported, summary.casesCreated, size_t(summary.failed.size()));
    report("scan 1,000 CT images of 512 x 512", scanMs, 10000);
    report("import them de-identified into an empty library", importMs, 50000);
    report("scan and import together", scanMs + importMs, 60000);
    report("import them again, each found in the library", againMs, 10000);
    reportPeakMemory(512);
    return summary.imagesImported == images && again.duplicates == images ? 0 : 1;
}
