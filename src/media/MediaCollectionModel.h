#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QList>

namespace ovalis {

class Media;
class MediaThumbnailProvider;

// The items of a media grid: one row per media of the list it is given, its
// file name as the text and its thumbnail as the decoration. A thumbnail that
// is not ready yet has no decoration; when it arrives only its row changes.
class MediaCollectionModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        // Whether the decoration is the finished thumbnail.
        ThumbnailReadyRole = Qt::UserRole + 1,
    };

    // provider is not owned and must outlive the model.
    explicit MediaCollectionModel(MediaThumbnailProvider *provider, QObject *parent = nullptr);
    ~MediaCollectionModel() override;

    // Media records are not owned; they belong to their context. A new list
    // resets the model and withdraws the thumbnail work for the old one not
    // yet started; the same records at the same file locations only have
    // their rows refreshed.
    void setMedia(const QList<Media *> &media);
    const QList<Media *> &media() const { return m_media; }
    Media *mediaAt(int row) const;
    // Asks for every row's thumbnail behind those the view asks for while
    // painting, so that scrolling finds them ready.
    void prefetchThumbnails();
    // Withdraws this model's requests for thumbnails not yet started.
    void cancelThumbnails();

    // Whether items can be dragged out (as their positions, see MediaDragAndDrop).
    void setDragEnabled(bool enabled) { m_dragEnabled = enabled; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override;

private:
    void thumbnailReady(const QString &uuid);

    MediaThumbnailProvider *m_provider; // Not owned.
    QList<Media *> m_media;              // Not owned.
    // Where each media's file is and which rows show it, taken when the
    // list is set, so that painting computes no paths.
    QList<QString> m_paths;
    QList<QString> m_uuids;
    QMultiHash<QString, int> m_rowsByUuid;
    bool m_dragEnabled = false;
};

} // namespace ovalis
