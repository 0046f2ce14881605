#include "cli/ImportV1Command.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QMutex>
#include <QTextStream>
#include <optional>

#include "cli/CommandArguments.h"
#include "exchange/LabelledProgressInfo.h"
#include "exchange/OvalisOneImporter.h"
#include "store/CoreDataStack.h"
#include "util/NotificationCenter.h"

namespace ovalis {

namespace {

constexpr int progressStep = 100;

} // namespace

int runImportV1(const QString &library, const QStringList &arguments)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Imports documents of Ovalis version 1: every condition becomes a new case with its tags, text, dates,\n"
        "patient data and media. Documents are imported in the order given; one that cannot be opened ends\n"
        "the run (the ones before it stay imported)."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("A version-1 document (.ovalis)."), QStringLiteral("FILE..."));
    CommandArguments::parse(parser, QStringLiteral("import-v1"), arguments);
    QStringList paths;
    for (const QString &argument : parser.positionalArguments())
        paths.append(QFileInfo(argument).absoluteFilePath());
    if (paths.isEmpty()) {
        err << "ovalis-cli: import-v1 needs at least one document (see ovalis-cli import-v1 --help)" << Qt::endl;
        return 1;
    }

    CoreDataStack stack(library);
    stack.setChecksIntegrityInBackground(false);
    QString error;
    if (!stack.loadPersistentStores(&error)) {
        err << "ovalis-cli: " << error << Qt::endl;
        return 2;
    }

    // Progress arrives on the import's thread.
    QMutex errMutex;
    const ObserverToken progressToken = NotificationCenter::defaultCenter().addObserver(
        LabelledProgressInfo::notificationName, nullptr, [&](const Notification &notification) {
            const int count = notification.userInfo.value(LabelledProgressInfo::count).toInt();
            const int total = notification.userInfo.value(LabelledProgressInfo::total).toInt();
            if (count == 0 || (count != 1 && count != total && count % progressStep != 0))
                return;
            QMutexLocker locker(&errMutex);
            err << notification.userInfo.value(LabelledProgressInfo::label).toString() << ": " << count << " of " << total
                << " conditions" << Qt::endl;
        });

    std::optional<OvalisOneImportResult> result;
    QEventLoop loop;
    OvalisOneImporter::importDocuments(stack.mainContext(), paths, [&](const OvalisOneImportResult &finished) {
        result = finished;
        loop.quit();
    });
    if (!result)
        loop.exec();
    // The import's context is let go of on this thread.
    QCoreApplication::processEvents();

    out << "Documents imported: " << result->importedDocuments.size() << " of " << paths.size() << Qt::endl;
    out << "Conditions: " << result->conditions << Qt::endl;
    out << "Cases created: " << result->cases << Qt::endl;
    out << "Media created: " << result->media << Qt::endl;
    out << "Tags created: " << result->tagsCreated << Qt::endl;
    for (const QString &skipped : std::as_const(result->skippedDocuments))
        err << "ovalis-cli: the conditions of " << skipped << " could not be read; it was skipped" << Qt::endl;
    if (result->succeeded())
        return 0;
    if (result->modelMissing)
        err << "ovalis-cli: " << result->failureMessage() << Qt::endl;
    else
        err << "ovalis-cli: could not open " << result->failedDocument << ": " << result->failureReason << Qt::endl;
    return 3;
}

} // namespace ovalis
