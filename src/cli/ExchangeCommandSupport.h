#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <memory>

#include "exchange/LibraryArchive.h"
#include "util/ObserverToken.h"

namespace ovalis {

class CoreDataStack;

// What the backup and import commands share: their output streams, opening
// the library, a progress line on a terminal and waiting for a background run.
namespace ExchangeCommandSupport {

QTextStream &out();
QTextStream &err();
// Prints "ovalis-cli: message" on stderr and answers code.
int fail(const QString &message, int code);
// Opens the library; false (after printing why) when it cannot be used.
bool open(CoreDataStack &stack);
// Reads a command's one positional argument (after showing help when asked);
// empty, after saying why on stderr, when there is not exactly one.
QString singleArgument(const QString &command, const QString &description, const QString &name,
                       const QString &help, const QStringList &arguments);
// Runs the event loop until done is set.
void waitFor(const bool &done);

// A command on one FILE of the library: FILE made absolute and the library
// opened, or the exit code after saying on stderr why the command stops.
struct FileCommand {
    QString path;
    std::unique_ptr<CoreDataStack> stack;
    int exitCode = 0;
};
FileCommand openFileCommand(const QString &library, const QString &command, const QString &description, const QString &name,
                            const QString &help, const QStringList &arguments);
// The library at directory, opened; null (after printing why) when it cannot be used.
std::unique_ptr<CoreDataStack> openLibrary(const QString &directory);

// While it lives, a library archive's progress is shown on one line of
// stderr ("Backing up… 120.4 of 600.0 MB") when stderr is a terminal.
class TerminalByteProgress
{
public:
    explicit TerminalByteProgress(const QString &label);
    ~TerminalByteProgress();
    TerminalByteProgress(const TerminalByteProgress &) = delete;
    TerminalByteProgress &operator=(const TerminalByteProgress &) = delete;

    // The progress to hand to the archive; empty when stderr is not a terminal.
    LibraryArchive::Progress progress();

private:
    QString m_label;
    bool m_terminal;
    qint64 m_shownTenths = -1;
};

// While it lives, a count's progress is shown on one line of stderr
// ("Backing up… 2000 of 100000 cases") when stderr is a terminal.
class TerminalCountProgress
{
public:
    TerminalCountProgress(const QString &label, const QString &unit);
    ~TerminalCountProgress();
    TerminalCountProgress(const TerminalCountProgress &) = delete;
    TerminalCountProgress &operator=(const TerminalCountProgress &) = delete;

    // The progress to hand to the job; empty when stderr is not a terminal.
    LibraryArchive::Progress progress();

private:
    QString m_label;
    QString m_unit;
    bool m_terminal;
    bool m_shown = false;
};

// While it lives, "Update Labelled Progress" posts are shown on one line of
// stderr ("label count/total") when stderr is a terminal.
class TerminalProgress
{
public:
    TerminalProgress();
    ~TerminalProgress();

private:
    ObserverToken m_updateLabelledProgressToken;
    bool m_terminal;
};

} // namespace ExchangeCommandSupport

} // namespace ovalis
