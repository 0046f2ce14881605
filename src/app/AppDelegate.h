#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QAction;
class QMainWindow;
class QMenu;
class QWidget;

namespace ovalis {

class CoreDataStack;
class SettingsWindowController;

// The application's delegate: registers the defaults and value transformers,
// saves the library when the application is deactivated or quits, decides
// whether quitting may go ahead, reopens the library window and carries the
// application-wide commands (save, settings, help, support e-mail, and the
// debugging commands).
class AppDelegate : public QObject
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
    void setLibraryWindowController(QMainWindow *window) { m_libraryWindowController = window; }

    bool showDebuggingMenu() const { return m_showDebuggingMenu; }
    void setShowDebuggingMenu(bool show);

    // Application events.
    TerminateReply applicationShouldTerminate();
    void applicationWillTerminate();   // saves the main context with its parent
    void applicationWillResignActive(); // saves the main context with its parent
    // Launched again or reactivated: brings the library window back when no
    // window is visible. Always true.
    bool applicationShouldHandleReopen();

    // The actions the windows put into their menus (owned by the delegate).
    QAction *saveAction() const { return m_saveAction; }                 // Ctrl+S
    QAction *settingsAction() const { return m_settingsAction; }
    QAction *helpAction() const { return m_helpAction; }
    QAction *supportEmailAction() const { return m_supportEmailAction; }
    QAction *quitAction() const { return m_quitAction; }                 // Ctrl+Q, through the quit decision
    QAction *libraryWindowAction() const { return m_libraryWindowAction; } // showCasesDatabaseWindow
    // A "Debug" menu with the six maintenance commands, shown only while
    // showDebuggingMenu is true. Owned by parent.
    QMenu *createDebuggingMenu(QWidget *parent);

    // The file the help command opens, or an empty string when none is bundled.
    static QString userGuidePath();
    // "mailto:<address>?subject=<percent-encoded subject>".
    static QString supportEmailLink();

    // Test seams: how errors and the quit question are put to the user, and
    // how URLs are opened. Default to modal message boxes and QDesktopServices.
    void setErrorPresenter(std::function<bool(const QString &error)> presenter); // true: resolved
    void setQuitQuestion(std::function<QuitAnswer()> question);
    void setUrlOpener(std::function<bool(const QString &url)> opener);

public slots:
    void showCasesDatabaseWindow();
    void saveMOC();
    void showSettings();
    void showHelp();
    void sendSupportEmail();
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

private:
    CoreDataStack &m_stack;
    QPointer<QMainWindow> m_libraryWindowController;
    SettingsWindowController *m_settingsWindowController = nullptr;
    bool m_showDebuggingMenu = false;
    QAction *m_saveAction;
    QAction *m_settingsAction;
    QAction *m_helpAction;
    QAction *m_supportEmailAction;
    QAction *m_quitAction;
    QAction *m_libraryWindowAction;
    std::function<bool(const QString &)> m_errorPresenter;
    std::function<QuitAnswer()> m_quitQuestion;
    std::function<bool(const QString &)> m_urlOpener;
};

} // namespace ovalis
