#pragma once

#include <QThread>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace ovalis {

// The queue of work for one thread that owns contexts: the main thread, or
// the worker thread of a private context. Work posted from elsewhere runs on
// that thread in posting order. A thread that waits for work on another queue
// keeps running its own queue meanwhile, so a child context can push its save
// into a parent whose thread is waiting for the child, without deadlock.
class ContextQueue
{
public:
    // The main thread's queue; its work runs from the Qt event loop.
    static ContextQueue *mainQueue();
    // A queue with a worker thread of its own, named for debugging.
    static std::shared_ptr<ContextQueue> createWorker(const QString &name);
    // The queue of the calling thread, or nullptr for a thread without one.
    static ContextQueue *current();

    ~ContextQueue();
    ContextQueue(const ContextQueue &) = delete;
    ContextQueue &operator=(const ContextQueue &) = delete;

    bool isCurrent() const { return current() == this; }
    QThread *thread() const { return m_thread; }

    // Runs the work later on this queue's thread, even when called from it.
    void async(std::function<void()> work);
    // Runs the work on this queue's thread and returns when it is done; runs
    // it at once when called on this queue's thread.
    void sync(const std::function<void()> &work);
    // Runs whatever is pending; only on this queue's thread.
    void drain();
    // The same from the event loop, returning to it between slices of a
    // long backlog.
    void drainForEventLoop();

private:
    explicit ContextQueue(bool mainThread);
    void workerLoop();
    // Runs pending work until none is left, or, with a positive slice, until
    // the slice is used up and the rest is left to a later turn of the event loop.
    void runPending(qint64 sliceNanoseconds);
    void wake();

    std::mutex m_mutex;
    std::condition_variable m_condition;
    std::deque<std::function<void()>> m_work;
    bool m_stopping = false;
    bool m_isMain = false;
    std::atomic<bool> m_drainScheduled{false};
    QThread *m_thread = nullptr; // Not owned for the main queue; owned otherwise.
};

} // namespace ovalis
