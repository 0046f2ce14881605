#include "store/SharedBackgroundContext.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "store/ManagedObjectContext.h"
#include "util/ThreadPriority.h"

namespace ovalis {

namespace {
std::shared_ptr<ManagedObjectContext> shared(ManagedObjectContext *context)
{
    return std::shared_ptr<ManagedObjectContext>(context, [](ManagedObjectContext *done) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [done] { delete done; }, Qt::QueuedConnection);
    });
}
} // namespace

std::shared_ptr<ManagedObjectContext> SharedBackgroundContext::childOf(ManagedObjectContext *parent)
{
    if (!parent)
        return nullptr;
    auto *context = new ManagedObjectContext(ManagedObjectContext::ConcurrencyType::PrivateQueue, parent);
    context->setName(QStringLiteral("Background"));
    return shared(context);
}

std::shared_ptr<ManagedObjectContext> SharedBackgroundContext::writerFor(ManagedObjectContext *target)
{
    if (!target || !target->persistentStore())
        return nullptr;
    auto *context = new ManagedObjectContext(ManagedObjectContext::ConcurrencyType::PrivateQueue,
                                             target->persistentStore());
    context->setStack(target->stack());
    context->setName(QStringLiteral("Background writer"));
    context->setTransactionAuthor(target->transactionAuthor());
    context->setMergesSavesInto(target);
    // A writer's thread is its own: lowered, it yields the processors to the
    // window, which merges what it saves, whenever the window has work.
    context->perform([] { lowerCurrentThreadPriority(); });
    return shared(context);
}

} // namespace ovalis
