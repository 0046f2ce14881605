#pragma once

#include <QList>
#include <optional>

#include "store/FetchedResultsControllerDelegate.h"

namespace ovalis {

class RowBatchTarget;

// Collects the changes of one batch of a live result list and applies them
// to its table in one update block: every removal at once, every insertion
// at once, then the reloads column by column. One consolidator serves one
// batch of one list.
class FRCChangeConsolidator
{
public:
    using ChangeType = FetchedResultsControllerDelegate::ChangeType;

    FRCChangeConsolidator() = default;

    // A change whose needed row is absent is dropped; an unknown type is fatal.
    void recordChange(int type, std::optional<int> oldRow, std::optional<int> newRow);
    void recordChange(ChangeType type, std::optional<int> oldRow, std::optional<int> newRow)
    {
        recordChange(int(type), oldRow, newRow);
    }
    // One beginUpdates/endUpdates block; an empty set of removals, insertions
    // or reloads is not passed on. The batch stays recorded.
    void apply(RowBatchTarget &table) const;

    const QList<qint64> &rowDeletes() const { return m_rowDeletes; }
    const QList<qint64> &rowInserts() const { return m_rowInserts; }
    const QList<qint64> &rowUpdates() const { return m_rowUpdates; }

private:
    QList<qint64> m_rowDeletes; // before the batch
    QList<qint64> m_rowInserts; // after the batch
    QList<qint64> m_rowUpdates; // after the batch
};

} // namespace ovalis
