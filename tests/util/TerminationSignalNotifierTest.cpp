#include "util/TerminationSignalNotifier.h"

#include <QSignalSpy>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>

using namespace ovalis;

namespace {

std::atomic<int> earlierHandlerCalls{0};

extern "C" void countCall(int)
{
    ++earlierHandlerCalls;
}

TEST(TerminationSignalNotifierTest, SignalsArriveThroughTheEventLoopAndTheEarlierHandlersComeBack)
{
    struct sigaction counting = {};
    counting.sa_handler = countCall;
    sigemptyset(&counting.sa_mask);
    struct sigaction original[2];
    ::sigaction(SIGTERM, &counting, &original[0]);
    ::sigaction(SIGINT, &counting, &original[1]);

    {
        TerminationSignalNotifier notifier;
        ASSERT_TRUE(notifier.isWatching());
        QSignalSpy requested(&notifier, &TerminationSignalNotifier::terminationRequested);
        ::raise(SIGTERM);
        ::raise(SIGINT);
        while (requested.size() < 2)
            ASSERT_TRUE(requested.wait(10000));
        EXPECT_EQ(requested.at(0).at(0).toInt(), SIGTERM);
        EXPECT_EQ(requested.at(1).at(0).toInt(), SIGINT);
        EXPECT_EQ(earlierHandlerCalls.load(), 0);
    }

    // Gone, it leaves the signals to the handlers it replaced.
    ::raise(SIGTERM);
    ::raise(SIGINT);
    EXPECT_EQ(earlierHandlerCalls.load(), 2);
    ::sigaction(SIGTERM, &original[0], nullptr);
    ::sigaction(SIGINT, &original[1], nullptr);
}

} // namespace
