#pragma once

#include <QDirIterator>
#include <QFile>
#include <chrono>
#include <functional>
#include <thread>

namespace ovalis::test {

// Whether the condition comes true within ten seconds while the main thread
// stays busy, never returning to its event loop (which would let work queued
// for the main thread go on).
inline bool becomesTrueWithoutEventLoop(const std::function<bool()> &condition)
{
    for (int tries = 0; tries < 10000; ++tries) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// The threads alive in this process under that name, as the kernel knows them.
inline int threadsNamed(const QByteArray &name)
{
    int count = 0;
    QDirIterator tasks(QStringLiteral("/proc/self/task"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (tasks.hasNext()) {
        QFile comm(tasks.next() + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name)
            ++count;
    }
    return count;
}

// Whether that many are left once threads just ended have gone.
inline bool threadsNamedSettleAt(const QByteArray &name, int expected)
{
    return becomesTrueWithoutEventLoop([&name, expected] { return threadsNamed(name) == expected; });
}

} // namespace ovalis::test
