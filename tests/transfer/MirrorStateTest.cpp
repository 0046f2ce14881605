#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "transfer/MirrorState.h"

using namespace ovalis;

namespace {

// What another process reads from the file: only what was committed.
QString committed(const QString &folder, const QString &key)
{
    MirrorState reader;
    QString error;
    EXPECT_TRUE(reader.open(folder, &error)) << error.toStdString();
    return reader.value(key);
}

TEST(MirrorStateTest, ABatchCommitsEveryFewStepsAndAtItsEndAndAFailedStepTakesOnlyItself)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    MirrorState state;
    QString error;
    ASSERT_TRUE(state.open(folder.path(), &error)) << error.toStdString();
    ASSERT_TRUE(state.beginBatch(2));

    ASSERT_TRUE(state.begin());
    state.setValue(QStringLiteral("first"), QStringLiteral("1"));
    ASSERT_TRUE(state.commit());
    // A step that fails is undone alone.
    ASSERT_TRUE(state.begin());
    state.setValue(QStringLiteral("first"), QStringLiteral("changed"));
    state.setValue(QStringLiteral("failed"), QStringLiteral("1"));
    state.rollback();
    EXPECT_EQ(state.value(QStringLiteral("first")), QStringLiteral("1"));
    EXPECT_TRUE(state.value(QStringLiteral("failed")).isEmpty());
    EXPECT_TRUE(committed(folder.path(), QStringLiteral("first")).isEmpty());

    // The second step that commits writes both to the file.
    ASSERT_TRUE(state.begin());
    state.setValue(QStringLiteral("second"), QStringLiteral("2"));
    ASSERT_TRUE(state.commit());
    EXPECT_EQ(committed(folder.path(), QStringLiteral("first")), QStringLiteral("1"));
    EXPECT_EQ(committed(folder.path(), QStringLiteral("second")), QStringLiteral("2"));

    // Writes outside a step, and a step short of the count, wait for the end of the batch.
    state.setNumber(QStringLiteral("pulledSeq"), 42);
    ASSERT_TRUE(state.begin());
    state.setValue(QStringLiteral("third"), QStringLiteral("3"));
    ASSERT_TRUE(state.commit());
    EXPECT_TRUE(committed(folder.path(), QStringLiteral("third")).isEmpty());
    ASSERT_TRUE(state.endBatch());
    EXPECT_EQ(committed(folder.path(), QStringLiteral("third")), QStringLiteral("3"));
    EXPECT_EQ(committed(folder.path(), QStringLiteral("pulledSeq")), QStringLiteral("42"));

    // Without a batch each step is its own transaction again.
    ASSERT_TRUE(state.begin());
    state.setValue(QStringLiteral("fourth"), QStringLiteral("4"));
    ASSERT_TRUE(state.commit());
    EXPECT_EQ(committed(folder.path(), QStringLiteral("fourth")), QStringLiteral("4"));
    EXPECT_FALSE(state.endBatch());
}

} // namespace
