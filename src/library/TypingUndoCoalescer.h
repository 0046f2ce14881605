#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QVariant>

namespace ovalis {

class ManagedObject;
class UndoManager;

// Makes one undo step of a burst of writes to one attribute of one record,
// as a text field sends them keystroke by keystroke. The first write of a
// burst registers its undo as any write does (back to the value before the
// burst); the later writes of the burst go into the context without
// registering. Undoing the step therefore restores the value before the
// burst, and redoing it the value the burst ended with.
//
// A burst ends when another attribute or record is written, on endBurst()
// (a field losing focus, another case shown), and when the record's undo
// manager undoes or redoes. Main thread only.
class TypingUndoCoalescer : public QObject
{
    Q_OBJECT

public:
    explicit TypingUndoCoalescer(QObject *parent = nullptr);

    // Writes value (an invalid QVariant for an absent value) into the
    // attribute. A write that changes nothing neither starts nor ends a burst.
    void write(ManagedObject *object, int attributeIndex, const QVariant &value);
    void endBurst();
    bool isInBurst() const { return m_object != nullptr; }

private:
    void watch(UndoManager *undoManager);

    ManagedObject *m_object = nullptr; // Not owned; the record of the burst in progress.
    int m_attributeIndex = -1;
    QPointer<UndoManager> m_watchedUndoManager;
    QMetaObject::Connection m_willUndo;
    QMetaObject::Connection m_willRedo;
};

} // namespace ovalis
