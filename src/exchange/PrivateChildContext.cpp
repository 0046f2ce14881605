#include "exchange/PrivateChildContext.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "store/ManagedObjectContext.h"

namespace ovalis {

std::shared_ptr<ManagedObjectContext> makePrivateChildContext(ManagedObjectContext *parent)
{
    auto *context = new ManagedObjectContext(ManagedObjectContext::ConcurrencyType::PrivateQueue, parent);
    context->setName(QStringLiteral("Background"));
    return std::shared_ptr<ManagedObjectContext>(context, [](ManagedObjectContext *done) {
        runOnMainThread([done] { delete done; });
    });
}

void runOnMainThread(std::function<void()> work)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

} // namespace ovalis
