#pragma once

#include <QList>
#include <QUrl>

#include "media/ui/AbstractMediaCollectionViewController.h"

namespace ovalis {

// The media window's grid: its selection drives the display beside it, and
// it takes the commands that change a case's media (import, drop, reorder,
// delete, duplicate, reveal).
class SelectableMediaCollectionViewController : public AbstractMediaCollectionViewController
{
    Q_OBJECT

public:
    explicit SelectableMediaCollectionViewController(QWidget *parent = nullptr);

    QList<Media *> selectedMedia() const;
    // Steps the selection by delta (+1 or -1), clamped at both ends.
    void moveSelection(int delta);
    void updateDisplayForSelection();
    void reloadMedia() override;

    // Reorders the case's media: the dragged indexes move as a block to the drop index.
    void moveItems(const QList<int> &indexes, int dropIndex);
    // Adds the files to the current case on a private child context, in order.
    void importURLs(const QList<QUrl> &urls);

signals:
    // The display beside the grid shows what these say (the split view
    // connects them): the case after each reload, and the media for the
    // selection (null with multipleFiles for several, null alone for none).
    void currentCaseShown(ovalis::Case *item);
    void displayRequested(ovalis::Media *media, bool multipleFiles);

public slots:
    void importMedia();
    void showInFinder();
    void deleteMedia();
    void deleteMediaFile();
    void duplicate();
};

} // namespace ovalis
