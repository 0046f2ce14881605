#include <QDate>
#include <gtest/gtest.h>

#include "library/ValueTransformer.h"

using namespace ovalis;

namespace {

QVariant transform(const char *name, const QVariant &value)
{
    return ValueTransformer::transform(QString::fromLatin1(name), value);
}

QColor colour(const QVariant &value)
{
    return value.value<QColor>();
}

} // namespace

class ValueTransformerTest : public ::testing::Test
{
protected:
    void SetUp() override { ValueTransformer::registerStandardTransformers(); }
};

TEST_F(ValueTransformerTest, BooleanToLabelColorIsRedOnlyForFalse)
{
    const QColor red = ValueTransformer::systemRed();
    const QColor label = ValueTransformer::labelColor();
    ASSERT_NE(red, label);
    EXPECT_EQ(colour(transform("BooleanToLabelColorTransformer", false)), red);
    EXPECT_EQ(colour(transform("BooleanToLabelColorTransformer", true)), label);
    EXPECT_EQ(colour(transform("BooleanToLabelColorTransformer", QVariant())), label);
    EXPECT_EQ(colour(transform("BooleanToLabelColorTransformer", QStringLiteral("false"))), label);
    EXPECT_EQ(colour(transform("BooleanToLabelColorTransformer", 0)), label);
}

TEST_F(ValueTransformerTest, BooleanToTagColorIsRedForAnythingButABoolean)
{
    const QColor accent = ValueTransformer::accentLabelColor();
    const QColor secondary = ValueTransformer::secondaryLabelColor();
    const QColor red = ValueTransformer::systemRed();
    ASSERT_NE(accent, secondary);
    ASSERT_NE(secondary, ValueTransformer::labelColor()); // dimmed is visibly dimmer
    EXPECT_EQ(colour(transform("BooleanToTagColorTransformer", true)), accent);
    EXPECT_EQ(colour(transform("BooleanToTagColorTransformer", false)), secondary);
    EXPECT_EQ(colour(transform("BooleanToTagColorTransformer", QVariant())), red);
    EXPECT_EQ(colour(transform("BooleanToTagColorTransformer", 1)), red);
    EXPECT_EQ(colour(transform("BooleanToTagColorTransformer", QStringLiteral("yes"))), red);
}

TEST_F(ValueTransformerTest, NilToRedColorColoursOnlyAbsentValues)
{
    const QColor red = ValueTransformer::systemRed();
    EXPECT_EQ(colour(transform("NilToRedColorTransformer", QVariant())), red);
    EXPECT_EQ(colour(transform("NilToRedColorTransformer", QString())), red); // the store's absent text
    EXPECT_FALSE(transform("NilToRedColorTransformer", QStringLiteral("")).isValid());
    EXPECT_FALSE(transform("NilToRedColorTransformer", false).isValid());
    EXPECT_FALSE(transform("NilToRedColorTransformer", QDate(2020, 1, 1)).isValid());
}

TEST_F(ValueTransformerTest, FirstLineCutsAtTheFirstLineFeed)
{
    EXPECT_EQ(transform("FirstLineTransformer", QStringLiteral("Fracture\nSecond line\nThird")), QStringLiteral("Fracture"));
    EXPECT_EQ(transform("FirstLineTransformer", QStringLiteral("One line only")), QStringLiteral("One line only"));
    EXPECT_EQ(transform("FirstLineTransformer", QStringLiteral("Carriage\rreturn")), QStringLiteral("Carriage\rreturn"));
    const QVariant leading = transform("FirstLineTransformer", QStringLiteral("\nafter the feed"));
    ASSERT_TRUE(leading.isValid());
    EXPECT_EQ(leading.toString(), QString());
    EXPECT_FALSE(transform("FirstLineTransformer", QVariant()).isValid());
    EXPECT_FALSE(transform("FirstLineTransformer", 42).isValid());
}

TEST_F(ValueTransformerTest, TheFourNamesAreRegisteredAndUnknownNamesGiveNoValue)
{
    for (const char *name : {"BooleanToLabelColorTransformer", "BooleanToTagColorTransformer", "NilToRedColorTransformer",
                             "FirstLineTransformer"})
        EXPECT_TRUE(ValueTransformer::isRegistered(QString::fromLatin1(name))) << name;
    EXPECT_FALSE(ValueTransformer::isRegistered(QStringLiteral("NoSuchTransformer")));
    EXPECT_FALSE(transform("NoSuchTransformer", true).isValid());
}
