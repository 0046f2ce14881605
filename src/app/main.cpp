#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStatusBar>
#include <cstdio>

#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/Tag.h"
#include "util/Log.h"
#include "util/Settings.h"

using namespace ovalis;

int main(int argc, char **argv)
{
    // Without TZ the C library looks at /etc/localtime again for every local
    // date; naming it once makes converting thousands of dates cheap.
    if (qEnvironmentVariableIsEmpty("TZ") && QFile::exists(QStringLiteral("/etc/localtime")))
        qputenv("TZ", ":/etc/localtime");
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
    Log::install();
    Settings::registerApplicationDefaults();

    CoreDataStack &stack = CoreDataStack::shared();
    QString error;
    if (!stack.loadPersistentStores(&error)) {
        Log::error(LogArea::CoreData, error);
        QString message = error;
        message.remove(QRegularExpression(QStringLiteral("^Unresolved error ")));
        QMessageBox::critical(nullptr, QStringLiteral("Ovalis cannot open its library"),
                              message + QStringLiteral("\n\nOvalis will quit. The file has not been changed."));
        return 2;
    }

    ManagedObjectContext *context = stack.mainContext();
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Ovalis"));
    auto *label = new QLabel(&window);
    label->setAlignment(Qt::AlignCenter);
    label->setText(QStringLiteral("<h2>Ovalis</h2><p>%1 cases, %2 media, %3 tags</p><p style='color:gray'>%4</p>")
                       .arg(context->countOfObjects(Case::entityName()))
                       .arg(context->countOfObjects(Media::entityName()))
                       .arg(context->countOfObjects(Tag::entityName()))
                       .arg(stack.libraryDirectory().toHtmlEscaped()));
    window.setCentralWidget(label);
    window.statusBar()->showMessage(QStringLiteral("Library: ") + stack.storePath());
    window.resize(900, 600);
    window.show();

    QObject::connect(&app, &QApplication::applicationStateChanged, &stack, [&stack](Qt::ApplicationState state) {
        if (state == Qt::ApplicationInactive)
            stack.mainContext()->saveWithParent(true);
        else if (state == Qt::ApplicationActive)
            stack.mergeChangesFromOtherProcesses();
    });
    QObject::connect(&app, &QApplication::aboutToQuit, &stack, [&stack] { stack.mainContext()->saveWithParent(true); });
    return app.exec();
}
