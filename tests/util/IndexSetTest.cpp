#include "util/IndexSet.h"

#include <gtest/gtest.h>
#include <limits>

using namespace ovalis;

namespace {

using Range = IndexSet::Range;

TEST(IndexSetTest, RangesMergeWhenTheyOverlapOrTouchAndStaySorted)
{
    IndexSet set = IndexSet::fromIndexes({7, 3, 4, -1, 5, 10, 3});
    EXPECT_EQ(set.ranges(), (QList<Range>{{3, 3}, {7, 1}, {10, 1}}));
    EXPECT_EQ(set.count(), 5u);
    EXPECT_EQ(set.description(), QStringLiteral("[number of indexes: 5 (in 3 ranges), indexes: (3-5 7 10)]"));
    set.addIndex(6); // joins 3-5 and 7
    set.addRange(9, 4);
    EXPECT_EQ(set.ranges(), (QList<Range>{{3, 5}, {9, 4}}));
    EXPECT_TRUE(set.contains(12));
    EXPECT_FALSE(set.contains(8));
    set.addRange(1, 20); // swallows both
    EXPECT_EQ(set.ranges(), (QList<Range>{{1, 20}}));
    EXPECT_EQ(IndexSet().description(), QStringLiteral("(no indexes)"));

    // A range that would pass the largest index is cut.
    const quint64 largest = std::numeric_limits<quint64>::max();
    set.addRange(largest - 2, 10);
    EXPECT_EQ(set.ranges().last(), (Range{largest - 2, 2}));
}

} // namespace
