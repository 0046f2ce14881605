#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace ovalis::test {
namespace {

TEST(MainTest, HelpAndVersionPrintAndExitWithoutMakingALibrary)
{
    // The real program, with a display it could open and a home of its own,
    // which must stay empty.
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("TMPDIR"), home.path());
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "JOURNAL_STREAM"})
        environment.remove(QString::fromLatin1(variable));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    const auto run = [&](const QString &option, QString *output) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(OVALIS_BUILD_DIR "/ovalis"), {option});
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        *output = QString::fromUtf8(process.readAllStandardOutput());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };

    QString output;
    EXPECT_EQ(run(QStringLiteral("--help"), &output), 0);
    EXPECT_TRUE(output.startsWith(QStringLiteral("Usage: ovalis"))) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("--version"))) << output.toStdString();

    EXPECT_EQ(run(QStringLiteral("--version"), &output), 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Ovalis \\d+\\.\\d+\\.\\d+\\n$")).match(output).hasMatch())
        << output.toStdString();

    EXPECT_EQ(QDir(home.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              QStringList());
}

} // namespace
} // namespace ovalis::test
