#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <functional>

#include "library/RowBatchTarget.h"

namespace ovalis {

class ManagedObject;

// A table model over a live result list. It keeps its own copy of the rows
// it has announced to views, so that a batch of removals (old rows) and
// insertions (new rows) is applied step by step exactly as the views expect.
// The source is read again only where rows are inserted or reset.
class ResultTableModel : public QAbstractTableModel, public RowBatchTarget
{
    Q_OBJECT

public:
    using Source = std::function<QList<ManagedObject *>()>;

    explicit ResultTableModel(QObject *parent = nullptr);

    // The list the model shows; read at every reset and every batch.
    void setSource(Source source);
    // Re-reads the whole source (after a re-query).
    void reload();

    ManagedObject *objectAtRow(int row) const; // nullptr outside the list
    int rowOfObject(const ManagedObject *object) const; // -1 when not listed
    const QList<ManagedObject *> &rows() const { return m_rows; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;

    // RowBatchTarget. At the end of a batch the rows are compared with the
    // source; when they differ (the batch did not describe the list the
    // source now gives) the model resets instead of showing a wrong list.
    void beginUpdates() override;
    void removeRows(const QList<int> &rowsDescending) override;
    void insertRows(const QList<int> &rowsAscending) override;
    void reloadRows(const QList<int> &rowsAscending, int column) override;
    void endUpdates() override;
    int numberOfColumns() const override { return columnCount(); }

private:
    Source m_source;
    QList<ManagedObject *> m_rows;
    QList<ManagedObject *> m_batchSource; // the source as read at the start of a batch
    bool m_inBatch = false;
    bool m_batchInconsistent = false; // a row of the batch lay outside the list
};

} // namespace ovalis
