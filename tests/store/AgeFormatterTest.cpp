#include <QRandomGenerator>
#include <gtest/gtest.h>

#include "store/AgeFormatter.h"
#include "support/StoreFixture.h"

using namespace ovalis;
using Components = AgeFormatter::Components;

namespace {

Components span(int years, int months, int weeks, int days, bool negative = false)
{
    return {years, months, weeks, days, negative};
}

QString age(const QDate &from, const QDate &to)
{
    return AgeFormatter::shared().string(from, to);
}

} // namespace

namespace ovalis {
void PrintTo(const Components &c, std::ostream *os)
{
    *os << (c.negative ? "-" : "") << c.years << "y " << c.months << "m " << c.weeks << "w " << c.days << "d";
}
} // namespace ovalis

TEST(AgeFormatterTest, MonthsEndOnTheSameDayOrTheLastDayOfAShorterMonth)
{
    EXPECT_EQ(AgeFormatter::components(QDate(2021, 1, 31), QDate(2021, 2, 28)), span(0, 1, 0, 0));
    EXPECT_EQ(AgeFormatter::components(QDate(2020, 1, 31), QDate(2020, 2, 28)), span(0, 0, 4, 0));
    EXPECT_EQ(AgeFormatter::components(QDate(2020, 1, 31), QDate(2020, 2, 29)), span(0, 1, 0, 0));
    // Months count from the start date, not from the previous month's end.
    EXPECT_EQ(AgeFormatter::components(QDate(2021, 1, 31), QDate(2021, 3, 31)), span(0, 2, 0, 0));
    EXPECT_EQ(AgeFormatter::components(QDate(2021, 1, 31), QDate(2021, 3, 30)), span(0, 1, 4, 2));
    EXPECT_EQ(AgeFormatter::components(QDate(2021, 3, 31), QDate(2021, 4, 30)), span(0, 1, 0, 0));
    EXPECT_EQ(AgeFormatter::components(QDate(2021, 3, 31), QDate(2021, 4, 29)), span(0, 0, 4, 1));
    EXPECT_EQ(AgeFormatter::components(QDate(2021, 12, 15), QDate(2022, 1, 14)), span(0, 0, 4, 2));
    EXPECT_EQ(AgeFormatter::components(QDate(2021, 12, 15), QDate(2022, 1, 15)), span(0, 1, 0, 0));
}

TEST(AgeFormatterTest, BornOnTheLeapDay)
{
    const QDate leapDay(2000, 2, 29);
    EXPECT_EQ(AgeFormatter::components(leapDay, QDate(2001, 2, 28)), span(1, 0, 0, 0));
    EXPECT_EQ(AgeFormatter::components(leapDay, QDate(2001, 2, 27)), span(0, 11, 4, 1));
    EXPECT_EQ(AgeFormatter::components(leapDay, QDate(2001, 3, 1)), span(1, 0, 0, 1));
    EXPECT_EQ(AgeFormatter::components(leapDay, QDate(2004, 2, 28)), span(3, 11, 4, 2));
    EXPECT_EQ(AgeFormatter::components(leapDay, QDate(2004, 2, 29)), span(4, 0, 0, 0));
    EXPECT_EQ(age(leapDay, QDate(2001, 3, 1)), QStringLiteral("1y 1d"));
    EXPECT_EQ(AgeFormatter::components(QDate(2003, 2, 28), QDate(2004, 2, 29)), span(1, 0, 0, 1));
}

TEST(AgeFormatterTest, TextHasTheTwoLargestNonZeroUnits)
{
    const QDate birth(2023, 6, 1);
    EXPECT_EQ(age(birth, birth), QStringLiteral("0d"));
    EXPECT_EQ(age(birth, QDate(2023, 6, 5)), QStringLiteral("4d"));
    EXPECT_EQ(age(birth, QDate(2023, 6, 8)), QStringLiteral("1w"));
    EXPECT_EQ(age(birth, QDate(2023, 6, 18)), QStringLiteral("2w 3d"));
    EXPECT_EQ(age(birth, QDate(2024, 1, 15)), QStringLiteral("7m 2w"));
    EXPECT_EQ(age(birth, QDate(2024, 1, 17)), QStringLiteral("7m 2w")); // days dropped, not rounded
    EXPECT_EQ(age(birth, QDate(2024, 1, 4)), QStringLiteral("7m 3d"));

    const QDate adult(1978, 3, 10);
    EXPECT_EQ(age(adult, QDate(2023, 6, 27)), QStringLiteral("45y 3m")); // 45y 3m 2w 3d
    EXPECT_EQ(age(adult, QDate(2023, 3, 27)), QStringLiteral("45y 2w"));
    EXPECT_EQ(age(adult, QDate(2023, 3, 12)), QStringLiteral("45y 2d"));
    EXPECT_EQ(age(adult, QDate(2023, 3, 10)), QStringLiteral("45y"));

    AgeFormatter allUnits(4);
    EXPECT_EQ(allUnits.string(adult, QDate(2023, 6, 27)), QStringLiteral("45y 3m 2w 3d"));
    EXPECT_EQ(allUnits.string(adult, QDate(2023, 4, 18)), QStringLiteral("45y 1m 1w 1d"));
    EXPECT_EQ(AgeFormatter(0).string(adult, QDate(2023, 6, 27)), QStringLiteral("45y"));
}

TEST(AgeFormatterTest, NegativeSpanIsTheReversedSpanWithAMinusSign)
{
    const QDate birth(2023, 4, 10);
    const QDate diagnosis(2021, 1, 5);
    EXPECT_EQ(AgeFormatter::components(birth, diagnosis), span(2, 3, 0, 5, true));
    EXPECT_EQ(age(birth, diagnosis), QStringLiteral("-2y 3m"));
    EXPECT_EQ(age(QDate(2023, 6, 18), QDate(2023, 6, 1)), QStringLiteral("-2w 3d"));
    // Month ends are counted from the earlier date in both directions.
    EXPECT_EQ(age(QDate(2021, 2, 28), QDate(2021, 1, 31)), QStringLiteral("-1m"));
    EXPECT_EQ(age(QDate(2021, 2, 27), QDate(2021, 1, 31)), QStringLiteral("-3w 6d"));
    EXPECT_EQ(age(QDate(2021, 1, 31), QDate(2021, 2, 28)), QStringLiteral("1m"));
}

TEST(AgeFormatterTest, InvalidDatesGiveNothingAndDateTimesCountInLocalTime)
{
    EXPECT_TRUE(age(QDate(), QDate(2020, 1, 1)).isEmpty());
    EXPECT_TRUE(age(QDate(2020, 1, 1), QDate()).isEmpty());
    EXPECT_TRUE(AgeFormatter::shared().string(QDateTime(), QDateTime::currentDateTime()).isEmpty());

    // Just after local midnight, whatever the UTC date is at that instant.
    const QDateTime birth(QDate(2020, 3, 1), QTime(0, 30));
    const QDateTime diagnosis(QDate(2020, 3, 18), QTime(23, 30));
    EXPECT_EQ(AgeFormatter::shared().string(birth.toUTC(), diagnosis.toUTC()), QStringLiteral("2w 3d"));
}

TEST(AgeFormatterTest, ComponentsAddBackUpToTheEndDateAndAreMaximal)
{
    QRandomGenerator random(20240229);
    const QDate origin(1900, 1, 1);
    for (int i = 0; i < 5000; ++i) {
        const QDate from = origin.addDays(random.bounded(200 * 366));
        const QDate to = from.addDays(random.bounded(-800, 40 * 366));
        const Components c = AgeFormatter::components(from, to);
        const QDate start = c.negative ? to : from;
        const QDate end = c.negative ? from : to;
        SCOPED_TRACE(from.toString(Qt::ISODate).toStdString() + " to " + to.toString(Qt::ISODate).toStdString());
        ASSERT_EQ(c.negative, to < from);
        ASSERT_TRUE(c.months >= 0 && c.months < 12 && c.weeks >= 0 && c.weeks <= 4 && c.days >= 0 && c.days < 7);
        const int months = c.years * 12 + c.months;
        ASSERT_EQ(start.addMonths(months).addDays(7 * c.weeks + c.days), end);
        ASSERT_GT(start.addMonths(months + 1), end);
    }
    // The calendar has no year zero: the month estimate from the year numbers is a year too many.
    EXPECT_EQ(AgeFormatter::components(QDate(-1, 6, 1), QDate(1, 6, 1)), span(1, 0, 0, 0));
    EXPECT_EQ(AgeFormatter::components(QDate(-1, 6, 1), QDate(1, 5, 31)), span(0, 11, 4, 2));
}

class CaseAgeTest : public ovalis::test::StoreFixture
{
};

TEST_F(CaseAgeTest, AgeStringNeedsBothDates)
{
    Case *item = newCase(QStringLiteral("ZAC5361"), QStringLiteral("Meningioma"));
    item->setSex(Sex::female);
    item->setDateOfDiagnosis(QDateTime());
    EXPECT_EQ(item->ageString(), QString());
    EXPECT_EQ(item->abbreviatedAgeAndSexString(), QStringLiteral("F"));

    item->setDateOfBirth(QDateTime(QDate(1978, 3, 10), QTime(12, 0)));
    EXPECT_EQ(item->ageString(), QString());

    item->setDateOfDiagnosis(QDateTime(QDate(2023, 6, 27), QTime(9, 15)));
    EXPECT_EQ(item->ageString(), QStringLiteral("45y 3m"));
    EXPECT_EQ(item->value(QStringLiteral("ageString")).toString(), QStringLiteral("45y 3m"));
    EXPECT_EQ(item->abbreviatedAgeAndSexString(), QStringLiteral("45y 3m F"));
    EXPECT_EQ(item->description(), QStringLiteral("ZAC5361 (45y 3m F) 'Meningioma' []"));

    item->setDateOfBirth(QDateTime(QDate(2023, 7, 1), QTime(12, 0)));
    EXPECT_EQ(item->ageString(), QStringLiteral("-4d"));
}
