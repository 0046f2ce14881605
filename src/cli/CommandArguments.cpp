#include "cli/CommandArguments.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QTextStream>
#include <cstdio>
#include <cstdlib>

namespace ovalis::CommandArguments {

namespace {

const QLatin1StringView qtHelpAll("help-all");

[[noreturn]] void failParsing(const QString &command, const QString &message)
{
    // Qt's own message would begin with the application's display name.
    QTextStream(stderr) << "ovalis-cli: " << command << ": " << message << Qt::endl;
    std::fflush(stdout);
    std::exit(1);
}

struct Entry {
    QString name;
    QString description;
};

// The entries of one section of Qt's help ("Options:", "Arguments:"), from
// the line after its heading to the blank line that ends it. An entry starts
// with two spaces and its name, which never holds two spaces in a row; the
// lines Qt wrapped its description into are indented further.
QList<Entry> sectionEntries(const QStringList &lines, qsizetype *at)
{
    QList<Entry> entries;
    for (; *at < lines.size() && !lines[*at].trimmed().isEmpty(); ++*at) {
        const QString &line = lines[*at];
        if (line.startsWith(QLatin1String("   ")) && !entries.isEmpty()) {
            entries.last().description += QLatin1Char(' ') + line.trimmed();
            continue;
        }
        const QString entry = line.trimmed();
        const qsizetype gap = entry.indexOf(QLatin1String("  "));
        entries.append({gap < 0 ? entry : entry.left(gap), gap < 0 ? QString() : entry.mid(gap).trimmed()});
    }
    return entries;
}

// An option's names as the tool's own help writes them: "--into DIR", not "--into <DIR>".
QString optionName(const QString &qtName)
{
    static const QRegularExpression valueName(QStringLiteral(" <([^>]*)>$"));
    QString name = qtName;
    return name.replace(valueName, QStringLiteral(" \\1"));
}

} // namespace

QString helpEntry(const QString &name, const QString &description)
{
    QString text = QStringLiteral("  ") + name;
    if (description.isEmpty())
        return text + QLatin1Char('\n');
    const QString indent(descriptionColumn, QLatin1Char(' '));
    if (text.size() + 2 > descriptionColumn)
        text += QLatin1Char('\n') + indent;
    else
        text += QString(descriptionColumn - text.size(), QLatin1Char(' '));
    qsizetype column = descriptionColumn;
    bool lineStart = true;
    for (const QString &word : description.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!lineStart && column + 1 + word.size() > helpWidth) {
            text += QLatin1Char('\n') + indent;
            column = descriptionColumn;
            lineStart = true;
        }
        if (!lineStart) {
            text += QLatin1Char(' ');
            ++column;
        }
        text += word;
        column += word.size();
        lineStart = false;
    }
    return text + QLatin1Char('\n');
}

QString helpText(const QCommandLineParser &parser, const QString &command)
{
    const QStringList lines = parser.helpText().split(QLatin1Char('\n'));
    // Qt's first line names the program as it was started, then "[options]"
    // and the arguments' syntax.
    QString usage = lines.value(0);
    const QString qtPrefix = QStringLiteral("Usage: ") + QCoreApplication::arguments().value(0);
    if (usage.startsWith(qtPrefix))
        usage = usage.mid(qtPrefix.size());
    usage.replace(QLatin1String("[options]"), QLatin1String("[OPTIONS]"));
    QString text = QStringLiteral("Usage: ovalis-cli [--library DIR] ") + command + usage + QStringLiteral("\n\n");

    qsizetype at = 1;
    for (; at < lines.size() && lines[at] != QLatin1String("Options:") && lines[at] != QLatin1String("Arguments:"); ++at)
        text += lines[at] + QLatin1Char('\n');
    for (; at < lines.size(); ++at) {
        if (lines[at] != QLatin1String("Options:") && lines[at] != QLatin1String("Arguments:"))
            continue;
        const bool options = lines[at] == QLatin1String("Options:");
        text += lines[at++] + QLatin1Char('\n');
        for (const Entry &entry : sectionEntries(lines, &at)) {
            if (!options) {
                text += helpEntry(entry.name, entry.description);
            } else if (entry.name == QLatin1String("-h, --help")) {
                text += helpEntry(entry.name, QStringLiteral("Show this help."));
            } else if (entry.name != QLatin1String("--") + qtHelpAll) {
                text += helpEntry(optionName(entry.name), entry.description);
            }
        }
        text += QLatin1Char('\n');
    }
    if (!text.endsWith(QLatin1String("\n\n")))
        text += QLatin1Char('\n');
    text += QStringLiteral("Every command also takes --library DIR and --verbose (see ovalis-cli --help).\n");
    return text;
}

void parse(QCommandLineParser &parser, const QString &command, const QStringList &arguments)
{
    if (!parser.parse(QStringList{QStringLiteral("ovalis-cli ") + command} + arguments))
        failParsing(command, parser.errorText());
    // Options found on the command line; naming one the parser does not know
    // here would only draw a warning.
    const QStringList given = parser.optionNames();
    if (given.contains(qtHelpAll))
        failParsing(command, QStringLiteral("Unknown option '%1'.").arg(qtHelpAll));
    if (given.contains(QStringLiteral("help")) || given.contains(QStringLiteral("h"))) {
        QTextStream(stdout) << helpText(parser, command);
        std::fflush(stdout);
        std::exit(0);
    }
}

} // namespace ovalis::CommandArguments
