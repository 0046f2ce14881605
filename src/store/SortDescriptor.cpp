#include "store/SortDescriptor.h"

#include <QCollator>
#include <QDateTime>
#include <QVarLengthArray>
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

LocalizedSortKey::LocalizedSortKey(const QString &text)
{
    QCollator &collator = localizedCollator();
    if (collator.locale().language() == QLocale::C)
        m_text = text;
    else
        m_key = collator.sortKey(text);
}

int LocalizedSortKey::compare(const LocalizedSortKey &other) const
{
    if (m_key && other.m_key)
        return sign(m_key->compare(*other.m_key));
    return sign(m_text.compare(other.m_text, Qt::CaseInsensitive));
}

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
    // Keys are read and prepared once per object, not once per comparison:
    // dates and numbers as numbers, texts as texts or collation keys. They lie
    // in one array, a row of descriptors.size() per object.
    struct Key {
        enum Kind { Absent, Number, Text, Collated } kind = Absent;
        double number = 0;
        QString text;
        std::optional<LocalizedSortKey> collated;
    };
    struct Entry {
        ManagedObject *object;
        quint64 sequence;
        const Key *keys;
    };
    const qsizetype width = descriptors.size();
    std::vector<Key> keys(size_t(objects.size() * width));
    std::vector<Entry> entries;
    entries.reserve(size_t(objects.size()));
    // The attribute each descriptor names, looked up once per entity (-1: another key).
    const EntityDescription *entity = nullptr;
    QVarLengthArray<int, 4> attributes(width);
    for (qsizetype n = 0; n < objects.size(); ++n) {
        ManagedObject *object = objects[n];
        if (&object->entityDescription() != entity) {
            entity = &object->entityDescription();
            for (qsizetype i = 0; i < width; ++i)
                attributes[i] = entity->attributeIndex(descriptors[i].key);
        }
        Key *row = keys.data() + n * width;
        entries.push_back({object, object->sequence(), row});
        for (qsizetype i = 0; i < width; ++i) {
            const QVariant value = attributes[i] >= 0 ? object->attribute(attributes[i]) : object->value(descriptors[i].key);
            Key &key = row[i];
            if (!value.isValid())
                continue;
            switch (value.metaType().id()) {
            case QMetaType::QString:
                if (descriptors[i].comparator == SortDescriptor::Comparator::LocalizedCaseInsensitive) {
                    key.kind = Key::Collated;
                    key.collated.emplace(value.toString());
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
    }
    const auto compareKeys = [&](const Key &a, const Key &b, const SortDescriptor &descriptor) {
        if (a.kind == Key::Absent || b.kind == Key::Absent)
            return int(a.kind != Key::Absent) - int(b.kind != Key::Absent);
        switch (a.kind) {
        case Key::Number: return a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
        case Key::Collated: return b.collated ? a.collated->compare(*b.collated) : 0;
        default:
            return sign(a.text.compare(b.text, descriptor.comparator == SortDescriptor::Comparator::CaseInsensitive
                                                   ? Qt::CaseInsensitive
                                                   : Qt::CaseSensitive));
        }
    };
    std::sort(entries.begin(), entries.end(), [&](const Entry &a, const Entry &b) {
        for (qsizetype i = 0; i < width; ++i) {
            const int c = compareKeys(a.keys[i], b.keys[i], descriptors[i]);
            if (c != 0)
                return descriptors[i].ascending ? c < 0 : c > 0;
        }
        return a.sequence < b.sequence;
    });
    for (qsizetype i = 0; i < objects.size(); ++i)
        objects[i] = entries[size_t(i)].object;
}

} // namespace ovalis
