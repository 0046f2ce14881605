#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

#include "store/ObjectID.h"

namespace ovalis {

class Case;
class ManagedObjectContext;

// Writes cases for a teaching-file site: a folder per case holding its
// de-identified DICOM files (00001.dcm, ... in display order), a PNG of each
// at the file's own window (00001.png, ...) and case.json with the summary,
// detail, tags, age and sex — never the patient identifier, a name or a date
// of birth. Only DICOM media are written: other images may carry a name
// burned into their pixels, and the DICOM files are checked before they are
// copied: one that does not say its identity was removed, or that still holds
// private attributes, is refused and named; a case all of whose files are
// refused leaves no folder.
class TeachingExport
{
public:
    struct Summary {
        int casesExported = 0;
        int dicomFiles = 0;
        int renders = 0;
        // Cases without one DICOM file in the library: nothing is written for them.
        int casesWithoutDicom = 0;
        // "library path: reason" for each DICOM file not written because it failed the check.
        QStringList refused;
        // Folders or files that could not be written, and files that could not be rendered.
        QStringList failures;
    };

    // summary, detail, tags (sorted labels), age (whole years at diagnosis,
    // when both dates are known) and sex ("Male", "Female", "Non-binary"; left out when unknown).
    static QJsonObject caseDocument(const Case *item);

    // Starts the export of the cases into folder and returns at once: the
    // cases are read on a private child of parent, "Update Labelled Progress"
    // follows the work, finished runs on the main thread. Each case gets the
    // first free folder name "Case 001", "Case 002", ... in folder.
    static void exportCases(const QList<ObjectID> &cases, ManagedObjectContext *parent, const QString &folder,
                            std::function<void(const Summary &)> finished);

    // The same on the calling thread (that of the cases' context).
    static Summary exportCasesNow(const QList<Case *> &cases, const QString &folder);
};

} // namespace ovalis
