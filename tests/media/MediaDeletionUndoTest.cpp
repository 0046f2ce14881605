#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include "media/MediaEditFixture.h"
#include "util/SerialQueue.h"
#include "util/UndoRegistrationPause.h"

using namespace ovalis;

namespace {

class MediaDeletionUndoTest : public test::MediaEditFixture
{
protected:
    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // As the media grid's Delete does it: one step of the undo history.
    void deleteAsOneStep(Case *item, const QList<Media *> &media)
    {
        undoManager()->beginUndoGrouping();
        item->removeMedia(media);
        undoManager()->endUndoGrouping();
        m_stack->fileDeletionQueue()->waitForDone();
    }
};

} // namespace

TEST_F(MediaDeletionUndoTest, UndoBringsBackRecordAndFileAndRedoDeletesBothAgain)
{
    Case *item = newCase(QStringLiteral("ABC1235"));
    Media *kept = item->addMedia("first image", QStringLiteral("a.png"));
    Media *deleted = item->addMedia("second image", QStringLiteral("b.JPG"));
    ASSERT_TRUE(kept && deleted);
    const QString uuid = deleted->uuid();
    const QString path = deleted->filePath();
    forgetSetUpUndo();

    deleteAsOneStep(item, {deleted});
    EXPECT_EQ(item->media().size(), 1);
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(path).path())); // emptied folders go too
    EXPECT_EQ(keptUndoFiles().size(), 1);

    for (int round = 0; round < 2; ++round) {
        // A save between the deletion and its undo changes nothing.
        if (round == 1)
            context()->saveWithParent(true);
        ASSERT_TRUE(undoManager()->canUndo());
        undoManager()->undo();
        m_stack->fileDeletionQueue()->waitForDone();
        ASSERT_EQ(item->sortedMedia().size(), 2);
        Media *restored = item->sortedMedia()[1];
        EXPECT_EQ(restored->uuid(), uuid);
        EXPECT_EQ(restored->filePath(), path);
        EXPECT_EQ(read(path), QByteArray("second image"));
        EXPECT_TRUE(keptUndoFiles().isEmpty());

        ASSERT_TRUE(undoManager()->canRedo());
        undoManager()->redo();
        m_stack->fileDeletionQueue()->waitForDone();
        EXPECT_EQ(item->media().size(), 1);
        EXPECT_FALSE(QFileInfo::exists(path));
        EXPECT_EQ(keptUndoFiles().size(), 1);
    }
    EXPECT_EQ(read(kept->filePath()), QByteArray("first image"));

    // The history is cleared: the deletion can no longer be undone, and its file goes.
    undoManager()->removeAllActions();
    EXPECT_TRUE(keptUndoFiles().isEmpty());
    EXPECT_EQ(read(kept->filePath()), QByteArray("first image"));
}

TEST_F(MediaDeletionUndoTest, FilesGoWhenTheirStepCanNoLongerBeTaken)
{
    Case *item = newCase(QStringLiteral("ABC1235"));
    Media *a = item->addMedia("a", QStringLiteral("a.png"));
    Media *b = item->addMedia("b", QStringLiteral("b.png"));
    Media *c = item->addMedia("c", QStringLiteral("c.png"));
    ASSERT_TRUE(a && b && c);
    const QString pathB = b->filePath();
    const QString pathC = c->filePath();
    forgetSetUpUndo();

    // A deletion that cannot be undone removes the file at once.
    {
        UndoRegistrationPause pause(undoManager());
        item->removeMedia({a});
    }
    m_stack->fileDeletionQueue()->waitForDone();
    EXPECT_TRUE(keptUndoFiles().isEmpty());
    EXPECT_EQ(item->media().size(), 2);

    // Only one step is remembered: the older deletion falls off, and its file with it.
    undoManager()->setLevelsOfUndo(1);
    deleteAsOneStep(item, {b});
    ASSERT_EQ(keptUndoFiles().size(), 1);
    const QString keptB = keptUndoFiles().first();
    deleteAsOneStep(item, {c});
    EXPECT_EQ(keptUndoFiles().size(), 1);
    EXPECT_FALSE(QFileInfo::exists(keptB));
    undoManager()->undo();
    EXPECT_EQ(read(pathC), QByteArray("c"));
    EXPECT_FALSE(QFileInfo::exists(pathB));
    EXPECT_FALSE(undoManager()->canUndo());

    // Closing the library drops the rest, and the private folder with them.
    deleteAsOneStep(item, {item->sortedMedia().first()});
    const QString folder = m_stack->undoFiles().path();
    EXPECT_EQ(keptUndoFiles().size(), 1);
    m_stack.reset();
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_FALSE(QFileInfo::exists(pathC));
}
