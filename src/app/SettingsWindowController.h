#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QCheckBox;
class QDialog;
class QLineEdit;
class QSpinBox;
class QVBoxLayout;

namespace ovalis {

class AppDelegate;
class ExternalEditorChooser;

// The non-modal Settings window. Its check boxes edit the shared settings
// ("Recognise_NZ_NHIs", "Disable_Cloud_Syncing") and the delegate's
// showDebuggingMenu flag as soon as they are clicked, and follow those values
// when they change elsewhere; below them is the choice of external image
// editor.
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

private:
    // A bold section heading, spaced from what comes before it.
    static void addHeading(QVBoxLayout *layout, const QString &section);
    // A section heading, the check box and its explanation below it.
    QCheckBox *addOption(QVBoxLayout *layout, const QString &section, const QString &title, const QString &explanation);
    void updateFromSettings(const QString &key);
    void updateBackupReminderFromSettings();
    void storeBackupReminder();

    AppDelegate &m_delegate;
    std::unique_ptr<QDialog> m_window;
    QCheckBox *m_recogniseNHIs; // Owned by the window, as are the others.
    QCheckBox *m_disableCloudSyncing;
    QCheckBox *m_showDebuggingMenu;
    QLineEdit *m_updateFeed;
    ExternalEditorChooser *m_externalEditorChooser;
    QCheckBox *m_backupReminder;
    QSpinBox *m_backupReminderDays;
};

} // namespace ovalis
