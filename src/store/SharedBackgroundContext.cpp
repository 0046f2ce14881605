#include "store/SharedBackgroundContext.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"

namespace ovalis {

std::shared_ptr<ManagedObjectContext> SharedBackgroundContext::make(CoreDataStack &stack)
{
    return childOf(stack.mainContext());
}

std::shared_ptr<ManagedObjectContext> SharedBackgroundContext::childOf(ManagedObjectContext *parent)
{
    if (!parent)
        return nullptr;
    auto *context = new ManagedObjectContext(ManagedObjectContext::ConcurrencyType::PrivateQueue, parent);
    context->setName(QStringLiteral("Background"));
    return std::shared_ptr<ManagedObjectContext>(context, [](ManagedObjectContext *done) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [done] { delete done; }, Qt::QueuedConnection);
    });
}

} // namespace ovalis
