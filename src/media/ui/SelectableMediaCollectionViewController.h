#pragma once

#include <QList>
#include <QUrl>

#include "media/MediaDragAndDrop.h"
#include "media/ui/AbstractMediaCollectionViewController.h"

class QAction;
class QItemSelection;
class QMimeData;

namespace ovalis {

// The media window's grid: its selection drives the display beside it, and
// it takes the commands that change a case's media (import, drop, reorder,
// delete, duplicate, reveal).
class SelectableMediaCollectionViewController : public AbstractMediaCollectionViewController
{
    Q_OBJECT

public:
    explicit SelectableMediaCollectionViewController(QWidget *parent = nullptr);
    // Thumbnails from provider (not owned) instead of the shared one.
    explicit SelectableMediaCollectionViewController(MediaThumbnailProvider *provider, QWidget *parent = nullptr);
    ~SelectableMediaCollectionViewController() override;

    QList<Media *> selectedMedia() const;
    // Steps the selection by delta (+1 or -1), clamped at both ends.
    void moveSelection(int delta);
    void updateDisplayForSelection();
    void reloadMedia() override;

    // Reorders the case's media: the dragged indexes move as a block to the drop index.
    void moveItems(const QList<int> &indexes, int dropIndex);
    // Adds the files to the current case on a private child context, in order.
    // Returns at once; importFinished follows once the grid shows them.
    void importURLs(const QList<QUrl> &urls);

    // What a drop of data on the grid would do, and taking it at a position.
    MediaDragAndDrop::DropOperation validateDrop(const QMimeData *data) const;
    bool acceptDrop(const QMimeData *data, int dropIndex);

    // The commands with their shortcuts (Ctrl+I import, Ctrl+D duplicate,
    // Delete delete), active while the grid has focus; the grid's context
    // menu shows them, and a window may put them in its menus as well.
    QList<QAction *> commandActions() const { return m_actions; }

signals:
    // The display beside the grid shows what these say (the split view
    // connects them): the case after each reload, and the media for the
    // selection (null with multipleFiles for several, null alone for none).
    void currentCaseShown(ovalis::Case *item);
    void displayRequested(ovalis::Media *media, bool multipleFiles);
    // An importURLs has saved its media and reloaded the grid.
    void importFinished();

public slots:
    void importMedia();
    void showInFinder();
    // The delete command: the selected media and their files go.
    void deleteSelection();
    void deleteMedia();
    void deleteMediaFile();
    void duplicate();

private:
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected);
    // The DICOM import's review of dropped files, adding to the case shown.
    void reviewDicom(const QStringList &paths);
    void selectOnly(int row);
    QAction *addCommand(const QString &text, const QKeySequence &shortcut, void (SelectableMediaCollectionViewController::*slot)());

    QList<QAction *> m_actions; // Owned (children).
    // Set while the grid changes the selection itself, so that the display
    // hears of it once, at the end.
    bool m_updatingSelection = false;
};

} // namespace ovalis
