#include "store/SortDescriptor.h"

#include <QCollator>
#include <QDateTime>
#include <algorithm>
#include <optional>
#include <vector>

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

QCollatorSortKey localizedCaseInsensitiveSortKey(const QString &text)
{
    QCollator &collator = localizedCollator();
    if (collator.locale().language() == QLocale::C)
        return collator.sortKey(text.toCaseFolded());
    return collator.sortKey(text);
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
    // Keys are read and prepared once per object, not once per comparison:
    // dates and numbers as numbers, texts as texts or collation keys. The
    // element that is sorted carries the first key when it is a number, so
    // that most comparisons of a date or number sort touch nothing else.
    struct Key {
        enum Kind { Absent, Number, Text, Collated } kind = Absent;
        double number = 0;
        QString text;
        std::optional<QCollatorSortKey> collated;
    };
    struct Entry {
        double first;
        Key::Kind firstKind;
        quint32 index;
        quint64 sequence;
    };
    const size_t count = size_t(objects.size());
    const size_t width = size_t(descriptors.size());
    std::vector<Key> keys(count * width);
    std::vector<Entry> entries(count);
    for (size_t i = 0; i < count; ++i) {
        ManagedObject *object = objects[qsizetype(i)];
        for (size_t k = 0; k < width; ++k) {
            const SortDescriptor &descriptor = descriptors[qsizetype(k)];
            const QVariant value = object->value(descriptor.key);
            Key &key = keys[i * width + k];
            if (!value.isValid())
                continue;
            switch (value.metaType().id()) {
            case QMetaType::QString:
                if (descriptor.comparator == SortDescriptor::Comparator::LocalizedCaseInsensitive) {
                    key.kind = Key::Collated;
                    key.collated = localizedCaseInsensitiveSortKey(value.toString());
                } else {
                    key.kind = Key::Text;
                    key.text = value.toString();
                }
                break;
            case QMetaType::QDateTime:
                key.kind = Key::Number;
                key.number = double(value.toDateTime().toMSecsSinceEpoch());
                break;
            default:
                key.kind = Key::Number;
                key.number = value.toDouble();
                break;
            }
        }
        entries[i] = {width ? keys[i * width].number : 0, width ? keys[i * width].kind : Key::Absent, quint32(i),
                      object->sequence()};
    }
    const auto compareKeys = [&](const Key &a, const Key &b, const SortDescriptor &descriptor) {
        if (a.kind == Key::Absent || b.kind == Key::Absent)
            return int(a.kind != Key::Absent) - int(b.kind != Key::Absent);
        switch (a.kind) {
        case Key::Number: return a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
        case Key::Collated: return b.collated ? sign(a.collated->compare(*b.collated)) : 0;
        default:
            return sign(a.text.compare(b.text, descriptor.comparator == SortDescriptor::Comparator::CaseInsensitive
                                                   ? Qt::CaseInsensitive
                                                   : Qt::CaseSensitive));
        }
    };
    std::sort(entries.begin(), entries.end(), [&](const Entry &a, const Entry &b) {
        for (size_t k = 0; k < width; ++k) {
            int c;
            if (k == 0 && a.firstKind == Key::Number && b.firstKind == Key::Number)
                c = a.first < b.first ? -1 : a.first > b.first ? 1 : 0;
            else
                c = compareKeys(keys[a.index * width + k], keys[b.index * width + k], descriptors[qsizetype(k)]);
            if (c != 0)
                return descriptors[qsizetype(k)].ascending ? c < 0 : c > 0;
        }
        return a.sequence < b.sequence;
    });
    const QList<ManagedObject *> unsorted = objects;
    for (size_t i = 0; i < count; ++i)
        objects[qsizetype(i)] = unsorted[qsizetype(entries[i].index)];
}

} // namespace ovalis
