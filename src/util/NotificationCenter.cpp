#include "util/NotificationCenter.h"

#include <QCoreApplication>
#include <QList>
#include <QScopeGuard>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace ovalis {

struct NotificationCenter::Observer {
    QString name;
    const void *object = nullptr;
    std::function<void(const Notification &)> handler;
    Delivery delivery = Delivery::Posting;

    std::mutex mutex;
    std::condition_variable idle;
    bool active = true; // Guarded by mutex.
    QList<Qt::HANDLE> runningThreads; // One entry per call in progress; guarded by mutex.

    bool matches(const Notification &notification) const
    {
        return (name.isEmpty() || name == notification.name) && (!object || object == notification.object);
    }

    bool beginCall()
    {
        const std::lock_guard lock(mutex);
        if (!active)
            return false;
        runningThreads.append(QThread::currentThreadId());
        return true;
    }

    void endCall()
    {
        const std::lock_guard lock(mutex);
        runningThreads.removeOne(QThread::currentThreadId());
        idle.notify_all();
    }

    void deactivate()
    {
        std::unique_lock lock(mutex);
        active = false;
        const Qt::HANDLE self = QThread::currentThreadId();
        idle.wait(lock, [&] {
            return std::none_of(runningThreads.cbegin(), runningThreads.cend(),
                                [self](Qt::HANDLE thread) { return thread != self; });
        });
    }
};

struct NotificationCenter::Registry {
    std::mutex mutex;
    std::vector<std::shared_ptr<Observer>> observers; // Guarded by mutex.
};

NotificationCenter::NotificationCenter()
    : m_registry(std::make_shared<Registry>())
{
}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter &NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

ObserverToken NotificationCenter::addObserver(const QString &name, const void *object,
                                              std::function<void(const Notification &)> handler,
                                              Delivery delivery)
{
    auto observer = std::make_shared<Observer>();
    observer->name = name;
    observer->object = object;
    observer->handler = std::move(handler);
    observer->delivery = delivery;
    {
        const std::lock_guard lock(m_registry->mutex);
        m_registry->observers.push_back(observer);
    }

    // The token may outlive the center, and the observer may outlive both
    // while a post or a queued delivery still holds it.
    std::weak_ptr<Registry> weakRegistry = m_registry;
    std::weak_ptr<Observer> weakObserver = observer;
    return ObserverToken([weakRegistry, weakObserver] {
        const std::shared_ptr<Observer> observer = weakObserver.lock();
        if (!observer)
            return;
        observer->deactivate();
        if (const std::shared_ptr<Registry> registry = weakRegistry.lock()) {
            const std::lock_guard lock(registry->mutex);
            std::erase(registry->observers, observer);
        }
    });
}

void NotificationCenter::removeObserver(ObserverToken &token)
{
    token.reset();
}

int NotificationCenter::observerCount() const
{
    const std::lock_guard lock(m_registry->mutex);
    return int(m_registry->observers.size());
}

void NotificationCenter::post(const QString &name, const void *object, const QVariantMap &userInfo)
{
    post(Notification{name, object, userInfo});
}

void NotificationCenter::post(const Notification &notification)
{
    std::vector<std::shared_ptr<Observer>> matching;
    {
        const std::lock_guard lock(m_registry->mutex);
        for (const std::shared_ptr<Observer> &observer : m_registry->observers)
            if (observer->matches(notification))
                matching.push_back(observer);
    }

    QCoreApplication *app = QCoreApplication::instance();
    const bool onMainThread = !app || QThread::currentThread() == app->thread();
    for (const std::shared_ptr<Observer> &observer : matching) {
        if (observer->delivery == Delivery::Posting || onMainThread)
            deliver(observer, notification);
        else
            QMetaObject::invokeMethod(app, [observer, notification] { deliver(observer, notification); },
                                      Qt::QueuedConnection);
    }
}

void NotificationCenter::deliver(const std::shared_ptr<Observer> &observer, const Notification &notification)
{
    if (!observer->beginCall())
        return;
    const auto finish = qScopeGuard([&observer] { observer->endCall(); });
    observer->handler(notification);
}

} // namespace ovalis
