#include <QList>
#include <QStringList>
#include <gtest/gtest.h>

#include "library/TokenAutoSelectStatus.h"

namespace ovalis::test {
namespace {

TEST(TokenAutoSelectStatusTest, AdvancesFromPassiveToActiveAndStaysWhileDisabledStaysDisabled)
{
    using S = TokenAutoSelectStatus;
    const QList<S> all{S::Disabled, S::Passive, S::Standby1, S::Standby2, S::Active};
    QStringList descriptions;
    for (S status : all)
        descriptions.append(description(status));
    EXPECT_EQ(descriptions, (QStringList{"Disabled", "Passive", "Standby 1", "Standby 2", "Active"}));

    QList<S> walk{S::Passive};
    for (int i = 0; i < 4; ++i)
        walk.append(advanced(walk.last()));
    EXPECT_EQ(walk, (QList<S>{S::Passive, S::Standby1, S::Standby2, S::Active, S::Active}));
    EXPECT_EQ(advanced(S::Disabled), S::Disabled);
}

} // namespace
} // namespace ovalis::test
