#include "exchange/ui/BackupCommands.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>

#include "exchange/JSONImporter.h"
#include "store/CoreDataStack.h"
#include "util/Log.h"

namespace ovalis {

namespace {

const QString jsonFilter = QStringLiteral("JSON (*.json)");

} // namespace

BackupCommands::BackupCommands(CoreDataStack &stack, std::function<QWidget *()> dialogParent, QObject *parent)
    : QObject(parent)
    , m_stack(stack)
    , m_dialogParent(std::move(dialogParent))
{
    m_backupLocationChooser = [this](const QString &proposedName) {
        QFileDialog panel(m_dialogParent ? m_dialogParent() : nullptr, tr("Backup"));
        panel.setAcceptMode(QFileDialog::AcceptSave);
        panel.setNameFilter(jsonFilter);
        panel.setDefaultSuffix(QStringLiteral("json"));
        panel.setLabelText(QFileDialog::Accept, tr("Backup"));
        panel.setDirectory(QDir::homePath());
        panel.selectFile(proposedName);
        return panel.exec() == QDialog::Accepted && !panel.selectedFiles().isEmpty() ? panel.selectedFiles().first() : QString();
    };
    m_restoreFileChooser = [this] {
        QFileDialog panel(m_dialogParent ? m_dialogParent() : nullptr, tr("Restore from Backup"));
        panel.setAcceptMode(QFileDialog::AcceptOpen);
        panel.setFileMode(QFileDialog::ExistingFile);
        panel.setNameFilter(jsonFilter);
        panel.setLabelText(QFileDialog::Accept, tr("Restore"));
        return panel.exec() == QDialog::Accepted && !panel.selectedFiles().isEmpty() ? panel.selectedFiles().first() : QString();
    };
    m_alertPresenter = [this](const QString &message, const QString &informative) {
        QMessageBox box(QMessageBox::Critical, QString(), message, QMessageBox::Ok, m_dialogParent ? m_dialogParent() : nullptr);
        box.setInformativeText(informative);
        box.exec();
    };
}

QString BackupCommands::proposedBackupName(const QDateTime &localNow)
{
    return QStringLiteral("Ovalis-DB-%1.json").arg(QLocale::c().toString(localNow, QStringLiteral("yyyyMMddHHmmss")));
}

void BackupCommands::setBackupLocationChooser(std::function<QString(const QString &)> chooser)
{
    m_backupLocationChooser = std::move(chooser);
}

void BackupCommands::setRestoreFileChooser(std::function<QString()> chooser)
{
    m_restoreFileChooser = std::move(chooser);
}

void BackupCommands::setAlertPresenter(std::function<void(const QString &, const QString &)> presenter)
{
    m_alertPresenter = std::move(presenter);
}

void BackupCommands::exportDatabase()
{
    Log::info(LogArea::Filing, QStringLiteral("Export database"));
    const QString path = m_backupLocationChooser(proposedBackupName(QDateTime::currentDateTime()));
    if (path.isEmpty())
        return;
    // The windows hand each edit to their records as it is made, so the
    // main context already holds whatever is being typed.
    const JSONImporter::ExportResult result = JSONImporter(QUrl::fromLocalFile(path)).exportDatabase(m_stack.mainContext());
    if (!result.error.isEmpty())
        m_alertPresenter(tr("The backup “%1” could not be written.").arg(QFileInfo(path).fileName()), result.error);
}

void BackupCommands::importBackup()
{
    Log::info(LogArea::Importing, QStringLiteral("Import backup"));
    const QString path = m_restoreFileChooser();
    if (!path.isEmpty())
        restoreBackupFile(path);
}

void BackupCommands::restoreBackupFile(const QString &path)
{
    QPointer<BackupCommands> self(this);
    JSONImporter(QUrl::fromLocalFile(path)).importBackup(m_stack.mainContext(), [self, path](const JSONImporter::RestoreSummary &summary) {
        if (!self)
            return;
        if (!summary.error.isEmpty())
            self->m_alertPresenter(tr("Nothing was restored from “%1”.").arg(QFileInfo(path).fileName()), summary.error);
        else
            emit self->restoreFinished(summary.casesRead);
    });
}

} // namespace ovalis
