#include "util/IndexSet.h"

#include <QStringList>
#include <algorithm>
#include <limits>

namespace ovalis {

IndexSet IndexSet::fromIndexes(const QList<int> &indexes)
{
    QList<int> sorted = indexes;
    std::sort(sorted.begin(), sorted.end());
    IndexSet set;
    for (int index : std::as_const(sorted))
        if (index >= 0)
            set.addIndex(quint64(index));
    return set;
}

IndexSet IndexSet::fromRanges(const QList<Range> &ranges)
{
    IndexSet set;
    for (const Range &range : ranges)
        set.addRange(range.location, range.length);
    return set;
}

void IndexSet::addRange(quint64 location, quint64 length)
{
    length = std::min(length, std::numeric_limits<quint64>::max() - location);
    if (length == 0)
        return;
    Range added{location, length};
    // The first range that ends at or after the new one's start may touch it.
    auto first = std::lower_bound(m_ranges.begin(), m_ranges.end(), added.location,
                                  [](const Range &range, quint64 location) { return range.end() < location; });
    auto last = first;
    quint64 end = added.end();
    while (last != m_ranges.end() && last->location <= end) {
        added.location = std::min(added.location, last->location);
        end = std::max(end, last->end());
        ++last;
    }
    added.length = end - added.location;
    const qsizetype at = first - m_ranges.begin();
    m_ranges.erase(first, last);
    m_ranges.insert(at, added);
}

quint64 IndexSet::count() const
{
    quint64 total = 0;
    for (const Range &range : m_ranges)
        total += range.length;
    return total;
}

bool IndexSet::contains(quint64 index) const
{
    const auto range = std::upper_bound(m_ranges.cbegin(), m_ranges.cend(), index,
                                        [](quint64 index, const Range &range) { return index < range.location; });
    return range != m_ranges.cbegin() && index < std::prev(range)->end();
}

QString IndexSet::description() const
{
    if (m_ranges.isEmpty())
        return QStringLiteral("(no indexes)");
    QStringList parts;
    for (const Range &range : m_ranges)
        parts.append(range.length == 1 ? QString::number(range.location)
                                       : QStringLiteral("%1-%2").arg(range.location).arg(range.end() - 1));
    return QStringLiteral("[number of indexes: %1 (in %2 ranges), indexes: (%3)]")
        .arg(count())
        .arg(m_ranges.size())
        .arg(parts.join(QLatin1Char(' ')));
}

} // namespace ovalis
