#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <mutex>

namespace ovalis {

class ManagedObjectContext;
class PersistentStore;
class SerialQueue;
class UndoFileFolder;
class UndoManager;

// The one owner of the library's store: the main context, the file-deletion
// queue and the two-minute automatic save. Lives on the main thread.
class CoreDataStack : public QObject
{
    Q_OBJECT

public:
    // The process's stack, created on first use over libraryDirectory of
    // configureShared() or the default library.
    static CoreDataStack &shared();
    // Sets the library directory of the shared stack before its first use.
    static void configureShared(const QString &libraryDirectory);
    // "~/Ovalis", the tilde being $HOME.
    static QString defaultLibraryDirectory();

    explicit CoreDataStack(const QString &libraryDirectory = defaultLibraryDirectory(), QObject *parent = nullptr);
    ~CoreDataStack() override;

    // Opens (creating when new) the store; false with a message naming the
    // file when it cannot be used. Logs as the library's log lines say.
    bool loadPersistentStores(QString *error);
    bool isLoaded() const;
    // Whether the check of every page of the file starts in the background as
    // soon as the store is open (the default), or waits for the first save.
    void setChecksIntegrityInBackground(bool background) { m_checksIntegrityInBackground = background; }
    // Whether the texts that searches of cases look through are read on a
    // worker as soon as the store is open (the default), so that the first
    // search finds them ready, or only by the first search.
    void setReadsSearchTextsInBackground(bool background) { m_readsSearchTextsInBackground = background; }

    // The directory actually used: the library directory, or the fallback
    // when it could not be created.
    QString libraryDirectory() const { return m_libraryDirectory; }
    QString mediaDirectory() const;
    QString storePath() const;

    // The main-thread context through which the windows read and edit.
    ManagedObjectContext *mainContext() const { return m_mainContext.get(); }
    UndoManager *undoManager() const { return m_undoManager.get(); }
    PersistentStore *persistentStore() const { return m_store.get(); }
    // A private-queue child of the main context for long work.
    std::unique_ptr<ManagedObjectContext> newBackgroundContext();
    // A separate store file through a context of its own (not the library).
    std::unique_ptr<ManagedObjectContext> contextForStore(const QString &path, bool readOnly, bool onMainThread);

    SerialQueue *fileDeletionQueue();
    // Where undo keeps its copies of this library's media files.
    UndoFileFolder &undoFiles() { return *m_undoFiles; }

    bool suspendAutomaticSaves() const { return m_suspendAutomaticSaves; }
    void setSuspendAutomaticSaves(bool suspend) { m_suspendAutomaticSaves = suspend; }
    // One tick of the automatic save.
    void automaticSave();

    void disableCloudSyncing();
    void setUpToAutomaticallyMergeFromParent(bool merge);
    // Brings another process's saved changes into the main context.
    void mergeChangesFromOtherProcesses();

signals:
    // The texts that searches of cases look through were read in the
    // background and handed to the store.
    void searchTextsRead();

private:
    QString m_requestedDirectory;
    QString m_libraryDirectory;
    std::unique_ptr<PersistentStore> m_store;
    // Outlives the undo manager, whose steps hold copies inside it.
    std::unique_ptr<UndoFileFolder> m_undoFiles;
    std::unique_ptr<UndoManager> m_undoManager;
    std::unique_ptr<ManagedObjectContext> m_mainContext;
    std::unique_ptr<SerialQueue> m_fileDeletionQueue;
    std::once_flag m_fileDeletionQueueOnce;
    QTimer m_autosaveTimer;
    QTimer m_externalChangesTimer;
    bool m_suspendAutomaticSaves = false;
    bool m_historyTracking = false;
    bool m_checksIntegrityInBackground = true;
    bool m_readsSearchTextsInBackground = true;
    qint64 m_lastHistoryId = 0;
};

} // namespace ovalis
