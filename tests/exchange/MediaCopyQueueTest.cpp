#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "ExchangeFixture.h"
#include "exchange/MediaCopyQueue.h"
#include "store/Case.h"
#include "store/Media.h"

namespace ovalis::test {
namespace {

class MediaCopyQueueTest : public ExchangeFixture
{
};

TEST_F(MediaCopyQueueTest, CopiesArriveWholeInTheirFoldersAndFailuresNameTheirRecordInOrder)
{
    QTemporaryDir sources;
    ASSERT_TRUE(sources.isValid());
    Case *item = newCase(QStringLiteral("ABC1234"));
    QList<Media *> records;
    QList<QByteArray> contents;
    MediaCopyQueue queue(3);
    for (int i = 0; i < 40; ++i) {
        const QString source = sources.filePath(QStringLiteral("%1.jpg").arg(i));
        // Every fifth source is missing, so its copy fails.
        if (i % 5 != 3) {
            QFile file(source);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            contents.append(QByteArray(1000 + i * 997, char('a' + i % 26)));
            file.write(contents.last());
        } else {
            contents.append(QByteArray());
        }
        records.append(item->addMediaRecord(QStringLiteral("%1.jpg").arg(i)));
        ASSERT_NE(records.last(), nullptr);
        queue.copy(records.last(), source, *records.last()->fileURL());
    }
    const QList<MediaCopyQueue::Failure> failures = queue.finish();
    ASSERT_EQ(failures.size(), 8);
    for (int f = 0; f < failures.size(); ++f) {
        EXPECT_EQ(failures[f].media, records[f * 5 + 3]);
        EXPECT_EQ(failures[f].source, sources.filePath(QStringLiteral("%1.jpg").arg(f * 5 + 3)));
        EXPECT_FALSE(failures[f].error.isEmpty());
    }
    for (int i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i]->fileExists(), i % 5 != 3) << i;
        if (i % 5 == 3)
            continue;
        QFile copy(records[i]->filePath());
        ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
        EXPECT_EQ(copy.readAll(), contents[i]) << i;
        // Nothing but the copy in its folder: no temporary file stays.
        EXPECT_EQ(QDir(QFileInfo(copy).path()).entryList(QDir::Files | QDir::Hidden).size(), 1) << i;
    }
    // Finished copies are not reported again.
    EXPECT_TRUE(queue.finish().isEmpty());
}

} // namespace
} // namespace ovalis::test
