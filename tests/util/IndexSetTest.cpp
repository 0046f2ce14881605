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

    set.addIndex(6); // joins 3-5 and 7 into 3-7
    EXPECT_EQ(set.ranges(), (QList<Range>{{3, 5}, {10, 1}}));
    set.addRange(0, 2);
    set.addRange(9, 4); // covers 10 and reaches 12
    EXPECT_EQ(set.ranges(), (QList<Range>{{0, 2}, {3, 5}, {9, 4}}));
    set.addRange(1, 20); // swallows everything after 0
    EXPECT_EQ(set.ranges(), (QList<Range>{{0, 21}}));
    set.addRange(30, 0);
    EXPECT_EQ(set.ranges().size(), 1);

    EXPECT_TRUE(set.contains(0));
    EXPECT_TRUE(set.contains(20));
    EXPECT_FALSE(set.contains(21));
    EXPECT_FALSE(IndexSet().contains(0));
}

TEST(IndexSetTest, IndexesAndDescription)
{
    const IndexSet set = IndexSet::fromRanges({{5, 1}, {0, 3}});
    EXPECT_EQ(set.indexes(), (QList<quint64>{0, 1, 2, 5}));
    EXPECT_EQ(set.description(), QStringLiteral("[number of indexes: 4 (in 2 ranges), indexes: (0-2 5)]"));
    EXPECT_EQ(IndexSet().description(), QStringLiteral("(no indexes)"));
    EXPECT_TRUE(IndexSet().isEmpty());
    EXPECT_EQ(IndexSet::fromIndexes({2, 1}), IndexSet::fromRanges({{1, 2}}));
}

TEST(IndexSetTest, ARangeReachingTheLargestIndexIsCut)
{
    IndexSet set;
    const quint64 largest = std::numeric_limits<quint64>::max();
    set.addRange(largest - 2, 10);
    EXPECT_EQ(set.ranges(), (QList<Range>{{largest - 2, 2}}));
    EXPECT_TRUE(set.contains(largest - 1));
}

} // namespace
