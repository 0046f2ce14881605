#include <gtest/gtest.h>

#include "store/UuidDirectoryPath.h"

using namespace ovalis;

TEST(UuidDirectoryPathTest, CutsTheFirstGroupIntoPairs)
{
    EXPECT_EQ(uuidDirectoryPath(QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F")), QStringLiteral("E6/21/E1/F8"));
    EXPECT_EQ(uuidDirectoryPath(QStringLiteral("ABCDE-1")), QStringLiteral("AB/CD/E"));
    EXPECT_EQ(uuidDirectoryPath(QStringLiteral("ABCDEF")), QStringLiteral("AB/CD/EF"));
    EXPECT_EQ(uuidDirectoryPath(QString()), QString());
    EXPECT_EQ(uuidDirectoryPath(QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), true),
              QStringLiteral("E621E1F8/C36C/495A/93FC/0C247A3E6E5F"));
}
