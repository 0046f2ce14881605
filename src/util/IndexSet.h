#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QtGlobal>

namespace ovalis {

// A set of non-negative indexes (rows, positions) kept as ascending,
// non-overlapping, non-touching ranges. A value type.
class IndexSet
{
public:
    struct Range {
        quint64 location = 0;
        quint64 length = 0;
        quint64 end() const { return location + length; } // one past the last index
        friend bool operator==(const Range &, const Range &) = default;
    };

    IndexSet() = default;
    // Negative indexes are ignored.
    static IndexSet fromIndexes(const QList<int> &indexes);
    static IndexSet fromRanges(const QList<Range> &ranges);

    // Adds the indexes location … location + length - 1; merges with
    // neighbouring ranges. A range that would pass the largest index is cut.
    void addRange(quint64 location, quint64 length);
    void addIndex(quint64 index) { addRange(index, 1); }

    bool isEmpty() const { return m_ranges.isEmpty(); }
    quint64 count() const;
    bool contains(quint64 index) const;
    const QList<Range> &ranges() const { return m_ranges; }
    // "(no indexes)", "[number of indexes: 1 (in 1 ranges), indexes: (3)]",
    // "[number of indexes: 4 (in 2 ranges), indexes: (0-2 5)]"
    QString description() const;

    friend bool operator==(const IndexSet &, const IndexSet &) = default;

private:
    QList<Range> m_ranges;
};

} // namespace ovalis

Q_DECLARE_METATYPE(ovalis::IndexSet)
