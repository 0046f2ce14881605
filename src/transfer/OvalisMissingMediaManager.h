#pragma once

#include <QHash>
#include <atomic>
#include <memory>
#include <vector>

#include "store/ObjectID.h"
#include "transfer/MissingMediaManager.h"

namespace ovalis {

class CoreDataStack;
class ManagedObjectContext;
class Media;

// The library's missing media: Media records of a case whose file is not in
// the media directory, found by a scan on a private child context of the
// main context, and received files stored for their record.
//
// A scan still running when the manager goes is cancelled and waited for, so
// that none outlives the manager and, with it, the stack it reads.
class OvalisMissingMediaManager : public MissingMediaManager
{
public:
    // The stack must outlive the manager.
    explicit OvalisMissingMediaManager(CoreDataStack &stack);
    ~OvalisMissingMediaManager() override;

    ManagedObjectContext *mainManagedObjectContext() const { return m_mainManagedObjectContext; }

    void refreshMissingMedia(std::function<void()> completion = {}) override;
    // Moves the received file to the media's place (never over an existing file).
    void storeReceivedFile(const QString &uuid, const QUrl &location, std::function<void()> completion) override;

private:
    void takeMissingMedia(const QList<ObjectID> &ids, const std::function<void()> &completion);
    // Lets go of a finished scan's context (which ends its worker thread).
    void endScan(ManagedObjectContext *context);
    // The record of a received file: found through the last scan without
    // asking the store, else fetched by its uuid.
    Media *mediaForUuid(const QString &uuid);

    CoreDataStack &m_stack;
    ManagedObjectContext *m_mainManagedObjectContext; // Not owned.
    QHash<QString, ObjectID> m_scannedMedia; // by uuid, from the last scan
    // The private contexts of the scans not yet handed over, oldest first.
    std::vector<std::unique_ptr<ManagedObjectContext>> m_scans;
    // Set when the manager goes: a scan that has not started its fetch skips it.
    std::shared_ptr<std::atomic<bool>> m_cancelled = std::make_shared<std::atomic<bool>>(false);
    // Cleared when the manager goes, so that a scan finishing later is dropped.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace ovalis
