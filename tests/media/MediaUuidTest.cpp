#include <gtest/gtest.h>

#include "media/MediaUuid.h"

using namespace ovalis;

TEST(MediaUuidTest, AcceptsTheEightFourFourFourTwelveFormInEitherCaseAndNothingElse)
{
    const QString upper = QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_TRUE(MediaUuid::isValid(upper));
    EXPECT_EQ(MediaUuid::canonical(upper.toLower()), upper);
    EXPECT_EQ(MediaUuid::canonical(QStringLiteral("e621E1f8-c36C-495a-93FC-0c247A3E6E5f")), upper);
    for (const QString &text :
         {QString(), QStringLiteral("..-secret"), upper.left(35), upper + QLatin1Char('0'), QStringLiteral("{") + upper + QLatin1Char('}'),
          QStringLiteral("E621E1F8C36C495A93FC0C247A3E6E5F"), QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5G"),
          QStringLiteral("E621E1F-8C36C-495A-93FC-0C247A3E6E5F"), QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E/."),
          QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5\u0660")}) {
        EXPECT_FALSE(MediaUuid::isValid(text)) << text.toStdString();
        EXPECT_FALSE(MediaUuid::canonical(text)) << text.toStdString();
    }
    const QString fresh = MediaUuid::generate();
    EXPECT_TRUE(MediaUuid::isValid(fresh));
    EXPECT_EQ(fresh, fresh.toUpper());
    EXPECT_NE(fresh, MediaUuid::generate());
}
