// Times advanced find searches over a large library: the rule set's predicate
// built and the matching cases fetched from the main context newest first, as
// the Advanced Find window's search does. Each figure is printed with its budget.
//
//   build/advanced_find_benchmark [--library DIR] [--cases N] [--tags T]
//
// Without --library the library (100,000 cases, 2,000 tags, 3 media a case) is
// generated in a temporary directory; with it, a directory without a library
// is filled once and reused by later runs.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <algorithm>
#include <cstdio>

#include "BenchmarkReport.h"
#include "GeneratedLibrary.h"
#include "find/AdvancedFindPredicate.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/FetchRequest.h"
#include "store/LibraryGenerator.h"
#include "store/ManagedObjectContext.h"

using namespace ovalis;
using ovalis::bench::report;

namespace {

using Op = AdvancedFindOperator;
using Field = AdvancedFindField;

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

struct Search {
    const char *name;
    AdvancedFindCompoundType compoundType;
    QList<std::shared_ptr<AdvancedFindRule>> rules;
};

std::shared_ptr<AdvancedFindRule> rule(Field field, Op op, const QVariant &value = {})
{
    return std::make_shared<AdvancedFindRule>(field, op, value);
}

struct Timing {
    double wall = 0; // ms
    double cpu = 0;  // ms of this thread
};

// One search as the window runs it; the number of cases found.
qsizetype search(ManagedObjectContext *context, const Search &rules, Timing *timing)
{
    QElapsedTimer timer;
    timer.start();
    const double cpuStart = ovalis::bench::threadCpuMilliseconds();
    const std::optional<Predicate> predicate = AdvancedFindPredicate::forRules(rules.compoundType, rules.rules);
    if (!predicate)
        return -1;
    QString error;
    const QList<ManagedObject *> found = context->executeFetch(
        FetchRequest{Case::entityName(), *predicate, {{QStringLiteral("dateAdded"), false}}}, &error);
    timing->wall = double(timer.nsecsElapsed()) / 1e6;
    timing->cpu = ovalis::bench::threadCpuMilliseconds() - cpuStart;
    if (!error.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(error));
    return found.size();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false\n"));
    const bench::GeneratedLibrary generated(app.arguments());
    const std::unique_ptr<CoreDataStack> stack = generated.open();
    if (!stack)
        return 1;
    ManagedObjectContext *context = stack->mainContext();

    // Five rules of every kind of value: text, days, sex, presence and tag.
    const QList<Search> searches{
        {"all of five rules", AdvancedFindCompoundType::all,
         {rule(Field::summary, Op::contains, QStringLiteral("oma")),
          rule(Field::dateAdded, Op::isInTheLastNDays, AdvancedFindRule::makeDayCountValue(3650)),
          rule(Field::sex, Op::sexIsNot, AdvancedFindRule::makeSexValue(0)), rule(Field::hasMedia, Op::isTrue),
          rule(Field::tag, Op::doesNotContainTag, QStringLiteral("Neuro"))}},
        {"any of five rules", AdvancedFindCompoundType::any,
         {rule(Field::tag, Op::containsTag, QStringLiteral("ct")),
          rule(Field::summary, Op::beginsWith, QStringLiteral("left")), rule(Field::patientID, Op::isEmpty),
          rule(Field::dateOfDiagnosis, Op::isBefore, AdvancedFindRule::makeDateValue(QDateTime(QDate(1990, 1, 1), QTime(0, 0)))),
          rule(Field::detail, Op::contains, QStringLiteral("radiopaedia"))}},
    };

    // As in the application, where the library window's list already holds
    // every case, the searches run in a main context that has the cases.
    // Wall-clock figures on a machine shared with other work are inflated; the
    // thread's CPU time is what a search costs.
    const qsizetype libraryCases = context->executeFetch(FetchRequest{Case::entityName()}).size();
    for (const Search &each : searches) {
        Timing first;
        const qsizetype found = search(context, each, &first);
        QList<double> wall, cpu;
        for (int run = 0; run < 9; ++run) {
            Timing again;
            search(context, each, &again);
            wall << again.wall;
            cpu << again.cpu;
        }
        const QByteArray name = QByteArray("advanced find, ") + each.name;
        report((name + ", first search").constData(), first.wall, 100);
        report((name + ", again (median)").constData(), median(wall), 100);
        report((name + ", again (median CPU time)").constData(), median(cpu), 100);
        std::printf("  (%lld of %lld cases found)\n", qlonglong(found), qlonglong(libraryCases));
    }

    // For comparison: a search in a context that holds no case yet makes an
    // object of every case it finds.
    for (const Search &each : searches) {
        const std::unique_ptr<CoreDataStack> cold = generated.open();
        if (!cold)
            return 1;
        Timing timing;
        search(cold->mainContext(), each, &timing);
        std::printf("  (%s in a context without cases: %.1f ms, %.1f ms CPU time)\n", each.name, timing.wall, timing.cpu);
    }
    return 0;
}
