#include "media/ui/MediaWindowController.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QToolBar>

#include "media/ui/AnnotationWindowController.h"
#include "media/ui/MediaDisplayViewController.h"
#include "media/ui/MediaSplitViewController.h"
#include "media/ui/SelectableMediaCollectionViewController.h"
#include "store/CoreDataStack.h"
#include "store/LibraryNotifications.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/MediaTypes.h"
#include "util/ApplicationEventMonitor.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/Settings.h"
#include "util/ThemeIcon.h"
#include "util/UndoManager.h"
#include "util/ui/ApplicationHost.h"

namespace ovalis {

namespace {

const QString geometryKey = QStringLiteral("Media_Window_Frame");

QIcon enterFullScreenIcon()
{
    return ThemeIcon::firstOf({"view-fullscreen", "zoom-fit-best"});
}

QIcon exitFullScreenIcon()
{
    return ThemeIcon::firstOf({"view-restore", "view-fullscreen"});
}

} // namespace

MediaWindowController::MediaWindowController(CoreDataStack &stack, ApplicationHost *host, QWidget *parent)
    : QMainWindow(parent)
    , m_stack(stack)
    , m_splitViewController(new MediaSplitViewController(this))
{
    setObjectName(QStringLiteral("mediaWindow"));
    setWindowTitle(QStringLiteral("Media"));
    setCentralWidget(m_splitViewController);
    buildToolbar();
    buildMenus(host);
    displayViewController()->setFitToWindowToolbarItem(m_fitToWindowToolbarItem);
    displayViewController()->applyFitToWindow();
    connect(displayViewController(), &MediaDisplayViewController::showDescriptionChanged, this,
            [this](bool show) { m_toggleDescriptionToolbarItem->setChecked(show); });
    connect(displayViewController(), &MediaDisplayViewController::displayRefreshed, this,
            &MediaWindowController::validateMenuItems);
    connect(displayViewController(), &MediaDisplayViewController::selectionChanged, this,
            &MediaWindowController::validateMenuItems);
    validateMenuItems();

    if (!restoreGeometry(Settings::shared().dataValue(geometryKey))) {
        const QRect available = screen() ? screen()->availableGeometry() : QRect(0, 0, 1280, 800);
        resize(qMin(1200, available.width() - 40), qMin(800, available.height() - 40));
    }
}

MediaWindowController::~MediaWindowController() = default;

MediaDisplayViewController *MediaWindowController::displayViewController() const
{
    return m_splitViewController->displayViewController();
}

SelectableMediaCollectionViewController *MediaWindowController::collectionViewController() const
{
    return m_splitViewController->collectionViewController();
}

UndoManager *MediaWindowController::undoManager() const
{
    return m_stack.mainContext()->undoManager();
}

AnnotationWindowController *MediaWindowController::annotationWindowController() const
{
    return m_annotationWindowController;
}

void MediaWindowController::setCurrentCase(Case *item)
{
    collectionViewController()->setCurrentCase(item);
}

void MediaWindowController::buildToolbar()
{
    QToolBar *toolbar = addToolBar(QStringLiteral("Toolbar"));
    toolbar->setObjectName(QStringLiteral("mediaToolbar"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setIconSize(QSize(22, 22));
    toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    Log::info(LogArea::UI, QStringLiteral("Media window: set toolbar style to expanded"));

    m_fullScreenToolbarItem = toolbar->addAction(enterFullScreenIcon(), QStringLiteral("Enter Full Screen"), this,
                                                 &MediaWindowController::toggleFullScreen);
    m_fullScreenToolbarItem->setShortcut(QKeySequence(Qt::Key_F11));
    m_fitToWindowToolbarItem = toolbar->addAction(ThemeIcon::firstOf({"zoom-fit-best", "zoom-original"}), QStringLiteral("Full Size"),
                                                  this, &MediaWindowController::toggleFitToWindow);
    m_toggleDescriptionToolbarItem = toolbar->addAction(ThemeIcon::firstOf({"view-list-details", "text-x-generic", "help-about"}),
                                                        QStringLiteral("Description"), this,
                                                        &MediaWindowController::toggleDescriptionDisplay);
    m_toggleDescriptionToolbarItem->setCheckable(true);
    toolbar->addSeparator();
    toolbar->addAction(ThemeIcon::firstOf({"go-previous"}), QStringLiteral("Previous"), this,
                       &MediaWindowController::goToPreviousMediaItem);
    toolbar->addAction(ThemeIcon::firstOf({"go-next"}), QStringLiteral("Next"), this, &MediaWindowController::goToNextMediaItem);
    toolbar->addAction(ThemeIcon::firstOf({"media-playlist-shuffle", "view-refresh"}), QStringLiteral("Random Case"), this,
                       &MediaWindowController::goToRandomCase);
    toolbar->addSeparator();
    m_cropToolbarItem = toolbar->addAction(ThemeIcon::firstOf({"transform-crop", "image-crop", "edit-cut"}),
                                           QStringLiteral("Crop"), this, &MediaWindowController::cropSelectedImages);
    m_cropToolbarItem->setToolTip(QStringLiteral("Crop the selected images to the rectangle dragged over the image"));
    m_annotateToolbarItem = toolbar->addAction(ThemeIcon::firstOf({"draw-freehand", "document-edit", "accessories-text-editor"}),
                                               QStringLiteral("Annotate"), this, &MediaWindowController::annotateImage);
    // Shortcuts of the toolbar work in full screen, where the toolbar is hidden.
    addActions(toolbar->actions());
}

void MediaWindowController::buildMenus(ApplicationHost *host)
{
    const ApplicationHost::ApplicationMenus menus = ApplicationHost::addWindowMenus(host, menuBar(), this);
    QMenu *edit = menus.edit;
    QMenu *view = menus.view;

    UndoManager *undo = undoManager();
    QAction *firstEditItem = edit->actions().value(0);
    auto *undoItem = new QAction(QStringLiteral("Undo"), edit);
    undoItem->setShortcut(QKeySequence::Undo);
    connect(undoItem, &QAction::triggered, this, [undo] {
        if (undo && undo->canUndo())
            undo->undo();
    });
    auto *redoItem = new QAction(QStringLiteral("Redo"), edit);
    redoItem->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+Z")));
    connect(redoItem, &QAction::triggered, this, [undo] {
        if (undo && undo->canRedo())
            undo->redo();
    });
    edit->insertAction(firstEditItem, undoItem);
    edit->insertAction(firstEditItem, redoItem);
    if (firstEditItem)
        edit->insertSeparator(firstEditItem);
    auto updateUndoItems = [undo, undoItem, redoItem] {
        undoItem->setText(undo ? undo->undoMenuItemTitle() : QStringLiteral("Undo"));
        undoItem->setEnabled(undo && undo->canUndo());
        redoItem->setText(undo ? undo->redoMenuItemTitle() : QStringLiteral("Redo"));
        redoItem->setEnabled(undo && undo->canRedo());
    };
    if (undo)
        connect(undo, &UndoManager::changed, this, updateUndoItems);
    updateUndoItems();
    // The grid's own commands (import, duplicate, delete) where users look for them.
    edit->addSeparator();
    m_cropMenuItem = edit->addAction(QStringLiteral("Crop Images"), this, &MediaWindowController::cropSelectedImages);
    m_cropMenuItem->setShortcut(QKeySequence(QStringLiteral("Ctrl+K")));
    connect(edit, &QMenu::aboutToShow, this, &MediaWindowController::validateMenuItems);
    edit->addSeparator();
    edit->addActions(collectionViewController()->commandActions());

    m_toggleSplitViewMenuItem = view->addAction(QStringLiteral("Hide Browser"), this, &MediaWindowController::toggleSplitView);
    m_toggleSplitViewMenuItem->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+B")));
    view->addAction(m_fullScreenToolbarItem);
    view->addSeparator();
    m_fitToWindowMenuItem = view->addAction(QStringLiteral("Fit to Window"), this, &MediaWindowController::toggleFitToWindow);
    view->addAction(QStringLiteral("Show or Hide Description"), this, &MediaWindowController::toggleDescriptionDisplay);
    // DICOM images only; the display enables it.
    view->addAction(displayViewController()->resetWindowAction());
    view->addSeparator();
    view->addAction(QStringLiteral("Previous Media"), this, &MediaWindowController::goToPreviousMediaItem);
    view->addAction(QStringLiteral("Next Media"), this, &MediaWindowController::goToNextMediaItem);
    view->addAction(QStringLiteral("Random Case"), this, &MediaWindowController::goToRandomCase);
    view->addSeparator();
    m_annotateMenuItem = view->addAction(QStringLiteral("Annotate Image"), this, &MediaWindowController::annotateImage);
    connect(view, &QMenu::aboutToShow, this, &MediaWindowController::validateMenuItems);
}

void MediaWindowController::validateMenuItems()
{
    const MediaDisplayViewController *display = displayViewController();
    const bool available = display && !display->disableToggleFitToWindow();
    m_fitToWindowToolbarItem->setEnabled(available);
    m_fitToWindowMenuItem->setEnabled(available);
    m_annotateMenuItem->setEnabled(available);
    m_annotateToolbarItem->setEnabled(available);
    const bool croppable = m_splitViewController->canCropSelectedImages();
    m_cropMenuItem->setEnabled(croppable);
    m_cropToolbarItem->setEnabled(croppable);
}

bool MediaWindowController::handleKeyDown(QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    const bool command = modifiers & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_R:
        if (modifiers != Qt::NoModifier)
            return false;
        NotificationCenter::defaultCenter().post(LibraryNotifications::selectRandomCase);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        toggleDescriptionDisplay();
        return true;
    case Qt::Key_Space:
        if (!displayViewController()->disableToggleFitToWindow())
            toggleFitToWindow();
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const bool forwards = event->key() == Qt::Key_Right;
        if (command)
            NotificationCenter::defaultCenter().post(forwards ? LibraryNotifications::goNext : LibraryNotifications::goPrevious);
        else
            collectionViewController()->moveSelection(forwards ? 1 : -1);
        return true;
    }
    default:
        return false;
    }
}

void MediaWindowController::toggleSplitView()
{
    const bool collapse = !m_splitViewController->isBrowserCollapsed();
    m_splitViewController->setBrowserCollapsed(collapse, true);
    m_toggleSplitViewMenuItem->setText(collapse ? QStringLiteral("Show Browser") : QStringLiteral("Hide Browser"));
    displayViewController()->toggleBackdropTransparency();
}

void MediaWindowController::toggleFullScreen()
{
    if (m_inFullScreen) {
        showNormal();
        windowDidExitFullScreen();
    } else {
        windowWillEnterFullScreen();
        showFullScreen();
    }
}

void MediaWindowController::windowWillEnterFullScreen()
{
    m_inFullScreen = true;
    m_splitScreenWasCollapsed = m_splitViewController->isBrowserCollapsed();
    m_splitViewController->setBrowserCollapsed(true, true);
    m_splitViewController->setDividerHidden(true);
    displayViewController()->toggleBackdropTransparency();
    m_fullScreenToolbarItem->setText(QStringLiteral("Exit Full Screen"));
    m_fullScreenToolbarItem->setIcon(exitFullScreenIcon());
    // The presentation hides the bars; the keys and shortcuts still work.
    menuBar()->hide();
    for (QToolBar *toolbar : findChildren<QToolBar *>())
        toolbar->hide();
}

void MediaWindowController::windowDidExitFullScreen()
{
    m_inFullScreen = false;
    menuBar()->show();
    for (QToolBar *toolbar : findChildren<QToolBar *>())
        toolbar->show();
    m_splitViewController->setDividerHidden(false);
    if (!m_splitScreenWasCollapsed)
        m_splitViewController->setBrowserCollapsed(false, true);
    displayViewController()->toggleBackdropTransparency();
    m_fullScreenToolbarItem->setText(QStringLiteral("Enter Full Screen"));
    m_fullScreenToolbarItem->setIcon(enterFullScreenIcon());
}

void MediaWindowController::goToPreviousMediaItem()
{
    collectionViewController()->moveSelection(-1);
}

void MediaWindowController::goToNextMediaItem()
{
    collectionViewController()->moveSelection(1);
}

void MediaWindowController::goToRandomCase()
{
    NotificationCenter::defaultCenter().post(LibraryNotifications::selectRandomCase);
}

void MediaWindowController::toggleDescriptionDisplay()
{
    MediaDisplayViewController *display = displayViewController();
    display->setShowDescription(!display->showDescription());
}

void MediaWindowController::toggleFitToWindow()
{
    MediaDisplayViewController *display = displayViewController();
    display->setFitImageToWindow(!display->fitImageToWindow());
    display->applyFitToWindow();
}

void MediaWindowController::annotateImage()
{
    Media *media = displayViewController()->media();
    if (!media || displayViewController()->disableToggleFitToWindow())
        return;
    Log::info(LogArea::UI, QStringLiteral("Annotate image"));
    // A DICOM image is annotated as it is shown: its frame at the window chosen.
    const QImage shown = MediaTypes::isDicom(MediaTypes::extensionOf(media->fileName()))
                             ? displayViewController()->imageForEditing(media)
                             : QImage();
    auto *window = new AnnotationWindowController(media, this, shown);
    window->setWindowFlag(Qt::Window);
    m_annotationWindowController = window;
    window->show();
    window->raise();
    window->activateWindow();
}

void MediaWindowController::cropSelectedImages()
{
    m_splitViewController->cropSelectedImages();
    validateMenuItems();
}

void MediaWindowController::windowDidBecomeKey()
{
    if (!m_keyDownEventMonitorToken.isActive())
        m_keyDownEventMonitorToken = ApplicationEventMonitor::install(this);
    if (QListView *grid = collectionViewController()->collectionView())
        grid->setFocus(Qt::ActiveWindowFocusReason);
}

void MediaWindowController::windowDidResignKey()
{
    m_keyDownEventMonitorToken.reset();
    displayViewController()->resetCursor();
}

bool MediaWindowController::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        windowDidBecomeKey();
    else if (event->type() == QEvent::WindowDeactivate)
        windowDidResignKey();
    return QMainWindow::event(event);
}

bool MediaWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()
        && static_cast<QWidget *>(watched)->window() == this)
        return handleKeyDown(static_cast<QKeyEvent *>(event));
    return QMainWindow::eventFilter(watched, event);
}

void MediaWindowController::closeEvent(QCloseEvent *event)
{
    if (m_inFullScreen)
        toggleFullScreen();
    Settings::shared().setValue(geometryKey, saveGeometry());
    QMainWindow::closeEvent(event);
}

} // namespace ovalis
