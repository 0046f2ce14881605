#pragma once

#include <QMainWindow>
#include <QPointer>

#include "util/ObserverToken.h"

class QAction;
class QKeyEvent;

namespace ovalis {

class AnnotationWindowController;
class ApplicationHost;
class Case;
class CoreDataStack;
class MediaDisplayViewController;
class MediaSplitViewController;
class SelectableMediaCollectionViewController;
class UndoManager;

// The media window: the browser grid beside the display, a toolbar, full
// screen for teaching, and keys to step through media and cases. The
// library window opens it and tells it which case to show.
class MediaWindowController : public QMainWindow
{
    Q_OBJECT

public:
    // host may be null (tests); it supplies the application-wide menus.
    explicit MediaWindowController(CoreDataStack &stack, ApplicationHost *host = nullptr, QWidget *parent = nullptr);
    ~MediaWindowController() override;

    MediaSplitViewController *splitViewController() const { return m_splitViewController; }
    MediaDisplayViewController *displayViewController() const;
    SelectableMediaCollectionViewController *collectionViewController() const;
    // The main context's: store edits and file changes made here undo together.
    UndoManager *undoManager() const;

    // Gives the browser the case to show (it reloads and selects its first media).
    void setCurrentCase(Case *item);

    QAction *fullScreenToolbarItem() const { return m_fullScreenToolbarItem; }
    QAction *fitToWindowToolbarItem() const { return m_fitToWindowToolbarItem; }
    QAction *toggleDescriptionToolbarItem() const { return m_toggleDescriptionToolbarItem; }
    QAction *annotateToolbarItem() const { return m_annotateToolbarItem; }
    QAction *cropToolbarItem() const { return m_cropToolbarItem; }
    QAction *cropMenuItem() const { return m_cropMenuItem; }
    // The annotation editor most recently opened from here, while it is open.
    AnnotationWindowController *annotationWindowController() const;
    QAction *toggleSplitViewMenuItem() const { return m_toggleSplitViewMenuItem; }
    bool isInFullScreen() const { return m_inFullScreen; }

    // The window's keys while it is active: R a random case, Return the
    // description, Space fit to window (when available), Left and Right the
    // previous and next media, with Ctrl the previous and next case. Answers
    // whether the key was taken; other keys go on to the focused control.
    bool handleKeyDown(QKeyEvent *event);
    // Enables the commands that need a real image on the display.
    void validateMenuItems();

public slots:
    void toggleSplitView();
    void toggleFullScreen();
    void goToPreviousMediaItem();
    void goToNextMediaItem();
    void goToRandomCase();
    void toggleDescriptionDisplay();
    void toggleFitToWindow();
    void annotateImage();
    void cropSelectedImages();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildToolbar();
    void buildMenus(ApplicationHost *host);
    void windowWillEnterFullScreen();
    void windowDidExitFullScreen();
    void windowDidBecomeKey();
    void windowDidResignKey();

    CoreDataStack &m_stack;
    MediaSplitViewController *m_splitViewController;
    QAction *m_fullScreenToolbarItem = nullptr;
    QAction *m_fitToWindowToolbarItem = nullptr;
    QAction *m_toggleDescriptionToolbarItem = nullptr;
    QAction *m_annotateToolbarItem = nullptr;
    QAction *m_toggleSplitViewMenuItem = nullptr;
    QAction *m_fitToWindowMenuItem = nullptr;
    QAction *m_annotateMenuItem = nullptr;
    QAction *m_cropToolbarItem = nullptr;
    QAction *m_cropMenuItem = nullptr;
    QPointer<AnnotationWindowController> m_annotationWindowController; // Deletes itself when closed.
    bool m_splitScreenWasCollapsed = false;
    bool m_inFullScreen = false;
    ObserverToken m_keyDownEventMonitorToken; // this window filtering the application's key events while active
};

} // namespace ovalis
