#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QCheckBox;
class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QVBoxLayout;

namespace ovalis {

class AppDelegate;
class ExternalEditorChooser;
class MirrorService;

// The non-modal Settings window. Its check boxes edit the shared settings
// ("Recognise_NZ_NHIs", "Disable_Cloud_Syncing") and the delegate's
// showDebuggingMenu flag as soon as they are clicked, and follow those values
// when they change elsewhere; below them is the choice of external image
// editor. Its Sync section sets up the library's mirror: the server and
// its password (kept in the secret store), a connection test, a sync on
// demand and whether media files go to the server too.
class SettingsWindowController : public QObject
{
    Q_OBJECT

public:
    explicit SettingsWindowController(AppDelegate &delegate, QObject *parent = nullptr);
    ~SettingsWindowController() override;

    QDialog *window() const { return m_window.get(); }
    // Shows the window, bringing it to the front when it is already open.
    void showWindow();

    QCheckBox *recogniseNHIsCheckBox() const { return m_recogniseNHIs; }
    QCheckBox *disableCloudSyncingCheckBox() const { return m_disableCloudSyncing; }
    QCheckBox *showDebuggingMenuCheckBox() const { return m_showDebuggingMenu; }
    QLineEdit *updateFeedField() const { return m_updateFeed; } // "UpdateFeedURL"
    ExternalEditorChooser *externalEditorChooser() const { return m_externalEditorChooser; }
    // "Remind me to back up every N days": the box turns the reminder on, the spin box gives N.
    QCheckBox *backupReminderCheckBox() const { return m_backupReminder; }
    QSpinBox *backupReminderDaysBox() const { return m_backupReminderDays; }
    // The Sync section. The server and the password take effect when their
    // fields are left (or Return is pressed), and before a test or a sync.
    QLineEdit *mirrorServerField() const { return m_mirrorServer; }
    QLineEdit *mirrorPasswordField() const { return m_mirrorPassword; }
    QPushButton *testConnectionButton() const { return m_testConnection; }
    QLabel *connectionResultLabel() const { return m_connectionResult; }
    QPushButton *syncNowButton() const { return m_syncNow; }
    QCheckBox *keepMediaOnServerCheckBox() const { return m_keepMediaOnServer; }
    QLabel *lastSyncLabel() const { return m_lastSync; }
    // Test seam: how a failed sync that the user asked for is told, given
    // the server's or the connection's error. Defaults to a message box.
    void setSyncFailurePresenter(std::function<void(const QString &error)> presenter);

private:
    // A bold section heading, spaced from what comes before it.
    static void addHeading(QVBoxLayout *layout, const QString &section);
    // A section heading, the check box and its explanation below it.
    QCheckBox *addOption(QVBoxLayout *layout, const QString &section, const QString &title, const QString &explanation);
    void updateFromSettings(const QString &key);
    void updateBackupReminderFromSettings();
    void storeBackupReminder();
    void addSyncSection(QVBoxLayout *layout);
    // The server or the password as typed, handed to the service and the
    // secret store when they differ from what the service has.
    void applyMirrorServer();
    void applyMirrorPassword();
    void testConnection();
    void syncNow();
    void updateSyncControls();
    void updateLastSync();
    void showConnectionAnswer(const QString &text);
    void storePassword(const QString &server, const QString &password);

    AppDelegate &m_delegate;
    std::unique_ptr<QDialog> m_window;
    QCheckBox *m_recogniseNHIs; // Owned by the window, as are the others.
    QCheckBox *m_disableCloudSyncing;
    QCheckBox *m_showDebuggingMenu;
    QLineEdit *m_updateFeed;
    ExternalEditorChooser *m_externalEditorChooser;
    QCheckBox *m_backupReminder;
    QSpinBox *m_backupReminderDays;
    MirrorService *m_mirror;
    QLineEdit *m_mirrorServer;
    QLineEdit *m_mirrorPassword;
    QPushButton *m_testConnection;
    QLabel *m_connectionResult;
    QPushButton *m_syncNow;
    QCheckBox *m_keepMediaOnServer;
    QLabel *m_lastSync;
    bool m_testingConnection = false;
    std::function<void(const QString &)> m_syncFailurePresenter;
};

} // namespace ovalis
