#include <QPoint>
#include <gtest/gtest.h>

#include "media/ScrollAccumulator.h"

using namespace ovalis;

namespace {

TEST(ScrollAccumulatorTest, WheelNotchesAccumulateUntilPastOneUnit)
{
    ScrollAccumulator accumulator;
    // A wheel turned towards the user by 0.6 of a notch, twice: 1.2 downwards.
    const double delta = ScrollAccumulator::deltaForWheel(QPoint(0, -72), QPoint());
    EXPECT_DOUBLE_EQ(delta, 0.6);
    EXPECT_EQ(accumulator.accumulate(delta), 0);
    EXPECT_DOUBLE_EQ(accumulator.cumulativeYDelta(), 0.6);
    EXPECT_EQ(accumulator.accumulate(delta), 1);
    EXPECT_DOUBLE_EQ(accumulator.cumulativeYDelta(), 0.0);

    // Away from the user steps back; a whole notch alone does not step.
    const double back = ScrollAccumulator::deltaForWheel(QPoint(0, 120), QPoint());
    EXPECT_DOUBLE_EQ(back, -1.0);
    EXPECT_EQ(accumulator.accumulate(back), 0);
    EXPECT_EQ(accumulator.accumulate(-0.0001), -1);
    EXPECT_DOUBLE_EQ(accumulator.cumulativeYDelta(), 0.0);

    // Turning back and forth cancels out.
    EXPECT_EQ(accumulator.accumulate(0.9), 0);
    EXPECT_EQ(accumulator.accumulate(-0.9), 0);
    EXPECT_EQ(accumulator.accumulate(0.9), 0);
}

TEST(ScrollAccumulatorTest, ExactlyOneDoesNotStepJustAboveDoes)
{
    ScrollAccumulator accumulator;
    EXPECT_EQ(accumulator.accumulate(1.0), 0);
    EXPECT_DOUBLE_EQ(accumulator.cumulativeYDelta(), 1.0);
    accumulator.reset();
    EXPECT_EQ(accumulator.accumulate(1.0001), 1);
    EXPECT_EQ(accumulator.accumulate(-1.0), 0);
    accumulator.reset();
    EXPECT_EQ(accumulator.accumulate(-1.0001), -1);
}

TEST(ScrollAccumulatorTest, PreciseDevicesNeedMoreThanThirtyPixels)
{
    ScrollAccumulator accumulator;
    // Pixel deltas win over the angle a touchpad also reports.
    const double thirty = ScrollAccumulator::deltaForWheel(QPoint(0, -360), QPoint(0, -30));
    EXPECT_DOUBLE_EQ(thirty, 1.0);
    EXPECT_EQ(accumulator.accumulate(thirty), 0);
    EXPECT_EQ(accumulator.accumulate(ScrollAccumulator::deltaForWheel(QPoint(0, -12), QPoint(0, -1))), 1);
    EXPECT_EQ(accumulator.accumulate(ScrollAccumulator::deltaForWheel(QPoint(0, 240), QPoint(0, 31))), -1);
    // Sideways scrolling does not move through the media.
    EXPECT_DOUBLE_EQ(ScrollAccumulator::deltaForWheel(QPoint(-120, 0), QPoint()), 0.0);
}

} // namespace
