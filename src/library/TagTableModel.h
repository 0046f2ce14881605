#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include "library/ResultTableModel.h"

namespace ovalis {

class Tag;

// The tag list: label and number of cases carrying it and every active tag.
// Active tags are shown in the accent colour and bold; tags without active
// cases are dimmed (secondary label colour).
class TagTableModel : public ResultTableModel
{
    Q_OBJECT

public:
    enum Column { LabelColumn, CountColumn, ColumnCount };

    explicit TagTableModel(QObject *parent = nullptr);

    Tag *tagAtRow(int row) const;

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    // The counts of all listed tags are made together when the first one is
    // asked for, and kept until the list changes.
    QString countText(Tag *tag) const;
    void countListedTags() const;
    // The labels the active tags' terms compare with, in activeTags order.
    QStringList activeLabels() const;

    mutable QHash<const Tag *, QString> m_countTexts;
    mutable QStringList m_countedActiveLabels; // the active tags m_countTexts were made with
};

} // namespace ovalis
