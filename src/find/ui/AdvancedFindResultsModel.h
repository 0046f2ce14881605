#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <optional>

#include "store/SortDescriptor.h"

namespace ovalis {

class Case;

// The cases an advanced find found, one row each, in the order given or
// re-sorted by a column's sort key.
class AdvancedFindResultsModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { PatientIDColumn, AgeSexColumn, SummaryColumn, DateAddedColumn, ColumnCount };

    // How a column looks and sorts.
    struct ColumnDescription {
        QString identifier;
        QString title;
        int width;
        int minimumWidth;
        // The sort a click on the header starts with; none for a column that does not sort.
        std::optional<SortDescriptor> sortDescriptor;
    };
    static const ColumnDescription &columnDescription(int column);

    explicit AdvancedFindResultsModel(QObject *parent = nullptr);

    // The cases are not owned; they belong to the context that fetched them.
    void setResults(const QList<Case *> &results);
    const QList<Case *> &results() const { return m_results; }
    Case *caseAtRow(int row) const;

    // "dateAdded" as an abbreviated date without time: day, short month name
    // and year in the user's locale.
    static QString abbreviatedDate(const QDateTime &instant);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // Qt::InitialSortOrderRole answers the direction of the column's sort.
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // Re-sorts the current results by the column's key in that direction;
    // a column without a sort key leaves them as they are.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    QList<Case *> m_results;
};

} // namespace ovalis
