#include <gtest/gtest.h>

#include "media/MediaReordering.h"

using namespace ovalis;

TEST(MediaReorderingTest, DraggedItemsMoveAsABlockInAscendingOrder)
{
    // Items 1 and 3 of five dropped at the end.
    auto move = MediaReordering::moveItems(5, {3, 1}, 5);
    ASSERT_TRUE(move);
    EXPECT_EQ(move->order, (QList<int>{0, 2, 4, 1, 3}));
    EXPECT_EQ(move->selectedPosition, 3);

    // The last item dropped at the front.
    move = MediaReordering::moveItems(5, {4}, 0);
    ASSERT_TRUE(move);
    EXPECT_EQ(move->order, (QList<int>{4, 0, 1, 2, 3}));
    EXPECT_EQ(move->selectedPosition, 0);

    // Dropped between items, with dragged items on both sides of the drop.
    move = MediaReordering::moveItems(6, {0, 4}, 3);
    ASSERT_TRUE(move);
    EXPECT_EQ(move->order, (QList<int>{1, 2, 0, 4, 3, 5}));
    EXPECT_EQ(move->selectedPosition, 2);

    // A drop position past the end counts as the end; an index given twice moves once.
    move = MediaReordering::moveItems(4, {1, 1}, 40);
    ASSERT_TRUE(move);
    EXPECT_EQ(move->order, (QList<int>{0, 2, 3, 1}));
    EXPECT_EQ(move->selectedPosition, 3);

    // Dropping an item onto its own place keeps the order.
    move = MediaReordering::moveItems(3, {1}, 2);
    ASSERT_TRUE(move);
    EXPECT_EQ(move->order, (QList<int>{0, 1, 2}));
    EXPECT_EQ(move->selectedPosition, 1);
}

TEST(MediaReorderingTest, IndexesOutsideTheListOrAnEmptyListChangeNothing)
{
    EXPECT_FALSE(MediaReordering::moveItems(5, {1, 5}, 0));
    EXPECT_FALSE(MediaReordering::moveItems(5, {-1}, 2));
    EXPECT_FALSE(MediaReordering::moveItems(0, {0}, 0));
    EXPECT_FALSE(MediaReordering::moveItems(0, {}, 0));
}
