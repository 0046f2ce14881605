#include <QPoint>
#include <gtest/gtest.h>

#include "media/ScrollAccumulator.h"

using namespace ovalis;

namespace {

TEST(ScrollAccumulatorTest, EachWheelNotchStepsAndSmallerWheelMovesAddUpToANotch)
{
    ScrollAccumulator accumulator;
    // One notch of a standard wheel, towards the user: one step forward at once.
    const double notch = ScrollAccumulator::deltaForWheel(QPoint(0, -120), QPoint());
    EXPECT_DOUBLE_EQ(notch, 1.0);
    EXPECT_TRUE(ScrollAccumulator::isNotched(QPoint()));
    EXPECT_EQ(accumulator.accumulate(notch, true), 1);
    EXPECT_DOUBLE_EQ(accumulator.cumulativeYDelta(), 0.0);
    // Away from the user: one step back; two notches in one event: two steps.
    EXPECT_EQ(accumulator.accumulate(ScrollAccumulator::deltaForWheel(QPoint(0, 120), QPoint()), true), -1);
    EXPECT_EQ(accumulator.accumulate(ScrollAccumulator::deltaForWheel(QPoint(0, -240), QPoint()), true), 2);

    // A wheel turned by 0.6 of a notch, twice: one step, then from zero again.
    EXPECT_EQ(accumulator.accumulate(0.6, true), 0);
    EXPECT_DOUBLE_EQ(accumulator.cumulativeYDelta(), 0.6);
    EXPECT_EQ(accumulator.accumulate(0.6, true), 1);
    EXPECT_DOUBLE_EQ(accumulator.cumulativeYDelta(), 0.0);

    // A high-resolution wheel reports a notch in eighths or tenths: one step per notch.
    int steps = 0;
    for (int i = 0; i < 8; ++i)
        steps += accumulator.accumulate(ScrollAccumulator::deltaForWheel(QPoint(0, 15), QPoint()), true);
    EXPECT_EQ(steps, -1);
    steps = 0;
    for (int i = 0; i < 10; ++i)
        steps += accumulator.accumulate(ScrollAccumulator::deltaForWheel(QPoint(0, -12), QPoint()), true);
    EXPECT_EQ(steps, 1);

    // Turning back and forth cancels out.
    EXPECT_EQ(accumulator.accumulate(0.9, true), 0);
    EXPECT_EQ(accumulator.accumulate(-0.9, true), 0);
    EXPECT_EQ(accumulator.accumulate(0.9, true), 0);
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
    EXPECT_FALSE(ScrollAccumulator::isNotched(QPoint(0, -30)));
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
