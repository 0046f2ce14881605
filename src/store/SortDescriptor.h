#pragma once

#include <QCollatorSortKey>
#include <QList>
#include <QString>
#include <QVariant>

namespace ovalis {

class ManagedObject;

// One sort key. Absent values sort before present ones in ascending order.
struct SortDescriptor {
    enum class Comparator { Plain, CaseInsensitive, LocalizedCaseInsensitive };

    QString key;
    bool ascending = true;
    Comparator comparator = Comparator::Plain;

    // "(key, ascending, compare:)" in the style of the log lines.
    QString description() const;
    // <0, 0, >0 as a orders before, with or after b under this descriptor.
    int compare(const QVariant &a, const QVariant &b) const;

    bool operator==(const SortDescriptor &) const = default;
};

QString describeSortDescriptors(const QList<SortDescriptor> &descriptors);

// A key that orders texts as the localized case-insensitive comparison does,
// in the user's locale, on this thread. (QCollator's own keys keep case
// differences in the C locale, where its comparison ignores them.)
QCollatorSortKey localizedCaseInsensitiveSortKey(const QString &text);

// Sorts objects by the descriptors, ties broken by object identifier so that
// equal keys keep one stable order.
void sortObjects(QList<ManagedObject *> &objects, const QList<SortDescriptor> &descriptors);
// <0, 0, >0 for the order sortObjects gives.
int compareObjects(const ManagedObject *a, const ManagedObject *b, const QList<SortDescriptor> &descriptors);

} // namespace ovalis
