#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace ovalis {

enum class MediaType { JPEG, PNG, GIF, TIFF, Movie, PDF, DICOM };

// The file types the library accepts, as one fixed table of lower-case
// extensions per type (without the dot). Two rules read it: the exact one,
// by which "JPG" is not a JPEG, decides what a folder tree holds for the
// folder import; files that the user hands over one by one (drops, the
// Import Media dialog) and files already in the library are judged by their
// extension in any letter case, so a camera's IMG_0001.JPG is a JPEG.
class MediaTypes
{
public:
    // The type an extension names exactly, or nothing for an extension not in the table.
    static std::optional<MediaType> typeForExtension(const QString &extension);
    // The type an extension names in any letter case ("JPG" as "jpg").
    static std::optional<MediaType> typeForExtensionIgnoringCase(const QString &extension);
    // The extension of a file name or path (after the last dot of its last component).
    static QString extensionOf(const QString &fileName);

    static bool isAccepted(const QString &extension) { return typeForExtension(extension).has_value(); }
    // The kind of a file by its extension in any letter case.
    static bool isImage(const QString &extension);
    static bool isMovie(const QString &extension);
    static bool isPdf(const QString &extension);
    // A DICOM file in the library: always one that the DICOM import wrote,
    // de-identified. Files from elsewhere are told DICOM by their content.
    static bool isDicom(const QString &extension);

    // The table's extensions of one type, the first being the one new files get.
    static QStringList extensions(MediaType type);
    static QString preferredExtension(MediaType type) { return extensions(type).constFirst(); }
    static QStringList acceptedImageExtensions();
    static QStringList acceptedMovieExtensions();
    static QStringList acceptedPdfExtensions() { return extensions(MediaType::PDF); }
    // Every extension of the table: images, then movies, then PDF (not DICOM,
    // which only enters through the DICOM import).
    static QStringList acceptedExtensions();

    // The image writer format that encodes the type; empty for types that are not written here.
    static QByteArray writerFormat(MediaType type);
};

} // namespace ovalis
