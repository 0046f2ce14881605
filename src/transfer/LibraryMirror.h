#pragma once

#include <QHash>
#include <QSet>
#include <QUuid>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "transfer/MirrorServer.h"
#include "transfer/MirrorState.h"

namespace ovalis {

class CoreDataStack;
class ManagedObjectContext;
struct HistoryTransaction;

// Keeps one library the same as its mirror on a PostgreSQL server: sends
// what was saved here since the last sync (per property, from the store's
// history, with the time of the save that made it), takes in what other
// machines sent (through a background writer, so that the window merges it
// in slices and keeps unsaved edits), and, when media files are kept on the
// server, sends and fetches file versions. The first sync with a server
// sends the whole library and takes in the server's, in batches that are
// each committed, so that a cancelled or interrupted first sync goes on
// where it stopped.
//
// Blocking: sync() runs on the calling thread, which must not be the main
// thread when the main context is to see the changes before it returns.
class LibraryMirror
{
public:
    struct Progress {
        QString phase; // "Sending", "Receiving", "Sending files", "Receiving files"
        qint64 done = 0;
        qint64 total = 0;
    };
    using ProgressHandler = std::function<void(const Progress &)>;

    struct Report {
        bool ok = false;
        bool offline = false;   // the server could not be reached
        bool cancelled = false;
        QString error;
        qint64 sent = 0;        // records and links sent
        qint64 received = 0;    // records and links taken in
        qint64 conflicts = 0;
        qint64 filesSent = 0;
        qint64 filesReceived = 0;
    };

    struct Status {
        qint64 waitingToSend = 0;  // records changed here since the last sync
        qint64 serverAhead = 0;    // records, links and files the server has that are not here
        qint64 missingFiles = 0;   // media files the server has and this machine does not
    };

    // The author of the mirror's own saves, which are never sent back.
    static QString author() { return QStringLiteral("Ovalis mirror"); }
    // This machine's name in conflict reports: the host name.
    static QString defaultMachineName();

    explicit LibraryMirror(CoreDataStack *stack);
    // Whether what a sync takes in is merged into the stack's main context
    // (the window's), as it is unless told otherwise; a command without a
    // window saves the merging.
    void setMergesIntoMainContext(bool merges) { m_mergesIntoMainContext = merges; }
    ~LibraryMirror();

    // Opens the mirror's state beside the library.
    bool open(QString *error);
    MirrorState &state() { return m_state; }

    // The server (a libpq connection string or URI); a different server
    // than before starts the mirror afresh.
    QString server() const { return m_state.server(); }
    void setServer(const QString &conninfo);
    bool keepsMediaOnServer() const { return m_state.keepsMediaOnServer(); }
    void setKeepsMediaOnServer(bool keep) { m_state.setKeepsMediaOnServer(keep); }
    void setPassword(const QString &password) { m_password = password; }
    void setMachineName(const QString &name) { m_machine = name; }
    QString machineName() const { return m_machine; }
    // The id of the library on the server, once known.
    QString libraryId() const;

    // Connects and answers whether the server can hold the library.
    bool testConnection(QString *error);
    // One round: send, receive, then files when media is true.
    // allFiles looks at every media record's file, not only those changed
    // since the last sync: the way to fetch every missing file the server has.
    Report sync(bool media, const ProgressHandler &progress = {}, const std::atomic_bool *cancel = nullptr,
                bool allFiles = false);
    bool status(Status *status, QString *error);
    // Returns once the window's context has taken in everything the syncs
    // so far wrote. Not on the main thread, which does that merging.
    void waitForMerges();
    // Disconnects; the next sync connects again.
    void disconnect();
    // The server's notification channel once connected.
    QString channel() const { return m_server.channel(); }
    // What this mirror's notifications to other machines carry.
    QString sender() const { return m_server.sender(); }

    // Where file versions that another machine's replaced are kept.
    QString keptFilesFolder() const;

private:
    struct PendingRecord;
    bool connectToServer(QString *error, bool *offline);
    bool sendInitial(Report *report, const ProgressHandler &progress, const std::atomic_bool *cancel);
    bool sendChanges(Report *report, QStringList *mediaToCheck);
    bool receiveChanges(Report *report, const ProgressHandler &progress, const std::atomic_bool *cancel,
                        QVector<MirrorFile> *files);
    bool takeServerState(const MirrorServer::PushResult &result, Report *report);
    // Writes records and links from the server into the library.
    bool apply(QVector<MirrorRecord> records, const QVector<MirrorLink> &links, QString *error);
    bool renumberRepeatedOrder(const QSet<qint64> &caseKeys, QString *error);
    bool syncFiles(Report *report, const QStringList &mediaToCheck, QVector<MirrorFile> serverFiles, bool everything,
                   const ProgressHandler &progress, const std::atomic_bool *cancel);
    // A snapshot's mirrored values; the case's uuid for a medium's case.
    bool recordsFor(int entity, const QVector<qint64> &keys, const QHash<qint64, QHash<QString, qint64>> &times,
                    qint64 defaultTime, QVector<MirrorRecord> *records, QString *error);
    QString uuidOf(int entity, qint64 key);
    bool finishPush(const QVector<MirrorRecord> &records, const QVector<MirrorLink> &links,
                    const MirrorServer::PushResult &result, Report *report);

    CoreDataStack *m_stack;
    MirrorState m_state;
    MirrorServer m_server;
    // While a page is read ahead on another thread, the connection is taken in turn.
    std::mutex m_serverMutex;
    QString m_password;
    QString m_machine;
    std::shared_ptr<ManagedObjectContext> m_writer;
    bool m_mergesIntoMainContext = true;
    // The cases one sync made here, with their media's order and their
    // links as the sync wrote them, so that it need not read them back.
    QSet<qint64> m_madeThisSync;
    QHash<qint64, QHash<QString, int>> m_mediaOrder;
    QSet<QPair<qint64, qint64>> m_linksMadeThisSync;
    // The entities of which the library holds records the state does not
    // name, which are then looked for in the library by uuid.
    QSet<int> m_unnamedHere;
    // The entities of which neither the library nor the state held a record
    // when this sync began taking in, and the keys (by uuid) the sync made
    // of them: all there are, so the state is not asked.
    QSet<int> m_startedEmpty;
    QVector<QHash<QUuid, qint64>> m_keysMadeFromEmpty;
};

} // namespace ovalis
