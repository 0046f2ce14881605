#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <cmath>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include "CliProcess.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Tag.h"

using namespace ovalis;
using ovalis::test::runCli;

namespace {

// Every file below directory, by path relative to it, with its bytes.
QMap<QString, QByteArray> filesBelow(const QString &directory)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(directory, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            files.insert(QDir(directory).relativeFilePath(file.fileName()), file.readAll());
    }
    return files;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

class CliLibraryArchiveTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        CoreDataStack stack(library());
        QString error;
        ASSERT_TRUE(stack.loadPersistentStores(&error)) << error.toStdString();
        ManagedObjectContext *context = stack.mainContext();
        Tag *chest = context->insertNew<Tag>();
        chest->setLabel(QStringLiteral("chest"));
        // Larger than one read of the archive, and not all one byte value.
        QByteArray large(3 * 1024 * 1024 + 17, Qt::Uninitialized);
        for (qsizetype i = 0; i < large.size(); ++i)
            large[i] = char((quint32(i) * 7919u) >> 3);
        for (int number = 1; number <= 4; ++number) {
            Case *item = context->insertNew<Case>();
            item->setPatientID(QStringLiteral("PAT%1").arg(number));
            item->setSummary(QStringLiteral("Case %1 — ünïcode").arg(number));
            item->setDateOfDiagnosis(QDateTime(QDate(2021, number, 3), QTime(10, 0)));
            if (number % 2)
                item->addToTags(chest);
            item->addMedia(QByteArray("marker-of-image-") + QByteArray::number(number), QStringLiteral("image%1.jpg").arg(number));
            if (number == 2)
                item->addMedia(large, QStringLiteral("movie.mp4"));
        }
        context->saveWithParent(true);
    }

    QString library() const { return m_home.filePath(QStringLiteral("Ovalis")); }
    QString path(const QString &name) const { return m_home.filePath(name); }

    // The library at directory's JSON export.
    QByteArray exportOf(const QString &directory, const QString &name)
    {
        const auto written = runCli({QStringLiteral("--library"), directory, QStringLiteral("export-backup"), path(name)}, m_home.path());
        EXPECT_EQ(written.exitCode, 0) << written.err.toStdString();
        return readAll(path(name));
    }

    QTemporaryDir m_home;
};

TEST_F(CliLibraryArchiveTest, AWholeLibraryComesBackIdenticalInAnEmptyFolder)
{
    const QString archive = path(QStringLiteral("Ovalis Library 2026-12-07.tar"));
    const auto written = runCli({QStringLiteral("backup-library"), archive}, m_home.path());
    ASSERT_EQ(written.exitCode, 0) << written.err.toStdString();
    EXPECT_TRUE(written.out.startsWith(QStringLiteral("Backed up 4 cases and 5 media files to "))) << written.out.toStdString();
    // Not a terminal: no progress.
    EXPECT_EQ(written.err, QString());
    // Nothing but the archive is left beside it.
    EXPECT_EQ(QDir(m_home.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(archive).fileName()});

    // A plain tar file that the standard tool lists.
    QProcess tar;
    tar.start(QStringLiteral("tar"), {QStringLiteral("-tf"), archive});
    ASSERT_TRUE(tar.waitForFinished());
    EXPECT_EQ(tar.exitCode(), 0);
    QStringList listed = QString::fromUtf8(tar.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QMap<QString, QByteArray> media = filesBelow(library() + QStringLiteral("/Media"));
    ASSERT_EQ(media.size(), 5);
    QStringList expected{QStringLiteral("backup.json.zst"), QStringLiteral("manifest.json")};
    for (const QString &name : media.keys())
        expected.append(QStringLiteral("Media/") + name);
    listed.sort();
    expected.sort();
    EXPECT_EQ(listed, expected);

    const QString other = path(QStringLiteral("Restored"));
    const auto restored = runCli({QStringLiteral("restore-library"), archive, QStringLiteral("--into"), other}, m_home.path());
    ASSERT_EQ(restored.exitCode, 0) << restored.err.toStdString();
    EXPECT_TRUE(restored.out.startsWith(QStringLiteral("Restored 4 cases and 5 media files from "))) << restored.out.toStdString();
    EXPECT_EQ(filesBelow(other + QStringLiteral("/Media")), media);
    EXPECT_EQ(exportOf(other, QStringLiteral("restored.json")), exportOf(library(), QStringLiteral("original.json")));
    // The staging folder is gone.
    EXPECT_TRUE(QDir(other).entryList({QStringLiteral(".restore-*")}, QDir::AllEntries | QDir::Hidden).isEmpty());
}

TEST_F(CliLibraryArchiveTest, ADamagedArchiveOrAChecksumMismatchChangesNothingAndNamesTheMember)
{
    const QString archive = path(QStringLiteral("backup.tar"));
    ASSERT_EQ(runCli({QStringLiteral("backup-library"), archive}, m_home.path()).exitCode, 0);
    const QByteArray bytes = readAll(archive);
    const QMap<QString, QByteArray> media = filesBelow(library() + QStringLiteral("/Media"));
    QString markedName;
    for (auto it = media.cbegin(); it != media.cend(); ++it)
        if (it.value() == "marker-of-image-3")
            markedName = QStringLiteral("Media/") + it.key();
    ASSERT_FALSE(markedName.isEmpty());
    const qsizetype marker = bytes.indexOf("marker-of-image-3");
    ASSERT_GT(marker, 0);

    const QString other = path(QStringLiteral("Other"));
    const auto refusedInto = [&](const QString &file, const QString &message) {
        const auto refused = runCli({QStringLiteral("--library"), other, QStringLiteral("restore-library"), file}, m_home.path());
        EXPECT_EQ(refused.exitCode, 3);
        EXPECT_TRUE(refused.err.contains(message)) << refused.err.toStdString();
        // Nothing of the archive reached the library.
        EXPECT_TRUE(filesBelow(other).keys().filter(QStringLiteral("Media/")).isEmpty());
        EXPECT_TRUE(QDir(other).entryList({QStringLiteral(".restore-*")}, QDir::AllEntries | QDir::Hidden).isEmpty());
        const auto shown = runCli({QStringLiteral("--library"), other, QStringLiteral("show"), QStringLiteral("PAT1")}, m_home.path());
        EXPECT_EQ(shown.exitCode, 4) << shown.out.toStdString();
    };

    // One changed byte inside a member: the tar headers are intact, the checksum is not.
    QByteArray changed = bytes;
    changed[marker + 5] = 'X';
    writeAll(path(QStringLiteral("changed.tar")), changed);
    refusedInto(path(QStringLiteral("changed.tar")),
                QStringLiteral("the member %1 does not match its size and checksum in the manifest").arg(markedName));

    // Cut off in the middle of that member's data.
    writeAll(path(QStringLiteral("cut.tar")), bytes.left(marker + 4));
    refusedInto(path(QStringLiteral("cut.tar")), QStringLiteral("the archive is damaged at member %1").arg(markedName));

    // A member whose name would leave the library is refused by name.
    QByteArray escaping = bytes;
    const qsizetype header = bytes.indexOf(markedName.toUtf8());
    ASSERT_GE(header, 0);
    escaping.replace(header, 9, "../../../");
    writeAll(path(QStringLiteral("escaping.tar")), escaping);
    refusedInto(path(QStringLiteral("escaping.tar")), QStringLiteral("the archive"));
}

// Runs commands (a shell script) with home as the user's, on a small tmpfs
// mounted at mountPoint in a mount namespace of their own; false when this
// system cannot make one (not root, or no unshare).
bool runOnSmallDisk(const QString &mountPoint, const QString &commands, const QString &home, QString *output)
{
    if (::geteuid() != 0)
        return false;
    QProcess shell;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    environment.insert(QStringLiteral("CLI"), QStringLiteral(OVALIS_CLI_PATH));
    environment.insert(QStringLiteral("DISK"), mountPoint);
    shell.setProcessEnvironment(environment);
    shell.setProcessChannelMode(QProcess::MergedChannels);
    shell.start(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
                                            QStringLiteral("mount -t tmpfs -o size=2m tmpfs \"$DISK\" || exit\necho mounted\n") + commands});
    if (!shell.waitForFinished(120000) || shell.exitStatus() != QProcess::NormalExit)
        return false;
    *output = QString::fromUtf8(shell.readAll());
    return output->startsWith(QStringLiteral("mounted\n"));
}

// In the child: files may not grow past limit bytes, and a write past it fails
// (EFBIG) instead of killing the process, as on a disk that has run out of room.
std::function<void()> fileSizeLimit(rlim_t limit)
{
    return [limit] {
        const rlimit bound{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &bound);
        ::signal(SIGXFSZ, SIG_IGN);
    };
}

TEST_F(CliLibraryArchiveTest, AWriteThatFailsEndsWithAMessageNamingTheFileAndLeavesNothingHalfDone)
{
    const QString archive = path(QStringLiteral("backup.tar"));
    ASSERT_EQ(runCli({QStringLiteral("backup-library"), archive}, m_home.path()).exitCode, 0);
    const QString folder = path(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(folder));

    // A backup that cannot grow past 1 MB: no archive, no partial file.
    const QString cut = folder + QStringLiteral("/full.tar");
    const auto refused = runCli({QStringLiteral("backup-library"), cut}, m_home.path(), fileSizeLimit(1 << 20));
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("cannot write %1: the write failed").arg(cut))) << refused.err.toStdString();
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());

    // A restore whose large member cannot be staged: the library is as it was.
    const QString other = path(QStringLiteral("Other"));
    ASSERT_EQ(runCli({QStringLiteral("--library"), other, QStringLiteral("list")}, m_home.path()).exitCode, 0);
    const QMap<QString, QByteArray> before = filesBelow(other);
    const auto unrestored = runCli({QStringLiteral("--library"), other, QStringLiteral("restore-library"), archive}, m_home.path(),
                                   fileSizeLimit(1 << 20));
    EXPECT_EQ(unrestored.exitCode, 3);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("cannot write Media/[^ ]+\\.mp4 into the library: the write failed"))
                    .match(unrestored.err)
                    .hasMatch())
        << unrestored.err.toStdString();
    EXPECT_TRUE(filesBelow(other).keys().filter(QStringLiteral("Media/")).isEmpty());
    EXPECT_TRUE(QDir(other).entryList({QStringLiteral(".restore-*")}, QDir::AllEntries | QDir::Hidden).isEmpty());
    const auto listed = runCli({QStringLiteral("--library"), other, QStringLiteral("list")}, m_home.path());
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_EQ(listed.out, QString());
    EXPECT_EQ(filesBelow(other).keys(), before.keys());

}

TEST_F(CliLibraryArchiveTest, OnARealDiskThatFillsUpTheMessageSaysTheDiskIsFull)
{
    const QString archive = path(QStringLiteral("backup.tar"));
    ASSERT_EQ(runCli({QStringLiteral("backup-library"), archive}, m_home.path()).exitCode, 0);
    // A 2 MB tmpfs, smaller than the archive and than its largest member.
    const QString disk = path(QStringLiteral("disk"));
    ASSERT_TRUE(QDir().mkpath(disk));
    QString output;
    const bool mounted = runOnSmallDisk(disk, QStringLiteral(
        "\"$CLI\" backup-library \"$DISK/full.tar\"; echo \"backup-exit=$?\"; ls -A \"$DISK\"; echo listed\n"
        "\"$CLI\" --library \"$DISK/Library\" restore-library \"%1\"; echo \"restore-exit=$?\"\n"
        "\"$CLI\" --library \"$DISK/Library\" show PAT1 >/dev/null 2>&1; echo \"show-exit=$?\"\n"
        "find \"$DISK/Library\" -path '*Media/*' -o -name '.restore-*'; echo found\n").arg(archive), m_home.path(), &output);
    if (!mounted)
        GTEST_SKIP() << "no small tmpfs in a mount namespace here (needs root and unshare -m)";
    EXPECT_TRUE(output.contains(QStringLiteral("ovalis-cli: the backup %1/full.tar could not be written: cannot write %1/full.tar: the disk is full\n")
                                    .arg(disk)))
        << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("backup-exit=3\nlisted\n"))) << output.toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("cannot write Media/[^ ]+\\.mp4 into the library: the disk is full\n"))
                    .match(output)
                    .hasMatch())
        << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("restore-exit=3\nshow-exit=4\nfound\n"))) << output.toStdString();
}

TEST_F(CliLibraryArchiveTest, OnATerminalTheBytesAreCountedAndTheBackupIsKnownToTheReminder)
{
    const QString archive = path(QStringLiteral("library.tar"));
    QProcess terminal;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral(".config")));
    terminal.setProcessEnvironment(environment);
    // script gives the command a terminal and copies what it shows.
    const auto onTerminal = [&](const QString &command) {
        terminal.start(QStringLiteral("script"), {QStringLiteral("-qec"), command, QStringLiteral("/dev/null")});
        EXPECT_TRUE(terminal.waitForFinished(120000));
        EXPECT_EQ(terminal.exitCode(), 0);
        return QString::fromUtf8(terminal.readAllStandardOutput());
    };
    const QString cli = QStringLiteral("'%1'").arg(QStringLiteral(OVALIS_CLI_PATH));
    const QString backedUp = onTerminal(QStringLiteral("%1 backup-library '%2'").arg(cli, archive));
    const QRegularExpression counter(QStringLiteral("\r(\\x1b\\[K)?Backing up… [0-9]+\\.[0-9] of ([0-9]+\\.[0-9]) MB"));
    auto shown = counter.globalMatch(backedUp);
    int lines = 0;
    QString lastTotal;
    while (shown.hasNext()) {
        lastTotal = shown.next().captured(2);
        ++lines;
    }
    EXPECT_GT(lines, 1) << backedUp.toStdString();
    EXPECT_EQ(lastTotal.toDouble(), std::round(QFileInfo(archive).size() / 1048576.0 * 10) / 10);
    EXPECT_TRUE(backedUp.contains(QStringLiteral("Backed up 4 cases and 5 media files to "))) << backedUp.toStdString();
    // The counter is cleared before the result is printed; there are no other lines.
    EXPECT_FALSE(backedUp.contains(QStringLiteral("MB\r\n"))) << backedUp.toStdString();

    const QString restored = onTerminal(QStringLiteral("%1 --library '%2' restore-library '%3'").arg(cli, path(QStringLiteral("Other")), archive));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("\r(\\x1b\\[K)?Restoring… [0-9]+\\.[0-9] of [0-9]+\\.[0-9] MB")).match(restored).hasMatch())
        << restored.toStdString();
    EXPECT_TRUE(restored.contains(QStringLiteral("Restored 4 cases and 5 media files from "))) << restored.toStdString();

    // The window's reminder reads the date of this backup.
    QSettings settings(m_home.filePath(QStringLiteral(".config/vantor/Ovalis.conf")), QSettings::IniFormat);
    EXPECT_EQ(settings.value(QStringLiteral("Last_Library_Backup")).toString(), QDate::currentDate().toString(Qt::ISODate));
}

} // namespace
