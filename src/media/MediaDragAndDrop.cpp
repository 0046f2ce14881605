#include "media/MediaDragAndDrop.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <algorithm>

#include "media/DicomRenderer.h"
#include "store/MediaTypes.h"
#include "util/Log.h"

namespace ovalis {

QString MediaDragAndDrop::mediaDragType()
{
    return QStringLiteral("nz.org.vantor.ovalis.MediaDrag");
}

QMimeData *MediaDragAndDrop::mimeDataForIndexes(const QList<int> &indexes)
{
    QByteArrayList lines;
    for (int index : indexes)
        lines.append(QByteArray::number(index));
    auto *data = new QMimeData;
    data->setData(mediaDragType(), lines.join('\n'));
    return data;
}

bool MediaDragAndDrop::isMediaDrag(const QMimeData *data)
{
    return data && data->hasFormat(mediaDragType());
}

QList<int> MediaDragAndDrop::draggedIndexes(const QMimeData *data)
{
    QList<int> indexes;
    if (!isMediaDrag(data))
        return indexes;
    for (const QByteArray &line : data->data(mediaDragType()).split('\n')) {
        bool ok = false;
        const int index = line.trimmed().toInt(&ok, 10);
        if (ok)
            indexes.append(index);
    }
    return indexes;
}

bool MediaDragAndDrop::isAcceptedDropFile(const QUrl &url)
{
    const QString extension = MediaTypes::extensionOf(url.path());
    return MediaTypes::isImage(extension) || MediaTypes::isMovie(extension);
}

MediaDragAndDrop::DropOperation MediaDragAndDrop::validateDrop(const QMimeData *data, bool hasCase)
{
    if (!hasCase || !data)
        return DropOperation::None;
    if (isMediaDrag(data))
        return DropOperation::Move;
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty()) {
        Log::error(LogArea::UI, QStringLiteral("Unable to get data from drag pasteboard"));
        return DropOperation::None;
    }
    if (std::all_of(urls.cbegin(), urls.cend(), isAcceptedDropFile))
        return DropOperation::Copy;
    return dicomDropPaths(data).isEmpty() ? DropOperation::None : DropOperation::Copy;
}

QStringList MediaDragAndDrop::dicomDropPaths(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return {};
    // Drags are validated on every move: only the first few entries are opened.
    constexpr int examined = 16;
    QStringList paths;
    bool holdsDicom = false;
    const QList<QUrl> urls = data->urls();
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            return {};
        const QString path = url.toLocalFile();
        paths.append(path);
        if (holdsDicom || paths.size() > examined)
            continue;
        const QFileInfo info(path);
        if (info.isDir()) {
            holdsDicom = true;
        } else if (!isAcceptedDropFile(url)) {
            QFile file(path);
            holdsDicom = file.open(QIODevice::ReadOnly) && DicomRenderer::isDicomData(file.read(132));
        }
    }
    return holdsDicom ? paths : QStringList();
}

QStringList MediaDragAndDrop::importNameFilters()
{
    const auto patterns = [](const QStringList &extensions) {
        QStringList result;
        for (const QString &extension : extensions)
            result.append(QStringLiteral("*.") + extension);
        return result.join(QLatin1Char(' '));
    };
    return {
        QStringLiteral("Images (%1)").arg(patterns(MediaTypes::acceptedImageExtensions())),
        QStringLiteral("JPEG (%1)").arg(patterns(MediaTypes::extensions(MediaType::JPEG))),
        QStringLiteral("PNG (%1)").arg(patterns(MediaTypes::extensions(MediaType::PNG))),
        QStringLiteral("GIF (%1)").arg(patterns(MediaTypes::extensions(MediaType::GIF))),
        QStringLiteral("TIFF (%1)").arg(patterns(MediaTypes::extensions(MediaType::TIFF))),
    };
}

} // namespace ovalis
