#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTimer>
#include <cstdio>

#include "app/AppDelegate.h"
#include "app/SingleInstance.h"
#include "exchange/ui/OvalisOneImportController.h"
#include "library/ui/LibraryWindowController.h"
#include "store/CoreDataStack.h"
#include "util/Log.h"

using namespace ovalis;

int main(int argc, char **argv)
{
    // Without TZ the C library looks at /etc/localtime again for every local
    // date; naming it once makes converting thousands of dates cheap.
    if (qEnvironmentVariableIsEmpty("TZ") && QFile::exists(QStringLiteral("/etc/localtime")))
        qputenv("TZ", ":/etc/localtime");
    // Asking what this is, or which version, needs no display and no library.
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--help" || argument == "-h") {
            std::printf("Usage: ovalis [FILE…]\n"
                        "A personal library of teaching cases for radiologists.\n\n"
                        "FILE  a library backup or a version-1 document to open\n\n"
                        "Options:\n"
                        "  -h, --help     show this help and exit\n"
                        "  -v, --version  show the version and exit\n");
            return 0;
        }
        if (argument == "--version" || argument == "-v") {
            std::printf("Ovalis %s\n", OVALIS_VERSION);
            return 0;
        }
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "Ovalis needs a graphical display, and none was found (DISPLAY and WAYLAND_DISPLAY are not set).\n"
                             "Run it from a desktop session, or under a virtual display:\n"
                             "  xvfb-run -a ./build/ovalis\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("vantor"));
    QApplication::setApplicationName(QStringLiteral("Ovalis"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ovalis"));
    QApplication::setApplicationVersion(QStringLiteral(OVALIS_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/ovalis.svg")));
    QGuiApplication::setDesktopFileName(QStringLiteral("nz.org.vantor.ovalis"));
    Log::install();

    // A second launch hands over to the running copy before touching the library.
    // Files to open: backups and version-1 documents given by the desktop.
    QStringList files;
    for (const QString &argument : QCoreApplication::arguments().mid(1)) {
        if (!argument.startsWith(u'-'))
            files.append(QFileInfo(argument).absoluteFilePath());
    }
    SingleInstance instance(CoreDataStack::defaultLibraryDirectory());
    if (!instance.claim(QStringLiteral("ovalis"), files))
        return 0;

    CoreDataStack &stack = CoreDataStack::shared();
    AppDelegate delegate(stack);
    QString error;
    if (!stack.loadPersistentStores(&error)) {
        Log::error(LogArea::CoreData, error);
        QString message = error;
        message.remove(QRegularExpression(QStringLiteral("^Unresolved error ")));
        QMessageBox::critical(nullptr, QStringLiteral("Ovalis cannot open its library"),
                              message + QStringLiteral("\n\nOvalis will quit. The file has not been changed."));
        return 2;
    }
    delegate.observeApplication(&app);
    QObject::connect(&instance, &SingleInstance::activationRequested, &delegate, &AppDelegate::showCasesDatabaseWindow);
    QObject::connect(&instance, &SingleInstance::openFilesRequested, &delegate, &AppDelegate::openFiles);

    LibraryWindowController window(stack, &delegate);
    window.setMirrorService(delegate.mirrorService());
    window.show();
    delegate.startMirror();
    // A first start on an empty library offers the version-1 documents
    // found, unless it was asked to open files.
    if (!files.isEmpty())
        QTimer::singleShot(0, &delegate, [&delegate, files] { delegate.openFiles(files); });
    else if (OvalisOneImportController::shouldOfferAtStart(stack.mainContext()))
        window.importOvalisOneAutomatically();
    return app.exec();
}
