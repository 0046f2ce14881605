#pragma once

#include <QString>
#include <QStringList>

class QCommandLineParser;

namespace ovalis {

// What every command does with its own arguments.
namespace CommandArguments {

// The column in which the descriptions of commands, options and arguments
// start in every help the tool prints, and the width the help is wrapped to.
inline constexpr int descriptionColumn = 24;
inline constexpr int helpWidth = 100;

// Parses a command's arguments. Help asked for is printed (see helpText) and
// ends the process with 0; a wrong option or value ends it with 1 after one
// line "ovalis-cli: command: what is wrong" on stderr. Qt's own --help-all,
// which QCommandLineParser::addHelpOption() adds, is refused as unknown.
void parse(QCommandLineParser &parser, const QString &command, const QStringList &arguments);

// A command's help: "Usage: ovalis-cli [--library DIR] command …", the
// parser's description, then its options and arguments with their
// descriptions in descriptionColumn, and a pointer to the options every
// command takes. Qt's own options are left out. An option's or argument's
// description is one paragraph: its line breaks become spaces.
QString helpText(const QCommandLineParser &parser, const QString &command);

// One entry of a help: name indented by two spaces, its description wrapped
// from descriptionColumn (on the next line when the name reaches it).
QString helpEntry(const QString &name, const QString &description);

} // namespace CommandArguments

} // namespace ovalis
