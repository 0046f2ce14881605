#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "transfer/LibraryMirror.h"

class QThread;
class QSocketNotifier;

namespace ovalis {

class CoreDataStack;
class MirrorWorker;

// Keeps the library mirrored while it runs: a sync when it starts, soon
// after each save here, when the server says another machine sent
// something (LISTEN/NOTIFY on a connection of its own, watched through its
// socket), and every minute while the server cannot be reached. The work
// runs on a thread of the service's own; the window only hears of state
// changes. Losing the server never stops work here: edits wait in the
// library's history and go up when it is back.
class MirrorService : public QObject
{
    Q_OBJECT

public:
    enum class State { Off, Synced, Syncing, Offline, Failed };

    explicit MirrorService(CoreDataStack *stack, QObject *parent = nullptr);
    ~MirrorService() override;

    // The configuration, stored with the library. Changing the server or the
    // password takes effect at the next sync.
    QString server() const { return m_settings.server(); }
    void setServer(const QString &conninfo) { m_settings.setServer(conninfo); }
    bool keepsMediaOnServer() const { return m_settings.keepsMediaOnServer(); }
    void setKeepsMediaOnServer(bool keep) { m_settings.setKeepsMediaOnServer(keep); }
    void setPassword(const QString &password);
    void setMachineName(const QString &name);
    // Whether media files go up and come down, overriding the library's setting.
    void setMediaOverride(std::optional<bool> media);

    // Starts watching (nothing without a server); stop() ends it.
    void start();
    void stop();
    bool isRunning() const { return m_running; }
    // A sync now, as the user asked: failures are reported through
    // syncFinished with requested set.
    void syncNow();
    // A sync now that also fetches every media file the server has and this
    // library lacks (and sends those only here), whatever the media setting.
    void fetchMissingFiles();
    // Counts, on a thread of its own, the media files the server has and
    // this library lacks; -1 with a message when the server cannot say.
    void countMissingFiles(const std::function<void(qint64 count, const QString &error)> &done);
    void cancel();
    // Connects on a thread of its own and answers on this object's thread.
    void testConnection(const std::function<void(bool ok, const QString &message)> &done);

    State state() const { return m_state; }
    // "Synced", "Syncing 120 of 400", "Offline: …", "Error: …", "Off".
    QString stateText() const;
    QDateTime lastSync() const { return m_lastSync; }
    QString lastResult() const { return m_lastResult; }
    // Tests wait for the syncs asked so far to end.
    bool waitUntilIdle(int timeoutMs);

signals:
    void stateChanged();
    void syncFinished(const ovalis::LibraryMirror::Report &report, bool requested);

private:
    void scheduleSync(bool requested);
    void reportProgress(const LibraryMirror::Progress &progress);
    void finished(const LibraryMirror::Report &report, bool requested);
    void setState(State state, const QString &text);

    CoreDataStack *m_stack;
    // The configuration as this thread reads and writes it; the worker has
    // a connection of its own to the same file.
    MirrorState m_settings;
    QString m_password;
    QString m_machine;
    std::optional<bool> m_mediaOverride;
    QThread *m_thread = nullptr;
    MirrorWorker *m_worker = nullptr;
    bool m_running = false;
    State m_state = State::Off;
    QString m_text;
    QDateTime m_lastSync;
    QString m_lastResult;
    std::atomic_bool m_cancel{false};
    bool m_inFlight = false;
    bool m_again = false;
    bool m_againRequested = false;
    bool m_allFiles = false; // the next sync looks at every media file
    QTimer m_saveTimer;
    QTimer m_retryTimer;
};

} // namespace ovalis
