#include "media/ui/SelectableMediaCollectionViewController.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QPointer>
#include <algorithm>
#include <memory>

#include "exchange/ui/DicomImportDialog.h"
#include "media/FileManagerReveal.h"
#include "media/MediaDragAndDrop.h"
#include "media/MediaCollectionModel.h"
#include "media/MediaFileImport.h"
#include "media/MediaReordering.h"
#include "media/MediaThumbnailProvider.h"
#include "media/ui/MediaGridView.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "util/Log.h"
#include "util/SerialQueue.h"

namespace ovalis {

SelectableMediaCollectionViewController::SelectableMediaCollectionViewController(QWidget *parent)
    : SelectableMediaCollectionViewController(MediaThumbnailProvider::shared(), parent)
{
}

SelectableMediaCollectionViewController::SelectableMediaCollectionViewController(MediaThumbnailProvider *provider,
                                                                                 QWidget *parent)
    : AbstractMediaCollectionViewController(provider, parent)
{
    // The display signals' arguments, for queued connections and spies.
    qRegisterMetaType<ovalis::Case *>();
    qRegisterMetaType<ovalis::Media *>();
    MediaGridView *view = gridView();
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    model()->setDragEnabled(true);
    view->setDragEnabled(true);
    view->setDragDropMode(QAbstractItemView::DragDrop);
    view->setDropHandlers([this](const QMimeData *data) { return validateDrop(data); },
                          [this](const QMimeData *data, int dropIndex) { return acceptDrop(data, dropIndex); });
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &SelectableMediaCollectionViewController::selectionChanged);

    addCommand(QStringLiteral("Import Media…"), QKeySequence(Qt::CTRL | Qt::Key_I),
               &SelectableMediaCollectionViewController::importMedia);
    addCommand(QStringLiteral("Show in File Manager"), QKeySequence(),
               &SelectableMediaCollectionViewController::showInFinder);
    addCommand(QStringLiteral("Duplicate"), QKeySequence(Qt::CTRL | Qt::Key_D),
               &SelectableMediaCollectionViewController::duplicate);
    auto *separator = new QAction(this);
    separator->setSeparator(true);
    m_actions.append(separator);
    addCommand(QStringLiteral("Delete"), QKeySequence::Delete, &SelectableMediaCollectionViewController::deleteSelection);
    addCommand(QStringLiteral("Delete File Only"), QKeySequence(),
               &SelectableMediaCollectionViewController::deleteMediaFile);
    view->addActions(m_actions);
    view->setContextMenuPolicy(Qt::ActionsContextMenu);
}

SelectableMediaCollectionViewController::~SelectableMediaCollectionViewController() = default;

QAction *SelectableMediaCollectionViewController::addCommand(const QString &text, const QKeySequence &shortcut,
                                                            void (SelectableMediaCollectionViewController::*slot)())
{
    auto *action = new QAction(text, this);
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(action, &QAction::triggered, this, slot);
    m_actions.append(action);
    return action;
}

QList<Media *> SelectableMediaCollectionViewController::selectedMedia() const
{
    QList<Media *> result;
    for (const QModelIndex &index : gridView()->selectionModel()->selectedIndexes())
        if (index.row() < mediaArray().size())
            result.append(mediaArray()[index.row()]);
    return result;
}

void SelectableMediaCollectionViewController::reloadMedia()
{
    // The same records stay selected across a reload when they are still there.
    const QList<Media *> previouslySelected = selectedMedia();
    m_updatingSelection = true;
    AbstractMediaCollectionViewController::reloadMedia();
    QItemSelectionModel *selection = gridView()->selectionModel();
    if (!selection->hasSelection()) {
        for (Media *item : previouslySelected) {
            const int row = int(mediaArray().indexOf(item));
            if (row >= 0)
                selection->select(model()->index(row), QItemSelectionModel::Select);
        }
    }
    if (!mediaArray().isEmpty() && !selection->hasSelection()) {
        selection->select(model()->index(0), QItemSelectionModel::Select);
        selection->setCurrentIndex(model()->index(0), QItemSelectionModel::NoUpdate);
    }
    m_updatingSelection = false;
    emit currentCaseShown(currentCase());
    updateDisplayForSelection();
}

void SelectableMediaCollectionViewController::selectionChanged(const QItemSelection &, const QItemSelection &)
{
    if (!m_updatingSelection)
        updateDisplayForSelection();
}

void SelectableMediaCollectionViewController::updateDisplayForSelection()
{
    QItemSelectionModel *selection = gridView()->selectionModel();
    const QModelIndexList selected = selection->selectedIndexes();
    if (selected.isEmpty()) {
        emit displayRequested(nullptr, false);
        return;
    }
    if (selected.size() > 1) {
        emit displayRequested(nullptr, true);
        return;
    }
    const int row = selected.first().row();
    if (row < 0 || row >= mediaArray().size()) {
        m_updatingSelection = true;
        selection->select(selected.first(), QItemSelectionModel::Deselect);
        m_updatingSelection = false;
        emit displayRequested(nullptr, false);
        return;
    }
    emit displayRequested(mediaArray()[row], false);
}

void SelectableMediaCollectionViewController::selectOnly(int row)
{
    QItemSelectionModel *selection = gridView()->selectionModel();
    const QModelIndex index = model()->index(row);
    m_updatingSelection = true;
    selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_updatingSelection = false;
}

void SelectableMediaCollectionViewController::moveSelection(int delta)
{
    const int count = model()->rowCount();
    if (count == 0)
        return;
    QItemSelectionModel *selection = gridView()->selectionModel();
    const QModelIndexList selected = selection->selectedIndexes();
    int row;
    if (selected.isEmpty()) {
        row = delta < 1 ? count - 1 : 0;
    } else {
        const QModelIndex current = selection->currentIndex();
        const int from = current.isValid() && selection->isSelected(current) ? current.row() : selected.first().row();
        row = std::clamp(from + delta, 0, count - 1);
    }
    selectOnly(row);
    gridView()->scrollTo(model()->index(row), QAbstractItemView::PositionAtCenter);
    updateDisplayForSelection();
}

void SelectableMediaCollectionViewController::moveItems(const QList<int> &indexes, int dropIndex)
{
    Case *item = currentCase();
    if (!item)
        return;
    const QList<Media *> media = item->sortedMedia();
    const std::optional<MediaReordering::Move> move = MediaReordering::moveItems(int(media.size()), indexes, dropIndex);
    if (!move)
        return;
    for (int position = 0; position < move->order.size(); ++position)
        media[move->order[position]]->setOrderIndex(position);
    m_updatingSelection = true;
    AbstractMediaCollectionViewController::reloadMedia();
    m_updatingSelection = false;
    if (move->selectedPosition < model()->rowCount()) {
        selectOnly(move->selectedPosition);
        gridView()->scrollTo(model()->index(move->selectedPosition), QAbstractItemView::PositionAtTop);
    } else {
        gridView()->selectionModel()->clearSelection();
    }
    updateDisplayForSelection();
}

MediaDragAndDrop::DropOperation SelectableMediaCollectionViewController::validateDrop(const QMimeData *data) const
{
    return MediaDragAndDrop::validateDrop(data, currentCase() != nullptr);
}

bool SelectableMediaCollectionViewController::acceptDrop(const QMimeData *data, int dropIndex)
{
    if (MediaDragAndDrop::isMediaDrag(data)) {
        moveItems(MediaDragAndDrop::draggedIndexes(data), dropIndex);
        return true;
    }
    if (const QStringList dicom = MediaDragAndDrop::dicomDropPaths(data); !dicom.isEmpty() && currentCase()) {
        reviewDicom(dicom);
        return true;
    }
    const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();
    if (urls.isEmpty())
        return false;
    importURLs(urls);
    return true;
}

void SelectableMediaCollectionViewController::reviewDicom(const QStringList &paths)
{
    Case *item = currentCase();
    ManagedObjectContext *context = item ? item->managedObjectContext() : nullptr;
    if (!context)
        return;
    // The import's background child finds the case by its permanent identifier.
    if (context->hasChanges())
        context->saveWithParent(true);
    auto *dialog = new DicomImportDialog(context, item->objectID(),
                                         item->summary().isEmpty() ? item->patientID() : item->summary(), window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->chooseSelectedCase();
    QPointer<SelectableMediaCollectionViewController> grid(this);
    connect(dialog, &DicomImportDialog::importFinished, this, [grid] {
        if (grid)
            grid->reloadMedia();
    });
    dialog->addPaths(paths);
    dialog->show();
}

void SelectableMediaCollectionViewController::importURLs(const QList<QUrl> &urls)
{
    QPointer<SelectableMediaCollectionViewController> grid(this);
    MediaFileImport::importFiles(currentCase(), urls, MediaFileImport::Options(), [grid] {
        if (!grid)
            return;
        grid->reloadMedia();
        emit grid->importFinished();
    });
}

void SelectableMediaCollectionViewController::importMedia()
{
    auto *dialog = new QFileDialog(window(), QStringLiteral("Import Media"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setNameFilters(MediaDragAndDrop::importNameFilters());
    // The Qt dialog, so that its accept button reads "Import Media".
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Import Media"));
    // Qt's own dialog reports the chosen files by path only (urlsSelected
    // comes from the platform's dialogs).
    connect(dialog, &QFileDialog::filesSelected, this, [this](const QStringList &paths) {
        QList<QUrl> urls;
        for (const QString &path : paths)
            urls.append(QUrl::fromLocalFile(path));
        importURLs(urls);
    });
    dialog->open();
}

void SelectableMediaCollectionViewController::showInFinder()
{
    Log::info(LogArea::UI, QStringLiteral("Show in Finder"));
    QList<QUrl> files;
    for (Media *item : selectedMedia()) {
        if (item->fileName().isNull() || item->uuid().isNull())
            continue;
        Log::info(LogArea::UI, QStringLiteral("Show: ") + item->description());
        if (const std::optional<QUrl> url = item->fileURL())
            files.append(*url);
    }
    FileManagerReveal::reveal(files);
}

void SelectableMediaCollectionViewController::deleteSelection()
{
    Log::info(LogArea::UI, QStringLiteral("MediaCollectionViewController delete"));
    Case *item = currentCase();
    if (!item) {
        Log::error(LogArea::UI, QStringLiteral("MediaCollectionViewController delete - no current case"));
        return;
    }
    item->removeMedia(selectedMedia());
    reloadMedia();
}

void SelectableMediaCollectionViewController::deleteMedia()
{
    Log::info(LogArea::UI, QStringLiteral("Delete media"));
    deleteSelection();
}

void SelectableMediaCollectionViewController::deleteMediaFile()
{
    const QList<Media *> media = selectedMedia();
    CoreDataStack *stack = nullptr;
    for (Media *item : media) {
        Log::info(LogArea::Filing, QStringLiteral("Delete file ") + item->description());
        item->deleteFile();
        if (item->managedObjectContext())
            stack = item->managedObjectContext()->stack();
    }
    reloadMedia();
    if (!stack)
        return;
    // The files go on the deletion queue; once they are gone the grid shows
    // the placeholders and the display hears of the missing files.
    QPointer<SelectableMediaCollectionViewController> grid(this);
    stack->fileDeletionQueue()->async([grid] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [grid] {
                if (!grid)
                    return;
                grid->thumbnailProvider()->revalidate();
                grid->reloadMedia();
                grid->collectionView()->viewport()->update();
            },
            Qt::QueuedConnection);
    });
}

void SelectableMediaCollectionViewController::duplicate()
{
    Case *item = currentCase();
    for (Media *media : selectedMedia()) {
        Log::info(LogArea::Filing, QStringLiteral("Duplicate file ") + media->description());
        if (item)
            item->duplicateMedia(media, int(item->media().size()));
    }
}

} // namespace ovalis
