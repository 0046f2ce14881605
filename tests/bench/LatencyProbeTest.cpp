#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include "LatencyProbe.h"

using ovalis::bench::LatencyProbe;

namespace {

// Runs the event loop until the probe has counted ticks more ticks.
void runTicks(const LatencyProbe &probe, qsizetype ticks)
{
    const qsizetype target = probe.ticks() + ticks;
    while (probe.ticks() < target)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace

TEST(LatencyProbeTest, LongestAndPercentileOfRecordedLateness)
{
    LatencyProbe probe;
    EXPECT_EQ(probe.longest(), 0.0);
    EXPECT_EQ(probe.percentile(99), 0.0);
    for (int lateness = 100; lateness >= 1; --lateness)
        probe.record(lateness);
    probe.record(-3); // a tick a little early counts as on time
    EXPECT_EQ(probe.ticks(), 101);
    EXPECT_EQ(probe.longest(), 100.0);
    EXPECT_EQ(probe.percentile(100), 100.0);
    EXPECT_EQ(probe.percentile(99), 99.0);
    EXPECT_EQ(probe.percentile(50), 50.0);
    EXPECT_EQ(probe.percentile(0), 0.0);
}

// A turn of the event loop that keeps the thread busy shows as one late tick,
// also when the job ends inside that turn; starting again forgets it.
TEST(LatencyProbeTest, BlockedEventLoopShowsAsLateTick)
{
    LatencyProbe probe;
    probe.start();
    runTicks(probe, 3);
    QThread::msleep(120);
    runTicks(probe, 1);
    EXPECT_GE(probe.longest(), 120.0 - LatencyProbe::intervalMilliseconds);

    probe.start();
    EXPECT_EQ(probe.ticks(), 0);
    EXPECT_EQ(probe.longest(), 0.0);
    runTicks(probe, 2);
    QThread::msleep(90);
    probe.stop();
    const qsizetype ticks = probe.ticks();
    EXPECT_GE(probe.longest(), 90.0 - LatencyProbe::intervalMilliseconds);
    // Stopped: no more ticks.
    QThread::msleep(3 * LatencyProbe::intervalMilliseconds);
    QCoreApplication::processEvents();
    EXPECT_EQ(probe.ticks(), ticks);
}
