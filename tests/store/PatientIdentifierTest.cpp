#include "store/NHI.h"
#include "store/TextPattern.h"
#include "support/StoreFixture.h"

using namespace ovalis;

TEST(PatientIdentifierTest, CheckDigitFollowsTheNHIAlgorithm)
{
    // S = 7·24 + 6·1 + 5·3 + 4·5 + 3·3 + 2·6 = 230, R = 10, check digit 1.
    EXPECT_EQ(normalisedNHI(QStringLiteral("ZAC5361")), QStringLiteral("ZAC5361"));
    for (int digit = 0; digit <= 9; ++digit) {
        if (digit != 1)
            EXPECT_FALSE(normalisedNHI(QStringLiteral("ZAC536%1").arg(digit))) << digit;
    }
    // ZAC013: S = 198, R = 0, invalid whatever the last digit.
    for (int digit = 0; digit <= 9; ++digit)
        EXPECT_FALSE(normalisedNHI(QStringLiteral("ZAC013%1").arg(digit))) << digit;
    // ZAC005: S = 199, R = 1, the check digit is 0.
    EXPECT_EQ(normalisedNHI(QStringLiteral("ZAC0050")), QStringLiteral("ZAC0050"));
    for (int digit = 1; digit <= 9; ++digit)
        EXPECT_FALSE(normalisedNHI(QStringLiteral("ZAC005%1").arg(digit))) << digit;
}

TEST(PatientIdentifierTest, LettersIAndOCountOnlyAfterTheFirstPlace)
{
    // I counts 8 and O counts 13 in the second and third places.
    EXPECT_EQ(normalisedNHI(QStringLiteral("AIA1231")), QStringLiteral("AIA1231"));
    EXPECT_EQ(normalisedNHI(QStringLiteral("AAI1238")), QStringLiteral("AAI1238"));
    EXPECT_EQ(normalisedNHI(QStringLiteral("AOA1234")), QStringLiteral("AOA1234"));
    EXPECT_EQ(normalisedNHI(QStringLiteral("AAO1235")), QStringLiteral("AAO1235"));
    EXPECT_FALSE(normalisedNHI(QStringLiteral("AOA1233")));
    EXPECT_FALSE(normalisedNHI(QStringLiteral("AAO1236")));
    // A first letter I or O never starts a match.
    EXPECT_FALSE(normalisedNHI(QStringLiteral("OAC5361")));
    EXPECT_FALSE(normalisedNHI(QStringLiteral("IAC5361")));
    EXPECT_EQ(normalisedNHI(QStringLiteral("OZAC5361")), QStringLiteral("ZAC5361"));
}

TEST(PatientIdentifierTest, IdentifierIsUpperCasedAndFoundInsideOtherText)
{
    EXPECT_EQ(normalisedNHI(QStringLiteral("zac5361")), QStringLiteral("ZAC5361"));
    EXPECT_EQ(normalisedNHI(QStringLiteral("MRN ZAC5361 ok")), QStringLiteral("ZAC5361"));
    EXPECT_EQ(normalisedNHI(QStringLiteral("xZAC53612")), QStringLiteral("ZAC5361"));
    EXPECT_FALSE(normalisedNHI(QStringLiteral("ZA5361")));
    EXPECT_FALSE(normalisedNHI(QString()));
    // Only the first match is checked.
    EXPECT_FALSE(normalisedNHI(QStringLiteral("ZAC5362 ZAC5361")));

    // Recognition in running text is case-sensitive and keeps duplicates.
    EXPECT_EQ(recognisedNHIs(QStringLiteral("ZAC5361, zac5361, ZAC5362, AOA1234 and ZAC5361")),
              (QStringList{QStringLiteral("ZAC5361"), QStringLiteral("AOA1234"), QStringLiteral("ZAC5361")}));
    EXPECT_TRUE(recognisedNHIs(QString()).isEmpty());
}

TEST(PatientIdentifierTest, PatternsMatchWholeTextsWithoutOverlap)
{
    EXPECT_EQ(TextPattern::url().matches(QStringLiteral("see http://a.org/x, https://b.org/y?q=1\nand ftp://c.org")),
              (QStringList{QStringLiteral("http://a.org/x,"), QStringLiteral("https://b.org/y?q=1")}));
    EXPECT_EQ(TextPattern::nhi().matches(QStringLiteral("ABC1234567DEF0000")),
              (QStringList{QStringLiteral("ABC1234"), QStringLiteral("DEF0000")}));
    EXPECT_EQ(TextPattern::paperReference().matches(QStringLiteral("x scrolla://p?title=T y")),
              QStringList{QStringLiteral("scrolla://p?title=T")});
    const TextPattern broken(QStringLiteral("(unclosed"));
    EXPECT_FALSE(broken.isValid());
    EXPECT_TRUE(broken.matches(QStringLiteral("(unclosed")).isEmpty());
    EXPECT_FALSE(broken.hasMatch(QStringLiteral("(unclosed")));
}

class CaseIdentifierTest : public ovalis::test::StoreFixture
{
protected:
    void setRecognition(bool on) { Settings::shared().setValue(QStringLiteral("Recognise_NZ_NHIs"), on); }
};

TEST_F(CaseIdentifierTest, PatientIDValidityFollowsTheSetting)
{
    EXPECT_TRUE(recognisesNHIs()); // registered default
    Case *lower = newCase(QStringLiteral("zac5361"));
    Case *wrong = newCase(QStringLiteral("ZAC5362"));
    Case *around = newCase(QStringLiteral("MRN ZAC5361 ok"));
    Case *absent = newCase(QString());
    Case *empty = newCase(QStringLiteral(""));
    EXPECT_TRUE(lower->patientIDisValid());
    EXPECT_TRUE(around->patientIDisValid());
    EXPECT_FALSE(wrong->patientIDisValid());
    EXPECT_FALSE(absent->patientIDisValid());
    EXPECT_FALSE(empty->patientIDisValid());
    EXPECT_EQ(wrong->value(QStringLiteral("patientIDisValid")), QVariant(false));

    setRecognition(false);
    for (Case *item : {lower, wrong, around, absent, empty})
        EXPECT_TRUE(item->patientIDisValid()) << item->description().toStdString();
    EXPECT_EQ(wrong->value(QStringLiteral("patientIDisValid")), QVariant(true));
}

TEST_F(CaseIdentifierTest, RecognisedNHIsComeFromSummaryThenDetail)
{
    Case *item = newCase(QStringLiteral("X1"), QStringLiteral("AOA1234 with zac5361"));
    EXPECT_EQ(item->recognisedNHIs(), QStringList{QStringLiteral("AOA1234")});
    item->setDetail(QStringLiteral("Prior: ZAC5361, ZAC5362; again ZAC5361 and AOA1234"));
    const QStringList expected{QStringLiteral("AOA1234"), QStringLiteral("ZAC5361"), QStringLiteral("ZAC5361"),
                               QStringLiteral("AOA1234")};
    EXPECT_EQ(item->recognisedNHIs(), expected);
    EXPECT_EQ(item->value(QStringLiteral("recognisedNHIs")).toStringList(), expected);
    item->setSummary(QString());
    EXPECT_EQ(item->recognisedNHIs(), expected.mid(1));

    setRecognition(false);
    EXPECT_TRUE(item->recognisedNHIs().isEmpty());
}
