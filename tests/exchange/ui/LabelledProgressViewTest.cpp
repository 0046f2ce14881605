#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <gtest/gtest.h>
#include <thread>

#include "exchange/LabelledProgressInfo.h"
#include "exchange/ui/LabelledProgressView.h"
#include "util/NotificationCenter.h"

namespace ovalis::test {
namespace {

TEST(LabelledProgressViewTest, FollowsPostsFromAWorkerThreadAndHidesAtCountZero)
{
    LabelledProgressView view;
    view.show();
    EXPECT_FALSE(view.isShowingProgress());

    std::thread worker([] { LabelledProgressInfo::post(50, 120, QStringLiteral("Importing…")); });
    worker.join();
    // Delivered on the main thread, so nothing changes before events run.
    EXPECT_FALSE(view.isShowingProgress());
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.isShowingProgress(); }, 10000));
    EXPECT_EQ(view.progressBar()->value(), 50);
    EXPECT_EQ(view.progressBar()->maximum(), 120);
    EXPECT_EQ(view.label()->text(), QStringLiteral("Importing…"));
    EXPECT_TRUE(view.label()->isVisible());

    // Without a label the last text stays.
    LabelledProgressInfo::post(100, 120);
    EXPECT_EQ(view.progressBar()->value(), 100);
    EXPECT_EQ(view.label()->text(), QStringLiteral("Importing…"));

    // A count past an old smaller maximum is taken whole once the new total is set.
    LabelledProgressInfo::post(5, 10, QStringLiteral("Exporting…"));
    LabelledProgressInfo::post(400, 500);
    EXPECT_EQ(view.progressBar()->value(), 400);

    LabelledProgressInfo::postEnd();
    EXPECT_FALSE(view.isShowingProgress());
    EXPECT_FALSE(view.label()->isVisible());

    // "Preparing…" with count 0 keeps the display hidden.
    LabelledProgressInfo::post(0, 1, QStringLiteral("Preparing…"));
    EXPECT_FALSE(view.isShowingProgress());
}

TEST(LabelledProgressViewTest, StopsListeningWhenDestroyed)
{
    const int before = NotificationCenter::defaultCenter().observerCount();
    {
        LabelledProgressView view;
        EXPECT_EQ(NotificationCenter::defaultCenter().observerCount(), before + 1);
    }
    EXPECT_EQ(NotificationCenter::defaultCenter().observerCount(), before);
    LabelledProgressInfo::post(1, 2, QStringLiteral("After"));
}

} // namespace
} // namespace ovalis::test
