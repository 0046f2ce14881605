#pragma once

#include <QHash>
#include <atomic>
#include <memory>

#include "store/ObjectID.h"
#include "transfer/MissingMediaManager.h"
#include "util/SerialQueue.h"

namespace ovalis {

class CoreDataStack;
class ManagedObjectContext;
class Media;

// The library's missing media: Media records of a case whose file is not in
// the media directory, and received files stored for their record.
//
// A scan saves the main context, then reads the records on a worker through a
// read-only connection of its own to the store file, so that the main thread
// goes on answering while hundreds of thousands of records are read and their
// files looked for. Edits the main context has not saved when the scan ends
// (made meanwhile, or kept because the save failed) are judged as the main
// context has them.
//
// Scans run one after the other, so that they report in the order asked. A
// scan still queued or running when the manager goes is cancelled and waited
// for, so that none outlives the manager and, with it, the stack it reads.
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
    struct Scan;

    // Reads the store file on the calling worker: the missing media of the
    // saved records; nothing when cancelled before the reading ends.
    static std::shared_ptr<Scan> readStore(CoreDataStack &stack, const std::optional<QUrl> &base,
                                           const std::atomic<bool> &cancelled);
    // Notes a missing media in the scan, logging its case's patient ID.
    static void noteMissing(Media *media, Scan &scan);
    // Whether the media has no file at its place under base (or no place).
    static bool fileIsMissing(Media *media, const std::optional<QUrl> &base);
    // Lays the main context's unsaved edits of media over a scan of the store.
    void judgeUnsavedMedia(Scan &scan) const;
    void takeMissingMedia(Scan &scan, const std::function<void()> &completion);
    // The record of a received file: found through the last scan without
    // asking the store, else fetched by its uuid.
    Media *mediaForUuid(const QString &uuid);

    CoreDataStack &m_stack;
    ManagedObjectContext *m_mainManagedObjectContext; // Not owned.
    QHash<QString, ObjectID> m_scannedMedia; // by uuid, from the last scan
    // Set when the manager goes: a scan skips its reading, or stops it at the next record.
    std::shared_ptr<std::atomic<bool>> m_cancelled = std::make_shared<std::atomic<bool>>(false);
    // Cleared when the manager goes, so that a scan finishing later is dropped.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    // The scans' reading, waited for by the destructor.
    SerialQueue m_scanQueue{QStringLiteral("nz.org.vantor.ovalis.missing-media-scan")};
};

} // namespace ovalis
