#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include "ExchangeFixture.h"
#include "exchange/LibraryArchive.h"
#include "store/Case.h"
#include "store/Media.h"

using namespace ovalis;

namespace {

class LibraryArchiveTest : public test::ExchangeFixture
{
protected:
    void SetUp() override
    {
        ExchangeFixture::SetUp();
        Case *item = newCase(QStringLiteral("ARC1"), QStringLiteral("Fracture"));
        item->addMedia(QByteArray(2 * 1024 * 1024 + 3, 'a'), QStringLiteral("first.jpg"));
        item->addMedia(QByteArray(1024 * 1024, 'b'), QStringLiteral("second.jpg"));
        context()->saveWithParent(true);
    }

    QString archivePath() const { return m_directory.filePath(QStringLiteral("out/library.tar")); }
    QStringList filesBesideArchive() const
    {
        return QDir(m_directory.filePath(QStringLiteral("out"))).entryList(QDir::Files | QDir::Hidden);
    }
};

TEST_F(LibraryArchiveTest, ProgressReachesTheTotalAndACancelLeavesTheOldFileAlone)
{
    ASSERT_TRUE(QDir().mkpath(m_directory.filePath(QStringLiteral("out"))));
    std::vector<std::pair<qint64, qint64>> steps;
    const LibraryArchive::Result written = LibraryArchive::write(context(), archivePath(), [&](qint64 done, qint64 total) {
        steps.emplace_back(done, total);
        return true;
    });
    ASSERT_TRUE(written.succeeded()) << written.error.toStdString();
    EXPECT_EQ(written.files, 2);
    ASSERT_FALSE(steps.empty());
    for (size_t i = 1; i < steps.size(); ++i)
        EXPECT_GT(steps[i].first, steps[i - 1].first);
    EXPECT_EQ(steps.back().first, steps.back().second);
    EXPECT_GT(steps.back().second, 3 * 1024 * 1024);
    const QByteArray complete = [&] {
        QFile file(archivePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();

    // Cancelled halfway: the earlier archive stays as it was, and no partial file is left.
    int calls = 0;
    const LibraryArchive::Result cancelled = LibraryArchive::write(context(), archivePath(), [&](qint64, qint64) { return ++calls < 3; });
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_TRUE(cancelled.error.isEmpty()) << cancelled.error.toStdString();
    EXPECT_EQ(filesBesideArchive(), QStringList{QStringLiteral("library.tar")});
    QFile file(archivePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), complete);
}

TEST_F(LibraryArchiveTest, RestoringIntoTheSameLibraryAddsTheCasesAndKeepsTheirFiles)
{
    ASSERT_TRUE(QDir().mkpath(m_directory.filePath(QStringLiteral("out"))));
    ASSERT_TRUE(LibraryArchive::write(context(), archivePath()).succeeded());
    const LibraryArchive::Result restored = LibraryArchive::restore(archivePath(), context());
    ASSERT_TRUE(restored.succeeded()) << restored.error.toStdString();
    EXPECT_EQ(restored.cases, 1);
    EXPECT_EQ(restored.files, 0); // the library holds every file already
    const QList<Case *> cases = fetchCases(QStringLiteral("patientID == %@"), {QStringLiteral("ARC1")});
    ASSERT_EQ(cases.size(), 2);
    for (const Case *item : cases) {
        ASSERT_EQ(item->sortedMedia().size(), 2);
        for (const Media *media : item->sortedMedia())
            EXPECT_TRUE(media->fileExists()) << media->description().toStdString();
    }
}

} // namespace
