#include <QLocale>

#include "library/CaseLine.h"
#include "support/StoreFixture.h"

using namespace ovalis;
using ovalis::test::StoreFixture;

class CaseLineTest : public StoreFixture
{
protected:
    // The locale's short date cut or padded to eight characters.
    static QString dateField(const QDateTime &instant)
    {
        return QLocale().toString(instant.toLocalTime().date(), QLocale::ShortFormat).left(8).leftJustified(8, QLatin1Char(' '));
    }

    Case *datedCase(const QString &id, const QString &summary, const QDate &birth, const QDate &diagnosis)
    {
        Case *item = newCase(id, summary);
        item->setDateOfBirth(QDateTime(birth, QTime(12, 0)));
        item->setDateOfDiagnosis(QDateTime(diagnosis, QTime(9, 15)));
        return item;
    }
};

TEST_F(CaseLineTest, FieldsAreTabSeparatedWithAgeAndDateOfFixedWidth)
{
    Case *adult = datedCase(QStringLiteral("ZAC5361"), QStringLiteral("Meningioma"), QDate(1978, 3, 10), QDate(2023, 6, 27));
    adult->setSex(Sex::female);
    EXPECT_EQ(CaseLine::line(adult),
              QStringLiteral("ZAC5361\t45y 3m\tF\t") + dateField(adult->dateOfDiagnosis()) + QStringLiteral("\t'Meningioma'"));

    // A short age is padded, a long one cut to six characters.
    Case *infant = datedCase(QStringLiteral("ABC1234"), QStringLiteral("Intussusception"), QDate(2023, 6, 1), QDate(2024, 1, 4));
    infant->setSex(Sex::male);
    EXPECT_EQ(CaseLine::line(infant).section(QLatin1Char('\t'), 1, 2), QStringLiteral("7m 3d \tM"));
    Case *backwards = datedCase(QStringLiteral("ABC1235"), QString(), QDate(2023, 4, 10), QDate(1981, 1, 5));
    EXPECT_EQ(backwards->ageString(), QStringLiteral("-42y 3m"));
    EXPECT_EQ(CaseLine::line(backwards).section(QLatin1Char('\t'), 1, 2), QStringLiteral("-42y 3\t"));
}

TEST_F(CaseLineTest, MissingValuesHaveTheirPlaceholders)
{
    Case *bare = newCase(QString());
    bare->setDateOfDiagnosis(QDateTime());
    EXPECT_EQ(CaseLine::line(bare), QStringLiteral("??????\t      \t\t??????\t''"));

    // With a diagnosis but no birth date: a date and no age.
    Case *undated = newCase(QStringLiteral("NB00001"), QStringLiteral("Scan"));
    undated->setSex(3);
    undated->setDateOfDiagnosis(QDateTime(QDate(2020, 2, 29), QTime(10, 0)));
    EXPECT_EQ(CaseLine::line(undated),
              QStringLiteral("NB00001\t      \tNB\t") + dateField(undated->dateOfDiagnosis()) + QStringLiteral("\t'Scan'"));
}

TEST_F(CaseLineTest, SummaryIsItsFirstLineUpToEightyCharacters)
{
    const auto summaryField = [](const Case *item) { return CaseLine::line(item).section(QLatin1Char('\t'), 4); };
    Case *item = newCase(QStringLiteral("X"), QStringLiteral("first line\nsecond line"));
    EXPECT_EQ(summaryField(item), QStringLiteral("'first line'"));

    const QString seventyNine(79, QLatin1Char('a'));
    item->setSummary(seventyNine);
    EXPECT_EQ(summaryField(item), QLatin1Char('\'') + seventyNine + QLatin1Char('\''));
    item->setSummary(seventyNine + QLatin1Char('b'));
    EXPECT_EQ(summaryField(item), QLatin1Char('\'') + seventyNine + QStringLiteral("b\u2026'"));
    item->setSummary(seventyNine + QStringLiteral("bcdef\nmore"));
    EXPECT_EQ(summaryField(item), QLatin1Char('\'') + seventyNine + QStringLiteral("b\u2026'"));
    item->setSummary(QStringLiteral("\nafter an empty first line"));
    EXPECT_EQ(summaryField(item), QStringLiteral("''"));
}

TEST_F(CaseLineTest, LinesAreJoinedAndAppendedAfterWhatIsThere)
{
    Case *first = newCase(QStringLiteral("A1"), QStringLiteral("one"));
    Case *second = newCase(QStringLiteral("B2"), QStringLiteral("two"));
    EXPECT_EQ(CaseLine::lines({first, second}), CaseLine::line(first) + QLatin1Char('\n') + CaseLine::line(second));
    EXPECT_TRUE(CaseLine::lines({}).isEmpty());

    QString text = QStringLiteral("header\n");
    CaseLine::append(text, second);
    EXPECT_EQ(text, QStringLiteral("header\n") + CaseLine::line(second));
}
