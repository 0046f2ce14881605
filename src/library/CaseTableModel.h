#pragma once

#include <QList>

#include "library/ResultTableModel.h"
#include "store/SortDescriptor.h"

namespace ovalis {

class Case;

// The case list's columns. Display texts go through the named value
// transformers where a colour or first line is shown.
class CaseTableModel : public ResultTableModel
{
    Q_OBJECT

public:
    enum Column { PatientIDColumn, AgeSexColumn, SummaryColumn, TagsColumn, DateOfDiagnosisColumn, DateAddedColumn, ColumnCount };

    explicit CaseTableModel(QObject *parent = nullptr);

    Case *caseAtRow(int row) const;

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Rows leave by dragging as a case drag (CaseListDragAndDrop), for
    // every operation.
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override;
    // Asks for the sort through sortRequested; the controller re-queries.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // "patientID", "dateOfBirth" (age order), "summary", "tagList" (none: not
    // sortable), "dateOfDiagnosis", "dateAdded".
    static QString sortKeyForColumn(int column);
    // The column identified "Date Added", hidden in teaching mode.
    static QString identifierForColumn(int column);
    static QList<SortDescriptor> sortDescriptorsFor(int column, Qt::SortOrder order);

signals:
    void sortRequested(const QList<ovalis::SortDescriptor> &descriptors);
};

} // namespace ovalis
