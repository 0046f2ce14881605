#include "app/SettingsWindowController.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

#include "app/AppDelegate.h"
#include "exchange/BackupReminder.h"
#include "media/ui/ExternalEditorChooser.h"
#include "store/NHI.h"
#include "util/Settings.h"
#include "util/UpdateChecker.h"

namespace ovalis {

namespace {

const QString recogniseNHIsKey = recogniseNHIsSettingKey;
const QString disableCloudSyncingKey = QStringLiteral("Disable_Cloud_Syncing");
const QString updateFeedKey = QStringLiteral("UpdateFeedURL");

} // namespace

SettingsWindowController::SettingsWindowController(AppDelegate &delegate, QObject *parent)
    : QObject(parent)
    , m_delegate(delegate)
    , m_window(std::make_unique<QDialog>())
{
    m_window->setWindowTitle(tr("Settings"));
    m_window->setObjectName(QStringLiteral("SettingsWindow"));
    m_window->setModal(false);

    auto *layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(22, 18, 22, 14);
    layout->setSpacing(6);

    m_recogniseNHIs = addOption(layout, tr("Case text"), tr("Recognise NZ NHI numbers in patient identifiers and text"),
                                tr("Patient identifiers are checked against the NHI check digit, and NHI numbers "
                                   "found in a case's summary or detail are listed as links."));
    m_disableCloudSyncing = addOption(layout, tr("Library"), tr("Disable cloud syncing"),
                                      tr("The library stays on this computer only. Takes effect the next time "
                                         "Ovalis starts."));
    addHeading(layout, tr("Backups"));
    auto *reminderRow = new QHBoxLayout;
    m_backupReminder = new QCheckBox(tr("Remind me to back up every"));
    m_backupReminderDays = new QSpinBox;
    m_backupReminderDays->setObjectName(QStringLiteral("backupReminderDays"));
    m_backupReminderDays->setRange(1, BackupReminder::longestInterval);
    m_backupReminderDays->setValue(30);
    reminderRow->addWidget(m_backupReminder);
    reminderRow->addWidget(m_backupReminderDays);
    reminderRow->addWidget(new QLabel(tr("days")));
    reminderRow->addStretch(1);
    layout->addLayout(reminderRow);
    addHeading(layout, tr("Updates"));
    m_updateFeed = new QLineEdit;
    m_updateFeed->setObjectName(QStringLiteral("updateFeed"));
    m_updateFeed->setClearButtonEnabled(true);
    // An empty field falls back to the address this build was made with.
    const QString builtIn = UpdateChecker::builtInFeedUrl().toString();
    m_updateFeed->setPlaceholderText(builtIn.isEmpty() ? tr("Update feed address (https://…)") : builtIn);
    layout->addWidget(m_updateFeed);
    m_showDebuggingMenu = addOption(layout, tr("Troubleshooting"), tr("Show debugging menu"),
                                    tr("Adds a Debug menu with library maintenance commands to the menu bar, "
                                       "until Ovalis quits."));

    addHeading(layout, tr("Image editing"));
    layout->addWidget(new QLabel(tr("Double-clicking an image in the media window opens it in:")));
    m_externalEditorChooser = new ExternalEditorChooser(m_window.get());
    layout->addWidget(m_externalEditorChooser);

    layout->addStretch(1);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, m_window.get(), &QDialog::close);
    layout->addSpacing(10);
    layout->addWidget(buttons);

    updateFromSettings(recogniseNHIsKey);
    updateFromSettings(disableCloudSyncingKey);
    m_showDebuggingMenu->setChecked(m_delegate.showDebuggingMenu());
    m_updateFeed->setText(Settings::shared().value(updateFeedKey).toString());
    updateBackupReminderFromSettings();

    connect(m_recogniseNHIs, &QCheckBox::toggled, this,
            [](bool checked) { Settings::shared().setValue(recogniseNHIsKey, checked); });
    connect(m_disableCloudSyncing, &QCheckBox::toggled, this,
            [](bool checked) { Settings::shared().setValue(disableCloudSyncingKey, checked); });
    connect(m_backupReminder, &QCheckBox::toggled, this, &SettingsWindowController::storeBackupReminder);
    connect(m_backupReminderDays, &QSpinBox::valueChanged, this, &SettingsWindowController::storeBackupReminder);
    connect(m_showDebuggingMenu, &QCheckBox::toggled, &m_delegate, &AppDelegate::setShowDebuggingMenu);
    connect(m_updateFeed, &QLineEdit::editingFinished, this, [this] {
        const QString address = m_updateFeed->text().trimmed();
        if (address.isEmpty())
            Settings::shared().remove(updateFeedKey);
        else
            Settings::shared().setValue(updateFeedKey, address);
    });
    connect(&Settings::shared(), &Settings::valueChanged, this, &SettingsWindowController::updateFromSettings);
    connect(&m_delegate, &AppDelegate::showDebuggingMenuChanged, this, [this](bool show) {
        const QSignalBlocker blocker(m_showDebuggingMenu);
        m_showDebuggingMenu->setChecked(show);
    });

    m_window->setMinimumWidth(480);
    m_window->resize(m_window->minimumWidth(), m_window->heightForWidth(m_window->minimumWidth()));
}

SettingsWindowController::~SettingsWindowController() = default;

void SettingsWindowController::showWindow()
{
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void SettingsWindowController::addHeading(QVBoxLayout *layout, const QString &section)
{
    if (layout->count() > 0)
        layout->addSpacing(12);
    auto *heading = new QLabel(section);
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    heading->setFont(headingFont);
    layout->addWidget(heading);
}

QCheckBox *SettingsWindowController::addOption(QVBoxLayout *layout, const QString &section, const QString &title,
                                               const QString &explanation)
{
    addHeading(layout, section);
    auto *box = new QCheckBox(title);
    layout->addWidget(box);

    // The explanation lines up with the check box's text, in a smaller grey font.
    auto *label = new QLabel(explanation);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.88);
    label->setFont(font);
    const QStyle *style = box->style();
    const int indent = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box)
                       + style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box);
    label->setContentsMargins(indent, 0, 0, 0);
    layout->addWidget(label);
    return box;
}

void SettingsWindowController::updateBackupReminderFromSettings()
{
    const QSignalBlocker boxBlocker(m_backupReminder);
    const QSignalBlocker daysBlocker(m_backupReminderDays);
    const int days = BackupReminder::intervalDays();
    m_backupReminder->setChecked(days > 0);
    if (days > 0)
        m_backupReminderDays->setValue(days);
    m_backupReminderDays->setEnabled(days > 0);
}

void SettingsWindowController::storeBackupReminder()
{
    m_backupReminderDays->setEnabled(m_backupReminder->isChecked());
    BackupReminder::setIntervalDays(m_backupReminder->isChecked() ? m_backupReminderDays->value() : 0);
}

void SettingsWindowController::updateFromSettings(const QString &key)
{
    if (key == BackupReminder::intervalKey) {
        updateBackupReminderFromSettings();
        return;
    }
    QCheckBox *box = key == recogniseNHIsKey ? m_recogniseNHIs : key == disableCloudSyncingKey ? m_disableCloudSyncing : nullptr;
    if (!box)
        return;
    const QSignalBlocker blocker(box);
    box->setChecked(Settings::shared().boolValue(key));
}

} // namespace ovalis
