#pragma once

class QMainWindow;
class QMenu;
class QMenuBar;
class QWidget;

namespace ovalis {

// What a window asks of the application it runs in: the application's menus
// for its menu bar, and a place to announce the library window. The
// application implements it and hands it to the windows it composes, so the
// windows never reach up for the application itself.
class ApplicationHost
{
public:
    // The menus addApplicationMenus puts into a menu bar (owned by it).
    struct ApplicationMenus {
        QMenu *file;   // Save, Quit
        QMenu *edit;   // Settings…
        QMenu *view;   // empty: hidden until the window adds an item
        QMenu *history; // the case history, rebuilt each time it opens
        QMenu *window; // Library
        QMenu *debug;  // the debugging commands, while the debugging menu is shown
        QMenu *help;   // User Guide, Send Support Email…
    };

    virtual ~ApplicationHost() = default;

    // The application's menus, appended to menuBar; a window adds its own
    // items to the menus returned.
    virtual ApplicationMenus addApplicationMenus(QMenuBar *menuBar) = 0;
    // Set by the library window when it loads.
    virtual void setLibraryWindowController(QMainWindow *window) = 0;

    // A window's menus: the host's application menus (bare File, Edit, View
    // and Window menus without a host, as in tests), with Minimise (Ctrl+M)
    // for window at the top of the Window menu. history, debug and help are
    // null without a host.
    static ApplicationMenus addWindowMenus(ApplicationHost *host, QMenuBar *menuBar, QWidget *window);
};

} // namespace ovalis
