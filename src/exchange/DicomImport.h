#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>

#include "exchange/DicomScanner.h"
#include "store/ObjectID.h"

namespace ovalis {

class ManagedObjectContext;

// What to take from a scan and where to put it.
struct DicomImportChoices {
    enum class Target { CasePerStudy, ExistingCase, CaseByPatientId };
    Target target = Target::CasePerStudy;
    ObjectID existingCase;      // Target::ExistingCase (e.g. the selected case)
    QString patientId;          // Target::CaseByPatientId: the case with this patientID, made when none
    QSet<QString> series;       // series instance UIDs to import; every series when empty
    QHash<QString, int> everyNth; // per series uid: keep image 1, 1+N, 1+2N ...; 1 when absent
    enum Field { PatientID = 1, Sex = 2, DateOfBirth = 4, DateOfDiagnosis = 8, Summary = 16, Detail = 32, Tags = 64 };
    int fields = 127; // which case fields the headers fill (only on cases the import makes,
                      // and on an existing case only where the field is empty)
    // Set (from any thread) to stop after the image being imported; what was
    // imported by then is saved, and the summary says cancelled.
    std::shared_ptr<std::atomic<bool>> cancel;
};

struct DicomImportSummary {
    int casesCreated = 0;
    int imagesImported = 0;
    int duplicates = 0;
    QStringList failed; // "path: reason"
    bool cancelled = false;
};

// Brings the images of a scan into the library, de-identified: each image is
// written as <media uuid>.dcm in the media folder with the patient taken out
// (see DicomDeidentifier), and becomes a media record, in series then
// instance order. The headers as they were fill the case fields chosen:
// Patient ID, sex, birth date, study date as the date of diagnosis, study
// description as the summary, one line of detail per series imported, and
// modality and body part as tags. An image whose original SOP Instance UID
// already became a media record that is still in the library is counted as a
// duplicate and skipped; a file that fails is named and the rest go on.
class DicomImport
{
public:
    // Returns at once; runs on a serial queue off the main thread with "Update Labelled Progress", makes
    // records on a private child of mainContext, saves every 100 images and at the end, calls finished on the
    // main thread. Call on the main thread.
    static void importStudies(const DicomScanResult &scan, const DicomImportChoices &choices,
                              ManagedObjectContext *mainContext, std::function<void(const DicomImportSummary &)> finished);

    // The images of a series that the choices keep, in order.
    static QStringList chosenFiles(const DicomSeriesInfo &series, const DicomImportChoices &choices);
    // The line of a case's detail that stands for a series.
    static QString detailLine(const DicomSeriesInfo &series);
};

} // namespace ovalis
