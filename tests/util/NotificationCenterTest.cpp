#include "util/NotificationCenter.h"

#include <QCoreApplication>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QTest>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace ovalis;

namespace {

using Delivery = NotificationCenter::Delivery;

// Collects what an observer heard, from any thread.
class Recorder
{
public:
    std::function<void(const Notification &)> handler(const QString &label)
    {
        return [this, label](const Notification &notification) {
            QMutexLocker locker(&m_mutex);
            m_heard.append(label + QLatin1Char(':') + notification.name);
            m_threads.append(QThread::currentThread());
            m_lastUserInfo = notification.userInfo;
        };
    }

    QStringList heard() const
    {
        QMutexLocker locker(&m_mutex);
        return m_heard;
    }

    QList<QThread *> threads() const
    {
        QMutexLocker locker(&m_mutex);
        return m_threads;
    }

    QVariantMap lastUserInfo() const
    {
        QMutexLocker locker(&m_mutex);
        return m_lastUserInfo;
    }

private:
    mutable QMutex m_mutex;
    QStringList m_heard;
    QList<QThread *> m_threads;
    QVariantMap m_lastUserInfo;
};

// Runs work on a thread of its own and waits for it to finish.
void runOnWorker(std::function<void()> work)
{
    std::unique_ptr<QThread> thread(QThread::create(std::move(work)));
    thread->start();
    thread->wait();
}

TEST(NotificationCenterTest, ObserversHearOnlyMatchingNamesAndSenders)
{
    NotificationCenter center;
    Recorder recorder;
    const int caseA = 0;
    const int caseB = 0;

    ObserverToken byName = center.addObserver(QStringLiteral("TagUpdated"), nullptr, recorder.handler(QStringLiteral("name")));
    ObserverToken bySender = center.addObserver(QString(), &caseA, recorder.handler(QStringLiteral("sender")));
    ObserverToken byBoth = center.addObserver(QStringLiteral("TagUpdated"), &caseA, recorder.handler(QStringLiteral("both")));
    ObserverToken everything = center.addObserver(QString(), nullptr, recorder.handler(QStringLiteral("all")));

    center.post(QStringLiteral("TagUpdated"), &caseA, {{QStringLiteral("tag"), QStringLiteral("chest")}});
    EXPECT_EQ(recorder.heard(), (QStringList{QStringLiteral("name:TagUpdated"), QStringLiteral("sender:TagUpdated"),
                                             QStringLiteral("both:TagUpdated"), QStringLiteral("all:TagUpdated")}));
    EXPECT_EQ(recorder.lastUserInfo().value(QStringLiteral("tag")).toString(), QStringLiteral("chest"));

    Recorder others;
    ObserverToken n1 = center.addObserver(QStringLiteral("TagUpdated"), nullptr, others.handler(QStringLiteral("name")));
    ObserverToken s1 = center.addObserver(QString(), &caseA, others.handler(QStringLiteral("sender")));
    ObserverToken b1 = center.addObserver(QStringLiteral("TagUpdated"), &caseA, others.handler(QStringLiteral("both")));
    center.post(QStringLiteral("TagUpdated"), &caseB);
    center.post(QStringLiteral("CaseDeleted"), &caseA);
    center.post(QStringLiteral("CaseDeleted"));
    EXPECT_EQ(others.heard(), (QStringList{QStringLiteral("name:TagUpdated"), QStringLiteral("sender:CaseDeleted")}));
}

TEST(NotificationCenterTest, TokenOwnsTheRegistration)
{
    NotificationCenter center;
    Recorder recorder;
    const QString name = QStringLiteral("LibraryChanged");

    ObserverToken reset = center.addObserver(name, nullptr, recorder.handler(QStringLiteral("reset")));
    {
        ObserverToken scoped = center.addObserver(name, nullptr, recorder.handler(QStringLiteral("scoped")));
        EXPECT_EQ(center.observerCount(), 2);
    }
    EXPECT_EQ(center.observerCount(), 1);
    reset.reset();
    EXPECT_FALSE(reset.isActive());

    ObserverToken moved = center.addObserver(name, nullptr, recorder.handler(QStringLiteral("moved")));
    ObserverToken holder = std::move(moved);
    EXPECT_FALSE(moved.isActive());
    EXPECT_TRUE(holder.isActive());

    ObserverToken replaced = center.addObserver(name, nullptr, recorder.handler(QStringLiteral("replaced")));
    replaced = center.addObserver(name, nullptr, recorder.handler(QStringLiteral("replacement")));

    ObserverToken removed = center.addObserver(name, nullptr, recorder.handler(QStringLiteral("removed")));
    center.removeObserver(removed);
    EXPECT_FALSE(removed.isActive());

    center.post(name);
    EXPECT_EQ(recorder.heard(), (QStringList{QStringLiteral("moved:LibraryChanged"), QStringLiteral("replacement:LibraryChanged")}));
    EXPECT_EQ(center.observerCount(), 2);
}

TEST(NotificationCenterTest, ObserverRemovedDuringAPostIsNotCalled)
{
    NotificationCenter center;
    const QString name = QStringLiteral("TagUpdated");
    QStringList calls;

    // A view that goes away while the notification is being delivered.
    struct View {
        ObserverToken updatedTagToken;
    };
    auto view = std::make_unique<View>();

    ObserverToken closer = center.addObserver(name, nullptr, [&](const Notification &) {
        calls.append(QStringLiteral("closer"));
        view.reset();
    });
    view->updatedTagToken = center.addObserver(name, nullptr, [&](const Notification &) { calls.append(QStringLiteral("view")); });
    ObserverToken selfRemoving;
    selfRemoving = center.addObserver(name, nullptr, [&](const Notification &) {
        calls.append(QStringLiteral("self"));
        selfRemoving.reset();
    });

    center.post(name);
    center.post(name);
    EXPECT_EQ(calls, (QStringList{QStringLiteral("closer"), QStringLiteral("self"), QStringLiteral("closer")}));
    EXPECT_EQ(center.observerCount(), 1);
}

TEST(NotificationCenterTest, HandlersMayPostAndRegisterReentrantly)
{
    NotificationCenter center;
    QStringList calls;
    ObserverToken late;

    ObserverToken outer = center.addObserver(QStringLiteral("Import"), nullptr, [&](const Notification &notification) {
        calls.append(QStringLiteral("outer:") + notification.userInfo.value(QStringLiteral("count")).toString());
        if (!late.isActive())
            late = center.addObserver(QStringLiteral("Import"), nullptr, [&](const Notification &) { calls.append(QStringLiteral("late")); });
        center.post(QStringLiteral("Progress"));
    });
    ObserverToken progress = center.addObserver(QStringLiteral("Progress"), nullptr, [&](const Notification &) {
        calls.append(QStringLiteral("progress"));
    });

    center.post(QStringLiteral("Import"), nullptr, {{QStringLiteral("count"), 1}});
    center.post(QStringLiteral("Import"), nullptr, {{QStringLiteral("count"), 2}});
    EXPECT_EQ(calls, (QStringList{QStringLiteral("outer:1"), QStringLiteral("progress"), QStringLiteral("outer:2"),
                                  QStringLiteral("progress"), QStringLiteral("late")}));
}

TEST(NotificationCenterTest, MainThreadDeliveryFromAWorkerIsQueuedToTheMainThread)
{
    NotificationCenter center;
    Recorder recorder;
    const QString name = QStringLiteral("MediaImported");
    QThread *mainThread = QCoreApplication::instance()->thread();

    ObserverToken onMain = center.addObserver(name, nullptr, recorder.handler(QStringLiteral("main")), Delivery::MainThread);
    ObserverToken onPoster = center.addObserver(name, nullptr, recorder.handler(QStringLiteral("poster")), Delivery::Posting);

    // Posted on the main thread, both run at once.
    center.post(name);
    EXPECT_EQ(recorder.heard().size(), 2);

    QThread *worker = nullptr;
    QStringList heardWhenPostReturned;
    runOnWorker([&] {
        worker = QThread::currentThread();
        center.post(name, nullptr, {{QStringLiteral("file"), QStringLiteral("scan.dcm")}});
        heardWhenPostReturned = recorder.heard();
    });
    // The main thread was blocked in wait(), so only the posting-thread observer had run.
    EXPECT_EQ(heardWhenPostReturned.size(), 3);
    EXPECT_EQ(heardWhenPostReturned.last(), QStringLiteral("poster:MediaImported"));

    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.heard().size() == 4; }));
    EXPECT_EQ(recorder.heard().last(), QStringLiteral("main:MediaImported"));
    EXPECT_EQ(recorder.lastUserInfo().value(QStringLiteral("file")).toString(), QStringLiteral("scan.dcm"));
    const QList<QThread *> threads = recorder.threads();
    EXPECT_EQ(threads.at(2), worker);
    EXPECT_EQ(threads.at(3), mainThread);
}

TEST(NotificationCenterTest, QueuedDeliveryIsDroppedWhenTheTokenGoesFirst)
{
    NotificationCenter center;
    Recorder recorder;

    ObserverToken view = center.addObserver(QStringLiteral("TagUpdated"), nullptr, recorder.handler(QStringLiteral("view")),
                                            Delivery::MainThread);
    ObserverToken sentinel = center.addObserver(QStringLiteral("Sentinel"), nullptr, recorder.handler(QStringLiteral("sentinel")),
                                                Delivery::MainThread);

    runOnWorker([&] {
        center.post(QStringLiteral("TagUpdated"));
        center.post(QStringLiteral("Sentinel"));
    });
    view.reset();

    // Queued deliveries run in order, so once the sentinel is heard the view's
    // delivery has had its turn.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.heard().isEmpty(); }));
    EXPECT_EQ(recorder.heard(), QStringList{QStringLiteral("sentinel:Sentinel")});
}

TEST(NotificationCenterTest, ConcurrentPostingAndRegistrationLosesNothing)
{
    NotificationCenter center;
    std::atomic<int> heard = 0;
    constexpr int posters = 4;
    constexpr int postsEach = 500;

    ObserverToken counter = center.addObserver(QStringLiteral("Tick"), nullptr, [&](const Notification &) { ++heard; });

    std::vector<std::unique_ptr<QThread>> threads;
    for (int poster = 0; poster < posters; ++poster) {
        threads.emplace_back(QThread::create([&center] {
            for (int i = 0; i < postsEach; ++i)
                center.post(QStringLiteral("Tick"));
        }));
        threads.back()->start();
    }
    for (int i = 0; i < postsEach; ++i) {
        ObserverToken churn = center.addObserver(QStringLiteral("Tick"), nullptr, [](const Notification &) {});
        center.post(QStringLiteral("Other"));
    }
    for (const auto &thread : threads)
        ASSERT_TRUE(thread->wait());

    EXPECT_EQ(heard.load(), posters * postsEach);
    EXPECT_EQ(center.observerCount(), 1);
}

} // namespace
