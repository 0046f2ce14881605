#include "store/SharedBackgroundContext.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"

namespace ovalis {

std::shared_ptr<ManagedObjectContext> SharedBackgroundContext::make(CoreDataStack &stack)
{
    std::unique_ptr<ManagedObjectContext> context = stack.newBackgroundContext();
    if (!context)
        return nullptr;
    return std::shared_ptr<ManagedObjectContext>(context.release(), [](ManagedObjectContext *context) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [context] { delete context; }, Qt::QueuedConnection);
    });
}

} // namespace ovalis
