#pragma once

#include "util/Notification.h"
#include "util/ObserverToken.h"

#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>

namespace ovalis {

// Named notifications with user info, delivered to observers registered by
// name and sender.
//
// Thread-safe: post, addObserver and removeObserver may be called from any
// thread. No lock is held while a handler runs, so handlers may post, add and
// remove observers re-entrantly. Observers are called in registration order;
// an observer added during a post does not hear that post.
class NotificationCenter
{
public:
    enum class Delivery {
        // Synchronously on the posting thread.
        Posting,
        // Synchronously when posted on the main (QCoreApplication) thread,
        // otherwise queued to the main thread.
        MainThread,
    };

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter &) = delete;
    NotificationCenter &operator=(const NotificationCenter &) = delete;

    static NotificationCenter &defaultCenter();

    // An empty name matches every name; a null object matches every sender.
    // The registration lasts as long as the returned token.
    [[nodiscard]] ObserverToken addObserver(const QString &name, const void *object,
                                            std::function<void(const Notification &)> handler,
                                            Delivery delivery = Delivery::Posting);

    void post(const QString &name, const void *object = nullptr, const QVariantMap &userInfo = {});
    void post(const Notification &notification);

    // Same as token.reset(). Once it returns the handler is never started
    // again, neither by a post in progress nor by a queued main-thread
    // delivery. A call of the handler already running on another thread is
    // waited for, so never remove an observer while holding something its
    // running handler waits on; removal from within the handler itself
    // returns at once.
    void removeObserver(ObserverToken &token);

    int observerCount() const;

private:
    struct Observer;
    struct Registry;

    static void deliver(const std::shared_ptr<Observer> &observer, const Notification &notification);

    std::shared_ptr<Registry> m_registry;
};

} // namespace ovalis
