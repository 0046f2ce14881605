#include "cli/CommandArguments.h"

#include <QCommandLineParser>
#include <QTextStream>
#include <cstdio>
#include <cstdlib>

namespace ovalis::CommandArguments {

void parse(QCommandLineParser &parser, const QString &command, const QStringList &arguments)
{
    if (!parser.parse(QStringList{QStringLiteral("ovalis-cli ") + command} + arguments)) {
        // Qt's own message would begin with the application's display name.
        QTextStream(stderr) << "ovalis-cli: " << command << ": " << parser.errorText() << Qt::endl;
        std::fflush(stdout);
        std::exit(1);
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
}

} // namespace ovalis::CommandArguments
