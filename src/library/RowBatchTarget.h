#pragma once

#include <QList>

namespace ovalis {

// A table that takes one batch of row changes at a time: removals numbered
// in the list before the batch, insertions numbered in the list after it,
// then reloads of single columns.
class RowBatchTarget
{
public:
    virtual ~RowBatchTarget() = default;
    virtual void beginUpdates() = 0;
    // Distinct rows, highest first.
    virtual void removeRows(const QList<int> &rowsDescending) = 0;
    // Distinct rows, lowest first.
    virtual void insertRows(const QList<int> &rowsAscending) = 0;
    // Distinct rows, lowest first; only the given column changed.
    virtual void reloadRows(const QList<int> &rowsAscending, int column) = 0;
    virtual void endUpdates() = 0;
    virtual int numberOfColumns() const = 0;
};

} // namespace ovalis
