#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "CliProcess.h"

using Result = ovalis::test::CliResult;
using ovalis::test::runCli;

namespace {

// Every media file of a library, by its path under the media directory.
QMap<QString, QByteArray> mediaFiles(const QString &library)
{
    QMap<QString, QByteArray> files;
    const QDir media(library + QStringLiteral("/Media"));
    QDirIterator it(media.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        files.insert(media.relativeFilePath(file.fileName()), file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return files;
}

} // namespace

TEST(CliPeerTest, FetchMissingCopiesTheFilesThatServePeerHolds)
{
    QTemporaryDir home;
    const QString other = home.filePath(QStringLiteral("Other"));
    const QString library = home.filePath(QStringLiteral("Ovalis"));
    ASSERT_EQ(runCli({QStringLiteral("--library"), other, QStringLiteral("generate"), QStringLiteral("--cases"), QStringLiteral("12"),
                      QStringLiteral("--media-per-case"), QStringLiteral("2"), QStringLiteral("--with-files")},
                     home.path())
                  .exitCode,
              0);
    // This library has the same records and none of the files.
    ASSERT_TRUE(QDir().mkpath(library));
    for (const QString &name : QDir(other).entryList(QDir::Files))
        ASSERT_TRUE(QFile::copy(other + QLatin1Char('/') + name, library + QLatin1Char('/') + name));
    QMap<QString, QByteArray> expected = mediaFiles(other);
    ASSERT_FALSE(expected.isEmpty());
    // One file is missing on the server as well.
    const int missing = int(expected.size());
    ASSERT_TRUE(QFile::remove(other + QStringLiteral("/Media/") + expected.lastKey()));
    expected.remove(expected.lastKey());

    QProcess server;
    server.start(QStringLiteral(OVALIS_CLI_PATH), {QStringLiteral("--library"), other, QStringLiteral("serve-peer"),
                                                   QStringLiteral("--accept-from-any")});
    ASSERT_TRUE(server.waitForReadyRead(30000));
    const QString serving = QString::fromUtf8(server.readLine());
    const QRegularExpressionMatch port = QRegularExpression(QStringLiteral("^Serving “Library with 12 cases” on port (\\d+)")).match(serving);
    ASSERT_TRUE(port.hasMatch()) << serving.toStdString();
    const QString address = QStringLiteral("127.0.0.1:") + port.captured(1);

    Result result = runCli({QStringLiteral("fetch-missing"), QStringLiteral("--peer"), address}, home.path());
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("Missing %1 media items").arg(missing))) << result.out.toStdString();
    EXPECT_TRUE(result.out.contains(QRegularExpression(QStringLiteral("verification code \\d{3} \\d{3}"))));
    EXPECT_TRUE(result.out.contains(QStringLiteral("Fetched %1 of %2 missing media files; 1 still missing").arg(missing - 1).arg(missing)))
        << result.out.toStdString();
    EXPECT_EQ(mediaFiles(library), expected);
    // A peer named by its address is not looked for: even the log has no word of discovery.
    result = runCli({QStringLiteral("fetch-missing"), QStringLiteral("--peer"), address, QStringLiteral("--verbose")}, home.path());
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("Fetched 0 of 1 missing media files; 1 still missing"))) << result.out.toStdString();
    EXPECT_TRUE(result.err.contains(QStringLiteral("[UI] Start multipeer"))) << result.err.toStdString();
    EXPECT_FALSE(result.err.contains(QStringLiteral("did not start browsing"))) << result.err.toStdString();

    // With the server gone, a missing file cannot be fetched.
    server.kill();
    server.waitForFinished();
    ASSERT_TRUE(QFile::remove(library + QStringLiteral("/Media/") + expected.firstKey()));
    result = runCli({QStringLiteral("fetch-missing"), QStringLiteral("--peer"), address, QStringLiteral("--wait"), QStringLiteral("10")},
                    home.path());
    EXPECT_NE(result.exitCode, 0);
    EXPECT_TRUE(result.err.contains(QStringLiteral("did not accept the connection"))) << result.err.toStdString();
    EXPECT_NE(runCli({QStringLiteral("fetch-missing"), QStringLiteral("--peer"), QStringLiteral("nowhere")}, home.path()).exitCode, 0);
}
