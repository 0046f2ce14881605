// Times the library window at library scale, headless (offscreen platform):
// start to a painted window, search keystrokes typed into the search field
// (the first without a click into it first),
// a tag switched on and off from the tag list, and a batch of edited cases
// reaching the case list.
//
//   build/window_benchmark [--library DIR] [--cases N] [--tags T] [--background-texts yes|no]
//
// Without --library the library is generated in a temporary directory first.
// --background-texts no leaves the search texts to be read by the first
// search, on the UI thread, for comparison.
#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QLoggingCategory>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

#include "BenchmarkReport.h"
#include "library/LibraryWithTagsViewController.h"
#include "library/TagTableModel.h"
#include "library/ui/LibraryWindowController.h"
#include "library/ui/LibraryWithTagsView.h"
#include "library/ui/SearchField.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/LibraryGenerator.h"
#include "store/ManagedObjectContext.h"
#include "store/Tag.h"
#include "util/Settings.h"

using namespace ovalis;
using ovalis::bench::report;

namespace {

double median(QList<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Lets queued work (scrolls, deferred layout) run and paints the window.
void paint(QWidget *window)
{
    QCoreApplication::processEvents();
    window->grab();
}

} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false\n"));
    QString library;
    LibraryGenerator::Options options;
    options.cases = 100000;
    options.tags = 2000;
    options.mediaPerCase = 3;
    bool backgroundTexts = true;
    const QStringList arguments = app.arguments();
    for (int i = 1; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == QLatin1String("--library"))
            library = arguments[i + 1];
        else if (arguments[i] == QLatin1String("--cases"))
            options.cases = arguments[i + 1].toInt();
        else if (arguments[i] == QLatin1String("--tags"))
            options.tags = arguments[i + 1].toInt();
        else if (arguments[i] == QLatin1String("--background-texts"))
            backgroundTexts = arguments[i + 1] != QLatin1String("no");
    }
    QTemporaryDir temporary;
    Settings::setSharedForTesting(std::make_unique<QSettings>(temporary.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat));
    Settings::registerApplicationDefaults();
    if (library.isEmpty()) {
        library = temporary.filePath(QStringLiteral("Ovalis"));
        CoreDataStack stack(library);
        QString error;
        QElapsedTimer timer;
        timer.start();
        if (!stack.loadPersistentStores(&error) || !LibraryGenerator(&stack).generate(options, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        std::printf("generated %d cases, %d tags in %.1f s\n", options.cases, options.tags, double(timer.elapsed()) / 1000.0);
        sinceStart.start(); // the start is timed from here
    }

    CoreDataStack stack(library);
    stack.setReadsSearchTextsInBackground(backgroundTexts);
    QString error;
    if (!stack.loadPersistentStores(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    auto window = std::make_unique<LibraryWindowController>(stack);
    window->resize(1280, 800);
    window->show();
    paint(window.get());
    report("start: open store, build the window, first paint", double(sinceStart.nsecsElapsed()) / 1e6, 2500);
    LibraryWithTagsViewController *controller = window->libraryViewController();
    std::printf("  (%lld cases listed, %d tags)\n", qlonglong(controller->displayedCases().size()),
                controller->tagsModel()->rowCount());

    QElapsedTimer timer;
    // The first case selected: its details and its links to the patient's
    // other cases (a search of patient ids) shown and painted.
    timer.start();
    controller->selectCaseRows({0});
    paint(window.get());
    report("first case selected, its details painted", double(timer.nsecsElapsed()) / 1e6, 50);
    // The user starts typing a moment after the window appears, without
    // clicking into the search field first: the first keystroke finds the
    // search texts only if they were read in the background since the store
    // opened (or by the links search above, on this thread).
    QApplication::setActiveWindow(window.get());
    QElapsedTimer reaction;
    reaction.start();
    while (reaction.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    // Typing "smith" one letter at a time, a case selected; each keystroke
    // re-queries, updates the table, restores the selection and repaints.
    QList<double> keystrokes;
    QList<double> keystrokesCpu;
    for (int run = 0; run < 3; ++run) {
        const QString word = run % 2 ? QStringLiteral("follow") : QStringLiteral("smith");
        for (int length = 1; length <= word.size(); ++length) {
            const double cpuBefore = ovalis::bench::threadCpuMilliseconds();
            timer.start();
            window->searchField()->setText(word.left(length));
            paint(window.get());
            keystrokes.append(double(timer.nsecsElapsed()) / 1e6);
            keystrokesCpu.append(ovalis::bench::threadCpuMilliseconds() - cpuBefore);
        }
        window->searchField()->clear();
    }
    report("search keystroke (median of 16)", median(keystrokes), 16);
    report("search keystroke, slowest (first one included)", *std::max_element(keystrokes.cbegin(), keystrokes.cend()), 50);
    std::printf("  (first keystroke %.1f ms, CPU %.1f ms; median CPU time of the UI thread %.1f ms)\n",
                keystrokes.first(), keystrokesCpu.first(), median(keystrokesCpu));

    // A popular tag switched on and off from the tag list.
    QList<double> toggles;
    QList<double> togglesCpu;
    for (int run = 0; run < 6; ++run) {
        const double cpuBefore = ovalis::bench::threadCpuMilliseconds();
        timer.start();
        controller->toggleTagActivity(0);
        paint(window.get());
        toggles.append(double(timer.nsecsElapsed()) / 1e6);
        togglesCpu.append(ovalis::bench::threadCpuMilliseconds() - cpuBefore);
    }
    report("toggle a tag: activity, both re-queries, repaint (median)", median(toggles), 150);
    std::printf("  (median CPU time of the UI thread %.1f ms)\n", median(togglesCpu));

    // 100 listed cases edited at once, as an import or sync would.
    QList<double> batches;
    for (int run = 0; run < 5; ++run) {
        const QList<Case *> shown = controller->displayedCases();
        for (int i = 0; i < 100 && i < shown.size(); ++i)
            shown[i * 7 % shown.size()]->setSummary(QStringLiteral("Edited %1 %2").arg(run).arg(i));
        timer.start();
        stack.mainContext()->processPendingChanges();
        batches.append(double(timer.nsecsElapsed()) / 1e6);
        paint(window.get());
    }
    report("batch of 100 changed cases applied to the case list (median)", median(batches), 20);

    ovalis::bench::reportPeakMemory(700);
    window.reset();
    Settings::setSharedForTesting(nullptr);
    return 0;
}
