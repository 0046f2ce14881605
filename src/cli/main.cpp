#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>
#include <cstdio>
#include <cstdlib>

#include "BackupLibraryCommand.h"
#include "cli/CaseListing.h"
#include "ExportBackupCommand.h"
#include "cli/CommandArguments.h"
#include "ExportMediaCommand.h"
#include "ImportFolderCommand.h"
#include "cli/ImportDicomCommand.h"
#include "RestoreBackupCommand.h"
#include "RestoreLibraryCommand.h"
#include "cli/ImportV1Command.h"
#include "cli/FetchMissingCommand.h"
#include "cli/ServePeerCommand.h"
#include "cli/SyncCommand.h"
#include "find/AdvancedFindFavorites.h"
#include "find/AdvancedFindPredicate.h"
#include "exchange/CalendarDateText.h"
#include "library/LibraryQuery.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/LibraryGenerator.h"
#include "store/LibraryMaintenance.h"
#include "store/PersistentStore.h"
#include "util/SerialQueue.h"
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
                    "  stats                 Show the store file and the numbers of cases, media and tags.\n"
                    "  show ID               Show every case whose patient identifier is ID.\n"
                    "  list                  List matching cases, one line each, or as tsv or json.\n"
                    "  find                  List the cases that match advanced find rules or a favourite.\n"
                    "  generate              Add a synthetic library of realistic cases.\n"
                    "  maintenance           Repair or report on the library (see maintenance --help).\n"
                    "  export-backup FILE    Write every case to a JSON backup.\n"
                    "  restore-backup FILE   Add the cases of a JSON backup.\n"
                    "  backup-library FILE   Write the whole library (cases and media files) to a tar archive.\n"
                    "  restore-library FILE  Restore a whole-library archive (--into DIR for another library).\n"
                    "  export-media DIR      Copy the media files of the cases list would print into DIR.\n"
                    "  export-teaching DIR   Write those cases' de-identified DICOM files for a teaching site.\n"
                    "  import-folder DIR     Import a tree of folders holding images as cases.\n"
                    "  import-v1 FILE...     Import Ovalis version-1 documents as new cases.\n"
                    "  import-dicom PATH...  Import DICOM images, de-identified, one case per study.\n"
                    "  serve-peer            Advertise the library and answer peers' requests for media files.\n"
                    "  fetch-missing         Fetch the library's missing media files from a peer.\n"
                    "  sync                  Mirror the library on a PostgreSQL server (--once or --watch).\n"
                    "  sync-status           Show what waits to be sent to the mirror and what the server has.\n"
                    "\n"
                    "Options (before or after the command):\n"
                    "  --library DIR         The library directory (default ~/Ovalis).\n"
                    "  --verbose             Also write the library's log lines to standard error.\n"
                    "  -h, --help            Show this help, or a command's help after the command.\n"
                    "  --version             Show the version and exit.\n"
                    "\n"
                    "Exit status:\n"
                    "  0  The command did its work.\n"
                    "  1  The command line is wrong, or fetch-missing found no peer that would serve it.\n"
                    "  2  The library cannot be used: its folder cannot be made or its store cannot be opened.\n"
                    "  3  The work failed: a file could not be read or written, an import or restore was\n"
                    "     refused, the library could not be saved, or a sync failed.\n"
                    "  4  show found no case with the patient identifier.\n"
                    "  5  find was given rules that make no condition.\n";

// Ends a command that has written all it prints and saved nothing, at once:
// the objects it fetched and Qt are left to the end of the process, as freeing
// tens of thousands of objects one by one takes a good part of the time the
// listing itself took. The store is closed as usual, so that SQLite folds its
// log into the file when no one else has the library open.
[[noreturn]] void exitAfterReading(CoreDataStack &stack, int code)
{
    out().flush();
    err().flush();
    std::fflush(stdout);
    std::fflush(stderr);
    if (PersistentStore *store = stack.persistentStore())
        store->close();
    std::_Exit(code);
}

int fail(const QString &message, int code = 1)
{
    err() << "ovalis-cli: " << message << Qt::endl;
    return code;
}

bool openStack(CoreDataStack &stack)
{
    // A command that only reads has no use for the full check of the file;
    // one that writes runs it before its first save.
    stack.setChecksIntegrityInBackground(false);
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
    CommandArguments::parse(parser, QStringLiteral("stats"), arguments);
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
    CommandArguments::parse(parser, QStringLiteral("generate"), arguments);

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

// A calendar date as yyyy-MM-dd, whatever the locale; "-" for none.
QString dateText(const QDateTime &date)
{
    const QString text = CalendarDateText::format(date);
    return text.isEmpty() ? QStringLiteral("-") : text;
}

// A date and its local time as yyyy-MM-dd HH:mm; "-" for none.
QString dateTimeText(const QDateTime &date)
{
    return date.isValid() ? date.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QStringLiteral("-");
}

int runShow(const QString &library, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Shows every case whose patient identifier is exactly ID: identifier and its validity, age and sex,\n"
        "dates, summary, detail, tags, links (shown text and target) and media with their file state."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("ID"), QStringLiteral("The patient identifier."));
    CommandArguments::parse(parser, QStringLiteral("show"), arguments);
    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("show needs one patient identifier (see ovalis-cli show --help)"));
    const QString id = parser.positionalArguments().first();
    CoreDataStack stack(library);
    if (!openStack(stack))
        return 2;
    const QList<ManagedObject *> cases = stack.mainContext()->arrayOfObjects(
        Case::entityName(), Predicate::fromFormat(QStringLiteral("patientID == %@"), {id}),
        {{QStringLiteral("dateAdded"), true}});
    if (cases.isEmpty())
        return fail(QStringLiteral("no case has the patient identifier %1").arg(id), 4);
    QTextStream &o = out();
    for (qsizetype n = 0; n < cases.size(); ++n) {
        const auto *item = static_cast<Case *>(cases[n]);
        if (n > 0)
            o << "\n";
        o << "Patient identifier: " << item->patientID()
          << (item->patientIDisValid() ? "" : "  (not a valid NHI)") << "\n";
        o << "Age and sex:        " << item->abbreviatedAgeAndSexString() << "\n";
        o << "Date of birth:      " << dateText(item->dateOfBirth()) << "\n";
        o << "Date of diagnosis:  " << dateText(item->dateOfDiagnosis()) << "\n";
        o << "Date added:         " << dateTimeText(item->dateAdded()) << "\n";
        o << "Date modified:      " << dateTimeText(item->dateModified()) << "\n";
        o << "Summary:            " << (item->summary().isNull() ? QStringLiteral("-") : item->summary()) << "\n";
        o << "Detail:\n";
        const QString detail = item->detail();
        for (const QString &line : detail.isNull() ? QStringList{QStringLiteral("-")} : detail.split(QLatin1Char('\n')))
            o << "    " << line << "\n";
        o << "Tags:               " << item->tagList() << "\n";
        o << "Links:\n";
        bool anyLink = false;
        for (const StyledText::Run &run : item->urlsAttributedString().runs()) {
            if (!run.isLink())
                continue;
            o << "    " << run.text << "\t" << run.link << "\n";
            anyLink = true;
        }
        if (!anyLink)
            o << "    No links\n";
        o << "Media:\n";
        const QList<Media *> media = item->sortedMedia();
        if (media.isEmpty())
            o << "    none\n";
        for (const Media *m : media)
            o << "    " << m->description() << "\t" << (m->fileExists() ? "present" : "missing") << "\n";
    }
    o.flush();
    return 0;
}

const QString formatError = QStringLiteral("--format must be text, tsv or json");

// Prints the cases in the order given and ends the process.
[[noreturn]] void printCases(CoreDataStack &stack, const QList<ManagedObject *> &cases, CaseListing::Format format)
{
    CaseListing::write(out(), cases, format);
    exitAfterReading(stack, 0);
}

int runList(const QString &library, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lists the cases that carry every given tag and match the search, one line each:\n"
        "patient identifier, age in whole years (0 under a year), sex, date of diagnosis (yyyy-MM-dd)\n"
        "and the quoted summary, tab-separated. Newest date added first unless --sort says otherwise."));
    parser.addHelpOption();
    const QCommandLineOption searchOption(QStringLiteral("search"),
                                          QStringLiteral("Text to find, ignoring case and accents."), QStringLiteral("TEXT"));
    const QCommandLineOption scopeOption(QStringLiteral("scope"), QStringLiteral("Where to search: all, summary or patient-identifier (default all)."),
                                         QStringLiteral("SCOPE"), QStringLiteral("all"));
    const QCommandLineOption tagOption(QStringLiteral("tag"), QStringLiteral("A tag every listed case carries (repeatable)."),
                                       QStringLiteral("LABEL"));
    const QCommandLineOption sortOption(QStringLiteral("sort"), QStringLiteral("dateAdded, patientID or age."), QStringLiteral("KEY"));
    const QCommandLineOption descendingOption(QStringLiteral("descending"), QStringLiteral("Sort in descending order."));
    const QCommandLineOption formatOption = CaseListing::formatOption();
    parser.addOptions({searchOption, scopeOption, tagOption, sortOption, descendingOption, formatOption});
    CommandArguments::parse(parser, QStringLiteral("list"), arguments);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("list takes no arguments (see ovalis-cli list --help)"));
    const std::optional<CaseListing::Format> format = CaseListing::formatNamed(parser.value(formatOption));
    if (!format)
        return fail(formatError);

    const QString scopeText = parser.value(scopeOption);
    LibraryQuery::SearchScope scope = LibraryQuery::SearchScope::All;
    if (scopeText == QLatin1String("summary"))
        scope = LibraryQuery::SearchScope::Summary;
    else if (scopeText == QLatin1String("patient-identifier"))
        scope = LibraryQuery::SearchScope::PatientIdentifier;
    else if (scopeText != QLatin1String("all"))
        return fail(QStringLiteral("--scope must be all, summary or patient-identifier"));
    const QString sortKey = parser.isSet(sortOption) ? parser.value(sortOption) : QStringLiteral("dateAdded");
    if (!QStringList{QStringLiteral("dateAdded"), QStringLiteral("patientID"), QStringLiteral("age")}.contains(sortKey))
        return fail(QStringLiteral("--sort must be dateAdded, patientID or age"));
    const bool ascending = parser.isSet(sortOption) ? !parser.isSet(descendingOption) : false;

    CoreDataStack stack(library);
    if (!openStack(stack))
        return 2;
    for (const QString &label : parser.values(tagOption)) {
        const Predicate labelled = Predicate::fromFormat(QStringLiteral("label == %@"), {label});
        if (stack.mainContext()->arrayOfObjects(Tag::entityName(), labelled).isEmpty())
            err() << "ovalis-cli: no tag is labelled " << label << Qt::endl;
    }
    const Predicate predicate = LibraryQuery::casePredicate(
        parser.values(tagOption), LibraryQuery::searchPredicate(parser.value(searchOption), scope));
    QList<SortDescriptor> sort;
    if (sortKey == QLatin1String("patientID"))
        sort.append({sortKey, ascending, SortDescriptor::Comparator::LocalizedCaseInsensitive});
    else if (sortKey == QLatin1String("dateAdded"))
        sort.append({sortKey, ascending});
    QList<ManagedObject *> objects = stack.mainContext()->arrayOfObjects(Case::entityName(), predicate, sort);
    if (sortKey == QLatin1String("age")) {
        QList<Case *> cases;
        for (ManagedObject *object : std::as_const(objects))
            cases.append(static_cast<Case *>(object));
        LibraryQuery::sortByAge(cases, ascending);
        objects = QList<ManagedObject *>(cases.cbegin(), cases.cend());
    }
    printCases(stack, objects, *format);
}

// The rule set a find command names: the favourite (from the file or the
// user's settings) or the snapshots given as JSON. Fails with a message.
bool findRuleSet(const QCommandLineParser &parser, const QCommandLineOption &favoriteOption,
                 const QCommandLineOption &fileOption, const QCommandLineOption &rulesOption,
                 QList<AdvancedFindRuleSnapshot> *rules, AdvancedFindCompoundType *compoundType, QString *error)
{
    if (parser.isSet(rulesOption)) {
        const auto snapshots = AdvancedFindRuleSnapshot::listFromJson(parser.value(rulesOption).toUtf8(), error);
        if (!snapshots) {
            *error = QStringLiteral("--rules is not a JSON array of rules: ") + *error;
            return false;
        }
        *rules = *snapshots;
        return true;
    }
    QList<AdvancedFindFavorite> favorites;
    if (parser.isSet(fileOption)) {
        QFile file(parser.value(fileOption));
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
            return false;
        }
        const auto decoded = AdvancedFindFavorites::decode(file.readAll(), error);
        if (!decoded) {
            *error = QStringLiteral("%1 holds no favourites: %2").arg(file.fileName(), *error);
            return false;
        }
        favorites = *decoded;
        if (!parser.isSet(favoriteOption) && favorites.size() != 1) {
            *error = QStringLiteral("%1 holds %2 favourites: name one with --favorite").arg(file.fileName()).arg(favorites.size());
            return false;
        }
    } else {
        AdvancedFindFavorites stored(Settings::shared());
        stored.load();
        favorites = stored.favorites();
    }
    const qsizetype index = parser.isSet(favoriteOption)
                                ? AdvancedFindFavorites::indexOfLabel(favorites, parser.value(favoriteOption))
                                : 0;
    if (index < 0) {
        *error = QStringLiteral("no favourite is labelled %1").arg(parser.value(favoriteOption));
        return false;
    }
    *rules = favorites[index].rules;
    *compoundType = favorites[index].compoundType();
    return true;
}

int runFind(const QString &library, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lists the cases that match a set of advanced find rules, newest date added first, as list does.\n"
        "The rules come from a favourite saved in the Advanced Find window (--favorite), from a file holding\n"
        "favourites in their stored JSON form (--favorites-file), or from a JSON array of rules in the form a\n"
        "favourite's \"rules\" holds them (--rules), for example\n"
        "  '[{\"fieldIndex\":10,\"operatorRawValue\":15,\"stringValue\":\"CT\"},{\"fieldIndex\":8,\"operatorRawValue\":11}]'\n"
        "Every rule must hold, or at least one with --any; a favourite's own choice holds without --any."));
    parser.addHelpOption();
    const QCommandLineOption favoriteOption(QStringLiteral("favorite"), QStringLiteral("The label of a favourite (any letter case)."),
                                            QStringLiteral("NAME"));
    const QCommandLineOption fileOption(QStringLiteral("favorites-file"),
                                        QStringLiteral("A JSON file of favourites; --favorite picks one unless it holds one."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption rulesOption(QStringLiteral("rules"), QStringLiteral("A JSON array of rules."), QStringLiteral("JSON"));
    const QCommandLineOption anyOption(QStringLiteral("any"), QStringLiteral("Match cases for which at least one rule holds."));
    const QCommandLineOption formatOption = CaseListing::formatOption();
    parser.addOptions({favoriteOption, fileOption, rulesOption, anyOption, formatOption});
    CommandArguments::parse(parser, QStringLiteral("find"), arguments);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("find takes no arguments (see ovalis-cli find --help)"));
    const std::optional<CaseListing::Format> format = CaseListing::formatNamed(parser.value(formatOption));
    if (!format)
        return fail(formatError);
    if (parser.isSet(rulesOption) == (parser.isSet(favoriteOption) || parser.isSet(fileOption)))
        return fail(QStringLiteral("find needs --favorite NAME, --favorites-file FILE or --rules JSON (see ovalis-cli find --help)"));

    QList<AdvancedFindRuleSnapshot> snapshots;
    AdvancedFindCompoundType compoundType = AdvancedFindCompoundType::all;
    QString error;
    if (!findRuleSet(parser, favoriteOption, fileOption, rulesOption, &snapshots, &compoundType, &error))
        return fail(error);
    if (parser.isSet(anyOption))
        compoundType = AdvancedFindCompoundType::any;
    QList<std::shared_ptr<AdvancedFindRule>> rules;
    for (const AdvancedFindRuleSnapshot &snapshot : std::as_const(snapshots))
        rules << std::make_shared<AdvancedFindRule>(snapshot.toRule());
    const std::optional<Predicate> predicate = AdvancedFindPredicate::forRules(compoundType, rules);
    if (!predicate)
        return fail(QStringLiteral("No valid rules"), 5);

    CoreDataStack stack(library);
    if (!openStack(stack))
        return 2;
    FetchRequest request{Case::entityName(), *predicate, {{QStringLiteral("dateAdded"), false}}};
    const QList<ManagedObject *> cases = stack.mainContext()->executeFetch(request, &error);
    if (!error.isEmpty())
        return fail(QStringLiteral("Search failed: ") + error, 3);
    printCases(stack, cases, *format);
}

// The report of maintenance count, for a reader.
void printCount(ManagedObjectContext &context)
{
    out() << "Cases: " << context.countOfObjects(Case::entityName()) << "\n";
    out() << "Media: " << context.countOfObjects(Media::entityName()) << "\n";
    out() << "Tags: " << context.countOfObjects(Tag::entityName()) << Qt::endl;
}

// The report of maintenance tags: label, the number of cases carrying the
// tag, and whether the tag is an active filter of the library window.
void printTags(ManagedObjectContext &context)
{
    const QList<ManagedObject *> tags = context.arrayOfObjects(Tag::entityName(), Predicate(), {{QStringLiteral("label"), true}});
    for (ManagedObject *object : tags) {
        auto *tag = static_cast<Tag *>(object);
        const qsizetype cases = tag->cases().size();
        out() << (tag->label().isNull() ? QStringLiteral("?") : tag->label()) << "\t" << cases << (cases == 1 ? " case" : " cases")
              << (tag->active() ? "\tactive" : "") << "\n";
    }
    out().flush();
}

int runMaintenance(const QString &library, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs one repair or report (TASK) on the library and saves:\n")
        + CommandArguments::helpEntry(QStringLiteral("delete-orphaned-media"),
                                      QStringLiteral("Delete media records without a case, media files without a record "
                                                     "and empty media folders."))
        + CommandArguments::helpEntry(QStringLiteral("count"), QStringLiteral("Print the numbers of cases, media and tags."))
        + CommandArguments::helpEntry(QStringLiteral("tags"),
                                      QStringLiteral("Print every tag with its number of cases, marked when it is an active filter."))
        + CommandArguments::helpEntry(QStringLiteral("correct-date-added"),
                                      QStringLiteral("Set the date added of cases added over a year after diagnosis."))
        + CommandArguments::helpEntry(QStringLiteral("reset-history"), QStringLiteral("Delete the library's change history."))
        + CommandArguments::helpEntry(QStringLiteral("delete-all-data"),
                                      QStringLiteral("Delete every case, tag and media file (needs --yes)."))
        + QStringLiteral("The repairs log what they change; --verbose shows it."));
    parser.addHelpOption();
    const QCommandLineOption yesOption(QStringLiteral("yes"), QStringLiteral("Confirm delete-all-data; there is no undo."));
    parser.addOption(yesOption);
    parser.addPositionalArgument(QStringLiteral("TASK"), QStringLiteral("One of the tasks above."));
    CommandArguments::parse(parser, QStringLiteral("maintenance"), arguments);
    const QStringList positional = parser.positionalArguments();
    const QStringList commands{QStringLiteral("delete-orphaned-media"), QStringLiteral("count"), QStringLiteral("tags"),
                               QStringLiteral("correct-date-added"), QStringLiteral("reset-history"),
                               QStringLiteral("delete-all-data")};
    if (positional.size() != 1 || !commands.contains(positional.first()))
        return fail(QStringLiteral("maintenance needs one of: ") + commands.join(QStringLiteral(", ")));
    const QString command = positional.first();
    if (command == QLatin1String("delete-all-data") && !parser.isSet(yesOption))
        return fail(QStringLiteral("delete-all-data deletes every case, tag and media file and cannot be undone; "
                                   "run it again with --yes to go ahead"));
    CoreDataStack stack(library);
    if (!openStack(stack))
        return 2;
    LibraryMaintenance maintenance(stack.mainContext());
    if (command == QLatin1String("delete-orphaned-media")) {
        // As deleteOrphanedMedia, but the files of orphan records go before the
        // files are scanned: nobody is waiting on a window here.
        maintenance.deleteOrphanedRecords();
        stack.fileDeletionQueue()->waitForDone();
        maintenance.deleteOrphanedFiles();
        maintenance.deleteEmptyMediaFolders();
    }
    else if (command == QLatin1String("count"))
        printCount(*stack.mainContext());
    else if (command == QLatin1String("tags"))
        printTags(*stack.mainContext());
    else if (command == QLatin1String("correct-date-added"))
        maintenance.correctDateAdded();
    else if (command == QLatin1String("reset-history"))
        maintenance.resetCloudKitHistory();
    else
        maintenance.deleteAllData();
    QString error;
    if (!stack.mainContext()->save(&error))
        return fail(QStringLiteral("could not save: ") + error, 3);
    stack.fileDeletionQueue()->waitForDone();
    return 0;
}

// Why the directory cannot hold a library; empty when it is a directory or
// can be made one. Nothing is created.
QString unusableLibraryReason(const QString &directory)
{
    const QFileInfo info(directory);
    if (info.exists())
        return info.isDir() ? QString() : QStringLiteral("%1 is not a folder").arg(directory);
    QFileInfo ancestor(info.absolutePath());
    while (!ancestor.exists() && !ancestor.isRoot())
        ancestor.setFile(ancestor.absolutePath());
    if (!ancestor.isDir())
        return QStringLiteral("%1 cannot be made: %2 is not a folder").arg(directory, ancestor.absoluteFilePath());
    if (!ancestor.isWritable())
        return QStringLiteral("%1 cannot be made: %2 cannot be written").arg(directory, ancestor.absoluteFilePath());
    return QString();
}

// The options every command takes, before or after the command's name.
struct GlobalOptions {
    QString library;
    bool libraryGiven = false;
    bool verbose = false;
};

// Takes --library and --verbose out of the arguments wherever they stand
// before "--". False, after saying why, when one is wrong.
bool takeGlobalOptions(QStringList &arguments, GlobalOptions *options)
{
    for (qsizetype n = 0; n < arguments.size();) {
        const QString argument = arguments[n];
        if (argument == QLatin1String("--"))
            break;
        if (argument == QLatin1String("--verbose")) {
            options->verbose = true;
        } else if (argument == QLatin1String("--library")) {
            if (n + 1 >= arguments.size() || arguments[n + 1].isEmpty()) {
                fail(QStringLiteral("--library needs a directory"));
                return false;
            }
            options->library = QDir(arguments[n + 1]).absolutePath();
            options->libraryGiven = true;
            arguments.remove(n + 1);
        } else if (argument.startsWith(QLatin1String("--library="))) {
            if (argument.size() == 10) {
                fail(QStringLiteral("--library needs a directory"));
                return false;
            }
            options->library = QDir(argument.mid(10)).absolutePath();
            options->libraryGiven = true;
        } else {
            ++n;
            continue;
        }
        arguments.remove(n);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // Without TZ the C library looks at /etc/localtime again for every local
    // date; naming it once makes converting thousands of dates cheap.
    if (qEnvironmentVariableIsEmpty("TZ") && QFile::exists(QStringLiteral("/etc/localtime")))
        qputenv("TZ", ":/etc/localtime");
    // Taken before Qt sees them: QCoreApplication quietly takes some options
    // of its own (-qmljsdebugger=…) out of its arguments.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("vantor"));
    QCoreApplication::setApplicationName(QStringLiteral("Ovalis"));
    QCoreApplication::setApplicationVersion(QStringLiteral(OVALIS_VERSION));
    Log::install();
    Settings::registerApplicationDefaults();

    GlobalOptions options;
    options.library = CoreDataStack::defaultLibraryDirectory();
    if (!takeGlobalOptions(arguments, &options))
        return 1;
    // Log lines are for whoever asks for them; the commands say what a user
    // needs to know themselves.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(options.verbose ? QStringLiteral("*.debug=false\n*.info=true\n") : QStringLiteral("*=false\n"));
    if (!arguments.isEmpty() && (arguments.first() == QLatin1String("-h") || arguments.first() == QLatin1String("--help"))) {
        out() << usage;
        return 0;
    }
    // --version, like the options every command takes, may stand after the command.
    if (arguments.mid(0, arguments.indexOf(QStringLiteral("--"))).contains(QStringLiteral("--version"))) {
        out() << "ovalis-cli " << OVALIS_VERSION << Qt::endl;
        return 0;
    }
    if (!arguments.isEmpty() && arguments.first().startsWith(QLatin1Char('-')))
        return fail(QStringLiteral("unknown option %1 (see ovalis-cli --help)").arg(arguments.first()));
    if (arguments.isEmpty())
        return fail(QStringLiteral("no command given (see ovalis-cli --help)"));
    const QString command = arguments.takeFirst();
    if (command == QLatin1String("help"))
        return (out() << usage, 0);

    const QString unusable = unusableLibraryReason(options.library);
    if (!unusable.isEmpty() && options.libraryGiven)
        return fail(QStringLiteral("cannot use the library: ") + unusable, 2);
    if (!unusable.isEmpty()) {
        QString fallback = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (fallback.isEmpty())
            fallback = QDir::tempPath() + QStringLiteral("/Ovalis");
        err() << "ovalis-cli: cannot use the library: " << unusable << "; using " << fallback << " instead" << Qt::endl;
    }
    const QString &library = options.library;
    if (command == QLatin1String("stats"))
        return runStats(library, arguments);
    if (command == QLatin1String("generate"))
        return runGenerate(library, arguments);
    if (command == QLatin1String("show"))
        return runShow(library, arguments);
    if (command == QLatin1String("list"))
        return runList(library, arguments);
    if (command == QLatin1String("find"))
        return runFind(library, arguments);
    if (command == QLatin1String("maintenance"))
        return runMaintenance(library, arguments);
    if (command == QLatin1String("export-backup"))
        return runExportBackup(library, arguments);
    if (command == QLatin1String("restore-backup"))
        return runRestoreBackup(library, arguments);
    if (command == QLatin1String("backup-library"))
        return runBackupLibrary(library, arguments);
    if (command == QLatin1String("restore-library"))
        return runRestoreLibrary(library, arguments);
    if (command == QLatin1String("export-media"))
        return runExportMedia(library, arguments);
    if (command == QLatin1String("export-teaching"))
        return runExportTeaching(library, arguments);
    if (command == QLatin1String("import-folder"))
        return runImportFolder(library, arguments);
    if (command == QLatin1String("import-dicom"))
        return runImportDicom(library, arguments, options.verbose);
    if (command == QLatin1String("import-v1"))
        return runImportV1(library, arguments);
    if (command == QLatin1String("serve-peer"))
        return runServePeer(library, arguments);
    if (command == QLatin1String("fetch-missing"))
        return runFetchMissing(library, arguments);
    if (command == QLatin1String("sync"))
        return runSync(library, arguments);
    if (command == QLatin1String("sync-status"))
        return runSyncStatus(library, arguments);
    return fail(QStringLiteral("unknown command %1 (see ovalis-cli --help)").arg(command));
}
