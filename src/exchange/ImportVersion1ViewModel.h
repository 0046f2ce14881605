#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QUrl>
#include <functional>

#include "exchange/ImportableURL.h"

namespace ovalis {

// The choice of version-1 documents to import: one row per document (its
// name as display text, its path, and whether it is scheduled as check
// state), the heading and default button texts, and what the buttons do.
// Main thread.
class ImportVersion1ViewModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role { PathRole = Qt::UserRole + 1, ScheduledRole };

    explicit ImportVersion1ViewModel(const QList<ImportableURL> &importableURLs, QObject *parent = nullptr);
    // One scheduled entry per location.
    static QList<ImportableURL> importableURLs(const QList<QUrl> &urls);

    const QList<ImportableURL> &importableURLs() const { return m_importableURLs; }
    // The scheduled locations, in list order.
    QList<QUrl> selectedURLs() const;
    // Flips the first entry equal to importableURL.
    void toggle(const ImportableURL &importableURL);
    void toggleRow(int row);
    void setAll(bool scheduled);

    // "Choose from %ld document%@ available to import".
    QString heading() const;
    // "Import", or "Done" when nothing is scheduled.
    QString defaultButtonTitle() const;

    // What the buttons do: the import of chosen locations, and closing the
    // window that shows the model.
    void setImporter(std::function<void(const QList<QUrl> &)> importer) { m_importer = std::move(importer); }
    void setWindowCloser(std::function<void()> closer) { m_windowCloser = std::move(closer); }
    // Records the offer as made and closes the window.
    void dismiss();
    // Imports the scheduled documents (none: nothing), records the offer as
    // made and closes the window.
    void performDefaultAction();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QHash<int, QByteArray> roleNames() const override;

    static const QString offeredKey; // "OfferedImportVersion1"

signals:
    // The set of scheduled entries changed (the default button's title may have).
    void scheduleChanged();

private:
    void setScheduled(int row, bool scheduled);
    void finish();

    QList<ImportableURL> m_importableURLs;
    std::function<void(const QList<QUrl> &)> m_importer;
    std::function<void()> m_windowCloser;
};

} // namespace ovalis
