#pragma once

#include <QString>
#include <memory>

class DcmFileFormat;
class DcmItem;

namespace ovalis {

class DicomUidMap;

// Takes the patient out of a DICOM object before it enters the library,
// following the basic application level confidentiality profile with the
// option that retains patient characteristics: the attributes that name or
// locate the patient, the staff, the institution, the devices, the requests
// and the dates are removed, emptied or given dummy values; sex, age, size,
// weight, sex neutered, smoking and pregnancy status stay. Every private
// attribute goes, at every depth. Every UID that is not a standard one (SOP
// classes, transfer syntaxes) is replaced through the library's map, in the
// file meta information and in nested sequences alike, so that the files of
// one study still make one study. The pixel data is left exactly as it is,
// compressed or not. Afterwards the object says that the identity was removed
// and how.
class DicomDeidentifier
{
public:
    struct Check {
        bool readable = false;
        bool identityRemoved = false; // Patient Identity Removed is YES.
        bool hasPrivateTags = false;  // At any depth.
        QString error;                // Why it is not readable.
    };

    explicit DicomDeidentifier(std::shared_ptr<DicomUidMap> map);

    // In place. False, with the reason, when a UID could not be replaced; the
    // object must then not be written anywhere.
    bool deidentify(DcmFileFormat &file, QString *error = nullptr);
    bool deidentifyDataset(DcmItem &dataset, QString *error = nullptr);
    // Reads source, de-identifies it and writes it to destination (see save()).
    bool deidentifyFile(const QString &source, const QString &destination, QString *error = nullptr);

    // Reads a whole file; large values are read from the file when needed.
    // Files larger than maximumFileSize are refused.
    static bool load(DcmFileFormat &file, const QString &path, QString *error = nullptr);
    // Writes the file in its own transfer syntax with a new meta header
    // through a hidden temporary file renamed into place when whole; an
    // existing destination is refused. Does not wait for the disk.
    static bool save(DcmFileFormat &file, const QString &path, QString *error = nullptr);
    static Check check(const QString &path);

    // Keeps the toolkit's warnings about the files it reads (which say what
    // the callers report themselves) off standard error.
    static void quietenToolkit();

    // The text of De-identification Method: values separated by backslashes.
    static QString methodDescription();
    static constexpr qint64 maximumFileSize = qint64(4) << 30;

private:
    bool cleanItem(DcmItem &item, int depth, QString *error);
    bool replaceUids(DcmItem &item, QString *error);

    std::shared_ptr<DicomUidMap> m_map;
};

} // namespace ovalis
