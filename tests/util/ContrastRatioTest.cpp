#include <gtest/gtest.h>

#include "util/ContrastRatio.h"

using namespace ovalis;

TEST(ContrastRatioTest, MeasuresAsTheAccessibilityGuidelinesDo)
{
    EXPECT_DOUBLE_EQ(ContrastRatio::relativeLuminance(Qt::black), 0.0);
    EXPECT_DOUBLE_EQ(ContrastRatio::relativeLuminance(Qt::white), 1.0);
    EXPECT_DOUBLE_EQ(ContrastRatio::between(Qt::black, Qt::white), 21.0);
    EXPECT_DOUBLE_EQ(ContrastRatio::between(Qt::white, Qt::black), 21.0);
    EXPECT_DOUBLE_EQ(ContrastRatio::between(QColor(0x80, 0x80, 0x80), QColor(0x80, 0x80, 0x80)), 1.0);
    // The familiar threshold greys on white: #767676 passes, #777777 just fails.
    EXPECT_GT(ContrastRatio::between(QColor(0x76, 0x76, 0x76), Qt::white), 4.5);
    EXPECT_LT(ContrastRatio::between(QColor(0x77, 0x77, 0x77), Qt::white), 4.5);
    EXPECT_NEAR(ContrastRatio::between(QColor(0x77, 0x77, 0x77), Qt::white), 4.48, 0.01);

    // Translucent text is read as painted over its background: half-opaque
    // black on white is mid grey, not black.
    const QColor halfBlack(0, 0, 0, 128);
    EXPECT_EQ(ContrastRatio::composited(halfBlack, Qt::white), QColor(127, 127, 127));
    EXPECT_NEAR(ContrastRatio::between(halfBlack, Qt::white), 4.0, 0.05);
    EXPECT_EQ(ContrastRatio::composited(halfBlack, Qt::black), QColor(Qt::black));
}

TEST(ContrastRatioTest, ReadableDarkensOrLightensOnlyAsFarAsNeeded)
{
    const auto least = [](const QColor &colour, const QList<QColor> &backgrounds) {
        double value = 21.0;
        for (const QColor &background : backgrounds)
            value = std::min(value, ContrastRatio::between(colour, background));
        return value;
    };

    // Readable already: untouched, translucency and all.
    const QColor dark(40, 40, 40, 200);
    EXPECT_EQ(ContrastRatio::readable(dark, {Qt::white}), dark);

    // Too light on light rows: darker, just past the minimum, still grey.
    const QList<QColor> lightRows{QColor(255, 255, 255), QColor(245, 245, 245), QColor(239, 239, 239)};
    const QColor onLight = ContrastRatio::readable(QColor(0, 0, 0, 128), lightRows);
    EXPECT_EQ(onLight.alpha(), 255);
    EXPECT_GE(least(onLight, lightRows), 4.5);
    EXPECT_LT(least(onLight, lightRows), 4.7);
    EXPECT_GT(onLight.red(), 60);

    // Too dark on dark rows: lighter, just past the minimum.
    const QList<QColor> darkRows{QColor(42, 42, 42), QColor(53, 53, 53)};
    const QColor onDark = ContrastRatio::readable(QColor(90, 90, 90), darkRows);
    EXPECT_GT(onDark.red(), 90);
    EXPECT_GE(least(onDark, darkRows), 4.5);
    EXPECT_LT(least(onDark, darkRows), 4.7);

    // A coloured accent keeps its hue on the way.
    const QColor accent = ContrastRatio::readable(QColor(48, 140, 198), lightRows);
    EXPECT_GE(least(accent, lightRows), 4.5);
    EXPECT_GT(accent.blue(), accent.red());
    EXPECT_NEAR(accent.hslHue(), QColor(48, 140, 198).hslHue(), 4);

    // A higher minimum than the backgrounds allow: the best there is.
    EXPECT_EQ(ContrastRatio::readable(QColor(128, 128, 128), {QColor(128, 128, 128)}, 30.0), QColor(Qt::black));
}
