#pragma once

#include <QString>
#include <QStringList>

class QCommandLineParser;

namespace ovalis {

// What every command does with its own arguments.
namespace CommandArguments {

// Parses a command's arguments. Help asked for is printed and ends the
// process with 0; a wrong option or value ends it with 1 after one line
// "ovalis-cli: command: what is wrong" on stderr.
void parse(QCommandLineParser &parser, const QString &command, const QStringList &arguments);

} // namespace CommandArguments

} // namespace ovalis
