#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "library/FRCChangeConsolidator.h"
#include "library/RowBatchTarget.h"

using namespace ovalis;
using ::testing::InSequence;
using ::testing::Return;
using ::testing::StrictMock;
using ChangeType = FRCChangeConsolidator::ChangeType;

namespace {

class MockTable : public RowBatchTarget
{
public:
    MOCK_METHOD(void, beginUpdates, (), (override));
    MOCK_METHOD(void, removeRows, (const QList<int> &rowsDescending), (override));
    MOCK_METHOD(void, insertRows, (const QList<int> &rowsAscending), (override));
    MOCK_METHOD(void, reloadRows, (const QList<int> &rowsAscending, int column), (override));
    MOCK_METHOD(void, endUpdates, (), (override));
    MOCK_METHOD(int, numberOfColumns, (), (const, override));
};

} // namespace

TEST(FRCChangeConsolidatorTest, RecordsRowsByTypeAndDropsChangesWithoutTheirRows)
{
    FRCChangeConsolidator consolidator;
    consolidator.recordChange(ChangeType::Insert, std::nullopt, 0);
    consolidator.recordChange(ChangeType::Delete, 5, std::nullopt);
    consolidator.recordChange(ChangeType::Move, 2, 7);
    consolidator.recordChange(ChangeType::Update, 1, 3); // reloaded at its new row
    // Each lacks the row its type needs.
    consolidator.recordChange(ChangeType::Insert, 4, std::nullopt);
    consolidator.recordChange(ChangeType::Delete, std::nullopt, 4);
    consolidator.recordChange(ChangeType::Move, 4, std::nullopt);
    consolidator.recordChange(ChangeType::Move, std::nullopt, 4);
    consolidator.recordChange(ChangeType::Update, 4, std::nullopt);
    // Raw values as the platform numbers them.
    consolidator.recordChange(1, std::nullopt, 9);
    consolidator.recordChange(4, std::nullopt, 3);

    EXPECT_EQ(consolidator.rowDeletes(), (QList<qint64>{5, 2}));
    EXPECT_EQ(consolidator.rowInserts(), (QList<qint64>{0, 7, 9}));
    EXPECT_EQ(consolidator.rowUpdates(), (QList<qint64>{3, 3}));
}

TEST(FRCChangeConsolidatorTest, AppliesRemovalsThenInsertionsThenReloadsPerColumnInOneBlock)
{
    FRCChangeConsolidator consolidator;
    consolidator.recordChange(ChangeType::Insert, std::nullopt, 0);
    consolidator.recordChange(ChangeType::Delete, 5, std::nullopt);
    consolidator.recordChange(ChangeType::Move, 2, 7);
    consolidator.recordChange(ChangeType::Delete, 9, std::nullopt);
    consolidator.recordChange(ChangeType::Delete, 5, std::nullopt); // duplicates collapse
    consolidator.recordChange(ChangeType::Update, std::nullopt, 4);
    consolidator.recordChange(ChangeType::Update, std::nullopt, 1);
    consolidator.recordChange(ChangeType::Update, std::nullopt, 4);
    consolidator.recordChange(ChangeType::Update, std::nullopt, std::nullopt); // changes nothing

    StrictMock<MockTable> table;
    EXPECT_CALL(table, numberOfColumns()).WillRepeatedly(Return(3));
    {
        InSequence order;
        EXPECT_CALL(table, beginUpdates());
        EXPECT_CALL(table, removeRows(QList<int>{9, 5, 2}));
        EXPECT_CALL(table, insertRows(QList<int>{0, 7}));
        EXPECT_CALL(table, reloadRows(QList<int>{1, 4}, 0));
        EXPECT_CALL(table, reloadRows(QList<int>{1, 4}, 1));
        EXPECT_CALL(table, reloadRows(QList<int>{1, 4}, 2));
        EXPECT_CALL(table, endUpdates());
    }
    consolidator.apply(table);

    // Applying leaves the batch as it was: a second table gets the same.
    StrictMock<MockTable> second;
    EXPECT_CALL(second, numberOfColumns()).WillRepeatedly(Return(1));
    EXPECT_CALL(second, beginUpdates());
    EXPECT_CALL(second, removeRows(QList<int>{9, 5, 2}));
    EXPECT_CALL(second, insertRows(QList<int>{0, 7}));
    EXPECT_CALL(second, reloadRows(QList<int>{1, 4}, 0));
    EXPECT_CALL(second, endUpdates());
    consolidator.apply(second);
}

TEST(FRCChangeConsolidatorTest, BatchWithoutRowsStillOpensAndClosesOneBlock)
{
    FRCChangeConsolidator empty;
    StrictMock<MockTable> table;
    EXPECT_CALL(table, numberOfColumns()).WillRepeatedly(Return(3));
    InSequence order;
    EXPECT_CALL(table, beginUpdates());
    EXPECT_CALL(table, endUpdates());
    empty.apply(table);

    // Updates alone reload without removing or inserting anything.
    FRCChangeConsolidator updates;
    updates.recordChange(ChangeType::Update, 2, 2);
    EXPECT_CALL(table, beginUpdates());
    EXPECT_CALL(table, reloadRows(QList<int>{2}, 0));
    EXPECT_CALL(table, reloadRows(QList<int>{2}, 1));
    EXPECT_CALL(table, reloadRows(QList<int>{2}, 2));
    EXPECT_CALL(table, endUpdates());
    updates.apply(table);
}

TEST(FRCChangeConsolidatorDeathTest, UnknownChangeTypeStopsTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    FRCChangeConsolidator consolidator;
    EXPECT_DEATH(consolidator.recordChange(5, 1, 1), "Unknown change type during FRC change consolidation");
    EXPECT_DEATH(consolidator.recordChange(0, 1, 1), "Unknown change type during FRC change consolidation");
}
