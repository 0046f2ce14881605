#include <QLocale>

#include "library/CaseLine.h"
#include "support/InLocale.h"
#include "support/StoreFixture.h"

using namespace ovalis;

class CaseLineTest : public ovalis::test::StoreFixture
{
protected:
    Case *datedCase(const QString &id, const QString &summary, const QDate &birth, const QDate &diagnosis)
    {
        Case *item = newCase(id, summary);
        item->setDateOfBirth(QDateTime(birth, QTime(12, 0)));
        item->setDateOfDiagnosis(QDateTime(diagnosis, QTime(9, 15)));
        return item;
    }
};

TEST_F(CaseLineTest, FieldsAreTabSeparatedWithFixedWidthsAndPlaceholders)
{
    Case *adult = datedCase(QStringLiteral("ZAC5361"), QStringLiteral("Meningioma"), QDate(1978, 3, 10), QDate(2023, 6, 27));
    adult->setSex(Sex::female);
    // The locale's short date, cut or padded to eight characters.
    const QString date = QLocale().toString(QDate(2023, 6, 27), QLocale::ShortFormat).left(8).leftJustified(8, QLatin1Char(' '));
    EXPECT_EQ(CaseLine::line(adult), QStringLiteral("ZAC5361\t45y 3m\tF\t") + date + QStringLiteral("\t'Meningioma'"));
    // A short age is padded, a long one cut to six characters.
    adult->setDateOfDiagnosis(QDateTime(QDate(1978, 10, 13), QTime(9, 15)));
    EXPECT_EQ(CaseLine::line(adult).section(QLatin1Char('\t'), 1, 1), QStringLiteral("7m 3d "));
    adult->setDateOfBirth(QDateTime(QDate(2023, 4, 10), QTime(12, 0)));
    EXPECT_EQ(CaseLine::line(adult).section(QLatin1Char('\t'), 1, 1), QStringLiteral("-44y 5"));

    Case *bare = newCase(QString());
    bare->setDateOfDiagnosis(QDateTime());
    EXPECT_EQ(CaseLine::line(bare), QStringLiteral("??????\t      \t\t??????\t''"));
    EXPECT_EQ(CaseLine::lines({adult, bare}), CaseLine::line(adult) + QLatin1Char('\n') + CaseLine::line(bare));
    QString text = QStringLiteral("header\n");
    CaseLine::append(text, bare);
    EXPECT_EQ(text, QStringLiteral("header\n") + CaseLine::line(bare));
}

TEST_F(CaseLineTest, SummaryIsItsFirstLineUpToEightyCharacters)
{
    const auto summaryField = [](const Case *item) { return CaseLine::line(item).section(QLatin1Char('\t'), 4); };
    Case *item = newCase(QStringLiteral("X"), QStringLiteral("first line\nsecond line"));
    EXPECT_EQ(summaryField(item), QStringLiteral("'first line'"));
    const QString seventyNine(79, QLatin1Char('a'));
    item->setSummary(seventyNine);
    EXPECT_EQ(summaryField(item), QLatin1Char('\'') + seventyNine + QLatin1Char('\''));
    item->setSummary(seventyNine + QStringLiteral("bcdef\nmore"));
    EXPECT_EQ(summaryField(item), QLatin1Char('\'') + seventyNine + QStringLiteral("b\u2026'"));
    item->setSummary(QStringLiteral("\nafter an empty first line"));
    EXPECT_EQ(summaryField(item), QStringLiteral("''"));
}

TEST_F(CaseLineTest, DiagnosisDateIsTheLocaleShortDatePaddedOrCutToEightCharacters)
{
    Case *item = datedCase(QStringLiteral("X1"), QStringLiteral("s"), QDate(1990, 2, 3), QDate(2023, 6, 7));
    const auto dateField = [item](const QLocale &locale) {
        QString field;
        ovalis::test::inLocale(locale, [&] { field = CaseLine::line(item).section(QLatin1Char('\t'), 3, 3); });
        return field;
    };
    // 6/7/23 is padded, 07/06/2023 cut.
    EXPECT_EQ(dateField(QLocale(QLocale::English, QLocale::UnitedStates)), QStringLiteral("6/7/23  "));
    EXPECT_EQ(dateField(QLocale(QLocale::English, QLocale::NewZealand)), QStringLiteral("7/06/23 "));
    EXPECT_EQ(dateField(QLocale(QLocale::French, QLocale::France)), QStringLiteral("07/06/20"));
}
