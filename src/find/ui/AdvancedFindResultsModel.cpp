#include "find/ui/AdvancedFindResultsModel.h"

#include <QLocale>
#include <QRegularExpression>

#include "store/Case.h"
#include "util/LocalDate.h"

namespace ovalis {

namespace {

SortDescriptor localizedAscending(const QString &key)
{
    return {key, true, SortDescriptor::Comparator::LocalizedCaseInsensitive};
}

// The locale's long date format without the weekday and with short month names.
QString abbreviatedDateFormat(const QLocale &locale)
{
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*"));
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

} // namespace

const AdvancedFindResultsModel::ColumnDescription &AdvancedFindResultsModel::columnDescription(int column)
{
    static const ColumnDescription columns[ColumnCount] = {
        {QStringLiteral("PatientIDColumn"), QStringLiteral("Patient ID"), 120, 60, localizedAscending(QStringLiteral("patientID"))},
        {QStringLiteral("AgeSexColumn"), QStringLiteral("Age / Sex"), 80, 50, std::nullopt},
        {QStringLiteral("SummaryColumn"), QStringLiteral("Summary"), 320, 120, localizedAscending(QStringLiteral("summary"))},
        {QStringLiteral("DateAddedColumn"), QStringLiteral("Date Added"), 100, 80,
         SortDescriptor{QStringLiteral("dateAdded"), false, SortDescriptor::Comparator::Plain}},
    };
    return columns[qBound(0, column, int(ColumnCount) - 1)];
}

AdvancedFindResultsModel::AdvancedFindResultsModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void AdvancedFindResultsModel::setResults(const QList<Case *> &results)
{
    beginResetModel();
    m_results = results;
    endResetModel();
}

Case *AdvancedFindResultsModel::caseAtRow(int row) const
{
    return row >= 0 && row < m_results.size() ? m_results.at(row) : nullptr;
}

QString AdvancedFindResultsModel::abbreviatedDate(const QDateTime &instant)
{
    if (!instant.isValid())
        return QString();
    thread_local const QLocale locale;
    thread_local const QString format = abbreviatedDateFormat(locale);
    return locale.toString(LocalDate::of(instant), format);
}

int AdvancedFindResultsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_results.size());
}

int AdvancedFindResultsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant AdvancedFindResultsModel::data(const QModelIndex &index, int role) const
{
    const Case *item = caseAtRow(index.row());
    if (!item || role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case PatientIDColumn: return item->patientID();
    case AgeSexColumn: return item->abbreviatedAgeAndSexString();
    case SummaryColumn: return item->summary();
    case DateAddedColumn: return abbreviatedDate(item->dateAdded());
    }
    return QVariant();
}

QVariant AdvancedFindResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QVariant();
    const ColumnDescription &column = columnDescription(section);
    switch (role) {
    case Qt::DisplayRole: return column.title;
    case Qt::InitialSortOrderRole:
        return column.sortDescriptor && !column.sortDescriptor->ascending ? Qt::DescendingOrder : Qt::AscendingOrder;
    }
    return QVariant();
}

void AdvancedFindResultsModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount || !columnDescription(column).sortDescriptor)
        return;
    SortDescriptor descriptor = *columnDescription(column).sortDescriptor;
    descriptor.ascending = order == Qt::AscendingOrder;
    QList<ManagedObject *> objects(m_results.cbegin(), m_results.cend());
    sortObjects(objects, {descriptor});
    QList<Case *> sorted;
    sorted.reserve(objects.size());
    for (ManagedObject *object : std::as_const(objects))
        sorted.append(static_cast<Case *>(object));
    setResults(sorted);
}

} // namespace ovalis
