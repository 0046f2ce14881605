#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>
#include <cstdio>

#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/LibraryGenerator.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/Tag.h"
#include "util/Log.h"
#include "util/Settings.h"

using namespace ovalis;

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

const char *usage = "Usage: ovalis-cli [--library DIR] COMMAND [OPTIONS]\n"
                    "\n"
                    "Works on an Ovalis library (default ~/Ovalis) without the desktop application.\n"
                    "\n"
                    "Commands:\n"
                    "  stats       Show the store file and the numbers of cases, media and tags.\n"
                    "  generate    Add a synthetic library of realistic cases.\n"
                    "\n"
                    "Options:\n"
                    "  --library DIR   The library directory (default ~/Ovalis).\n"
                    "  -h, --help      Show this help, or a command's help after the command.\n";

int fail(const QString &message, int code = 1)
{
    err() << "ovalis-cli: " << message << Qt::endl;
    return code;
}

bool openStack(CoreDataStack &stack)
{
    QString error;
    if (!stack.loadPersistentStores(&error)) {
        fail(error, 2);
        return false;
    }
    return true;
}

int runStats(const QString &library, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows the store file and the numbers of cases, media and tags."));
    parser.addHelpOption();
    parser.process(QStringList{QStringLiteral("ovalis-cli stats")} + arguments);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("stats takes no arguments"));
    CoreDataStack stack(library);
    if (!openStack(stack))
        return 2;
    ManagedObjectContext *context = stack.mainContext();
    out() << "Store: " << stack.storePath() << Qt::endl;
    out() << "Cases: " << context->countOfObjects(Case::entityName()) << Qt::endl;
    out() << "Media: " << context->countOfObjects(Media::entityName()) << Qt::endl;
    out() << "Tags: " << context->countOfObjects(Tag::entityName()) << Qt::endl;
    return 0;
}

int runGenerate(const QString &library, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Adds a realistic synthetic library: patient identifiers (some valid NHIs), dates, short summaries,\n"
        "details with some web links, tags of skewed popularity and media records."));
    parser.addHelpOption();
    const QCommandLineOption casesOption(QStringLiteral("cases"), QStringLiteral("Number of cases to add (required)."), QStringLiteral("N"));
    const QCommandLineOption tagsOption(QStringLiteral("tags"), QStringLiteral("Number of tags (default 50)."), QStringLiteral("T"), QStringLiteral("50"));
    const QCommandLineOption mediaOption(QStringLiteral("media-per-case"), QStringLiteral("Average media per case (default 3)."), QStringLiteral("M"), QStringLiteral("3"));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("Random seed (default 1)."), QStringLiteral("S"), QStringLiteral("1"));
    const QCommandLineOption filesOption(QStringLiteral("with-files"), QStringLiteral("Also write small JPEG/PNG files into the media directory."));
    parser.addOptions({casesOption, tagsOption, mediaOption, seedOption, filesOption});
    parser.process(QStringList{QStringLiteral("ovalis-cli generate")} + arguments);

    auto number = [&](const QCommandLineOption &option, qint64 minimum, qint64 *value) {
        bool ok = false;
        *value = parser.value(option).toLongLong(&ok);
        return ok && *value >= minimum;
    };
    if (!parser.isSet(casesOption))
        return fail(QStringLiteral("generate needs --cases N (see ovalis-cli generate --help)"));
    qint64 cases = 0, tags = 0, media = 0, seed = 0;
    if (!number(casesOption, 1, &cases) || cases > 10'000'000)
        return fail(QStringLiteral("--cases must be a number from 1 to 10000000"));
    if (!number(tagsOption, 0, &tags) || tags > 100'000)
        return fail(QStringLiteral("--tags must be a number from 0 to 100000"));
    if (!number(mediaOption, 0, &media) || media > 1000)
        return fail(QStringLiteral("--media-per-case must be a number from 0 to 1000"));
    if (!number(seedOption, 0, &seed))
        return fail(QStringLiteral("--seed must be a non-negative number"));

    CoreDataStack stack(library);
    if (!openStack(stack))
        return 2;
    LibraryGenerator::Options options;
    options.cases = int(cases);
    options.tags = int(tags);
    options.mediaPerCase = int(media);
    options.seed = quint64(seed);
    options.withFiles = parser.isSet(filesOption);
    QString error;
    const bool ok = LibraryGenerator(&stack).generate(options, &error, [](int done, int total) {
        err() << "Generated " << done << " of " << total << " cases" << Qt::endl;
    });
    if (!ok)
        return fail(QStringLiteral("could not save the generated cases: ") + error, 3);
    out() << "Added " << cases << " cases to " << stack.storePath() << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("vantor"));
    QCoreApplication::setApplicationName(QStringLiteral("Ovalis"));
    Log::install();
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false\n"));
    Settings::registerApplicationDefaults();

    QStringList arguments = app.arguments().mid(1);
    QString library = CoreDataStack::defaultLibraryDirectory();
    while (!arguments.isEmpty() && arguments.first().startsWith(QLatin1Char('-'))) {
        const QString option = arguments.takeFirst();
        if (option == QLatin1String("-h") || option == QLatin1String("--help")) {
            out() << usage;
            return 0;
        }
        if (option == QLatin1String("--library")) {
            if (arguments.isEmpty())
                return fail(QStringLiteral("--library needs a directory"));
            library = QDir(arguments.takeFirst()).absolutePath();
        } else if (option.startsWith(QLatin1String("--library="))) {
            library = QDir(option.mid(10)).absolutePath();
        } else {
            return fail(QStringLiteral("unknown option %1\n\n%2").arg(option, QString::fromLatin1(usage)));
        }
    }
    if (arguments.isEmpty())
        return fail(QStringLiteral("no command given\n\n") + QString::fromLatin1(usage));
    const QString command = arguments.takeFirst();
    if (command == QLatin1String("stats"))
        return runStats(library, arguments);
    if (command == QLatin1String("generate"))
        return runGenerate(library, arguments);
    if (command == QLatin1String("help"))
        return (out() << usage, 0);
    return fail(QStringLiteral("unknown command %1\n\n%2").arg(command, QString::fromLatin1(usage)));
}
