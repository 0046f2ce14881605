#include "app/SettingsWindowController.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

#include "app/AppDelegate.h"
#include "app/MirrorPasswordStore.h"
#include "exchange/BackupReminder.h"
#include "media/ui/ExternalEditorChooser.h"
#include "store/NHI.h"
#include "transfer/MirrorService.h"
#include "util/Settings.h"
#include "util/UpdateChecker.h"

namespace ovalis {

namespace {

const QString recogniseNHIsKey = recogniseNHIsSettingKey;
const QString disableCloudSyncingKey = QStringLiteral("Disable_Cloud_Syncing");
const QString updateFeedKey = QStringLiteral("UpdateFeedURL");

// A label for what a button brings back: text from the server, so never markup.
QLabel *newAnswerLabel(const QString &name)
{
    auto *label = new QLabel;
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// A push button that leaves Return to the window's own button.
QPushButton *newButton(const QString &title, const QString &name)
{
    auto *button = new QPushButton(title);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

} // namespace

SettingsWindowController::SettingsWindowController(AppDelegate &delegate, QObject *parent)
    : QObject(parent)
    , m_delegate(delegate)
    , m_window(std::make_unique<QDialog>())
    , m_mirror(delegate.mirrorService())
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
    addSyncSection(layout);
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
    // The delegate stops or starts the mirror when the setting changes.
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

void SettingsWindowController::addSyncSection(QVBoxLayout *layout)
{
    m_disableCloudSyncing = addOption(layout, tr("Sync"), tr("Disable cloud syncing"),
                                      tr("Nothing is sent to the server or fetched from it. Edits wait in the "
                                         "library and go up once syncing is on again."));
    auto *grid = new QGridLayout;
    grid->setContentsMargins(0, 6, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setColumnStretch(2, 1);

    m_mirrorServer = new QLineEdit;
    m_mirrorServer->setObjectName(QStringLiteral("mirrorServer"));
    m_mirrorServer->setPlaceholderText(QStringLiteral("postgresql://user@host/db?sslmode=verify-full"));
    m_mirrorServer->setToolTip(tr("A PostgreSQL connection string or URI"));
    m_mirrorServer->setClearButtonEnabled(true);
    m_mirrorServer->setText(m_mirror->server());
    grid->addWidget(new QLabel(tr("Server:")), 0, 0);
    grid->addWidget(m_mirrorServer, 0, 1, 1, 2);

    m_mirrorPassword = new QLineEdit;
    m_mirrorPassword->setObjectName(QStringLiteral("mirrorPassword"));
    m_mirrorPassword->setEchoMode(QLineEdit::Password);
    m_mirrorPassword->setPlaceholderText(tr("Kept in the keyring; empty uses ~/.pgpass"));
    grid->addWidget(new QLabel(tr("Password:")), 1, 0);
    grid->addWidget(m_mirrorPassword, 1, 1, 1, 2);

    // The buttons in one column, each with its answer beside it.
    m_testConnection = newButton(tr("Test Connection"), QStringLiteral("testConnection"));
    m_connectionResult = newAnswerLabel(QStringLiteral("connectionResult"));
    // The answer wraps, and its height follows its text (showConnectionAnswer).
    m_connectionResult->setWordWrap(true);
    QSizePolicy answerPolicy = m_connectionResult->sizePolicy();
    answerPolicy.setHeightForWidth(false);
    m_connectionResult->setSizePolicy(answerPolicy);
    grid->addWidget(m_testConnection, 2, 1, Qt::AlignTop);
    grid->addWidget(m_connectionResult, 2, 2);

    m_keepMediaOnServer = new QCheckBox(tr("Also keep media files on the server"));
    m_keepMediaOnServer->setObjectName(QStringLiteral("keepMediaOnServer"));
    m_keepMediaOnServer->setChecked(m_mirror->keepsMediaOnServer());
    grid->addWidget(m_keepMediaOnServer, 3, 1, 1, 2);

    m_syncNow = newButton(tr("Sync Now"), QStringLiteral("syncNow"));
    m_lastSync = newAnswerLabel(QStringLiteral("lastSync"));
    grid->addWidget(m_syncNow, 4, 1);
    grid->addWidget(m_lastSync, 4, 2);
    layout->addLayout(grid);

    // The stored password fills the field, unless the user typed one first.
    if (!m_mirror->server().isEmpty()) {
        QLineEdit *field = m_mirrorPassword;
        m_delegate.mirrorPasswordStore().read(m_mirror->server(), field, [field](const QString &password) {
            if (!field->isModified())
                field->setText(password);
        });
    }

    m_syncFailurePresenter = [this](const QString &error) {
        QMessageBox box(QMessageBox::Warning, tr("Sync"), QString(), QMessageBox::Ok, m_window.get());
        box.setTextFormat(Qt::PlainText);
        box.setText(tr("The library could not be synced.") + QStringLiteral("\n\n") + error.simplified());
        box.exec();
    };

    connect(m_mirrorServer, &QLineEdit::editingFinished, this, &SettingsWindowController::applyMirrorServer);
    connect(m_mirrorServer, &QLineEdit::textChanged, this, &SettingsWindowController::updateSyncControls);
    connect(m_mirrorPassword, &QLineEdit::editingFinished, this, &SettingsWindowController::applyMirrorPassword);
    connect(m_testConnection, &QPushButton::clicked, this, &SettingsWindowController::testConnection);
    connect(m_syncNow, &QPushButton::clicked, this, &SettingsWindowController::syncNow);
    connect(m_mirror, &MirrorService::stateChanged, this, &SettingsWindowController::updateSyncControls);
    connect(m_keepMediaOnServer, &QCheckBox::toggled, m_mirror, &MirrorService::setKeepsMediaOnServer);
    connect(m_mirror, &MirrorService::syncFinished, this, [this](const LibraryMirror::Report &report, bool requested) {
        updateLastSync();
        if (requested && !report.ok && !report.cancelled)
            m_syncFailurePresenter(report.error);
    });
    updateLastSync();
}

void SettingsWindowController::setSyncFailurePresenter(std::function<void(const QString &)> presenter)
{
    m_syncFailurePresenter = std::move(presenter);
}

void SettingsWindowController::applyMirrorServer()
{
    const QString server = m_mirrorServer->text().trimmed();
    const QString previous = m_mirror->server();
    if (server == previous)
        return;
    const QString password = m_mirrorPassword->text();
    m_mirror->setServer(server);
    m_mirror->setPassword(password);
    m_mirrorPassword->setModified(false);
    showConnectionAnswer(QString());
    // The password goes with the server it was typed for.
    MirrorPasswordStore &store = m_delegate.mirrorPasswordStore();
    if (!previous.isEmpty())
        store.write(previous, QString(), this);
    if (!server.isEmpty())
        storePassword(server, password);
    updateSyncControls();
    m_delegate.restartMirror();
}

void SettingsWindowController::applyMirrorPassword()
{
    if (!m_mirrorPassword->isModified())
        return;
    m_mirrorPassword->setModified(false);
    const QString password = m_mirrorPassword->text();
    m_mirror->setPassword(password);
    if (m_mirror->server().isEmpty())
        return;
    storePassword(m_mirror->server(), password);
    if (m_mirror->isRunning())
        m_delegate.restartMirror();
}

void SettingsWindowController::storePassword(const QString &server, const QString &password)
{
    // The label is the window's, which goes with this controller.
    m_delegate.mirrorPasswordStore().write(server, password, m_connectionResult, [this](bool ok, const QString &error) {
        if (!ok)
            showConnectionAnswer(tr("The password could not be kept in the keyring: %1").arg(error));
    });
}

void SettingsWindowController::testConnection()
{
    applyMirrorServer();
    applyMirrorPassword();
    m_testingConnection = true;
    m_testConnection->setEnabled(false);
    showConnectionAnswer(tr("Connecting…"));
    QPointer<SettingsWindowController> self(this);
    m_mirror->testConnection([self](bool, const QString &message) {
        if (!self)
            return;
        self->m_testingConnection = false;
        self->showConnectionAnswer(message);
        self->updateSyncControls();
    });
}

void SettingsWindowController::syncNow()
{
    // While a sync runs, the button stops it; a first sync of a large
    // library goes on where it stopped the next time.
    if (m_mirror->state() == MirrorService::State::Syncing) {
        m_mirror->cancel();
        return;
    }
    applyMirrorServer();
    applyMirrorPassword();
    m_mirror->syncNow();
}

void SettingsWindowController::updateSyncControls()
{
    const bool hasServer = !m_mirrorServer->text().trimmed().isEmpty();
    m_testConnection->setEnabled(hasServer && !m_testingConnection);
    m_syncNow->setEnabled(hasServer && !AppDelegate::cloudSyncingDisabled());
    m_syncNow->setText(m_mirror->state() == MirrorService::State::Syncing ? tr("Stop Sync") : tr("Sync Now"));
}

void SettingsWindowController::updateLastSync()
{
    const QDateTime when = m_mirror->lastSync();
    if (!when.isValid()) {
        m_lastSync->setText(tr("Not synced yet"));
        return;
    }
    // The error is in the tool tip: the status bar and the message box tell it too.
    const QString result = m_mirror->lastResult();
    const bool failed = result != QLatin1String("ok") && result != QLatin1String("cancelled");
    const QString outcome = result == QLatin1String("ok") ? tr("succeeded") : failed ? tr("failed") : tr("cancelled");
    m_lastSync->setText(tr("Last sync %1: %2").arg(QLocale().toString(when.toLocalTime(), QLocale::ShortFormat), outcome));
    m_lastSync->setToolTip(failed ? result.simplified() : QString());
}

void SettingsWindowController::showConnectionAnswer(const QString &text)
{
    // Server messages run over several lines, indented with tabs: one
    // paragraph reads better beside a button.
    m_connectionResult->setText(text.simplified());
    // A longer answer wraps onto more lines: the label asks for them, and
    // the window grows to fit.
    m_connectionResult->setMinimumHeight(m_connectionResult->heightForWidth(m_connectionResult->width()));
    // The window's least height knows nothing of wrapped lines: it is made
    // tall enough for them as when it opened.
    m_window->layout()->activate();
    const int height = m_window->heightForWidth(m_window->width());
    if (height > m_window->height())
        m_window->resize(m_window->width(), height);
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
    if (box == m_disableCloudSyncing)
        updateSyncControls();
}

} // namespace ovalis
