#include "store/WalCheckpointer.h"

#include <chrono>

#include <sqlite3.h>

#include "util/Log.h"

namespace ovalis {

WalCheckpointer::WalCheckpointer(const QByteArray &path, int pages)
    : m_path(path)
    , m_pages(pages)
{
    m_thread = std::thread([this] { run(); });
}

WalCheckpointer::~WalCheckpointer()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void WalCheckpointer::attach(sqlite3 *writer)
{
    sqlite3_wal_hook(writer, &WalCheckpointer::walHook, this);
}

int WalCheckpointer::backgroundCheckpoints() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_backgroundCheckpoints;
}

int WalCheckpointer::writerCheckpoints() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writerCheckpoints;
}

int WalCheckpointer::walHook(void *self, sqlite3 *db, const char *database, int pages)
{
    auto *checkpointer = static_cast<WalCheckpointer *>(self);
    if (pages >= 4 * checkpointer->m_pages) {
        // The checkpoints cannot keep up: the committing connection folds the
        // log itself, as SQLite's automatic checkpoint would, once a
        // checkpoint under way has ended (two cannot run at once). Called
        // after the commit, with the write lock let go.
        {
            std::unique_lock<std::mutex> lock(checkpointer->m_mutex);
            checkpointer->m_idle.wait(lock, [checkpointer] { return !checkpointer->m_running; });
            checkpointer->m_running = true;
        }
        sqlite3_wal_checkpoint_v2(db, database, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        {
            std::lock_guard<std::mutex> lock(checkpointer->m_mutex);
            checkpointer->m_running = false;
            ++checkpointer->m_writerCheckpoints;
        }
        checkpointer->m_idle.notify_all();
        checkpointer->m_wake.notify_one();
        return SQLITE_OK;
    }
    if (pages >= checkpointer->m_pages) {
        {
            std::lock_guard<std::mutex> lock(checkpointer->m_mutex);
            checkpointer->m_requested = true;
        }
        checkpointer->m_wake.notify_one();
    }
    return SQLITE_OK;
}

bool WalCheckpointer::waitUntilIdle(int milliseconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return !m_requested && !m_running; });
}

void WalCheckpointer::run()
{
    // At the writer's priority: a writer whose log has grown too long waits
    // for the checkpoint under way.
    sqlite3 *db = nullptr;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return (m_requested && !m_running) || m_stopping; });
        if (m_stopping)
            break;
        m_requested = false;
        m_running = true;
        lock.unlock();
        if (!db && sqlite3_open_v2(m_path.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
            Log::error(LogArea::CoreData, QStringLiteral("Could not open the library for checkpoints: ")
                                              + QString::fromUtf8(sqlite3_errmsg(db)));
            sqlite3_close(db);
            db = nullptr;
        } else if (db && !m_walOpened) {
            // A connection finds the log on its first read; until then it has no log to fold.
            m_walOpened = sqlite3_exec(db, "PRAGMA schema_version", nullptr, nullptr, nullptr) == SQLITE_OK;
        }
        // A passive checkpoint copies what no reader still needs and never
        // waits for the writer, which goes on appending meanwhile.
        const bool done = db && sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr) == SQLITE_OK;
        lock.lock();
        m_running = false;
        if (done)
            ++m_backgroundCheckpoints;
        m_idle.notify_all();
    }
    lock.unlock();
    sqlite3_close(db);
}

} // namespace ovalis
