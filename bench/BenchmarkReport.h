#pragma once

// Shared by the benchmark programs: figures printed with their budgets.
#include <QByteArray>
#include <QFile>
#include <cstdio>
#include <ctime>

namespace ovalis::bench {

// The process's peak resident memory so far, in KiB, from its status file
// (this process's by default); -1 when unknown.
inline qint64 peakMemoryKiB(const QString &statusPath = QStringLiteral("/proc/self/status"))
{
    QFile status(statusPath);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

// CPU time of the calling thread in milliseconds: on a machine shared with
// other work it shows what a step costs when wall-clock figures are inflated.
inline double threadCpuMilliseconds()
{
    timespec time{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
    return double(time.tv_sec) * 1e3 + double(time.tv_nsec) / 1e6;
}

inline void report(const char *name, double milliseconds, double budget)
{
    std::printf("%-62s %9.1f ms   (budget %6.0f ms) %s\n", name, milliseconds, budget,
                milliseconds <= budget ? "ok" : "OVER");
    std::fflush(stdout);
}

inline void reportPeakMemory(double budgetMiB)
{
    const qint64 peak = peakMemoryKiB();
    std::printf("%-62s %9.1f MB   (budget %6.0f MB) %s\n", "peak memory", double(peak) / 1024.0, budgetMiB,
                double(peak) / 1024.0 <= budgetMiB ? "ok" : "OVER");
    std::fflush(stdout);
}

} // namespace ovalis::bench
