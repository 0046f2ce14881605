// Times the library store at the scale a radiologist's library reaches:
// 100,000 cases, 300,000 media records and 2,000 tags.
//
//   build/store_benchmark [--library DIR] [--cases N] [--tags T] [--media-per-case M]
//
// Without --library the library is generated in a temporary directory first.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <cstdio>

#include "BenchmarkReport.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/FetchedResultsController.h"
#include "store/LibraryGenerator.h"
#include "store/ManagedObjectContext.h"
#include "store/Tag.h"
#include "util/Log.h"

using namespace ovalis;
using ovalis::bench::report;

namespace {

class NullDelegate : public FetchedResultsControllerDelegate
{
public:
    void controllerWillChangeContent(FetchedResultsController *) override {}
    void controllerDidChangeObject(FetchedResultsController *, ManagedObject *, std::optional<int>, ChangeType,
                                   std::optional<int>) override
    {
        ++changes;
    }
    void controllerDidChangeContent(FetchedResultsController *) override {}
    int changes = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false\n"));
    QString library;
    LibraryGenerator::Options options;
    options.cases = 100000;
    options.tags = 2000;
    options.mediaPerCase = 3;
    const QStringList arguments = app.arguments();
    for (int i = 1; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == QLatin1String("--library"))
            library = arguments[i + 1];
        else if (arguments[i] == QLatin1String("--cases"))
            options.cases = arguments[i + 1].toInt();
        else if (arguments[i] == QLatin1String("--tags"))
            options.tags = arguments[i + 1].toInt();
        else if (arguments[i] == QLatin1String("--media-per-case"))
            options.mediaPerCase = arguments[i + 1].toInt();
    }
    QTemporaryDir temporary;
    QElapsedTimer timer;
    if (library.isEmpty()) {
        library = temporary.filePath(QStringLiteral("Ovalis"));
        CoreDataStack stack(library);
        QString error;
        if (!stack.loadPersistentStores(&error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        timer.start();
        if (!LibraryGenerator(&stack).generate(options, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        std::printf("generated %d cases, %d tags, ~%d media per case in %.1f s\n", options.cases, options.tags,
                    options.mediaPerCase, double(timer.elapsed()) / 1000.0);
    }

    CoreDataStack stack(library);
    QString error;
    timer.start();
    if (!stack.loadPersistentStores(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    ManagedObjectContext *context = stack.mainContext();
    QList<ManagedObject *> all = context->arrayOfObjects(Case::entityName());
    report("open store and load every case into the main context", double(timer.nsecsElapsed()) / 1e6, 1500);
    std::printf("  (%lld cases, %d media, %d tags)\n", qlonglong(all.size()), context->countOfObjects(QStringLiteral("Media")),
                context->countOfObjects(Tag::entityName()));

    // Two tag terms and a three-key search, as the library window builds them.
    // The generator's most popular tags, so that the query has work to do.
    const QStringList popular{QStringLiteral("Neuro"), QStringLiteral("Chest"), QStringLiteral("MSK"),
                              QStringLiteral("Abdomen"), QStringLiteral("Paediatric")};
    QList<double> searchTimes;
    qsizetype matches = 0;
    for (int run = 0; run < 7; ++run) {
        const QString first = popular[run % 2];
        const QString second = popular[2 + run % 3];
        const QString text = run % 2 ? QStringLiteral("smith") : QStringLiteral("follow");
        const Predicate search = Predicate::fromFormat(
            QStringLiteral("summary contains[cd] %@ OR detail contains[cd] %@ OR patientID contains[cd] %@"), {text, text, text});
        const Predicate predicate = Predicate::andPredicate(
            {Predicate::fromFormat(QStringLiteral("ANY tags.label == %@"), {first}),
             Predicate::fromFormat(QStringLiteral("ANY tags.label == %@"), {second}), search});
        timer.start();
        matches = context->arrayOfObjects(Case::entityName(), predicate).size();
        searchTimes.append(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(searchTimes.begin(), searchTimes.end());
    report("fetch: two ANY tags.label terms and a 3-key contains[cd] (median)", searchTimes[searchTimes.size() / 2], 50);
    std::printf("  (%lld matches in the last run; slowest %.1f ms)\n", qlonglong(matches), searchTimes.last());

    // Search alone, over every case's text.
    timer.start();
    const qsizetype searchOnly = context->arrayOfObjects(
        Case::entityName(), Predicate::fromFormat(QStringLiteral("summary contains[cd] %@ OR detail contains[cd] %@ OR patientID contains[cd] %@"),
                                                  {QStringLiteral("smith"), QStringLiteral("smith"), QStringLiteral("smith")})).size();
    std::printf("  search alone: %.1f ms, %lld matches\n", double(timer.nsecsElapsed()) / 1e6, qlonglong(searchOnly));

    // A live list over every case, sorted by date added, and 100 changed cases.
    FetchedResultsController controller({Case::entityName(), {}, {{QStringLiteral("dateAdded"), false}}}, context);
    NullDelegate delegate;
    controller.setDelegate(&delegate);
    timer.start();
    controller.performFetch();
    std::printf("  result controller first fetch: %.1f ms\n", double(timer.nsecsElapsed()) / 1e6);
    for (int i = 0; i < 100; ++i) {
        auto *item = static_cast<Case *>(all[(i * 997) % all.size()]);
        item->setSummary(QStringLiteral("changed %1").arg(i));
        if (i % 4 == 0)
            item->setDateAdded(QDateTime::currentDateTimeUtc().addSecs(i));
    }
    timer.start();
    context->processPendingChanges();
    report("result-controller batch for 100 changed cases", double(timer.nsecsElapsed()) / 1e6, 20);
    context->saveWithParent(true);

    // 1,000 edited cases saved.
    for (int i = 0; i < 1000; ++i)
        static_cast<Case *>(all[(i * 89) % all.size()])->setDetail(QStringLiteral("edited detail %1").arg(i));
    context->processPendingChanges();
    timer.start();
    context->saveWithParent(true);
    report("save 1,000 edited cases", double(timer.nsecsElapsed()) / 1e6, 200);

    // 10,000 cases inserted in a child context and saved with the parent.
    auto child = stack.newBackgroundContext();
    timer.start();
    child->performAndWait([&] {
        for (int i = 0; i < 10000; ++i) {
            auto *item = child->insertNew<Case>();
            item->setPatientID(QStringLiteral("BENCH%1").arg(i));
            item->setSummary(QStringLiteral("inserted case %1").arg(i));
            item->setDetail(QStringLiteral("A detail of a few words for the inserted case number %1.").arg(i));
        }
        child->saveWithParent(true);
    });
    report("insert 10,000 cases in a child context, save with parent", double(timer.nsecsElapsed()) / 1e6, 2000);
    std::printf("  (%d batch callbacks seen by the live list)\n", delegate.changes);

    ovalis::bench::reportPeakMemory(600);
    return 0;
}
