#pragma once

#include <QImage>
#include <QString>

namespace ovalis {

class Media;

// Edits of a DICOM medium (crops, annotations) never replace its file: the
// edited picture becomes a new PNG medium right after it in its case, and
// the DICOM file stays as the import wrote it. Main thread only.
class DicomDerivedImage
{
public:
    // Whether the media's file is DICOM, and so kept by edits.
    static bool keepsOriginal(const Media *media);

    // Adds image as a PNG named after the original with suffix ("scan
    // crop.png") right after it, as one undo step named actionName (undo
    // takes the new medium and its file out again). Answers the new medium,
    // or null (logged) when it could not be written.
    static Media *add(Media *original, const QImage &image, const QString &suffix, const QString &actionName);
};

} // namespace ovalis
