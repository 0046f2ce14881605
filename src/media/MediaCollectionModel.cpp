#include "media/MediaCollectionModel.h"

#include <QImage>
#include <algorithm>

#include "media/MediaDragAndDrop.h"
#include "media/MediaThumbnailProvider.h"
#include "store/Media.h"

namespace ovalis {

MediaCollectionModel::MediaCollectionModel(MediaThumbnailProvider *provider, QObject *parent)
    : QAbstractListModel(parent)
    , m_provider(provider)
{
    connect(m_provider, &MediaThumbnailProvider::thumbnailReady, this, &MediaCollectionModel::thumbnailReady);
}

MediaCollectionModel::~MediaCollectionModel()
{
    cancelThumbnails();
}

void MediaCollectionModel::setMedia(const QList<Media *> &media)
{
    QList<QString> paths;
    paths.reserve(media.size());
    for (const Media *item : media)
        paths.append(item->filePath());
    if (media == m_media && paths == m_paths) {
        // The same items: refresh them in place, keeping selection and scroll.
        if (!m_media.isEmpty())
            emit dataChanged(index(0), index(int(m_media.size()) - 1));
        return;
    }
    beginResetModel();
    cancelThumbnails();
    m_media = media;
    m_paths = paths;
    m_uuids.clear();
    m_rowsByUuid.clear();
    for (int row = 0; row < m_media.size(); ++row) {
        m_uuids.append(m_media[row]->uuid());
        m_rowsByUuid.insert(m_uuids.last(), row);
    }
    endResetModel();
}

void MediaCollectionModel::prefetchThumbnails()
{
    for (int row = 0; row < m_media.size(); ++row)
        m_provider->thumbnail(m_uuids[row], m_paths[row], this, MediaThumbnailProvider::Priority::Prefetch);
}

void MediaCollectionModel::cancelThumbnails()
{
    m_provider->cancelRequests(this);
}

Media *MediaCollectionModel::mediaAt(int row) const
{
    return row >= 0 && row < m_media.size() ? m_media[row] : nullptr;
}

int MediaCollectionModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_media.size());
}

QVariant MediaCollectionModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int row = index.row();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return m_media[row]->fileName();
    case Qt::DecorationRole: {
        const std::optional<QImage> image = m_provider->thumbnail(m_uuids[row], m_paths[row], this);
        return image ? QVariant(*image) : QVariant();
    }
    case ThumbnailReadyRole:
        return m_provider->kind(m_uuids[row], m_paths[row]).has_value();
    default:
        return {};
    }
}

Qt::ItemFlags MediaCollectionModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags result = QAbstractListModel::flags(index);
    if (index.isValid() && m_dragEnabled)
        result |= Qt::ItemIsDragEnabled;
    return result;
}

QStringList MediaCollectionModel::mimeTypes() const
{
    return {MediaDragAndDrop::mediaDragType()};
}

QMimeData *MediaCollectionModel::mimeData(const QModelIndexList &indexes) const
{
    QList<int> rows;
    for (const QModelIndex &index : indexes)
        if (index.isValid() && index.model() == this)
            rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return MediaDragAndDrop::mimeDataForIndexes(rows);
}

Qt::DropActions MediaCollectionModel::supportedDragActions() const
{
    return Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
}

void MediaCollectionModel::thumbnailReady(const QString &uuid)
{
    for (auto it = m_rowsByUuid.constFind(uuid); it != m_rowsByUuid.cend() && it.key() == uuid; ++it) {
        const QModelIndex changed = index(it.value());
        emit dataChanged(changed, changed, {Qt::DecorationRole, ThumbnailReadyRole});
    }
}

} // namespace ovalis
