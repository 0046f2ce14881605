#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};

Result runCli(const QStringList &arguments, const QString &home)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(OVALIS_CLI_PATH), arguments);
    EXPECT_TRUE(process.waitForFinished(120000));
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

TEST(CliTest, GenerateThenStatsOnTheDefaultAndAnExplicitLibrary)
{
    QTemporaryDir home;
    Result result = runCli({QStringLiteral("generate"), QStringLiteral("--cases"), QStringLiteral("40"), QStringLiteral("--tags"),
                            QStringLiteral("5"), QStringLiteral("--media-per-case"), QStringLiteral("2"), QStringLiteral("--with-files")},
                           home.path());
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    result = runCli({QStringLiteral("stats")}, home.path());
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.out.contains(home.path() + QStringLiteral("/Ovalis/Database.sqlite")));
    EXPECT_TRUE(result.out.contains(QStringLiteral("Cases: 40\n")));
    EXPECT_TRUE(result.out.contains(QStringLiteral("Tags: 5\n")));
    // The media records have real files under the media directory.
    const QRegularExpression media(QStringLiteral("Media: (\\d+)"));
    const int mediaCount = media.match(result.out).captured(1).toInt();
    EXPECT_GT(mediaCount, 0);
    int files = 0;
    QDirIterator it(home.path() + QStringLiteral("/Ovalis/Media"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++files;
    }
    EXPECT_EQ(files, mediaCount);

    const QString other = home.filePath(QStringLiteral("elsewhere"));
    result = runCli({QStringLiteral("--library"), other, QStringLiteral("stats")}, home.path());
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.out.contains(QStringLiteral("Cases: 0\n")));
}

TEST(CliTest, HelpForEveryCommandAndErrorsOnStandardError)
{
    QTemporaryDir home;
    for (const QStringList &arguments : {QStringList{QStringLiteral("--help")},
                                         QStringList{QStringLiteral("stats"), QStringLiteral("--help")},
                                         QStringList{QStringLiteral("generate"), QStringLiteral("--help")}}) {
        const Result result = runCli(arguments, home.path());
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_TRUE(result.out.contains(QStringLiteral("Usage")) || result.out.contains(QStringLiteral("usage")))
            << result.out.toStdString();
    }
    EXPECT_TRUE(runCli({QStringLiteral("generate"), QStringLiteral("--help")}, home.path()).out.contains(QStringLiteral("--with-files")));

    for (const QStringList &arguments : {QStringList{}, QStringList{QStringLiteral("frobnicate")},
                                         QStringList{QStringLiteral("generate")},
                                         QStringList{QStringLiteral("generate"), QStringLiteral("--cases"), QStringLiteral("many")},
                                         QStringList{QStringLiteral("--library")}}) {
        const Result result = runCli(arguments, home.path());
        EXPECT_NE(result.exitCode, 0) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.err.startsWith(QStringLiteral("ovalis-cli: "))) << result.err.toStdString();
        EXPECT_TRUE(result.out.isEmpty());
    }
}

TEST(CliTest, ARefusedLibraryExitsWithTwoAndNamesTheFile)
{
    QTemporaryDir home;
    ASSERT_EQ(runCli({QStringLiteral("stats")}, home.path()).exitCode, 0);
    const QString store = home.path() + QStringLiteral("/Ovalis/Database.sqlite");
    sqlite3 *db = nullptr;
    sqlite3_open(store.toUtf8().constData(), &db);
    sqlite3_exec(db, "PRAGMA user_version = 7", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const Result result = runCli({QStringLiteral("stats")}, home.path());
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(result.err.contains(store)) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(QStringLiteral("newer version")));
}
