#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <memory>

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
