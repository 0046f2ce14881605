#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QVector>
#include <optional>
#include <vector>

namespace ovalis {

// The folded texts of some string attributes of one entity, held in memory
// so that "contains[cd]" searches over them need no table scan: each
// attribute's texts lie end to end in one buffer, which memmem walks in a
// few milliseconds even for a library of 100,000 cases.
//
// The texts are folded UTF-8 (foldForComparison), as the store keeps them in
// its fold columns, so a byte search answers as the SQL search does. Records
// are appended in ascending key order when the index is built; later saves
// are laid over them (update/remove) without rebuilding the buffers.
// Not thread-safe: its store uses it under its own lock.
class FoldedTextIndex
{
public:
    // attributes: the entity's attribute indexes the index holds, in the
    // order in which append() and update() receive their texts.
    explicit FoldedTextIndex(QList<int> attributes);

    const QList<int> &attributes() const { return m_attributes; }
    bool holds(int attribute) const { return m_attributes.contains(attribute); }

    // While building: one record, keys ascending; an absent text is null.
    void append(qint64 key, const QList<QByteArray> &texts);
    // After a save: the record's texts now (inserted or changed), or its removal.
    void update(qint64 key, const QList<QByteArray> &texts);
    void remove(qint64 key);
    // Records changed since the index was built; the store rebuilds past a limit.
    qsizetype overlaidCount() const { return m_overlay.size(); }

    // Keys, ascending, of the records in which at least one of the given
    // attributes contains needle. needle must not be empty or hold a NUL byte
    // (the separator of the buffers); absent texts contain nothing.
    QVector<qint64> keysContaining(const QList<int> &attributes, const QByteArray &needle) const;

private:
    struct Column {
        QByteArray text;              // records end to end, each followed by NUL
        std::vector<quint32> starts;  // start of each record in text
    };

    QList<int> m_attributes;
    std::vector<qint64> m_keys;
    std::vector<Column> m_columns;
    // Records saved since the build: their texts now, or nothing once removed.
    QHash<qint64, std::optional<QList<QByteArray>>> m_overlay;
};

} // namespace ovalis
