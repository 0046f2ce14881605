#pragma once

// Shared by the window benchmarks: how long the main thread's event loop
// stays away while a job runs. A timer ticks every 4 ms on the thread that
// starts the probe; each tick records how much later than 4 ms after the
// previous one it fired. A turn of the loop that takes 120 ms shows as one
// tick about 116 ms late.
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <cstdio>
#include <algorithm>
#include <cmath>

namespace ovalis::bench {

class LatencyProbe : public QObject
{
public:
    static constexpr int intervalMilliseconds = 4;

    LatencyProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(intervalMilliseconds);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
    }

    // Forgets earlier figures and starts ticking.
    void start()
    {
        m_lateness.clear();
        m_clock.start();
        m_lastTick = 0;
        m_timer.start();
    }

    // Stops ticking and counts the time since the last tick as one more
    // (a job that ends inside a long turn still shows that turn).
    void stop()
    {
        if (!m_timer.isActive())
            return;
        tick();
        m_timer.stop();
    }

    // How late a tick came, in milliseconds: measured, or fed by record().
    void record(double lateness) { m_lateness.append(std::max(0.0, lateness)); }

    qsizetype ticks() const { return m_lateness.size(); }

    double longest() const
    {
        return m_lateness.isEmpty() ? 0.0 : *std::max_element(m_lateness.cbegin(), m_lateness.cend());
    }

    // The lateness that share (0 to 100) of the ticks stay at or below
    // (nearest rank); 0 with no ticks.
    double percentile(double share) const
    {
        if (m_lateness.isEmpty())
            return 0.0;
        QList<double> sorted = m_lateness;
        std::sort(sorted.begin(), sorted.end());
        const auto rank = qsizetype(std::ceil(share / 100.0 * double(sorted.size())));
        return sorted[std::clamp<qsizetype>(rank - 1, 0, sorted.size() - 1)];
    }

private:
    void tick()
    {
        const double now = double(m_clock.nsecsElapsed()) / 1e6;
        const double lateness = now - m_lastTick - intervalMilliseconds;
        // OVALIS_PROBE_TRACE=1 names when each long turn ended, to line it up with a profile.
        static const bool trace = qEnvironmentVariableIntValue("OVALIS_PROBE_TRACE") != 0;
        if (trace && lateness > 50)
            std::fprintf(stderr, "probe: %.1f ms late at %.1f ms\n", lateness, now);
        record(lateness);
        m_lastTick = now;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    double m_lastTick = 0;
    QList<double> m_lateness;
};

} // namespace ovalis::bench
