#include "exchange/ImportVersion1ViewModel.h"

#include <QFileInfo>

#include "util/Settings.h"

namespace ovalis {

const QString ImportVersion1ViewModel::offeredKey = QStringLiteral("OfferedImportVersion1");

ImportVersion1ViewModel::ImportVersion1ViewModel(const QList<ImportableURL> &importableURLs, QObject *parent)
    : QAbstractListModel(parent)
    , m_importableURLs(importableURLs)
{
}

QList<ImportableURL> ImportVersion1ViewModel::importableURLs(const QList<QUrl> &urls)
{
    QList<ImportableURL> entries;
    for (const QUrl &url : urls)
        entries.append(ImportableURL{QUuid::createUuid(), url, true});
    return entries;
}

QList<QUrl> ImportVersion1ViewModel::selectedURLs() const
{
    QList<QUrl> urls;
    for (const ImportableURL &entry : m_importableURLs)
        if (entry.scheduledToImport)
            urls.append(entry.url);
    return urls;
}

void ImportVersion1ViewModel::toggle(const ImportableURL &importableURL)
{
    const qsizetype row = m_importableURLs.indexOf(importableURL);
    if (row >= 0)
        toggleRow(int(row));
}

void ImportVersion1ViewModel::toggleRow(int row)
{
    if (row >= 0 && row < m_importableURLs.size())
        setScheduled(row, !m_importableURLs.at(row).scheduledToImport);
}

void ImportVersion1ViewModel::setAll(bool scheduled)
{
    bool changed = false;
    for (ImportableURL &entry : m_importableURLs) {
        changed = changed || entry.scheduledToImport != scheduled;
        entry.scheduledToImport = scheduled;
    }
    if (!changed)
        return;
    emit dataChanged(index(0), index(rowCount() - 1), {Qt::CheckStateRole, ScheduledRole});
    emit scheduleChanged();
}

void ImportVersion1ViewModel::setScheduled(int row, bool scheduled)
{
    if (m_importableURLs[row].scheduledToImport == scheduled)
        return;
    m_importableURLs[row].scheduledToImport = scheduled;
    emit dataChanged(index(row), index(row), {Qt::CheckStateRole, ScheduledRole});
    emit scheduleChanged();
}

QString ImportVersion1ViewModel::heading() const
{
    const qsizetype count = m_importableURLs.size();
    return QStringLiteral("Choose from %1 document%2 available to import")
        .arg(count)
        .arg(count == 1 ? QString() : QStringLiteral("s"));
}

QString ImportVersion1ViewModel::defaultButtonTitle() const
{
    return selectedURLs().isEmpty() ? QStringLiteral("Done") : QStringLiteral("Import");
}

void ImportVersion1ViewModel::dismiss()
{
    finish();
}

void ImportVersion1ViewModel::performDefaultAction()
{
    const QList<QUrl> selected = selectedURLs();
    if (!selected.isEmpty() && m_importer)
        m_importer(selected);
    finish();
}

void ImportVersion1ViewModel::finish()
{
    Settings::shared().setValue(offeredKey, true);
    if (m_windowCloser)
        m_windowCloser();
}

int ImportVersion1ViewModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_importableURLs.size());
}

QVariant ImportVersion1ViewModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ImportableURL &entry = m_importableURLs.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return QFileInfo(entry.url.path()).completeBaseName();
    case Qt::ToolTipRole:
    case PathRole:
        return entry.url.isLocalFile() ? entry.url.toLocalFile() : entry.url.toString();
    case Qt::CheckStateRole:
        return entry.scheduledToImport ? Qt::Checked : Qt::Unchecked;
    case ScheduledRole:
        return entry.scheduledToImport;
    default:
        return {};
    }
}

bool ImportVersion1ViewModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    if (role == Qt::CheckStateRole)
        setScheduled(index.row(), value.toInt() == Qt::Checked);
    else if (role == ScheduledRole)
        setScheduled(index.row(), value.toBool());
    else
        return false;
    return true;
}

Qt::ItemFlags ImportVersion1ViewModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren;
}

QHash<int, QByteArray> ImportVersion1ViewModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(PathRole, "path");
    names.insert(ScheduledRole, "scheduledToImport");
    return names;
}

} // namespace ovalis
