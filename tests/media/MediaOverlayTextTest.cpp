#include <QString>
#include <gtest/gtest.h>

#include "media/MediaOverlayText.h"

using namespace ovalis;

namespace {

TEST(MediaOverlayTextTest, RemovesIdentifiersOnlyWhileRecognisingAndWebAddressesAlways)
{
    // Both identifiers go, whether or not their check digits are valid.
    const QString summary = QStringLiteral("ABC1235 follow-up of ZZZ0016, see https://example.org/case?id=4 today");
    EXPECT_EQ(MediaOverlayText::summaryText(summary, true), QStringLiteral(" follow-up of , see  today"));
    EXPECT_EQ(MediaOverlayText::summaryText(summary, false), QStringLiteral("ABC1235 follow-up of ZZZ0016, see  today"));
    // The pattern is case-sensitive and never starts with O or I; a longer
    // run of digits loses only the matched part.
    EXPECT_EQ(MediaOverlayText::cleaned(QStringLiteral("abc1235 OAB1234 IAB1234 XAB12345 http:/x"), true),
              QStringLiteral("abc1235 OAB1234 IAB1234 5 http:/x"));
    EXPECT_EQ(MediaOverlayText::cleaned(QStringLiteral("http://a.b/c\nhttps://d.e"), false), QStringLiteral("\n"));
    EXPECT_TRUE(MediaOverlayText::summaryText(QString(), true).isEmpty());
    EXPECT_FALSE(MediaOverlayText::summaryText(QString(), true).isNull());
}

TEST(MediaOverlayTextTest, CutsDetailsFromOneThousandCharactersOnAfterCleaning)
{
    const QString ellipsis(QChar(0x2026));
    const QString shorter(999, QLatin1Char('a'));
    EXPECT_EQ(MediaOverlayText::detailText(shorter, true), shorter);
    const QString exact(1000, QLatin1Char('b'));
    EXPECT_EQ(MediaOverlayText::detailText(exact, true), exact + ellipsis);
    const QString longer = QString(1000, QLatin1Char('c')) + QStringLiteral("tail");
    EXPECT_EQ(MediaOverlayText::detailText(longer, true), QString(1000, QLatin1Char('c')) + ellipsis);

    // Removed addresses do not count towards the limit.
    const QString withAddress = shorter + QStringLiteral(" https://example.org/a/very/long/address");
    EXPECT_EQ(MediaOverlayText::detailText(withAddress, true), shorter + QLatin1Char(' ') + ellipsis);

    // Characters as a reader counts them: an e with a combining accent is one.
    QString accented;
    for (int i = 0; i < 1000; ++i)
        accented += QStringLiteral("e\u0301");
    EXPECT_EQ(MediaOverlayText::detailText(accented, false), accented + ellipsis);
    const QString accentedShort = accented.left(1998);
    EXPECT_EQ(MediaOverlayText::detailText(accentedShort, false), accentedShort);
}

TEST(MediaOverlayTextTest, DemographicsLeaveOutWhatIsEmpty)
{
    EXPECT_EQ(MediaOverlayText::demographicsText(QStringLiteral("45y 3m"), QStringLiteral("Female")),
              QStringLiteral("45y 3m Female"));
    EXPECT_EQ(MediaOverlayText::demographicsText(QString(), QStringLiteral("Male")), QStringLiteral("Male"));
    EXPECT_EQ(MediaOverlayText::demographicsText(QStringLiteral("2w 3d"), QString()), QStringLiteral("2w 3d"));
    EXPECT_TRUE(MediaOverlayText::demographicsText(QString(), QString()).isEmpty());
}

} // namespace
