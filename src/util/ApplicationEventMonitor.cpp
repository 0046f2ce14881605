#include "util/ApplicationEventMonitor.h"

#include <QCoreApplication>

namespace ovalis {

ObserverToken ApplicationEventMonitor::install(QObject *filter)
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return {};
    application->installEventFilter(filter);
    return ObserverToken([filter] {
        if (QCoreApplication *application = QCoreApplication::instance())
            application->removeEventFilter(filter);
    });
}

} // namespace ovalis
