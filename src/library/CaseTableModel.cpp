#include "library/CaseTableModel.h"

#include <QLocale>
#include <QMimeData>

#include "library/CaseListDragAndDrop.h"
#include "library/ValueTransformer.h"
#include "store/Case.h"
#include "util/LocalDate.h"

namespace ovalis {

namespace {

QString shortDate(const QDateTime &instant)
{
    if (!instant.isValid())
        return QString();
    thread_local const QLocale locale;
    return locale.toString(LocalDate::of(instant), QLocale::ShortFormat);
}

} // namespace

CaseTableModel::CaseTableModel(QObject *parent)
    : ResultTableModel(parent)
{
    ValueTransformer::registerStandardTransformers();
}

Case *CaseTableModel::caseAtRow(int row) const
{
    return static_cast<Case *>(objectAtRow(row));
}

int CaseTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CaseTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.parent().isValid())
        return {};
    const Case *item = caseAtRow(index.row());
    if (!item)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case PatientIDColumn: return item->patientID();
        case AgeSexColumn: return item->abbreviatedAgeAndSexString();
        case SummaryColumn: return ValueTransformer::transform(QStringLiteral("FirstLineTransformer"), item->summary());
        case TagsColumn: return item->tagList();
        case DateOfDiagnosisColumn: return shortDate(item->dateOfDiagnosis());
        case DateAddedColumn: return shortDate(item->dateAdded());
        }
        return {};
    case Qt::ForegroundRole:
        if (index.column() == PatientIDColumn)
            return ValueTransformer::transform(QStringLiteral("BooleanToLabelColorTransformer"), item->patientIDisValid());
        return {};
    case Qt::ToolTipRole:
        if (index.column() == SummaryColumn) {
            const QString summary = item->summary();
            return summary.isEmpty() ? QVariant() : QVariant(summary);
        }
        if (index.column() == TagsColumn) {
            const QString tags = item->tagList();
            return tags.isEmpty() ? QVariant() : QVariant(tags);
        }
        return {};
    default:
        return {};
    }
}

QVariant CaseTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return identifierForColumn(section);
}

Qt::ItemFlags CaseTableModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren | Qt::ItemIsDragEnabled;
}

QStringList CaseTableModel::mimeTypes() const
{
    return {CaseListDragAndDrop::caseDragType()};
}

QMimeData *CaseTableModel::mimeData(const QModelIndexList &indexes) const
{
    QList<int> rows;
    for (const QModelIndex &index : indexes)
        if (index.isValid())
            rows.append(index.row());
    return CaseListDragAndDrop::mimeDataForRows(IndexSet::fromIndexes(rows));
}

Qt::DropActions CaseTableModel::supportedDragActions() const
{
    return Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
}

void CaseTableModel::sort(int column, Qt::SortOrder order)
{
    const QList<SortDescriptor> descriptors = sortDescriptorsFor(column, order);
    if (!descriptors.isEmpty())
        emit sortRequested(descriptors);
}

QString CaseTableModel::sortKeyForColumn(int column)
{
    switch (column) {
    case PatientIDColumn: return QStringLiteral("patientID");
    case AgeSexColumn: return QStringLiteral("dateOfBirth");
    case SummaryColumn: return QStringLiteral("summary");
    case DateOfDiagnosisColumn: return QStringLiteral("dateOfDiagnosis");
    case DateAddedColumn: return QStringLiteral("dateAdded");
    default: return QString();
    }
}

QString CaseTableModel::identifierForColumn(int column)
{
    switch (column) {
    case PatientIDColumn: return QStringLiteral("Patient ID");
    case AgeSexColumn: return QStringLiteral("Age/Sex");
    case SummaryColumn: return QStringLiteral("Summary");
    case TagsColumn: return QStringLiteral("Tags");
    case DateOfDiagnosisColumn: return QStringLiteral("Date of Diagnosis");
    case DateAddedColumn: return QStringLiteral("Date Added");
    default: return QString();
    }
}

QList<SortDescriptor> CaseTableModel::sortDescriptorsFor(int column, Qt::SortOrder order)
{
    const QString key = sortKeyForColumn(column);
    if (key.isEmpty())
        return {};
    const bool ascending = order == Qt::AscendingOrder;
    // Texts as the user reads them; dates (and the age order) as instants.
    const bool text = column == PatientIDColumn || column == SummaryColumn;
    return {SortDescriptor{key, ascending,
                           text ? SortDescriptor::Comparator::LocalizedCaseInsensitive : SortDescriptor::Comparator::Plain}};
}

} // namespace ovalis
