#include "library/ResultTableModel.h"

namespace ovalis {

namespace {

// Runs of consecutive rows as (first, last), in the order the rows come.
template<class Step>
QList<std::pair<int, int>> runs(const QList<int> &rows, Step step)
{
    QList<std::pair<int, int>> result;
    for (int row : rows) {
        if (!result.isEmpty() && step(result.last().second) == row)
            result.last().second = row;
        else
            result.append({row, row});
    }
    return result;
}

} // namespace

ResultTableModel::ResultTableModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void ResultTableModel::setSource(Source source)
{
    m_source = std::move(source);
    reload();
}

void ResultTableModel::reload()
{
    beginResetModel();
    m_rows = m_source ? m_source() : QList<ManagedObject *>();
    endResetModel();
}

ManagedObject *ResultTableModel::objectAtRow(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows[row] : nullptr;
}

int ResultTableModel::rowOfObject(const ManagedObject *object) const
{
    return int(m_rows.indexOf(const_cast<ManagedObject *>(object)));
}

int ResultTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

void ResultTableModel::beginUpdates()
{
    m_batchSource = m_source ? m_source() : QList<ManagedObject *>();
    m_inBatch = true;
    m_batchInconsistent = false;
}

void ResultTableModel::removeRows(const QList<int> &rowsDescending)
{
    if (!m_inBatch)
        beginUpdates();
    // Each run comes highest row first: (last, first) of a contiguous range.
    for (const auto &[last, first] : runs(rowsDescending, [](int row) { return row - 1; })) {
        if (first < 0 || last >= m_rows.size()) {
            m_batchInconsistent = true;
            continue;
        }
        beginRemoveRows(QModelIndex(), first, last);
        m_rows.remove(first, last - first + 1);
        endRemoveRows();
    }
}

void ResultTableModel::insertRows(const QList<int> &rowsAscending)
{
    if (!m_inBatch)
        beginUpdates();
    for (const auto &[first, last] : runs(rowsAscending, [](int row) { return row + 1; })) {
        if (first < 0 || first > m_rows.size() || last >= m_batchSource.size()) {
            m_batchInconsistent = true;
            continue;
        }
        beginInsertRows(QModelIndex(), first, last);
        m_rows.insert(first, last - first + 1, nullptr);
        std::copy(m_batchSource.cbegin() + first, m_batchSource.cbegin() + last + 1, m_rows.begin() + first);
        endInsertRows();
    }
}

void ResultTableModel::reloadRows(const QList<int> &rowsAscending, int column)
{
    if (column < 0 || column >= columnCount())
        return;
    const QList<std::pair<int, int>> changed = runs(rowsAscending, [](int row) { return row + 1; });
    // Rows scattered over a long list (a background import touching tags
    // all over the tag list) go out as one span: a view reads a few rows
    // more, instead of working out its geometry once per run.
    constexpr qsizetype maximumSeparateRuns = 8;
    const auto emitSpan = [&](int first, int last) {
        const int from = std::max(first, 0);
        const int to = std::min(last, int(m_rows.size()) - 1);
        if (from <= to)
            emit dataChanged(index(from, column), index(to, column));
    };
    if (changed.size() > maximumSeparateRuns) {
        emitSpan(changed.first().first, changed.last().second);
        return;
    }
    for (const auto &[first, last] : changed)
        emitSpan(first, last);
}

void ResultTableModel::endUpdates()
{
    if (!m_inBatch)
        return;
    if (m_batchInconsistent || m_rows != m_batchSource) {
        beginResetModel();
        m_rows = m_batchSource;
        endResetModel();
    }
    m_batchSource.clear();
    m_inBatch = false;
    m_batchInconsistent = false;
}

} // namespace ovalis
