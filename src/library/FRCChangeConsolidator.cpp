#include "library/FRCChangeConsolidator.h"

#include <QtGlobal>
#include <algorithm>

#include "library/RowBatchTarget.h"

namespace ovalis {

namespace {

// The rows as an index set: distinct, in the given direction.
QList<int> indexSet(const QList<qint64> &rows, bool descending)
{
    QList<int> result;
    result.reserve(rows.size());
    for (qint64 row : rows)
        result.append(int(row));
    if (descending)
        std::sort(result.begin(), result.end(), std::greater<int>());
    else
        std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

} // namespace

void FRCChangeConsolidator::recordChange(int type, std::optional<int> oldRow, std::optional<int> newRow)
{
    switch (ChangeType(type)) {
    case ChangeType::Insert:
        if (newRow)
            m_rowInserts.append(*newRow);
        return;
    case ChangeType::Delete:
        if (oldRow)
            m_rowDeletes.append(*oldRow);
        return;
    case ChangeType::Move:
        if (oldRow && newRow) {
            m_rowDeletes.append(*oldRow);
            m_rowInserts.append(*newRow);
        }
        return;
    case ChangeType::Update:
        // At the new row: reloads come after this batch's removals and insertions.
        if (newRow)
            m_rowUpdates.append(*newRow);
        return;
    }
    qFatal("Unknown change type during FRC change consolidation");
}

void FRCChangeConsolidator::apply(RowBatchTarget &table) const
{
    table.beginUpdates();
    if (const QList<int> deletes = indexSet(m_rowDeletes, true); !deletes.isEmpty())
        table.removeRows(deletes);
    if (const QList<int> inserts = indexSet(m_rowInserts, false); !inserts.isEmpty())
        table.insertRows(inserts);
    if (const QList<int> updates = indexSet(m_rowUpdates, false); !updates.isEmpty()) {
        const int columns = table.numberOfColumns();
        for (int column = 0; column < columns; ++column)
            table.reloadRows(updates, column);
    }
    table.endUpdates();
}

} // namespace ovalis
