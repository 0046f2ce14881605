#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "CliProcess.h"

using Result = ovalis::test::CliResult;
using ovalis::test::runCli;

namespace {

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

QStringList generate(const QString &library)
{
    return {QStringLiteral("--library"), library, QStringLiteral("generate"), QStringLiteral("--cases"), QStringLiteral("12"),
            QStringLiteral("--tags"), QStringLiteral("4")};
}

} // namespace

TEST(CliConventionsTest, AnExplicitLibraryThatCannotBeUsedIsAnErrorAndOnlyTheDefaultFallsBack)
{
    QTemporaryDir home;
    const QString file = home.path() + QStringLiteral("/notes.txt");
    writeFile(file, "not a library");
    const QString fallbackStore = home.path() + QStringLiteral("/.local/share/vantor/Ovalis/Database.sqlite");

    for (const QString &library : {file, file + QStringLiteral("/Library")}) {
        const Result result = runCli({QStringLiteral("--library"), library, QStringLiteral("stats")}, home.path());
        EXPECT_EQ(result.exitCode, 2) << library.toStdString();
        EXPECT_TRUE(result.err.startsWith(QStringLiteral("ovalis-cli: "))) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(file + QStringLiteral(" is not a folder"))) << result.err.toStdString();
        EXPECT_TRUE(result.out.isEmpty()) << result.out.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(fallbackStore));

    // The default location falls back, and says where.
    writeFile(home.path() + QStringLiteral("/Ovalis"), "not a library either");
    const Result fallen = runCli({QStringLiteral("stats")}, home.path());
    EXPECT_EQ(fallen.exitCode, 0) << fallen.err.toStdString();
    EXPECT_TRUE(fallen.out.contains(fallbackStore)) << fallen.out.toStdString();
    EXPECT_TRUE(fallen.err.contains(QStringLiteral("using ") + QFileInfo(fallbackStore).absolutePath())) << fallen.err.toStdString();
}

TEST(CliConventionsTest, LibraryAndVerboseAreTakenBeforeOrAfterTheCommand)
{
    QTemporaryDir home;
    const QString library = home.path() + QStringLiteral("/Teaching");
    ASSERT_EQ(runCli(generate(library), home.path()).exitCode, 0);

    for (const QStringList &arguments : {QStringList{QStringLiteral("stats"), QStringLiteral("--library"), library},
                                         QStringList{QStringLiteral("stats"), QStringLiteral("--library=") + library},
                                         QStringList{QStringLiteral("--verbose"), QStringLiteral("stats"), QStringLiteral("--library"), library}}) {
        const Result result = runCli(arguments, home.path());
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        EXPECT_TRUE(result.out.contains(QStringLiteral("Cases: 12\n"))) << arguments.join(' ').toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(home.path() + QStringLiteral("/Ovalis")));
    EXPECT_EQ(runCli({QStringLiteral("stats"), QStringLiteral("--library")}, home.path()).exitCode, 1);
}

TEST(CliConventionsTest, EveryErrorIsOneLineBeginningWithTheToolsName)
{
    QTemporaryDir home;
    const QString library = home.path() + QStringLiteral("/Teaching");
    ASSERT_EQ(runCli(generate(library), home.path()).exitCode, 0);
    const QString backup = home.path() + QStringLiteral("/broken.json");
    writeFile(backup, "[{\"tags\": 3}]");

    for (const QStringList &arguments :
         {QStringList{QStringLiteral("list"), QStringLiteral("--colour")}, QStringList{QStringLiteral("show"), QStringLiteral("--wide"), QStringLiteral("X")},
          QStringList{QStringLiteral("import-folder"), QStringLiteral("--deep"), home.path()},
          QStringList{QStringLiteral("restore-backup"), backup}, QStringList{QStringLiteral("show"), QStringLiteral("NOBODY")}}) {
        const Result result = runCli(QStringList{QStringLiteral("--library"), library} + arguments, home.path());
        EXPECT_NE(result.exitCode, 0) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.err.startsWith(QStringLiteral("ovalis-cli: "))) << result.err.toStdString();
        EXPECT_EQ(result.err.count(QLatin1Char('\n')), 1) << result.err.toStdString();
    }
}

TEST(CliConventionsTest, HelpAndReadmeListTheExitStatusesAndImportsFailAlike)
{
    QTemporaryDir home;
    const QString help = runCli({QStringLiteral("--help")}, home.path()).out;
    QFile readme(QStringLiteral(OVALIS_SOURCE_DIR "/README.md"));
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString readmeText = QString::fromUtf8(readme.readAll());
    const qsizetype readmeSection = readmeText.indexOf(QStringLiteral("### Exit status"));
    ASSERT_GE(readmeSection, 0);
    const qsizetype helpSection = help.indexOf(QStringLiteral("Exit status:"));
    ASSERT_GE(helpSection, 0) << help.toStdString();
    for (int code = 0; code <= 5; ++code) {
        EXPECT_TRUE(help.indexOf(QStringLiteral("\n  %1  ").arg(code), helpSection) > 0) << code;
        EXPECT_TRUE(readmeText.indexOf(QStringLiteral("\n| %1 |").arg(code), readmeSection) > 0) << code;
    }

    const QString library = home.path() + QStringLiteral("/Teaching");
    const QString damaged = home.path() + QStringLiteral("/Damaged.ovalis");
    writeFile(damaged, "not a version-1 document");
    const Result importV1 = runCli({QStringLiteral("--library"), library, QStringLiteral("import-v1"), damaged}, home.path());
    const Result importFolder = runCli({QStringLiteral("--library"), library, QStringLiteral("import-folder"), damaged}, home.path());
    EXPECT_EQ(importV1.exitCode, 3) << importV1.err.toStdString();
    EXPECT_EQ(importFolder.exitCode, 3) << importFolder.err.toStdString();
    const Result importDicom = runCli({QStringLiteral("--library"), library, QStringLiteral("import-dicom"), damaged}, home.path());
    EXPECT_EQ(importDicom.exitCode, 3) << importDicom.err.toStdString();
}

TEST(CliConventionsTest, ReportsGoToStandardOutputAndLogLinesOnlyWhenAskedFor)
{
    QTemporaryDir home;
    const QString library = home.path() + QStringLiteral("/Teaching");
    ASSERT_EQ(runCli(generate(library), home.path()).exitCode, 0);

    Result result = runCli({QStringLiteral("--library"), library, QStringLiteral("maintenance"), QStringLiteral("count")}, home.path());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.out.startsWith(QStringLiteral("Cases: 12\nMedia: "))) << result.out.toStdString();
    EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();

    result = runCli({QStringLiteral("--library"), library, QStringLiteral("maintenance"), QStringLiteral("tags")}, home.path());
    EXPECT_EQ(result.exitCode, 0);
    const QStringList lines = result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << result.out.toStdString();
    for (const QString &line : lines)
        EXPECT_TRUE(line.contains(QRegularExpression(QStringLiteral("^[^\\[\\t]+\\t\\d+ cases?(\\tactive)?$")))) << line.toStdString();
    EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();

    result = runCli({QStringLiteral("--library"), library, QStringLiteral("stats")}, home.path());
    EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
    result = runCli({QStringLiteral("--library"), library, QStringLiteral("stats"), QStringLiteral("--verbose")}, home.path());
    EXPECT_TRUE(result.err.contains(QStringLiteral("[Core Data] "))) << result.err.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("Cases: 12\n")));

    // A tag that does not exist lists nothing and says why.
    const QString tag = lines.first().section(QLatin1Char('\t'), 0, 0);
    result = runCli({QStringLiteral("--library"), library, QStringLiteral("list"), QStringLiteral("--tag"), tag}, home.path());
    EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
    result = runCli({QStringLiteral("--library"), library, QStringLiteral("list"), QStringLiteral("--tag"), tag,
                     QStringLiteral("--tag"), QStringLiteral("Nonesuch")}, home.path());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.out.isEmpty()) << result.out.toStdString();
    EXPECT_EQ(result.err, QStringLiteral("ovalis-cli: no tag is labelled Nonesuch\n"));
}

TEST(CliConventionsTest, EveryCommandsHelpNamesTheToolAndCommandAndLinesUpWithoutQtOptions)
{
    QTemporaryDir home;
    const Result main = runCli({QStringLiteral("--help")}, home.path());
    ASSERT_EQ(main.exitCode, 0);
    // The commands, as the main help lists them.
    const QStringList mainLines = main.out.split(QLatin1Char('\n'));
    QStringList commands;
    for (qsizetype n = mainLines.indexOf(QStringLiteral("Commands:")) + 1; n > 0 && n < mainLines.size() && !mainLines[n].isEmpty(); ++n)
        commands.append(mainLines[n].section(QLatin1Char(' '), 2, 2));
    ASSERT_GE(commands.size(), 15) << main.out.toStdString();
    EXPECT_TRUE(main.out.contains(QStringLiteral("\n  --version             ")));

    // An entry of a help: its description starts in column 24, on the next line when the name reaches it.
    const auto linedUp = [](const QStringList &lines, qsizetype n) {
        const QString &line = lines[n];
        if (!line.trimmed().contains(QLatin1String("  ")))
            return n + 1 < lines.size() && lines[n + 1].startsWith(QString(24, QLatin1Char(' '))) && lines[n + 1][24] != QLatin1Char(' ');
        return line.mid(22, 2) == QLatin1String("  ") && line[24] != QLatin1Char(' ');
    };
    for (const QString &command : std::as_const(commands)) {
        for (const QString &help : {QStringLiteral("--help"), QStringLiteral("-h")}) {
            const Result result = runCli({command, help}, home.path());
            EXPECT_EQ(result.exitCode, 0) << command.toStdString();
            EXPECT_TRUE(result.out.startsWith(QStringLiteral("Usage: ovalis-cli [--library DIR] %1").arg(command))) << result.out.toStdString();
            EXPECT_FALSE(result.out.contains(QStringLiteral("help-all"))) << result.out.toStdString();
            EXPECT_FALSE(result.out.contains(QStringLiteral("Qt"))) << result.out.toStdString();
            EXPECT_TRUE(result.out.contains(QStringLiteral("\n  -h, --help            Show this help.\n"))) << result.out.toStdString();
        }
        const QStringList lines = runCli({command, QStringLiteral("--help")}, home.path()).out.split(QLatin1Char('\n'));
        bool inSection = false;
        for (qsizetype n = 0; n < lines.size(); ++n) {
            if (lines[n] == QLatin1String("Options:") || lines[n] == QLatin1String("Arguments:"))
                inSection = true;
            else if (lines[n].isEmpty())
                inSection = false;
            else if (inSection && lines[n][2] != QLatin1Char(' '))
                EXPECT_TRUE(linedUp(lines, n)) << command.toStdString() << ": " << lines[n].toStdString();
        }
        // Qt's own options are not taken as the command's.
        const Result helpAll = runCli({command, QStringLiteral("--help-all")}, home.path());
        EXPECT_EQ(helpAll.exitCode, 1) << command.toStdString();
        EXPECT_TRUE(helpAll.out.isEmpty()) << helpAll.out.toStdString();
        EXPECT_EQ(helpAll.err, QStringLiteral("ovalis-cli: %1: Unknown option 'help-all'.\n").arg(command));
    }
    const QString library = home.path() + QStringLiteral("/Teaching");
    const Result debugger = runCli({QStringLiteral("-qmljsdebugger=port:4000"), QStringLiteral("--library"), library, QStringLiteral("stats")},
                                   home.path());
    EXPECT_EQ(debugger.exitCode, 1);
    EXPECT_TRUE(debugger.err.startsWith(QStringLiteral("ovalis-cli: unknown option -qmljsdebugger"))) << debugger.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(library));
}

TEST(CliConventionsTest, VersionPrintsTheProjectVersionWithoutALibrary)
{
    QTemporaryDir home;
    const QString library = home.path() + QStringLiteral("/Teaching");
    for (const QStringList &arguments : {QStringList{QStringLiteral("--version")},
                                         QStringList{QStringLiteral("--library"), library, QStringLiteral("--version")},
                                         QStringList{QStringLiteral("stats"), QStringLiteral("--version")}}) {
        const Result result = runCli(arguments, home.path());
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out, QStringLiteral("ovalis-cli " OVALIS_VERSION "\n"));
        EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(library));
    EXPECT_FALSE(QFileInfo::exists(home.path() + QStringLiteral("/Ovalis")));
}
