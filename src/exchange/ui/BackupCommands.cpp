#include "exchange/ui/BackupCommands.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QCoreApplication>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <algorithm>
#include <atomic>

#include "exchange/BackupReminder.h"
#include "exchange/JSONImporter.h"
#include "exchange/LabelledProgressInfo.h"
#include "exchange/ui/JobNotice.h"
#include "exchange/MainThread.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "util/Log.h"
#include "util/ThreadPriority.h"

namespace ovalis {

namespace {

const QString jsonFilter = QStringLiteral("JSON (*.json)");
const QString archiveFilter = QStringLiteral("Library archives (*.tar);;All files (*)");

// The progress display takes ints; bytes are scaled to thousandths.
constexpr int progressSteps = 1000;

QString cases(int count)
{
    return JobNotice::counted(count, BackupCommands::tr("case"), BackupCommands::tr("cases"));
}

// "304 cases and 1,210 media files", as a finished library job names them.
QString casesAndFiles(const LibraryArchive::Result &result)
{
    return BackupCommands::tr("%1 and %2").arg(cases(result.cases),
                                               JobNotice::counted(result.files, BackupCommands::tr("media file"), BackupCommands::tr("media files")));
}

// One file panel: a save panel when suffix is given (starting in the home
// folder with proposedName), else an open panel for an existing file.
struct FilePanel {
    QString title;
    QString acceptLabel;
    QString filter;
    QString suffix;
    QString proposedName;
};

// The chosen path, empty when the panel is cancelled.
QString chooseFile(const std::function<QWidget *()> &dialogParent, const FilePanel &spec)
{
    QFileDialog panel(dialogParent ? dialogParent() : nullptr, spec.title);
    const bool saving = !spec.suffix.isEmpty();
    panel.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    panel.setNameFilter(spec.filter);
    panel.setLabelText(QFileDialog::Accept, spec.acceptLabel);
    if (saving) {
        panel.setDefaultSuffix(spec.suffix);
        panel.setDirectory(QDir::homePath());
        panel.selectFile(spec.proposedName);
    } else {
        panel.setFileMode(QFileDialog::ExistingFile);
    }
    return panel.exec() == QDialog::Accepted && !panel.selectedFiles().isEmpty() ? panel.selectedFiles().first() : QString();
}

} // namespace

BackupCommands::BackupCommands(CoreDataStack &stack, std::function<QWidget *()> dialogParent, QObject *parent)
    : QObject(parent)
    , m_stack(stack)
    , m_dialogParent(std::move(dialogParent))
{
    m_backupLocationChooser = [this](const QString &proposedName) {
        return chooseFile(m_dialogParent, {tr("Backup"), tr("Backup"), jsonFilter, QStringLiteral("json"), proposedName});
    };
    m_restoreFileChooser = [this] {
        return chooseFile(m_dialogParent, {tr("Restore from Backup"), tr("Restore"), jsonFilter});
    };
    m_libraryBackupLocationChooser = [this](const QString &proposedName) {
        return chooseFile(m_dialogParent, {tr("Back Up Library"), tr("Back Up"), archiveFilter, QStringLiteral("tar"), proposedName});
    };
    m_libraryFileChooser = [this] {
        return chooseFile(m_dialogParent, {tr("Restore Library"), tr("Restore"), archiveFilter});
    };
    m_noticePresenter = [this](const QString &notice) { JobNotice::show(m_dialogParent ? m_dialogParent() : nullptr, notice); };
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

QString BackupCommands::proposedLibraryBackupName(const QDate &localToday)
{
    return QStringLiteral("Ovalis Library %1.tar").arg(localToday.toString(Qt::ISODate));
}

void BackupCommands::setLibraryBackupLocationChooser(std::function<QString(const QString &)> chooser)
{
    m_libraryBackupLocationChooser = std::move(chooser);
}

void BackupCommands::setLibraryFileChooser(std::function<QString()> chooser)
{
    m_libraryFileChooser = std::move(chooser);
}

void BackupCommands::setWorkerStepObserver(std::function<void(qint64, qint64)> observer)
{
    m_workerStepObserver = std::move(observer);
}

void BackupCommands::setNoticePresenter(std::function<void(const QString &)> presenter)
{
    m_noticePresenter = std::move(presenter);
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
    if (m_libraryJobRunning)
        return;
    Log::info(LogArea::Filing, QStringLiteral("Export database"));
    const QString path = m_backupLocationChooser(proposedBackupName(QDateTime::currentDateTime()));
    if (path.isEmpty())
        return;
    const QString name = QFileInfo(path).fileName();
    const QString failed = tr("The backup “%1” could not be written.").arg(name);
    // The windows hand each edit to their records as it is made; saved
    // first, the edits are in the file the worker reads.
    QString error;
    if (!m_stack.mainContext()->save(&error)) {
        m_alertPresenter(failed, tr("The library could not be saved first: %1").arg(error));
        return;
    }
    // A reader of its own over the store file, so that the reading happens
    // on the reader's thread beside the main context's connection.
    std::shared_ptr<ManagedObjectContext> reader = m_stack.contextForStore(m_stack.storePath(), true, false);
    if (!reader) {
        m_alertPresenter(failed, tr("The library could not be opened for reading."));
        return;
    }
    QPointer<BackupCommands> self(this);
    runLibraryJob(
        tr("Backing up…"),
        [reader, path](const LibraryArchive::Progress &progress) {
            // The reader's thread is its own and ends with it: lowered, it
            // yields the cores to the window whenever the window has work.
            reader->performAndWait([] { lowerCurrentThreadPriority(); });
            const JSONImporter::ExportResult exported = JSONImporter(QUrl::fromLocalFile(path)).exportDatabaseOnQueue(reader.get(), progress);
            LibraryArchive::Result result;
            result.cases = exported.casesWritten;
            result.cancelled = exported.cancelled;
            result.error = exported.error;
            return result;
        },
        [self, failed, name](const LibraryArchive::Result &result) {
            if (result.cancelled)
                self->m_noticePresenter(tr("The backup was cancelled."));
            else if (!result.error.isEmpty())
                self->m_alertPresenter(failed, result.error);
            else
                self->m_noticePresenter(tr("Backed up %1 to “%2”.").arg(cases(result.cases), name));
        });
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
        const QString name = QFileInfo(path).fileName();
        if (!summary.error.isEmpty()) {
            self->m_alertPresenter(tr("Nothing was restored from “%1”.").arg(name), summary.error);
            return;
        }
        if (summary.unsaved) {
            self->m_alertPresenter(tr("Not every case from “%1” could be saved.").arg(name),
                                   tr("The library could not be written, so the restore stopped part way. The cases saved "
                                      "before that are in the library; the log names the problem."));
            return;
        }
        self->m_noticePresenter(tr("Restored %1 from “%2”.").arg(cases(summary.casesRead), name));
        emit self->restoreFinished(summary.casesRead);
    });
}

// What the worker and the main thread share while a library job runs.
struct BackupCommands::LibraryJobState {
    QString label;
    std::atomic<bool> cancelled{false};
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{0};
    // A progress update is queued for the main thread and not yet shown.
    std::atomic<bool> progressQueued{false};
};

void BackupCommands::runLibraryJob(const QString &label, LibraryJob job, LibraryJobEnd finished)
{
    auto state = std::make_shared<LibraryJobState>();
    state->label = label;
    m_libraryJob = state;
    m_libraryJobRunning = true;
    emit libraryJobRunningChanged(true);
    LabelledProgressInfo::post(1, progressSteps, label);
    QPointer<BackupCommands> self(this);
    m_libraryJobQueue.async([self, state, job = std::move(job), finished = std::move(finished), observer = m_workerStepObserver] {
        const LibraryArchive::Result result = job([self, state, observer](qint64 done, qint64 total) {
            state->done = done;
            state->total = total;
            // One update at a time waits for the main thread; later steps only move the figures.
            if (!state->progressQueued.exchange(true))
                runOnMainThread([self, state] {
                    state->progressQueued = false;
                    if (self)
                        self->showLibraryJobProgress(state);
                });
            if (observer)
                observer(done, total);
            return !state->cancelled;
        });
        runOnMainThread([self, state, result, finished] {
            if (!self || self->m_libraryJob != state)
                return;
            finished(result);
            if (self)
                self->endLibraryJob();
        });
    });
}

void BackupCommands::showLibraryJobProgress(const std::shared_ptr<LibraryJobState> &state)
{
    if (m_libraryJob != state || !m_libraryJobRunning)
        return;
    const qint64 done = state->done;
    const qint64 total = state->total;
    emit libraryJobProgressed(done, total);
    const int step = total > 0 ? int(std::clamp<qint64>(done * progressSteps / total, 1, progressSteps)) : 1;
    LabelledProgressInfo::post(step, progressSteps, state->label);
}

void BackupCommands::endLibraryJob()
{
    LabelledProgressInfo::postEnd();
    m_libraryJob.reset();
    m_libraryJobRunning = false;
    emit libraryJobRunningChanged(false);
}

void BackupCommands::backUpLibrary()
{
    if (m_libraryJobRunning)
        return;
    Log::info(LogArea::Filing, QStringLiteral("Back up library"));
    const QString path = m_libraryBackupLocationChooser(proposedLibraryBackupName(QDate::currentDate()));
    if (path.isEmpty())
        return;
    const QString name = QFileInfo(path).fileName();
    // The records come from the main context, here; the rest is byte work.
    LibraryArchive::ExportedRecords exported;
    const LibraryArchive::Result recorded = LibraryArchive::exportRecords(m_stack.mainContext(), path, &exported);
    if (!recorded.succeeded()) {
        m_alertPresenter(tr("The library backup “%1” could not be written.").arg(name), recorded.error);
        return;
    }
    QPointer<BackupCommands> self(this);
    runLibraryJob(
        tr("Backing up…"),
        [exported, path](const LibraryArchive::Progress &progress) { return LibraryArchive::writeArchive(exported, path, progress); },
        [self, path, name](const LibraryArchive::Result &result) {
            if (result.cancelled)
                self->m_noticePresenter(tr("The library backup was cancelled."));
            else if (!result.error.isEmpty())
                self->m_alertPresenter(tr("The library backup “%1” could not be written.").arg(name), result.error);
            else {
                self->m_noticePresenter(tr("Backed up %1 to “%2”.").arg(casesAndFiles(result), name));
                const QDateTime now = QDateTime::currentDateTime();
                BackupReminder::recordBackup(now.date());
                emit self->libraryBackedUp(path, now);
            }
        });
}

void BackupCommands::restoreLibrary()
{
    if (m_libraryJobRunning)
        return;
    Log::info(LogArea::Importing, QStringLiteral("Restore library"));
    const QString path = m_libraryFileChooser();
    if (path.isEmpty())
        return;
    const QString name = QFileInfo(path).fileName();
    // Read, checked and staged on the worker; moved in and added here.
    auto staged = std::make_shared<LibraryArchive::StagedRestore>();
    QPointer<BackupCommands> self(this);
    runLibraryJob(
        tr("Restoring…"),
        [staged, path, library = m_stack.libraryDirectory()](const LibraryArchive::Progress &progress) {
            return LibraryArchive::unpack(path, library, progress, staged.get());
        },
        [self, staged, name](LibraryArchive::Result result) {
            // Cancelled once checked and staged: nothing has changed yet.
            if (result.succeeded() && self->m_libraryJob && self->m_libraryJob->cancelled)
                result.cancelled = true;
            if (result.succeeded())
                result = LibraryArchive::moveIn(*staged, self->m_stack.mainContext());
            staged->staging.reset();
            if (!self)
                return;
            if (result.cancelled)
                self->m_noticePresenter(tr("The library restore was cancelled; nothing was changed."));
            else if (!result.error.isEmpty())
                self->m_alertPresenter(tr("Nothing was restored from “%1”.").arg(name), result.error);
            else
                self->m_noticePresenter(tr("Restored %1 from “%2”.").arg(casesAndFiles(result), name));
        });
}

void BackupCommands::cancelLibraryJob()
{
    if (m_libraryJob)
        m_libraryJob->cancelled = true;
}

BackupCommands::~BackupCommands()
{
    cancelLibraryJob();
}

} // namespace ovalis
