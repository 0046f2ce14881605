#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>

namespace ovalis::test {

struct CliResult {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the real ovalis-cli with home (and the settings under it) as the user's;
// inChild, when given, runs in the child just before the program starts.
// Starts the real ovalis-cli in process with home as the user's, without waiting for it.
inline void startCli(QProcess &process, const QStringList &arguments, const QString &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(OVALIS_CLI_PATH), arguments);
}

inline CliResult runCli(const QStringList &arguments, const QString &home, const std::function<void()> &inChild = {})
{
    QProcess process;
    if (inChild)
        process.setChildProcessModifier(inChild);
    startCli(process, arguments, home);
    EXPECT_TRUE(process.waitForFinished(120000));
    // A crash is never a success, whatever code the system reports for it.
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace ovalis::test
