#include <gtest/gtest.h>

#include "media/ImageScaling.h"
#include "media/LoupeGeometry.h"

using namespace ovalis;

namespace {

TEST(DisplayGeometryTest, DisplayedImageRectFollowsTheScalingMode)
{
    const QRectF bounds(0, 0, 800, 600);
    // A small image stays at its size when scaling down only, centred.
    EXPECT_EQ(*ImageScaling::displayedImageRect(bounds, QSizeF(200, 100), ImageScaling::ProportionallyDown),
              QRectF(300, 250, 200, 100));
    // ... and grows until one side fits when scaling up or down.
    EXPECT_EQ(*ImageScaling::displayedImageRect(bounds, QSizeF(200, 100), ImageScaling::ProportionallyUpOrDown),
              QRectF(0, 100, 800, 400));
    // A large one shrinks either way, the tighter side deciding.
    EXPECT_EQ(*ImageScaling::displayedImageRect(bounds, QSizeF(4000, 6000), ImageScaling::ProportionallyDown),
              QRectF(200, 0, 400, 600));
    EXPECT_EQ(*ImageScaling::displayedImageRect(bounds, QSizeF(4000, 6000), ImageScaling::ProportionallyUpOrDown),
              QRectF(200, 0, 400, 600));
    EXPECT_EQ(*ImageScaling::displayedImageRect(QRectF(10, 20, 800, 600), QSizeF(30, 40), ImageScaling::AxesIndependently),
              QRectF(10, 20, 800, 600));
    EXPECT_EQ(*ImageScaling::displayedImageRect(bounds, QSizeF(1000, 700), ImageScaling::None), QRectF(-100, -50, 1000, 700));

    EXPECT_FALSE(ImageScaling::displayedImageRect(QRectF(0, 0, 0, 600), QSizeF(10, 10), ImageScaling::ProportionallyDown));
    EXPECT_FALSE(ImageScaling::displayedImageRect(bounds, QSizeF(10, 0), ImageScaling::AxesIndependently));
    EXPECT_FALSE(ImageScaling::displayedImageRect(bounds, QSizeF(), ImageScaling::None));
}

TEST(DisplayGeometryTest, LoupeSourceIsCentredUnderTheMouseAndClampedIntoTheImage)
{
    // A 4000 × 3000 image shown at a fifth of its size.
    const QSizeF image(4000, 3000);
    const QRectF shown(100, 50, 800, 600);
    const QSizeF frame(120, 120);
    EXPECT_EQ(LoupeGeometry::sourceRect(image, shown, QPointF(500, 350), frame, 1.0), QRectF(1700, 1200, 600, 600));
    // The magnifier covers two thirds of that.
    EXPECT_EQ(LoupeGeometry::sourceRect(image, shown, QPointF(500, 350), frame, 2.0 / 3.0), QRectF(1800, 1300, 400, 400));
    // Unequal scales in x and y (a stretched image) give unequal sides.
    EXPECT_EQ(LoupeGeometry::sourceRect(image, QRectF(0, 0, 800, 300), QPointF(400, 150), frame, 1.0),
              QRectF(1700, 900, 600, 1200));

    // Near the corners the source moves inside the image, keeping its size.
    EXPECT_EQ(LoupeGeometry::sourceRect(image, shown, QPointF(110, 60), frame, 1.0), QRectF(0, 0, 600, 600));
    EXPECT_EQ(LoupeGeometry::sourceRect(image, shown, QPointF(899, 649), frame, 1.0), QRectF(3400, 2400, 600, 600));
    EXPECT_EQ(LoupeGeometry::sourceRect(image, shown, QPointF(150, 640), frame, 1.0), QRectF(0, 2400, 600, 600));

    // A source larger than the image is cut to the image.
    EXPECT_EQ(LoupeGeometry::sourceRect(QSizeF(100, 80), QRectF(0, 0, 100, 80), QPointF(50, 40), QSizeF(200, 60), 1.0),
              QRectF(0, 10, 100, 60));

    EXPECT_EQ(LoupeGeometry::lensRect(QSizeF(120, 100)), QRectF(10, 10, 100, 80));
}

} // namespace
