#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QTemporaryDir>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <optional>
#include <gtest/gtest.h>

#include "exchange/OvalisOneFinder.h"

namespace ovalis::test {
namespace {

class OvalisOneFinderTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_home.isValid()); }

    QString path(const QString &relative) const { return m_home.filePath(relative); }

    void touch(const QString &relative)
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path(relative)).path()));
        QFile file(path(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }

    // A fake home folder: documents at several depths, in hidden places,
    // behind links, and names that only look alike.
    void makeHome()
    {
        touch(QStringLiteral("Teaching.ovalis"));
        touch(QStringLiteral("Documents/Old/Chest cases.ovalis"));
        touch(QStringLiteral("Documents/Old/CAPITALS.OVALIS"));
        touch(QStringLiteral("Documents/Old/Chest cases.ovalis.bak"));
        touch(QStringLiteral("Documents/Old/notes.txt"));
        touch(QStringLiteral("Documents/ovalis"));
        touch(QStringLiteral("Documents/Folder.ovalis/Inside.ovalis"));
        touch(QStringLiteral(".cache/Hidden.ovalis"));
        touch(QStringLiteral("Documents/.hidden.ovalis"));
        touch(QStringLiteral("Elsewhere/Linked.ovalis"));
        ASSERT_TRUE(QFile::link(path(QStringLiteral("Elsewhere")), path(QStringLiteral("Documents/Link to elsewhere"))));
        ASSERT_TRUE(QFile::link(path(QStringLiteral("Teaching.ovalis")), path(QStringLiteral("Documents/Alias.ovalis"))));
        // A link back up must not send the search round in circles.
        ASSERT_TRUE(QFile::link(m_home.path(), path(QStringLiteral("Documents/Old/Home"))));
    }

    QStringList expected() const
    {
        QStringList paths{path(QStringLiteral("Documents/Folder.ovalis/Inside.ovalis")), path(QStringLiteral("Documents/Old/CAPITALS.OVALIS")),
                          path(QStringLiteral("Documents/Old/Chest cases.ovalis")), path(QStringLiteral("Elsewhere/Linked.ovalis")),
                          path(QStringLiteral("Teaching.ovalis"))};
        paths.sort();
        return paths;
    }

    QTemporaryDir m_home;
};

TEST_F(OvalisOneFinderTest, FindsDocumentsByNameButNotHiddenOnesNorThroughLinks)
{
    makeHome();
    EXPECT_EQ(OvalisOneFinder::search(m_home.path(), QStringLiteral("ovalis")), expected());
}

TEST_F(OvalisOneFinderTest, ReportsOnceOnAWorkerThroughTheLatestCompletion)
{
    makeHome();
    // One worker, held until both searches have been asked for.
    QThreadPool pool;
    pool.setMaxThreadCount(1);
    QSemaphore hold;
    pool.start([&hold] { hold.acquire(); });
    QMutex mutex;
    QList<QStringList> reports;
    int replacedReports = 0;
    bool onWorker = false;
    OvalisOneFinder finder(&pool);
    finder.find(
        QStringLiteral("ovalis"),
        [&](const QStringList &) {
            QMutexLocker locker(&mutex);
            ++replacedReports;
        },
        m_home.path());
    finder.find(
        QStringLiteral("ovalis"),
        [&](const QStringList &paths) {
            QMutexLocker locker(&mutex);
            onWorker = QThread::currentThread() != QCoreApplication::instance()->thread();
            reports.append(paths);
        },
        m_home.path());
    hold.release();
    ASSERT_TRUE(pool.waitForDone(30000));

    QMutexLocker locker(&mutex);
    ASSERT_EQ(reports.size(), 1);
    EXPECT_EQ(reports.first(), expected());
    EXPECT_TRUE(onWorker);
    EXPECT_EQ(replacedReports, 0);
}

TEST_F(OvalisOneFinderTest, SearchesTheHomeFolderAndReportsAnEmptyList)
{
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", m_home.path().toUtf8());
    std::optional<QStringList> report;
    QMutex mutex;
    QThreadPool pool;
    OvalisOneFinder finder(&pool);
    finder.find(QStringLiteral("ovalis"), [&](const QStringList &paths) {
        QMutexLocker locker(&mutex);
        report = paths;
    });
    EXPECT_TRUE(pool.waitForDone(30000));
    qputenv("HOME", savedHome);
    QMutexLocker locker(&mutex);
    ASSERT_TRUE(report.has_value());
    EXPECT_TRUE(report->isEmpty());
}

} // namespace
} // namespace ovalis::test
