#include "store/MediaTypes.h"

#include <array>

namespace ovalis {

namespace {

struct Entry {
    MediaType type;
    const char *extension;
};

// Within a type, the preferred extension comes first.
constexpr std::array<Entry, 17> table{{
    {MediaType::JPEG, "jpg"},
    {MediaType::JPEG, "jpeg"},
    {MediaType::PNG, "png"},
    {MediaType::GIF, "gif"},
    {MediaType::TIFF, "tif"},
    {MediaType::TIFF, "tiff"},
    {MediaType::Movie, "mov"},
    {MediaType::Movie, "mp4"},
    {MediaType::Movie, "m4v"},
    {MediaType::Movie, "avi"},
    {MediaType::Movie, "mpg"},
    {MediaType::Movie, "mpeg"},
    {MediaType::Movie, "mkv"},
    {MediaType::Movie, "webm"},
    {MediaType::Movie, "3gp"},
    {MediaType::PDF, "pdf"},
    {MediaType::DICOM, "dcm"},
}};

bool isImageType(MediaType type)
{
    return type == MediaType::JPEG || type == MediaType::PNG || type == MediaType::GIF || type == MediaType::TIFF;
}

} // namespace

std::optional<MediaType> MediaTypes::typeForExtension(const QString &extension)
{
    for (const Entry &entry : table)
        if (extension == QLatin1String(entry.extension))
            return entry.type;
    return std::nullopt;
}

std::optional<MediaType> MediaTypes::typeForExtensionIgnoringCase(const QString &extension)
{
    for (const Entry &entry : table)
        if (extension.compare(QLatin1String(entry.extension), Qt::CaseInsensitive) == 0)
            return entry.type;
    return std::nullopt;
}

QString MediaTypes::extensionOf(const QString &fileName)
{
    const QString name = fileName.mid(fileName.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot <= 0 ? QString() : name.mid(dot + 1);
}

bool MediaTypes::isImage(const QString &extension)
{
    const std::optional<MediaType> type = typeForExtensionIgnoringCase(extension);
    return type && isImageType(*type);
}

bool MediaTypes::isMovie(const QString &extension)
{
    return typeForExtensionIgnoringCase(extension) == MediaType::Movie;
}

bool MediaTypes::isPdf(const QString &extension)
{
    return typeForExtensionIgnoringCase(extension) == MediaType::PDF;
}

bool MediaTypes::isDicom(const QString &extension)
{
    return typeForExtensionIgnoringCase(extension) == MediaType::DICOM;
}

QStringList MediaTypes::extensions(MediaType type)
{
    QStringList result;
    for (const Entry &entry : table)
        if (entry.type == type)
            result.append(QLatin1String(entry.extension));
    return result;
}

QStringList MediaTypes::acceptedImageExtensions()
{
    QStringList result;
    for (const Entry &entry : table)
        if (isImageType(entry.type))
            result.append(QLatin1String(entry.extension));
    return result;
}

QStringList MediaTypes::acceptedMovieExtensions()
{
    return extensions(MediaType::Movie);
}

QStringList MediaTypes::acceptedExtensions()
{
    return acceptedImageExtensions() + acceptedMovieExtensions() + acceptedPdfExtensions();
}

QByteArray MediaTypes::writerFormat(MediaType type)
{
    switch (type) {
    case MediaType::JPEG: return QByteArrayLiteral("jpeg");
    case MediaType::PNG: return QByteArrayLiteral("png");
    case MediaType::TIFF: return QByteArrayLiteral("tiff");
    case MediaType::GIF:
    case MediaType::Movie:
    case MediaType::PDF:
    case MediaType::DICOM: break;
    }
    return {};
}

} // namespace ovalis
