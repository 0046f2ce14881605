#include <QLocale>
#include <gtest/gtest.h>

#include "library/TypedDate.h"

using namespace ovalis;

namespace {

const QDate today(2026, 6, 15);

std::optional<QDate> parsed(const QString &text, const QLocale &locale = QLocale::c())
{
    return TypedDate::parse(text, locale, today);
}

TEST(TypedDateTest, TheShownFormYearFirstAndNumbersInTheLocalesOrderGiveTheDateTyped)
{
    const QDate march12(1980, 3, 12);
    // Shown with four-digit years, and read back as shown.
    EXPECT_EQ(TypedDate::displayText(march12, QLocale::c()), QStringLiteral("12 Mar 1980"));
    const QLocale nz(QLocale::English, QLocale::NewZealand);
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    for (const QLocale &locale : {QLocale::c(), nz, us, de}) {
        const QString shown = TypedDate::displayText(march12, locale);
        EXPECT_TRUE(shown.contains(QStringLiteral("1980"))) << shown.toStdString();
        EXPECT_EQ(TypedDate::parse(shown, locale, today), march12) << shown.toStdString();
        EXPECT_EQ(TypedDate::parse(QStringLiteral("1980-03-12"), locale, today), march12);
        EXPECT_EQ(TypedDate::parse(QStringLiteral(" 1980-3-12 "), locale, today), march12);
        for (const QString &example : TypedDate::examples(locale))
            EXPECT_EQ(TypedDate::parse(example, locale, today), march12) << example.toStdString();
    }

    // The typed forms that once became other dates.
    EXPECT_EQ(parsed(QStringLiteral("12 Mar 1980")), march12);
    EXPECT_EQ(parsed(QStringLiteral("15 3 2024")), QDate(2024, 3, 15));
    EXPECT_EQ(parsed(QStringLiteral("3 Jan 2020")), QDate(2020, 1, 3));
    EXPECT_EQ(parsed(QStringLiteral("25 Mar 1990")), QDate(1990, 3, 25));

    // Day and month by the locale's order; month names in any letter case, long or short.
    EXPECT_EQ(parsed(QStringLiteral("12/3/1980"), nz), march12);
    EXPECT_EQ(parsed(QStringLiteral("3/12/1980"), us), march12);
    EXPECT_EQ(parsed(QStringLiteral("12.3.1980"), de), march12);
    EXPECT_EQ(parsed(QStringLiteral("12. März 1980"), de), march12);
    EXPECT_EQ(parsed(QStringLiteral("March 12, 1980"), us), march12);
    EXPECT_EQ(parsed(QStringLiteral("12 MARCH 1980")), march12);
    EXPECT_EQ(parsed(QStringLiteral("12-mar-1980"), nz), march12);

    // Two-digit years are the latest not after this year.
    EXPECT_EQ(parsed(QStringLiteral("12/3/80"), nz), march12);
    EXPECT_EQ(parsed(QStringLiteral("12/3/26"), nz), QDate(2026, 3, 12));
    EXPECT_EQ(parsed(QStringLiteral("12/3/27"), nz), QDate(1927, 3, 12));
    EXPECT_EQ(parsed(QStringLiteral("12 Mar 80")), march12);
}

TEST(TypedDateTest, TextThatIsNoDateIsRefusedRatherThanGuessed)
{
    const QLocale nz(QLocale::English, QLocale::NewZealand);
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    for (const QString &text : {QStringLiteral(""), QStringLiteral("   "), QStringLiteral("yesterday"),
                                QStringLiteral("12 Mar"), QStringLiteral("12 Foo 1980"), QStringLiteral("31/4/2020"),
                                QStringLiteral("29/2/2023"), QStringLiteral("12/13/1980"), QStringLiteral("1/2/3/2020"),
                                QStringLiteral("12:03:1980"), QStringLiteral("12 Mar 1980 x"), QStringLiteral("12/3/198"),
                                QStringLiteral("123/3/1980"), QStringLiteral("1980-13-01"), QStringLiteral("12 Mar 1980!")})
        EXPECT_FALSE(parsed(text, nz)) << text.toStdString();
    // Day 15 of month 3 is not month 15 of an American year.
    EXPECT_FALSE(parsed(QStringLiteral("15/3/2024"), us));
    EXPECT_EQ(parsed(QStringLiteral("29/2/2024"), nz), QDate(2024, 2, 29));
}

} // namespace
