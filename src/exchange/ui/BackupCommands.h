#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>

class QWidget;

namespace ovalis {

class CoreDataStack;

// The application's backup commands: "Backup…" writes every case to a file
// chosen in a save panel, "Restore from Backup…" adds the cases of a chosen
// backup file. A backup that cannot be written, or a file that cannot be
// restored, is reported in an alert naming the file and the reason.
class BackupCommands : public QObject
{
    Q_OBJECT

public:
    // dialogParent gives the window the panels and alerts belong to (may be null).
    BackupCommands(CoreDataStack &stack, std::function<QWidget *()> dialogParent, QObject *parent = nullptr);

    // "Ovalis-DB-yyyyMMddHHmmss.json" for the local time given.
    static QString proposedBackupName(const QDateTime &localNow);

    // Test seams: the panels (answering a path, empty when cancelled) and
    // the alert (message and informative text). Default to file dialogs and
    // a critical message box.
    void setBackupLocationChooser(std::function<QString(const QString &proposedName)> chooser);
    void setRestoreFileChooser(std::function<QString()> chooser);
    void setAlertPresenter(std::function<void(const QString &message, const QString &informative)> presenter);

public slots:
    void exportDatabase();
    void importBackup();
    // Restores the file at path, as Restore from Backup does once a file is
    // chosen (the application is asked to open a backup).
    void restoreBackupFile(const QString &path);

signals:
    // A restore has saved its last case.
    void restoreFinished(int casesRead);

private:
    CoreDataStack &m_stack;
    std::function<QWidget *()> m_dialogParent;
    std::function<QString(const QString &)> m_backupLocationChooser;
    std::function<QString()> m_restoreFileChooser;
    std::function<void(const QString &, const QString &)> m_alertPresenter;
};

} // namespace ovalis
