#include <QCoreApplication>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "util/Settings.h"

using namespace ovalis;

namespace {

const char libraryVariable[] = "OVALIS_INTERRUPTED_WRITE_LIBRARY";
const char killedMarker[] = "file size limit reached, killing the writer\n";
constexpr qsizetype payloadSize = 32 * 1024 * 1024;
constexpr rlim_t fileSizeLimit = 1024 * 1024;

extern "C" void killOnFileSizeLimit(int)
{
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, killedMarker, sizeof killedMarker - 1);
    ::kill(::getpid(), SIGKILL);
}

} // namespace

// Run only as the child of the test below: adds a large media file and is
// SIGKILLed by its own file-size limit partway through writing it.
TEST(DISABLED_AddMediaChildProcess, WritesUntilKilled)
{
    const QString library = qEnvironmentVariable(libraryVariable);
    ASSERT_FALSE(library.isEmpty());
    Settings::setSharedForTesting(std::make_unique<QSettings>(library + QStringLiteral(".ini"), QSettings::IniFormat));
    CoreDataStack stack(library);
    QString error;
    ASSERT_TRUE(stack.loadPersistentStores(&error)) << error.toStdString();
    Case *item = stack.mainContext()->insertNew<Case>();
    const QByteArray data(payloadSize, 'x');

    std::signal(SIGXFSZ, killOnFileSizeLimit);
    const rlimit limit{fileSizeLimit, fileSizeLimit};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    item->addMedia(data, QStringLiteral("large.jpg"));
    FAIL() << "the write was not interrupted";
}

TEST(AddMediaInterruptedWriteTest, AKilledWriterLeavesNoFileAtTheFinalName)
{
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString library = directory.filePath(QStringLiteral("Ovalis"));

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(libraryVariable), library);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_also_run_disabled_tests"), QStringLiteral("--gtest_filter=DISABLED_AddMediaChildProcess.*")});
    ASSERT_TRUE(child.waitForFinished(120 * 1000)) << child.errorString().toStdString();
    const QByteArray output = child.readAllStandardError() + child.readAllStandardOutput();
    ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << output.toStdString();
    ASSERT_TRUE(output.contains(killedMarker)) << output.toStdString();

    // A temporary file may remain, but nothing under a media file's name, and nothing whole.
    static const QRegularExpression finalName(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.jpg$"));
    QDirIterator files(library + QStringLiteral("/Media"), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QFileInfo info(files.next());
        EXPECT_FALSE(finalName.match(info.fileName()).hasMatch()) << info.filePath().toStdString();
        EXPECT_LE(info.size(), qint64(fileSizeLimit)) << info.filePath().toStdString();
    }
}
