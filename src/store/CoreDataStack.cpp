#include "store/CoreDataStack.h"

#include <QDir>
#include <QStandardPaths>
#include <QUrl>

#include "store/Case.h"
#include "store/ManagedObjectContext.h"
#include "store/PersistentStore.h"
#include "store/UndoFileFolder.h"
#include "util/Log.h"
#include "util/SerialQueue.h"
#include "util/Settings.h"
#include "util/UndoManager.h"

namespace ovalis {

namespace {
QString sharedDirectory;
constexpr int automaticSaveInterval = 120 * 1000;
constexpr int externalChangesInterval = 2 * 1000;
} // namespace

CoreDataStack &CoreDataStack::shared()
{
    static CoreDataStack *stack = new CoreDataStack(sharedDirectory.isEmpty() ? defaultLibraryDirectory() : sharedDirectory);
    return *stack;
}

void CoreDataStack::configureShared(const QString &libraryDirectory)
{
    sharedDirectory = libraryDirectory;
}

QString CoreDataStack::defaultLibraryDirectory()
{
    return QDir::homePath() + QStringLiteral("/Ovalis");
}

CoreDataStack::CoreDataStack(const QString &libraryDirectory, QObject *parent)
    : QObject(parent)
    , m_requestedDirectory(libraryDirectory)
    , m_undoFiles(std::make_unique<UndoFileFolder>())
{
    m_autosaveTimer.setInterval(automaticSaveInterval);
    connect(&m_autosaveTimer, &QTimer::timeout, this, &CoreDataStack::automaticSave);
    m_autosaveTimer.start();
    m_externalChangesTimer.setInterval(externalChangesInterval);
    connect(&m_externalChangesTimer, &QTimer::timeout, this, &CoreDataStack::mergeChangesFromOtherProcesses);
}

CoreDataStack::~CoreDataStack()
{
    if (m_fileDeletionQueue)
        m_fileDeletionQueue->waitForDone();
    m_mainContext.reset();
}

QString CoreDataStack::mediaDirectory() const
{
    return m_libraryDirectory.isEmpty() ? QString() : m_libraryDirectory + QStringLiteral("/Media");
}

QString CoreDataStack::storePath() const
{
    return m_libraryDirectory.isEmpty() ? QString() : m_libraryDirectory + QStringLiteral("/Database.sqlite");
}

bool CoreDataStack::isLoaded() const
{
    return m_mainContext != nullptr;
}

bool CoreDataStack::loadPersistentStores(QString *error)
{
    if (m_mainContext)
        return true;
    m_libraryDirectory = m_requestedDirectory;
    if (!QDir().mkpath(m_libraryDirectory)) {
        Log::info(LogArea::CoreData, QStringLiteral("Unable to create default directory"));
        m_libraryDirectory = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (m_libraryDirectory.isEmpty())
            m_libraryDirectory = QDir::tempPath() + QStringLiteral("/Ovalis");
        QDir().mkpath(m_libraryDirectory);
    }
    Log::info(LogArea::CoreData, QStringLiteral("Open/create Database"));
    if (Settings::shared().boolValue(QStringLiteral("Disable_Cloud_Syncing")))
        disableCloudSyncing();

    auto store = std::make_unique<PersistentStore>();
    QString failure;
    if (!store->open(storePath(), PersistentStore::Mode::ReadWrite, &failure)) {
        if (error)
            *error = QStringLiteral("Unresolved error ") + failure;
        return false;
    }
    Log::info(LogArea::CoreData, QStringLiteral("Load store at ") + QUrl::fromLocalFile(storePath()).toString());
    m_store = std::move(store);
    if (m_checksIntegrityInBackground)
        m_store->startIntegrityCheck();
    if (m_readsSearchTextsInBackground)
        m_store->prepareTextIndexInBackground(ManagedObjectModel::ovalisModel().entityIndex(Case::entityName()),
                                              [this](bool read) {
                                                  if (read)
                                                      QMetaObject::invokeMethod(this, &CoreDataStack::searchTextsRead,
                                                                                Qt::QueuedConnection);
                                              });
    // Copies kept for undo by a run that ended without closing the library.
    UndoFileFolder::removeAbandoned(m_undoFiles->root());
    m_undoManager = std::make_unique<UndoManager>();
    m_mainContext = std::make_unique<ManagedObjectContext>(ManagedObjectContext::ConcurrencyType::MainQueue, m_store.get());
    m_mainContext->setStack(this);
    m_mainContext->setName(QStringLiteral("Main"));
    m_mainContext->setUndoManager(m_undoManager.get());
    setUpToAutomaticallyMergeFromParent(true);
    m_mainContext->setTransactionAuthor(QStringLiteral("Ovalis"));
    m_lastHistoryId = m_store->lastHistoryId();
    m_store->hasExternalChanges(); // sets the baseline
    m_externalChangesTimer.start();
    return true;
}

std::unique_ptr<ManagedObjectContext> CoreDataStack::newBackgroundContext()
{
    if (!m_mainContext)
        return nullptr;
    auto context = std::make_unique<ManagedObjectContext>(ManagedObjectContext::ConcurrencyType::PrivateQueue,
                                                          m_mainContext.get());
    context->setName(QStringLiteral("Background"));
    return context;
}

std::unique_ptr<ManagedObjectContext> CoreDataStack::contextForStore(const QString &path, bool readOnly, bool onMainThread)
{
    auto store = std::make_shared<PersistentStore>();
    QString error;
    if (!store->open(path, readOnly ? PersistentStore::Mode::ReadOnly : PersistentStore::Mode::ReadWrite, &error)) {
        Log::info(LogArea::CoreData, QStringLiteral("Unable to add persistent store at ") + QUrl::fromLocalFile(path).toString());
        return nullptr;
    }
    auto context = std::make_unique<ManagedObjectContext>(onMainThread ? ManagedObjectContext::ConcurrencyType::MainQueue
                                                                       : ManagedObjectContext::ConcurrencyType::PrivateQueue,
                                                          store.get());
    context->adoptStore(store);
    context->setStack(this);
    return context;
}

SerialQueue *CoreDataStack::fileDeletionQueue()
{
    // Private contexts delete media on their own threads, so the first use may race.
    std::call_once(m_fileDeletionQueueOnce, [this] {
        m_fileDeletionQueue = std::make_unique<SerialQueue>(QStringLiteral("nz.org.vantor.ovalis.file-deletion"));
    });
    return m_fileDeletionQueue.get();
}

void CoreDataStack::automaticSave()
{
    if (m_suspendAutomaticSaves) {
        Log::debug(LogArea::CoreData, QStringLiteral("Skip automatic saves"));
        return;
    }
    QString error;
    if (!m_mainContext && !loadPersistentStores(&error)) {
        Log::error(LogArea::CoreData, error);
        return;
    }
    m_mainContext->saveWithParent(true);
}

void CoreDataStack::disableCloudSyncing()
{
    // There is no cloud mirror; the library keeps its own history either way.
    Log::info(LogArea::CoreData, QStringLiteral("Disable iCloud syncing"));
    m_historyTracking = true;
}

void CoreDataStack::setUpToAutomaticallyMergeFromParent(bool merge)
{
    if (!m_mainContext)
        return;
    m_mainContext->setAutomaticallyMergesChangesFromParent(merge);
    Log::info(LogArea::CoreData, QStringLiteral("Set automaticallyMergesChangesFromParent to ")
                                     + (merge ? QStringLiteral("true") : QStringLiteral("false")));
    Log::info(LogArea::CoreData, QStringLiteral("Set queryGeneration to current"));
}

void CoreDataStack::mergeChangesFromOtherProcesses()
{
    if (!m_store || !m_mainContext || !m_store->hasExternalChanges())
        return;
    const QVector<HistoryTransaction> transactions = m_store->historySince(m_lastHistoryId, false);
    QHash<int, QVector<qint64>> keysByEntity;
    QSet<ObjectID> inserted;
    QHash<ObjectID, QStringList> changedKeys;
    QVector<ObjectID> deleted;
    for (const HistoryTransaction &transaction : transactions) {
        m_lastHistoryId = qMax(m_lastHistoryId, transaction.id);
        if (transaction.process == m_store->processToken())
            continue;
        for (const HistoryTransaction::Change &change : transaction.changes) {
            const ObjectID id{change.entity, change.key};
            if (change.entity < 0)
                continue;
            if (change.type == HistoryTransaction::Change::Delete) {
                deleted.append(id);
                continue;
            }
            if (change.type == HistoryTransaction::Change::Insert)
                inserted.insert(id);
            keysByEntity[change.entity].append(change.key);
            changedKeys[id] << change.columns;
        }
    }
    QVector<ObjectSnapshot> snapshots;
    for (auto it = keysByEntity.cbegin(); it != keysByEntity.cend(); ++it)
        m_store->fetchSnapshotsForKeys(it.key(), it.value(), &snapshots, nullptr);
    if (!snapshots.isEmpty() || !deleted.isEmpty())
        m_mainContext->mergeExternalChanges(snapshots, inserted, changedKeys, deleted);
}

} // namespace ovalis
