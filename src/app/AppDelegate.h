#pragma once

#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "util/ui/ApplicationHost.h"

class QAction;
class QEvent;
class QGuiApplication;
class QMenu;
class QMenuBar;
class QWidget;

namespace ovalis {

class BackupCommands;
class Case;
class CoreDataStack;
class LibraryMaintenance;
class MirrorPasswordStore;
class MirrorService;
class SettingsWindowController;
class AboutController;
class UpdateWindowController;

// The application's delegate: registers the defaults and value transformers,
// saves the library when the application is deactivated or quits, decides
// whether quitting may go ahead, reopens the library window and carries the
// application-wide commands (save, settings, help, support e-mail, and the
// debugging commands).
class AppDelegate : public QObject, public ApplicationHost
{
    Q_OBJECT
    Q_PROPERTY(bool showDebuggingMenu READ showDebuggingMenu WRITE setShowDebuggingMenu NOTIFY showDebuggingMenuChanged)

public:
    enum class TerminateReply { TerminateNow, TerminateCancel };
    enum class QuitAnswer { QuitAnyway, Cancel };

    // Registers the defaults and the four named value transformers.
    explicit AppDelegate(CoreDataStack &stack, QObject *parent = nullptr);
    ~AppDelegate() override;

    static AppDelegate *instance(); // the one created by the application, or nullptr

    CoreDataStack &stack() const { return m_stack; }

    // Set by the library window when it loads.
    QMainWindow *libraryWindowController() const { return m_libraryWindowController; }
    void setLibraryWindowController(QMainWindow *window) override { m_libraryWindowController = window; }

    bool showDebuggingMenu() const { return m_showDebuggingMenu; }
    void setShowDebuggingMenu(bool show);

    // Application events.
    TerminateReply applicationShouldTerminate();
    void applicationWillTerminate();   // saves the main context with its parent and drops the undo history
    void applicationWillResignActive(); // saves the main context with its parent
    // Launched again or reactivated: brings the library window back when no
    // window is visible. Always true.
    bool applicationShouldHandleReopen();
    // SIGTERM or SIGINT: saves without asking anything and ends the event
    // loop (exit code 1 when the save failed).
    void terminateOnSignal(int signalNumber);
    // Connects the application's events to the ones above: deactivation saves,
    // activation merges other processes' saves, aboutToQuit and the session's
    // request to keep its data are will-terminate, SIGTERM and SIGINT end
    // through terminateOnSignal, and closing the last window quits through
    // the quit decision (the application no longer quits by itself then).
    void observeApplication(QGuiApplication *application);

    // The actions the windows put into their menus (owned by the delegate).
    QAction *saveAction() const { return m_saveAction; }                 // Ctrl+S
    QAction *settingsAction() const { return m_settingsAction; }
    QAction *helpAction() const { return m_helpAction; }
    QAction *supportEmailAction() const { return m_supportEmailAction; }
    QAction *quitAction() const { return m_quitAction; }                 // Ctrl+Q, through the quit decision
    QAction *libraryWindowAction() const { return m_libraryWindowAction; } // showCasesDatabaseWindow
    QAction *aboutAction() const { return m_aboutAction; }
    QAction *checkForUpdatesAction() const { return m_checkForUpdatesAction; }
    AboutController *aboutController() const;
    // "Back Up Library…", "Restore Library…" and, while either runs, "Cancel
    // Library Backup"; then "Back Up Records (JSON)…" and "Restore from
    // Backup…", in the File menu.
    QAction *backupLibraryAction() const { return m_backupLibraryAction; }
    QAction *restoreLibraryAction() const { return m_restoreLibraryAction; }
    QAction *cancelLibraryJobAction() const { return m_cancelLibraryJobAction; }
    QAction *backupAction() const { return m_backupAction; }
    QAction *restoreAction() const { return m_restoreAction; }
    BackupCommands *backupCommands() const { return m_backupCommands; }
    // A "History" menu listing the case history, newest first, filled by
    // menuNeedsUpdate each time it opens. Owned by parent.
    QMenu *createHistoryMenu(QWidget *parent);
    // A case's title in the History menu: identifier (or summary, or
    // "No identifier") and, when known, age and sex.
    static QString historyTitle(const Case *item);
    // A "Debug" menu with the six maintenance commands, shown only while
    // showDebuggingMenu is true. Owned by parent.
    QMenu *createDebuggingMenu(QWidget *parent);
    // The application's menus, appended to menuBar; a window adds its own
    // items to the menus returned.
    ApplicationMenus addApplicationMenus(QMenuBar *menuBar) override;

    SettingsWindowController *settingsWindowController() const { return m_settingsWindowController; }

    // The service that keeps the library mirrored on its server, made for
    // the stack on first use (once the library is loaded) and owned here.
    MirrorService *mirrorService();
    // Where the server's password is kept; the desktop's secret store unless
    // a test sets another.
    MirrorPasswordStore &mirrorPasswordStore() const { return *m_mirrorPasswordStore; }
    void setMirrorPasswordStore(std::unique_ptr<MirrorPasswordStore> store);
    // Reads the server's password from its store, then starts the mirror,
    // unless "Disable_Cloud_Syncing" is set or no server is configured.
    // Turning that setting on stops the mirror, turning it off starts it.
    void startMirror();
    // Stops the mirror and starts it again, with the server and password it
    // now has, unless syncing is disabled or no server is set.
    void restartMirror();
    static bool cloudSyncingDisabled();

    // The file the help command opens, or an empty string when none is bundled.
    static QString userGuidePath();
    // "User Guide.pdf" in the first folder's "PDF" subfolder, else at its top
    // level, else the same in the next folder.
    static QString userGuidePath(const QStringList &resourceFolders);
    // The installed data folders (<prefix>/share/ovalis, the XDG data
    // folders' ovalis) and, for a build tree, "resources" beside the program.
    static QStringList defaultResourceFolders();
    // "mailto:<address>?subject=<percent-encoded subject>", or an empty
    // string when no valid link can be formed.
    static QString supportEmailLink();

    // Test seams: how errors and the quit question are put to the user, and
    // how URLs are opened. Default to modal message boxes and QDesktopServices.
    void setErrorPresenter(std::function<bool(const QString &error)> presenter); // true: resolved
    void setQuitQuestion(std::function<QuitAnswer()> question);
    void setUrlOpener(std::function<bool(const QString &url)> opener);
    // Asked before deleteAllData deletes everything; false leaves the library alone.
    void setDeleteAllConfirmation(std::function<bool()> confirmation);
    // Asked before a backup file given to the application is restored.
    void setRestoreConfirmation(std::function<bool(const QString &fileName)> confirmation);
    // Tells the user a file could not be opened: one given to the
    // application, or the user guide when the desktop cannot show it.
    void setOpenFailurePresenter(std::function<void(const QString &message)> presenter);
    // Where showHelp looks for the user guide; defaultResourceFolders() unless set.
    void setResourceFolders(const QStringList &folders) { m_resourceFolders = folders; }

public slots:
    void showCasesDatabaseWindow();
    void saveMOC();
    void showSettings();
    void showHelp();
    void sendSupportEmail();
    void showAbout();
    // Files given on the command line, by the desktop (Open With) or to a
    // later launch: JSON backups are restored once the user agrees, version-1
    // documents imported; anything else is refused with a message.
    void openFiles(const QStringList &paths);
    void checkForUpdates();
    // Resets the library window's search and filters, then selects the case
    // at this position of the case history (0 is the oldest) and shows its
    // media. Nothing happens outside the history or for a deleted case.
    void openHistoricalCase(int position);
    void clearHistoricalCases();
    // Refills the History menu from the case history.
    void menuNeedsUpdate(QMenu *menu);
    // Quit through the quit decision (menu, last window closed).
    void quit();

    void deleteOrphanedMedia();
    void logCoreDataCount();
    void logTags();
    void correctDateAdded();
    void deleteAllData();
    void resetCloudKitHistory();

signals:
    void showDebuggingMenuChanged(bool show);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAction *newAction(const QString &text, void (AppDelegate::*slot)());
    void runMaintenance(void (LibraryMaintenance::*operation)());
    QWidget *dialogParent() const;

    CoreDataStack &m_stack;
    QPointer<QMainWindow> m_libraryWindowController;
    SettingsWindowController *m_settingsWindowController = nullptr;
    MirrorService *m_mirrorService = nullptr; // Owned (child).
    std::unique_ptr<MirrorPasswordStore> m_mirrorPasswordStore;
    bool m_showDebuggingMenu = false;
    QAction *m_saveAction;
    QAction *m_settingsAction;
    QAction *m_helpAction;
    QAction *m_supportEmailAction;
    QAction *m_quitAction;
    QAction *m_libraryWindowAction;
    QAction *m_aboutAction;
    QAction *m_checkForUpdatesAction;
    QPointer<AboutController> m_aboutController;
    QPointer<UpdateWindowController> m_updateWindowController;
    BackupCommands *m_backupCommands; // Owned (child).
    QAction *m_backupLibraryAction;
    QAction *m_restoreLibraryAction;
    QAction *m_cancelLibraryJobAction;
    QAction *m_backupAction;
    QAction *m_restoreAction;
    QList<QAction *> m_debuggingActions; // in menu order
    QStringList m_resourceFolders;
    bool m_quitting = false;
    std::function<bool(const QString &)> m_errorPresenter;
    std::function<QuitAnswer()> m_quitQuestion;
    std::function<bool(const QString &)> m_urlOpener;
    std::function<bool()> m_deleteAllConfirmation;
    std::function<bool(const QString &)> m_restoreConfirmation;
    std::function<void(const QString &)> m_openFailurePresenter;
};

} // namespace ovalis
