#pragma once

#include <QByteArray>
#include <condition_variable>
#include <mutex>
#include <thread>

struct sqlite3;

namespace ovalis {

// Copies the write-ahead log back into the library file on a thread of its
// own, through a connection of its own, so that the connection that writes
// (on the main thread or a background writer) never waits for that copy or
// for its flush to the disk. It takes the place of SQLite's automatic
// checkpoint on the writing connection: a commit that leaves at least
// `pages` pages in the log asks for a checkpoint and goes on. Should the log
// grow to four times that (a writer that never pauses leaves no moment at
// which the whole log has been copied and can start again), the committing
// connection waits for a checkpoint under way and then checkpoints itself,
// as SQLite would have done, so that the log stays bounded.
class WalCheckpointer
{
public:
    WalCheckpointer(const QByteArray &path, int pages);
    // Waits for a checkpoint under way, then closes its connection.
    ~WalCheckpointer();
    WalCheckpointer(const WalCheckpointer &) = delete;
    WalCheckpointer &operator=(const WalCheckpointer &) = delete;

    // Installs this checkpointer on the writing connection, in place of its
    // automatic checkpoint. The connection must be closed, or the hook
    // removed, before this object goes.
    void attach(sqlite3 *writer);

    // Checkpoints finished on the checkpointer's thread, and those the
    // writing connection made itself because the log had grown too long.
    int backgroundCheckpoints() const;
    int writerCheckpoints() const;
    // Waits until no checkpoint is asked for or under way: every page
    // committed before the call is then in the file. False on a timeout.
    bool waitUntilIdle(int milliseconds);

private:
    static int walHook(void *self, sqlite3 *db, const char *database, int pages);
    void run();

    const QByteArray m_path;
    const int m_pages;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    bool m_requested = false;
    bool m_stopping = false;
    bool m_running = false;
    bool m_walOpened = false; // on the checkpointer's thread
    int m_backgroundCheckpoints = 0;
    int m_writerCheckpoints = 0;
    std::thread m_thread;
};

} // namespace ovalis
