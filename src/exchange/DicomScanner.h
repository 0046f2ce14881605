#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace ovalis {

// One series of the files scanned, as its headers describe it. The texts are
// as the files give them (control characters aside), "" when absent.
struct DicomSeriesInfo {
    QString seriesInstanceUid;
    int seriesNumber = 0;
    QString modality, seriesDescription, bodyPartExamined, burnedInAnnotation;
    QDate seriesDate;
    QStringList files; // sorted by instance number, then path
    QStringList sopInstanceUids; // of the files, in their order
    // Whether the pixels may show text such as the patient's name: Burned In
    // Annotation says YES, or it is absent on ultrasound and secondary capture.
    bool mayCarryBurnedInText() const;
    // Set by the scan for the rule above: the series' SOP class is secondary capture.
    bool secondaryCapture = false;
};

struct DicomStudyInfo {
    QString studyInstanceUid, patientId, patientName, sex, studyDescription;
    QDate birthDate, studyDate;
    QList<DicomSeriesInfo> series; // by series number
};

struct DicomScanResult {
    QList<DicomStudyInfo> studies; // by study date, then uid
    QStringList notDicom;          // paths passed over (no DICM preamble)
    QStringList unreadable;        // "path: reason" for DICOM files that could not be read
    QStringList notImages;         // "path: reason" for DICOM objects without pixel data (reports, waveforms, DICOMDIRs)
    bool cancelled = false;
    int imageCount() const;
};

// Finds the DICOM images among files and folders and sorts them into
// studies and series by their headers.
class DicomScanner
{
public:
    // "DICM" at offset 128; the name does not matter.
    static bool isDicomFile(const QString &path);
    // Files, folders (recursively, hidden entries skipped, symbolic links not
    // followed) and DICOMDIR files (their referenced files, each resolved
    // inside the DICOMDIR's folder only). Reads headers only (stops before
    // pixel data). progress(filesDone, filesTotal) returning false cancels
    // (partial result). Thread-safe; call off the UI thread.
    static DicomScanResult scan(const QStringList &paths, const std::function<bool(int, int)> &progress = {});
    // The files a DICOMDIR refers to that exist inside its folder, in its
    // order; a reference leading outside the folder is left out.
    static QStringList filesOfDicomDir(const QString &path, QString *error = nullptr);
};

} // namespace ovalis
