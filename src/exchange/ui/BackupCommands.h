#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "exchange/LibraryArchive.h"
#include "util/SerialQueue.h"

class QWidget;

namespace ovalis {

class CoreDataStack;

// The application's backup commands. "Back Up Library…" writes the whole
// library (records and media) to one archive and "Restore Library…" brings
// such an archive back; both show their progress in the window's progress
// display and can be cancelled. Their byte work (compressing, hashing,
// reading and writing the archive) runs on a worker thread; only the steps
// that need the main context (exporting the records, adding the restored
// cases) run on the main thread, which never waits for the worker. "Back Up Records
// (JSON)…" saves the library, then writes every case to a file chosen in a
// save panel, read on a worker through a reader of its own over the store
// file, with the same progress display and cancel switch; "Restore from
// Backup…" adds the cases of a chosen backup file. Each ends with a short
// message in the window's status bar naming what was done, or what was
// cancelled; a backup that cannot be written, or a file that cannot be
// restored, is reported in an alert naming the file and the reason.
class BackupCommands : public QObject
{
    Q_OBJECT

public:
    // dialogParent gives the window the panels and alerts belong to (may be null).
    BackupCommands(CoreDataStack &stack, std::function<QWidget *()> dialogParent, QObject *parent = nullptr);
    // Cancels a running library job and waits for its worker to stop.
    ~BackupCommands() override;

    // "Ovalis-DB-yyyyMMddHHmmss.json" for the local time given.
    static QString proposedBackupName(const QDateTime &localNow);
    // "Ovalis Library yyyy-MM-dd.tar" for the local date given.
    static QString proposedLibraryBackupName(const QDate &localToday);

    // Test seams: the panels (answering a path, empty when cancelled) and
    // the alert (message and informative text). Default to file dialogs and
    // a critical message box.
    void setBackupLocationChooser(std::function<QString(const QString &proposedName)> chooser);
    void setRestoreFileChooser(std::function<QString()> chooser);
    void setAlertPresenter(std::function<void(const QString &message, const QString &informative)> presenter);
    void setLibraryBackupLocationChooser(std::function<QString(const QString &proposedName)> chooser);
    void setLibraryFileChooser(std::function<QString()> chooser);
    // The short message shown when a backup or restore ends (defaults to
    // the window's status bar).
    void setNoticePresenter(std::function<void(const QString &notice)> presenter);
    // Called on the thread doing a library job's byte work, at each step,
    // once the step's progress is on its way to the main thread.
    void setWorkerStepObserver(std::function<void(qint64 done, qint64 total)> observer);

    // Whether a library backup or restore, or a backup of the records, is running.
    bool isRunningLibraryJob() const { return m_libraryJobRunning; }

public slots:
    void exportDatabase();
    void importBackup();
    // Restores the file at path, as Restore from Backup does once a file is
    // chosen (the application is asked to open a backup).
    void restoreBackupFile(const QString &path);
    void backUpLibrary();
    void restoreLibrary();
    // Stops the running library backup or restore; nothing is left behind.
    void cancelLibraryJob();

signals:
    // A restore has saved its last case.
    void restoreFinished(int casesRead);
    // A library backup or restore started or ended.
    void libraryJobRunningChanged(bool running);
    // A library backup or restore has handled done of total bytes.
    void libraryJobProgressed(qint64 done, qint64 total);
    // A library backup has completed at path, at the local time given.
    void libraryBackedUp(const QString &path, const QDateTime &when);

private:
    struct LibraryJobState;
    using LibraryJob = std::function<LibraryArchive::Result(const LibraryArchive::Progress &)>;
    using LibraryJobEnd = std::function<void(LibraryArchive::Result)>;
    // Runs job on the worker with the progress display and the cancel
    // switch, then hands its result to finished on the main thread.
    void runLibraryJob(const QString &label, LibraryJob job, LibraryJobEnd finished);
    void showLibraryJobProgress(const std::shared_ptr<LibraryJobState> &state);
    void endLibraryJob();

    CoreDataStack &m_stack;
    std::function<QWidget *()> m_dialogParent;
    std::function<QString(const QString &)> m_backupLocationChooser;
    std::function<QString()> m_restoreFileChooser;
    std::function<void(const QString &, const QString &)> m_alertPresenter;
    std::function<QString(const QString &)> m_libraryBackupLocationChooser;
    std::function<QString()> m_libraryFileChooser;
    std::function<void(const QString &)> m_noticePresenter;
    std::function<void(qint64, qint64)> m_workerStepObserver;
    bool m_libraryJobRunning = false;
    std::shared_ptr<LibraryJobState> m_libraryJob;
    // Last, so that it is the first to go and waits for the worker while the rest is whole.
    SerialQueue m_libraryJobQueue{QStringLiteral("Library Archive")};
};

} // namespace ovalis
