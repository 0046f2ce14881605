#include <QColor>
#include <QImage>
#include <gtest/gtest.h>

#include "media/ImageCrop.h"

using namespace ovalis;

TEST(ImageCropTest, DisplayedScaleShrinksLargeImagesAndEnlargesOnlyWhenAsked)
{
    EXPECT_DOUBLE_EQ(ImageCrop::displayedScale(QSizeF(4000, 3000), {QSizeF(1000, 750), false}), 0.25);
    EXPECT_DOUBLE_EQ(ImageCrop::displayedScale(QSizeF(400, 300), {QSizeF(1000, 750), false}), 1.0);
    EXPECT_DOUBLE_EQ(ImageCrop::displayedScale(QSizeF(400, 300), {QSizeF(1000, 600), true}), 2.0);
    // At least as large in one dimension is enough to be fitted.
    EXPECT_DOUBLE_EQ(ImageCrop::displayedScale(QSizeF(400, 1000), {QSizeF(1000, 500), false}), 0.5);
}

TEST(ImageCropTest, ViewRectBecomesPixelRectWithTopLeftOrigin)
{
    // The lower-left quarter of a 4000 × 3000 image shown at 0.25.
    const CropViewLayout layout{QSizeF(1000, 750), false};
    EXPECT_EQ(ImageCrop::imageRectForViewRect(QRectF(0, 0, 500, 375), QSizeF(4000, 3000), QSize(4000, 3000), layout),
              QRectF(0, 1500, 2000, 1500));
    // An inverted rectangle selects the same area.
    EXPECT_EQ(ImageCrop::imageRectForViewRect(QRectF(500, 375, -500, -375), QSizeF(4000, 3000), QSize(4000, 3000), layout),
              QRectF(0, 1500, 2000, 1500));
    // Only the part over the image counts.
    EXPECT_EQ(ImageCrop::imageRectForViewRect(QRectF(-100, 700, 300, 200), QSizeF(4000, 3000), QSize(4000, 3000), layout),
              QRectF(0, 0, 800, 200));

    // A small image centred in the view: offsets rounded half up.
    const CropViewLayout wide{QSizeF(1001, 751), false};
    // dw 200, dh 100; ox = round(400.5) = 401, oy = round(325.5) = 326.
    EXPECT_EQ(ImageCrop::imageRectForViewRect(QRectF(401, 326, 100, 50), QSizeF(200, 100), QSize(200, 100), wide),
              QRectF(0, 50, 100, 50));

    // Points and pixels differ (a double-resolution image): pixels scale up.
    EXPECT_EQ(ImageCrop::imageRectForViewRect(QRectF(0, 0, 500, 375), QSizeF(4000, 3000), QSize(8000, 6000), layout),
              QRectF(0, 3000, 4000, 3000));

    // Missing the drawn image, or touching it only at an edge, selects nothing.
    EXPECT_FALSE(ImageCrop::imageRectForViewRect(QRectF(0, 0, 100, 100), QSizeF(200, 100), QSize(200, 100), wide));
    EXPECT_FALSE(ImageCrop::imageRectForViewRect(QRectF(1100, 0, 100, 100), QSizeF(4000, 3000), QSize(), layout));
    EXPECT_FALSE(ImageCrop::imageRectForViewRect(QRectF(0, 0, 10, 10), QSizeF(), QSize(), layout));
}

TEST(ImageCropTest, CroppedImageCutsThePixelsUnderTheRectangle)
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 20; y < 30; ++y)
        for (int x = 0; x < 10; ++x)
            image.setPixelColor(x, y, Qt::red);

    const QImage corner = ImageCrop::croppedImage(image, QRectF(0, 20, 10, 10));
    ASSERT_EQ(corner.size(), QSize(10, 10));
    EXPECT_EQ(corner.pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(corner.pixelColor(9, 9), QColor(Qt::red));
    EXPECT_DOUBLE_EQ(corner.devicePixelRatio(), 1.0);

    // Fractions round outwards; parts beyond the image are dropped.
    EXPECT_EQ(ImageCrop::croppedImage(image, QRectF(0.5, 0.5, 2.2, 2.2)).size(), QSize(3, 3));
    EXPECT_EQ(ImageCrop::croppedImage(image, QRectF(35, 25, 20, 20)).size(), QSize(5, 5));
    EXPECT_TRUE(ImageCrop::croppedImage(image, QRectF(50, 50, 10, 10)).isNull());
    EXPECT_TRUE(ImageCrop::croppedImage(QImage(), QRectF(0, 0, 10, 10)).isNull());
}
