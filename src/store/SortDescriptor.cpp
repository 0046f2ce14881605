#include "store/SortDescriptor.h"

#include <QCollator>
#include <QDateTime>
#include <algorithm>

#include "store/ManagedObject.h"

namespace ovalis {

namespace {

QCollator &localizedCollator()
{
    thread_local QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return collator;
}

int sign(qint64 value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

} // namespace

QString SortDescriptor::description() const
{
    const char *selector = comparator == Comparator::Plain ? "compare:"
                           : comparator == Comparator::CaseInsensitive ? "caseInsensitiveCompare:"
                                                                       : "localizedCaseInsensitiveCompare:";
    return QStringLiteral("(%1, %2, %3)").arg(key, ascending ? QStringLiteral("ascending") : QStringLiteral("descending"),
                                              QString::fromLatin1(selector));
}

QString describeSortDescriptors(const QList<SortDescriptor> &descriptors)
{
    QStringList parts;
    for (const SortDescriptor &descriptor : descriptors)
        parts << descriptor.description();
    return QStringLiteral("[") + parts.join(QStringLiteral(", ")) + QStringLiteral("]");
}

int SortDescriptor::compare(const QVariant &a, const QVariant &b) const
{
    const bool aPresent = a.isValid();
    const bool bPresent = b.isValid();
    if (!aPresent || !bPresent)
        return int(aPresent) - int(bPresent);
    switch (a.metaType().id()) {
    case QMetaType::QString: {
        const QString x = a.toString();
        const QString y = b.toString();
        switch (comparator) {
        case Comparator::Plain: return sign(x.compare(y, Qt::CaseSensitive));
        case Comparator::CaseInsensitive: return sign(x.compare(y, Qt::CaseInsensitive));
        case Comparator::LocalizedCaseInsensitive: return sign(localizedCollator().compare(x, y));
        }
        return 0;
    }
    case QMetaType::QDateTime:
        return sign(a.toDateTime().toMSecsSinceEpoch() - b.toDateTime().toMSecsSinceEpoch());
    case QMetaType::Double: {
        const double x = a.toDouble(), y = b.toDouble();
        return x < y ? -1 : x > y ? 1 : 0;
    }
    default:
        return sign(a.toLongLong() - b.toLongLong());
    }
}

int compareObjects(const ManagedObject *a, const ManagedObject *b, const QList<SortDescriptor> &descriptors)
{
    for (const SortDescriptor &descriptor : descriptors) {
        const int c = descriptor.compare(a->value(descriptor.key), b->value(descriptor.key));
        if (c != 0)
            return descriptor.ascending ? c : -c;
    }
    return a->sequence() < b->sequence() ? -1 : a->sequence() > b->sequence() ? 1 : 0;
}

void sortObjects(QList<ManagedObject *> &objects, const QList<SortDescriptor> &descriptors)
{
    // Keys are read once per object, not once per comparison.
    struct Entry {
        ManagedObject *object;
        quint64 sequence;
        QVector<QVariant> keys;
        std::vector<QCollatorSortKey> collated;
    };
    std::vector<Entry> entries;
    entries.reserve(objects.size());
    QCollator &collator = localizedCollator();
    for (ManagedObject *object : std::as_const(objects)) {
        Entry entry{object, object->sequence(), {}, {}};
        entry.keys.reserve(descriptors.size());
        for (const SortDescriptor &descriptor : descriptors) {
            QVariant value = object->value(descriptor.key);
            if (descriptor.comparator == SortDescriptor::Comparator::LocalizedCaseInsensitive && value.isValid()
                && value.metaType().id() == QMetaType::QString)
                entry.collated.push_back(collator.sortKey(value.toString()));
            else
                entry.collated.push_back(collator.sortKey(QString()));
            entry.keys.append(std::move(value));
        }
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(), [&](const Entry &a, const Entry &b) {
        for (int i = 0; i < descriptors.size(); ++i) {
            const SortDescriptor &descriptor = descriptors[i];
            int c;
            if (descriptor.comparator == SortDescriptor::Comparator::LocalizedCaseInsensitive && a.keys[i].isValid()
                && b.keys[i].isValid() && a.keys[i].metaType().id() == QMetaType::QString)
                c = sign(a.collated[size_t(i)].compare(b.collated[size_t(i)]));
            else
                c = descriptor.compare(a.keys[i], b.keys[i]);
            if (c != 0)
                return descriptor.ascending ? c < 0 : c > 0;
        }
        return a.sequence < b.sequence;
    });
    for (qsizetype i = 0; i < objects.size(); ++i)
        objects[i] = entries[size_t(i)].object;
}

} // namespace ovalis
