#pragma once

// Shared by the benchmarks: the peak resident memory of a program run to its
// end, as the kernel counts that program's own memory (VmHWM), read as it
// exits. The rusage of a waited-for child is no measure of it: there the
// kernel keeps the peak of the memory the child left at its exec as well,
// which for a child of a large process (a fork's copy, or posix_spawn's
// borrowing of the spawner's memory) is the spawner's peak.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <csignal>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "BenchmarkReport.h"

extern char **environ;

namespace ovalis::bench {

// KiB; -1 when the program cannot be run, fails or its memory cannot be read.
// The program is traced only to be stopped as it exits, while its memory is
// still there to be read.
inline qint64 childPeakMemoryKiB(const QString &program, const QStringList &arguments)
{
    QList<QByteArray> storage{program.toLocal8Bit()};
    for (const QString &argument : arguments)
        storage.append(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execve(argv[0], argv.data(), environ);
        _exit(127);
    }
    // The first stop is at the exec.
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)
        || ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL) != 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    qint64 peak = -1;
    int forwarded = 0;
    for (;;) {
        ptrace(PTRACE_CONT, pid, nullptr, forwarded);
        if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status))
            break;
        forwarded = WSTOPSIG(status);
        if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
            peak = peakMemoryKiB(QStringLiteral("/proc/%1/status").arg(pid));
            forwarded = 0;
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? peak : -1;
}

} // namespace ovalis::bench
