#pragma once

#include <QCollatorSortKey>
#include <QList>
#include <QString>
#include <QVariant>
#include <optional>

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
};

QString describeSortDescriptors(const QList<SortDescriptor> &descriptors);

// A text prepared once for many comparisons in the order of the
// LocalizedCaseInsensitive comparator. Qt's collation keys for the C locale
// order by case, unlike QCollator::compare, so there the text itself is kept
// and compared ignoring case. Made and compared on one thread.
class LocalizedSortKey
{
public:
    explicit LocalizedSortKey(const QString &text);
    // <0, 0, >0 as this text orders before, with or after the other.
    int compare(const LocalizedSortKey &other) const;

private:
    QString m_text;
    std::optional<QCollatorSortKey> m_key;
};

// Sorts objects by the descriptors, ties broken by object identifier so that
// equal keys keep one stable order.
void sortObjects(QList<ManagedObject *> &objects, const QList<SortDescriptor> &descriptors);
// <0, 0, >0 for the order sortObjects gives.
int compareObjects(const ManagedObject *a, const ManagedObject *b, const QList<SortDescriptor> &descriptors);

} // namespace ovalis
