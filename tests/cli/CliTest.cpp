#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "CliProcess.h"

using Result = ovalis::test::CliResult;
using ovalis::test::runCli;

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

TEST(CliTest, ListFiltersByTagsAndSearchAndSortsLikeTheLibrary)
{
    QTemporaryDir home;
    ASSERT_EQ(runCli({QStringLiteral("generate"), QStringLiteral("--cases"), QStringLiteral("200"), QStringLiteral("--tags"),
                      QStringLiteral("6"), QStringLiteral("--seed"), QStringLiteral("7")},
                     home.path()).exitCode, 0);
    const Result all = runCli({QStringLiteral("list")}, home.path());
    ASSERT_EQ(all.exitCode, 0) << all.err.toStdString();
    // Listing ends early but closes the library: no log is left behind.
    EXPECT_FALSE(QFileInfo::exists(home.path() + QStringLiteral("/Ovalis/Database.sqlite-wal")));
    const QStringList lines = all.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(lines.size(), 200);
    for (const QString &line : lines) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        ASSERT_EQ(fields.size(), 5) << line.toStdString();
        EXPECT_TRUE(fields[1].isEmpty() || fields[1].contains(QRegularExpression(QStringLiteral("^-?\\d+$")))) << line.toStdString();
        EXPECT_TRUE(fields[3] == QLatin1String("??????") || QDate::fromString(fields[3], Qt::ISODate).isValid()) << line.toStdString();
        EXPECT_TRUE(fields[4].startsWith(QLatin1Char('\'')) && fields[4].endsWith(QLatin1Char('\'')));
    }

    // Case- and accent-insensitive search: every listed line mentions smith in some spelling,
    // and the summary scope lists no more than the all scope.
    const Result smith = runCli({QStringLiteral("list"), QStringLiteral("--search"), QStringLiteral("SMITH"),
                                 QStringLiteral("--scope"), QStringLiteral("summary")}, home.path());
    const QStringList smithLines = smith.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_FALSE(smithLines.isEmpty());
    for (const QString &line : smithLines)
        EXPECT_TRUE(line.contains(QStringLiteral("smith"), Qt::CaseInsensitive) || line.contains(QStringLiteral("smíth")))
            << line.toStdString();
    const Result smithAll = runCli({QStringLiteral("list"), QStringLiteral("--search"), QStringLiteral("smith")}, home.path());
    EXPECT_GE(smithAll.out.count(QLatin1Char('\n')), smith.out.count(QLatin1Char('\n')));

    // Two tags: only cases carrying both; fewer than either alone.
    const auto count = [&](const QStringList &arguments) {
        return runCli(QStringList{QStringLiteral("list")} + arguments, home.path()).out.count(QLatin1Char('\n'));
    };
    const qsizetype neuro = count({QStringLiteral("--tag"), QStringLiteral("Neuro")});
    const qsizetype both = count({QStringLiteral("--tag"), QStringLiteral("Neuro"), QStringLiteral("--tag"), QStringLiteral("Chest")});
    EXPECT_GT(neuro, 0);
    EXPECT_LE(both, neuro);
    EXPECT_EQ(count({QStringLiteral("--tag"), QStringLiteral("No such tag")}), 0);

    // Sorting by patient identifier, both ways.
    const QStringList ascending = runCli({QStringLiteral("list"), QStringLiteral("--sort"), QStringLiteral("patientID")}, home.path())
                                      .out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QStringList descending = runCli({QStringLiteral("list"), QStringLiteral("--sort"), QStringLiteral("patientID"),
                                           QStringLiteral("--descending")}, home.path())
                                       .out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(ascending.size(), 200);
    QStringList reversed(descending.crbegin(), descending.crend());
    EXPECT_EQ(ascending.first().section(QLatin1Char('\t'), 0, 0), reversed.first().section(QLatin1Char('\t'), 0, 0));
    EXPECT_NE(runCli({QStringLiteral("list"), QStringLiteral("--sort"), QStringLiteral("colour")}, home.path()).exitCode, 0);
}

TEST(CliTest, ShowPrintsEveryCaseOfAnIdentifierWithLinksAndMediaState)
{
    QTemporaryDir home;
    ASSERT_EQ(runCli({QStringLiteral("generate"), QStringLiteral("--cases"), QStringLiteral("30"), QStringLiteral("--with-files"),
                      QStringLiteral("--seed"), QStringLiteral("3")}, home.path()).exitCode, 0);
    // The first listed case that has an identifier and a media file.
    QString id;
    Result shown;
    for (const QString &line : runCli({QStringLiteral("list")}, home.path()).out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        id = line.section(QLatin1Char('\t'), 0, 0);
        if (id == QLatin1String("??????"))
            continue;
        shown = runCli({QStringLiteral("show"), id}, home.path());
        if (shown.out.contains(QStringLiteral("\tpresent")))
            break;
    }
    ASSERT_EQ(shown.exitCode, 0) << shown.err.toStdString();
    EXPECT_TRUE(shown.out.startsWith(QStringLiteral("Patient identifier: ") + id));
    for (const char *label : {"Age and sex:", "Date of diagnosis:", "Summary:", "Detail:", "Tags:", "Links:", "Media:"})
        EXPECT_TRUE(shown.out.contains(QString::fromLatin1(label))) << label;
    EXPECT_FALSE(shown.out.contains(QStringLiteral("missing")));

    // Removing the file of one of its media shows that media as missing.
    const QRegularExpression folder(QStringLiteral("#\\d+ \\S+ \\(([0-9A-F/]+)\\)\tpresent"));
    const QRegularExpressionMatch match = folder.match(shown.out);
    ASSERT_TRUE(match.hasMatch()) << shown.out.toStdString();
    const QDir mediaFolder(home.path() + QStringLiteral("/Ovalis/Media/") + match.captured(1));
    const QStringList files = mediaFolder.entryList(QDir::Files);
    ASSERT_FALSE(files.isEmpty());
    ASSERT_TRUE(QFile::remove(mediaFolder.filePath(files.first())));
    EXPECT_TRUE(runCli({QStringLiteral("show"), id}, home.path()).out.contains(QStringLiteral("\tmissing")));
    EXPECT_EQ(runCli({QStringLiteral("show"), QStringLiteral("NOSUCHID")}, home.path()).exitCode, 4);
}

TEST(CliTest, MaintenanceRunsAndSavesAndDeleteAllDataNeedsYes)
{
    QTemporaryDir home;
    ASSERT_EQ(runCli({QStringLiteral("generate"), QStringLiteral("--cases"), QStringLiteral("20"), QStringLiteral("--with-files")},
                     home.path()).exitCode, 0);
    const QString stray = home.path() + QStringLiteral("/Ovalis/Media/ZZ/YY/ZZYY.jpg");
    QDir().mkpath(QFileInfo(stray).absolutePath());
    QFile file(stray);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    Result result = runCli({QStringLiteral("maintenance"), QStringLiteral("delete-orphaned-media")}, home.path());
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_FALSE(QFile::exists(stray));
    EXPECT_FALSE(QFileInfo::exists(home.path() + QStringLiteral("/Ovalis/Media/ZZ")));
    result = runCli({QStringLiteral("maintenance"), QStringLiteral("count")}, home.path());
    EXPECT_TRUE(result.out.contains(QStringLiteral("Cases: 20")));

    result = runCli({QStringLiteral("maintenance"), QStringLiteral("delete-all-data")}, home.path());
    EXPECT_NE(result.exitCode, 0);
    EXPECT_TRUE(result.err.contains(QStringLiteral("--yes")));
    EXPECT_TRUE(runCli({QStringLiteral("stats")}, home.path()).out.contains(QStringLiteral("Cases: 20")));
    result = runCli({QStringLiteral("maintenance"), QStringLiteral("delete-all-data"), QStringLiteral("--yes")}, home.path());
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QString stats = runCli({QStringLiteral("stats")}, home.path()).out;
    EXPECT_TRUE(stats.contains(QStringLiteral("Cases: 0")));
    EXPECT_TRUE(stats.contains(QStringLiteral("Media: 0")));
    EXPECT_NE(runCli({QStringLiteral("maintenance"), QStringLiteral("polish")}, home.path()).exitCode, 0);
}
