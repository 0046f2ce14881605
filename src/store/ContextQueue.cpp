#include "store/ContextQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaObject>

namespace ovalis {

namespace {
thread_local ContextQueue *currentQueue = nullptr;
}

ContextQueue::ContextQueue(bool mainThread)
    : m_isMain(mainThread)
{
}

ContextQueue *ContextQueue::mainQueue()
{
    static ContextQueue *queue = [] {
        auto *q = new ContextQueue(true);
        q->m_thread = QCoreApplication::instance() ? QCoreApplication::instance()->thread() : QThread::currentThread();
        return q;
    }();
    if (QThread::currentThread() == queue->m_thread)
        currentQueue = queue;
    return queue;
}

std::shared_ptr<ContextQueue> ContextQueue::createWorker(const QString &name)
{
    std::shared_ptr<ContextQueue> queue(new ContextQueue(false));
    ContextQueue *raw = queue.get();
    raw->m_thread = QThread::create([raw] { raw->workerLoop(); });
    raw->m_thread->setObjectName(name);
    raw->m_thread->start();
    return queue;
}

ContextQueue *ContextQueue::current()
{
    if (!currentQueue) {
        ContextQueue *main = mainQueue();
        if (QThread::currentThread() == main->m_thread)
            currentQueue = main;
    }
    return currentQueue;
}

ContextQueue::~ContextQueue()
{
    if (m_isMain)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_condition.notify_all();
    if (m_thread) {
        if (QThread::currentThread() != m_thread)
            m_thread->wait();
        delete m_thread;
    }
}

void ContextQueue::workerLoop()
{
    currentQueue = this;
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_condition.wait(lock, [this] { return m_stopping || !m_work.empty(); });
            if (m_work.empty())
                return;
            work = std::move(m_work.front());
            m_work.pop_front();
        }
        work();
    }
}

void ContextQueue::wake()
{
    m_condition.notify_all();
    if (m_isMain && !m_drainScheduled.exchange(true)) {
        QObject *app = QCoreApplication::instance();
        if (app)
            QMetaObject::invokeMethod(app, [this] { drainForEventLoop(); }, Qt::QueuedConnection);
    }
}

void ContextQueue::drainForEventLoop()
{
    // A long backlog (an import's queued batches) runs a slice at a time, so
    // that input and painting get their turn between slices.
    constexpr qint64 sliceNanoseconds = 8'000'000;
    runPending(sliceNanoseconds);
}

void ContextQueue::runPending(qint64 sliceNanoseconds)
{
    m_drainScheduled = false;
    QElapsedTimer slice;
    slice.start();
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_work.empty())
                return;
            if (sliceNanoseconds > 0 && slice.nsecsElapsed() > sliceNanoseconds) {
                if (!m_drainScheduled.exchange(true))
                    QMetaObject::invokeMethod(QCoreApplication::instance(), [this] { drainForEventLoop(); }, Qt::QueuedConnection);
                return;
            }
            work = std::move(m_work.front());
            m_work.pop_front();
        }
        work();
    }
}

void ContextQueue::async(std::function<void()> work)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_work.push_back(std::move(work));
    }
    wake();
}

void ContextQueue::drain()
{
    runPending(0);
}

void ContextQueue::sync(const std::function<void()> &work)
{
    if (isCurrent()) {
        work();
        return;
    }
    // The waiting thread signals its own queue's condition when the work is
    // done, so that it wakes both for the completion and for work posted to it.
    ContextQueue *waiter = current();
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto waitMutex = std::make_shared<std::mutex>();
    auto waitCondition = std::make_shared<std::condition_variable>();
    async([&work, done, waiter, waitMutex, waitCondition] {
        work();
        if (waiter) {
            std::lock_guard<std::mutex> lock(waiter->m_mutex);
            done->store(true);
        } else {
            std::lock_guard<std::mutex> lock(*waitMutex);
            done->store(true);
        }
        if (waiter)
            waiter->m_condition.notify_all();
        else
            waitCondition->notify_all();
    });
    if (!waiter) {
        std::unique_lock<std::mutex> lock(*waitMutex);
        waitCondition->wait(lock, [&] { return done->load(); });
        return;
    }
    for (;;) {
        waiter->drain();
        std::unique_lock<std::mutex> lock(waiter->m_mutex);
        if (done->load())
            return;
        waiter->m_condition.wait(lock, [&] { return done->load() || !waiter->m_work.empty(); });
        if (done->load() && waiter->m_work.empty())
            return;
    }
}

} // namespace ovalis

