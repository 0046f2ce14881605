#include "exchange/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace ovalis {

void runOnMainThread(std::function<void()> work)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

} // namespace ovalis
