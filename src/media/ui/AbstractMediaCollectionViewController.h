#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

#include "util/ObserverToken.h"

class QListView;

namespace ovalis {

class Case;
class Media;
class MediaCollectionModel;
class MediaGridView;
class MediaThumbnailDelegate;
class MediaThumbnailProvider;

// A thumbnail grid of one case's media, in display order. Reloads whenever
// "Updated Media" is posted while it is visible. This base is read-only: the
// detail side's preview shows it as it is.
class AbstractMediaCollectionViewController : public QWidget
{
    Q_OBJECT

public:
    explicit AbstractMediaCollectionViewController(QWidget *parent = nullptr);
    // Thumbnails come from provider (not owned; it must outlive the grid)
    // instead of the program's shared one.
    explicit AbstractMediaCollectionViewController(MediaThumbnailProvider *provider, QWidget *parent = nullptr);
    ~AbstractMediaCollectionViewController() override;

    QListView *collectionView() const;
    Case *currentCase() const;
    // Sets the case and reloads the grid.
    void setCurrentCase(Case *item);
    // The case's sortedMedia at the last reload; empty without a case.
    const QList<Media *> &mediaArray() const;

    // The size of the square the thumbnails are drawn in (by default the
    // provider's thumbnail size); the grid's cells follow it.
    void setThumbnailDisplaySide(int side);
    int thumbnailDisplaySide() const;

    MediaCollectionModel *model() const { return m_model; }
    MediaThumbnailProvider *thumbnailProvider() const { return m_provider; }
    // Whether "Updated Media" is observed (while the grid is shown).
    bool isObservingMedia() const { return m_updatedMediaToken.isActive(); }

public slots:
    virtual void reloadMedia();

protected:
    MediaGridView *gridView() const { return m_view; }
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    MediaThumbnailProvider *m_provider; // Not owned.
    MediaCollectionModel *m_model;      // Owned (child).
    MediaGridView *m_view;              // Owned (child).
    MediaThumbnailDelegate *m_delegate; // Owned (child of the view).
    Case *m_currentCase = nullptr;      // Not owned; belongs to the main context.
    QList<Media *> m_mediaArray;
    ObserverToken m_updatedMediaToken;
};

} // namespace ovalis
