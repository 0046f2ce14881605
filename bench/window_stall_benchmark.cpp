// How long the library window stops answering while long jobs run, headless
// (offscreen platform), on a generated library (100,000 cases, 300,000
// media, 2,000 tags unless told). A 4 ms timer on the main thread records how
// late each tick fires while a job runs; the job is started through the
// window's own command, as a user would: Back Up Records (JSON), Restore from
// Backup of that file, Import from Folder of 2,000 images, Export Media of
// 1,000 selected cases and the missing-media scan. Also times search
// keystrokes (the first one included, typed as the field takes the focus),
// tag toggles, and the peak memory of a process that only restores the
// backup (`ovalis-cli restore-backup` into an empty library), with its duration.
//
//   build/window_stall_benchmark [--library DIR] [--cases N] [--tags T]
//                                [--images N] [--export-cases N] [--jobs LIST]
//
// --jobs takes a comma-separated subset of search,tags,backup,import,
// export,scan,restore,memory (default all). The restore adds the backup's
// cases to the library, so a library given with --library grows: it runs last.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLoggingCategory>
#include <QStatusBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

#include "BenchmarkReport.h"
#include "ChildPeakMemory.h"
#include "GeneratedLibrary.h"
#include "LatencyProbe.h"
#include "exchange/ui/BackupCommands.h"
#include "library/LibraryWithTagsViewController.h"
#include "library/TagTableModel.h"
#include "library/ui/LibraryWindowController.h"
#include "library/ui/LibraryWithTagsView.h"
#include "library/ui/SearchField.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/Media.h"
#include "transfer/OvalisMissingMediaManager.h"
#include "util/Settings.h"

using namespace ovalis;
using ovalis::bench::LatencyProbe;
using ovalis::bench::childPeakMemoryKiB;

namespace {

double median(QList<double> times)
{
    std::sort(times.begin(), times.end());
    return times.isEmpty() ? 0.0 : times[times.size() / 2];
}

// Lets queued work (scrolls, deferred layout) run and paints the window.
void paint(QWidget *window)
{
    QCoreApplication::processEvents();
    window->grab();
}

// The lines of the closing table: a figure against its budget.
struct Figure {
    QString name;
    double value;
    double budget;
    const char *unit;
};

class Figures
{
public:
    void add(const QString &name, double value, double budget, const char *unit = "ms")
    {
        m_figures.append({name, value, budget, unit});
        std::printf("  %-56s %9.1f %s\n", qPrintable(name), value, unit);
        std::fflush(stdout);
    }

    void print() const
    {
        std::printf("\n%-62s %10s %10s\n", "figure", "measured", "budget");
        for (const Figure &figure : m_figures)
            std::printf("%-62s %7.1f %-2s %7.0f %-2s %s\n", qPrintable(figure.name), figure.value, figure.unit,
                        figure.budget, figure.unit, figure.value <= figure.budget ? "ok" : "OVER");
        std::fflush(stdout);
    }

private:
    QList<Figure> m_figures;
};

// Runs one job with the probe ticking: start begins it and calls the
// function it is given once the job has ended. Adds the job's duration and
// its longest and 99th-percentile stall.
void probeJob(const QString &name, Figures &figures, double durationBudget,
              const std::function<void(std::function<void()> finished)> &start)
{
    LatencyProbe probe;
    bool done = false;
    QElapsedTimer timer;
    const double cpuBefore = ovalis::bench::threadCpuMilliseconds();
    probe.start();
    timer.start();
    start([&done] { done = true; });
    ovalis::bench::waitFor(done);
    const double duration = double(timer.nsecsElapsed()) / 1e6;
    probe.stop();
    const double cpu = ovalis::bench::threadCpuMilliseconds() - cpuBefore;
    std::printf("%s: %.0f ms, main-thread CPU %.0f ms, %lld ticks\n", qPrintable(name), duration, cpu,
                qlonglong(probe.ticks()));
    figures.add(name + QStringLiteral(": longest stall"), probe.longest(), 50);
    figures.add(name + QStringLiteral(": 99th-percentile stall"), probe.percentile(99), 20);
    if (durationBudget > 0)
        figures.add(name + QStringLiteral(": duration"), duration, durationBudget);
}

// count small PNG images in folders of ten, one folder a case.
void writeImageFolder(const QString &root, int count)
{
    QImage image(64, 64, QImage::Format_RGB32);
    for (int i = 0; i < count; ++i) {
        const QString folder = root + QStringLiteral("/Stall %1").arg(i / 10, 4, 10, QLatin1Char('0'));
        QDir().mkpath(folder);
        image.fill(QColor::fromHsv(i % 360, 200, 200));
        image.save(folder + QStringLiteral("/image %1.png").arg(i % 10, 2, 10, QLatin1Char('0')));
    }
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false\n"));
    const QStringList arguments = app.arguments();
    ovalis::bench::GeneratedLibrary generated(arguments);
    int images = 2000;
    int exportCases = 1000;
    QStringList jobs{"search", "tags", "backup", "import", "export", "scan", "restore", "memory"};
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--images"))
            images = arguments[++i].toInt();
        else if (arguments[i] == QLatin1String("--export-cases"))
            exportCases = arguments[++i].toInt();
        else if (arguments[i] == QLatin1String("--jobs"))
            jobs = arguments[++i].split(QLatin1Char(','));
    }
    const QString library = generated.prepare();
    if (library.isEmpty())
        return 1;
    QTemporaryDir temporary;
    Settings::setSharedForTesting(std::make_unique<QSettings>(temporary.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat));
    Settings::registerApplicationDefaults();
    std::unique_ptr<CoreDataStack> stack = ovalis::bench::openLibraryAt(library);
    if (!stack)
        return 1;
    Figures figures;
    auto window = std::make_unique<LibraryWindowController>(*stack);
    window->resize(1280, 800);
    window->show();
    QApplication::setActiveWindow(window.get());
    paint(window.get());
    LibraryWithTagsViewController *controller = window->libraryViewController();
    std::printf("library window: %lld cases listed, %d tags\n", qlonglong(controller->displayedCases().size()),
                controller->tagsModel()->rowCount());
    // Every job ends in a notice (in the window's status bar) or an alert.
    std::function<void()> jobEnded;
    auto endJob = [&jobEnded](const QString &text) {
        std::printf("  “%s”\n", qPrintable(text));
        if (jobEnded)
            std::exchange(jobEnded, {})();
    };
    auto failed = [endJob](const QString &message, const QString &informative) {
        std::fprintf(stderr, "%s %s\n", qPrintable(message), qPrintable(informative));
        endJob(message);
    };
    window->libraryView()->setAlertPresenter(failed);
    QObject::connect(window->statusBar(), &QStatusBar::messageChanged, [endJob](const QString &message) {
        if (!message.isEmpty())
            endJob(message);
    });

    QElapsedTimer timer;
    if (jobs.contains(QLatin1String("search"))) {
        // The user starts typing as the field takes the focus: the first
        // keystroke pays for whatever the field has not made ready yet.
        QList<double> keystrokes;
        for (int run = 0; run < 3; ++run) {
            const QString word = run % 2 ? QStringLiteral("follow") : QStringLiteral("smith");
            for (int length = 1; length <= word.size(); ++length) {
                timer.start();
                if (run == 0 && length == 1)
                    window->searchField()->setFocus(Qt::ShortcutFocusReason);
                window->searchField()->setText(word.left(length));
                paint(window.get());
                keystrokes.append(double(timer.nsecsElapsed()) / 1e6);
            }
            window->searchField()->clear();
            paint(window.get());
        }
        std::printf("search keystrokes: first %.1f ms\n", keystrokes.first());
        figures.add(QStringLiteral("search keystroke, median of %1").arg(keystrokes.size()), median(keystrokes), 16);
        figures.add(QStringLiteral("search keystroke, slowest (first included)"),
                    *std::max_element(keystrokes.cbegin(), keystrokes.cend()), 50);
    }

    if (jobs.contains(QLatin1String("tags"))) {
        QList<double> toggles;
        for (int run = 0; run < 6; ++run) {
            timer.start();
            controller->toggleTagActivity(0);
            paint(window.get());
            toggles.append(double(timer.nsecsElapsed()) / 1e6);
        }
        figures.add(QStringLiteral("tag toggle, median of 6"), median(toggles), 50);
    }

    BackupCommands backup(*stack, [&window] { return window.get(); });
    backup.setAlertPresenter(failed);
    backup.setNoticePresenter(endJob);
    const QString backupFile = temporary.filePath(QStringLiteral("Ovalis-DB.json"));
    backup.setBackupLocationChooser([&backupFile](const QString &) { return backupFile; });
    backup.setRestoreFileChooser([&backupFile] { return backupFile; });
    const bool wantsBackup = jobs.contains(QLatin1String("backup")) || jobs.contains(QLatin1String("restore"))
                             || jobs.contains(QLatin1String("memory"));
    if (wantsBackup) {
        probeJob(QStringLiteral("backup export"), figures, 3000, [&](std::function<void()> finished) {
            jobEnded = std::move(finished);
            backup.exportDatabase();
        });
        std::printf("  backup file: %.1f MB\n", double(QFileInfo(backupFile).size()) / 1048576.0);
    }

    if (jobs.contains(QLatin1String("import"))) {
        const QString folder = temporary.filePath(QStringLiteral("Stall Images"));
        writeImageFolder(folder, images);
        window->setImportFolderChooser([folder] { return folder; });
        probeJob(QStringLiteral("folder import of %1 images").arg(images), figures, 0,
                 [&](std::function<void()> finished) {
                     jobEnded = std::move(finished);
                     window->importFolder();
                 });
    }

    if (jobs.contains(QLatin1String("export"))) {
        // The first cases listed, each with a small file for every media.
        window->searchField()->clear();
        paint(window.get());
        const QList<Case *> shown = controller->displayedCases();
        QList<int> rows;
        int files = 0;
        for (int row = 0; row < exportCases && row < shown.size(); ++row) {
            rows.append(row);
            for (Media *media : shown[row]->media()) {
                QDir().mkpath(QFileInfo(media->filePath()).absolutePath());
                QFile file(media->filePath());
                if (file.open(QIODevice::WriteOnly) && file.write(QByteArray(16 * 1024, 'x')) > 0)
                    ++files;
            }
        }
        controller->selectCaseRows(rows);
        paint(window.get());
        std::printf("export: %lld cases selected, %d media files written\n", qlonglong(rows.size()), files);
        const QString folder = temporary.filePath(QStringLiteral("Exported"));
        QDir().mkpath(folder);
        window->libraryView()->setExportFolderChooser([folder] { return folder; });
        probeJob(QStringLiteral("media export of %1 cases").arg(rows.size()), figures, 0,
                 [&](std::function<void()> finished) {
                     jobEnded = std::move(finished);
                     window->libraryView()->exportMedia();
                 });
    }

    if (jobs.contains(QLatin1String("scan"))) {
        // The scan the network window starts to count the files to fetch.
        OvalisMissingMediaManager missing(*stack);
        missing.setBaseDirectoryURL(QUrl::fromLocalFile(stack->mediaDirectory()));
        probeJob(QStringLiteral("missing-media scan"), figures, 0, [&](std::function<void()> finished) {
            missing.refreshMissingMedia(std::move(finished));
        });
        std::printf("  %d media missing\n", missing.missingCount());
    }

    if (jobs.contains(QLatin1String("restore"))) {
        QObject::connect(&backup, &BackupCommands::restoreFinished, [](int cases) {
            std::printf("  %d cases read\n", cases);
        });
        probeJob(QStringLiteral("restore"), figures, 10000, [&](std::function<void()> finished) {
            jobEnded = std::move(finished);
            backup.importBackup();
        });
    }

    if (jobs.contains(QLatin1String("memory"))) {
        QTemporaryDir empty;
        timer.start();
        const qint64 peak = childPeakMemoryKiB(QStringLiteral(OVALIS_CLI_PATH),
                                               {QStringLiteral("--library"), empty.filePath(QStringLiteral("Ovalis")),
                                                QStringLiteral("restore-backup"), backupFile});
        if (peak < 0)
            std::fprintf(stderr, "ovalis-cli restore-backup failed\n");
        figures.add(QStringLiteral("restore by ovalis-cli restore-backup into an empty library"),
                    double(timer.nsecsElapsed()) / 1e6, 10000);
        figures.add(QStringLiteral("peak memory of a restore (ovalis-cli restore-backup)"), double(peak) / 1024.0, 600,
                    "MB");
    }

    figures.print();
    window.reset();
    Settings::setSharedForTesting(nullptr);
    return 0;
}
