#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <thread>

#include "store/WalCheckpointer.h"

using namespace ovalis;

namespace {

void exec(sqlite3 *db, const char *sql)
{
    char *message = nullptr;
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
}

// Appends `count` transactions of one 4 KB row each, each writing two or
// three pages to the log.
void writeRows(sqlite3 *db, int count)
{
    sqlite3_stmt *insert = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO rows (payload) VALUES (zeroblob(4000))", -1, &insert, nullptr), SQLITE_OK);
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
}

qint64 rowCount(const QString &path)
{
    sqlite3 *reader = nullptr;
    qint64 count = -1;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &reader, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK
        && sqlite3_prepare_v2(reader, "SELECT COUNT(*) FROM rows", -1, &statement, nullptr) == SQLITE_OK
        && sqlite3_step(statement) == SQLITE_ROW)
        count = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    sqlite3_close(reader);
    return count;
}

} // namespace

TEST(WalCheckpointerTest, TheLogIsFoldedBackOnItsOwnThreadAndStaysBoundedWhileAWriterKeepsWriting)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("library.sqlite"));
    sqlite3 *writer = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.toUtf8().constData(), &writer, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr), SQLITE_OK);
    exec(writer, "PRAGMA journal_mode=WAL");
    exec(writer, "PRAGMA synchronous=NORMAL");
    exec(writer, "CREATE TABLE rows (id INTEGER PRIMARY KEY, payload BLOB)");
    constexpr int pages = 64;
    {
        WalCheckpointer checkpointer(path.toUtf8(), pages);
        checkpointer.attach(writer);

        // Writes with pauses, as the window saves: the checkpointer's thread
        // keeps up, and the writing connection never checkpoints itself.
        for (int burst = 0; burst < 6; ++burst) {
            writeRows(writer, pages / 2); // more than `pages` pages, fewer than four times as many
            ASSERT_TRUE(checkpointer.waitUntilIdle(10000));
        }
        EXPECT_GE(checkpointer.backgroundCheckpoints(), 6);
        EXPECT_EQ(checkpointer.writerCheckpoints(), 0);

        // Without pauses, however the two threads take turns (and however
        // busy the machine), the log never holds much more than four times
        // the mark: the file of the log is as long as it ever was.
        constexpr int batches = 40;
        for (int batch = 0; batch < batches; ++batch)
            writeRows(writer, pages);
        constexpr qint64 frame = 24 + 4096;
        EXPECT_LE(QFileInfo(path + QStringLiteral("-wal")).size(), 32 + (4 * pages + 8) * frame);
        EXPECT_EQ(rowCount(path), 6 * (pages / 2) + batches * pages);
        sqlite3_wal_hook(writer, nullptr, nullptr);
    }
    // The checkpointer's connection is closed: closing the last one folds the whole log.
    sqlite3_close(writer);
    EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral("-wal")));
    EXPECT_EQ(rowCount(path), 6 * (pages / 2) + 40 * pages);
}
