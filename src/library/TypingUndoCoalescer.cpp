#include "library/TypingUndoCoalescer.h"

#include "store/ManagedObject.h"
#include "store/ManagedObjectContext.h"
#include "util/UndoManager.h"

namespace ovalis {

namespace {

bool sameValue(const QVariant &a, const QVariant &b)
{
    return a.isValid() == b.isValid() && (!a.isValid() || a == b);
}

} // namespace

TypingUndoCoalescer::TypingUndoCoalescer(QObject *parent)
    : QObject(parent)
{
}

void TypingUndoCoalescer::write(ManagedObject *object, int attributeIndex, const QVariant &value)
{
    if (!object)
        return;
    const QVariant before = object->attribute(attributeIndex);
    const bool continues = object == m_object && attributeIndex == m_attributeIndex;
    ManagedObjectContext *context = object->managedObjectContext();
    UndoManager *undoManager = context ? context->undoManager() : nullptr;

    if (continues && undoManager) {
        undoManager->disableUndoRegistration();
        object->setAttribute(attributeIndex, value);
        undoManager->enableUndoRegistration();
        return;
    }
    object->setAttribute(attributeIndex, value);
    if (sameValue(before, object->attribute(attributeIndex)))
        return;
    endBurst();
    m_object = object;
    m_attributeIndex = attributeIndex;
    watch(undoManager);
}

void TypingUndoCoalescer::endBurst()
{
    m_object = nullptr;
    m_attributeIndex = -1;
}

void TypingUndoCoalescer::watch(UndoManager *undoManager)
{
    if (undoManager == m_watchedUndoManager)
        return;
    disconnect(m_willUndo);
    disconnect(m_willRedo);
    m_watchedUndoManager = undoManager;
    if (!undoManager)
        return;
    m_willUndo = connect(undoManager, &UndoManager::willUndo, this, &TypingUndoCoalescer::endBurst);
    m_willRedo = connect(undoManager, &UndoManager::willRedo, this, &TypingUndoCoalescer::endBurst);
}

} // namespace ovalis
