#pragma once

#include <QHash>
#include <QIcon>
#include <QString>
#include <QStringList>

#include "library/ResultTableModel.h"

namespace ovalis {

class Tag;

// The tag list: label and number of cases carrying it and every active tag.
// Active tags (those filtering the cases) carry a check mark before the label
// and are bold in the accent colour, so they stand apart from the selected
// row, which the view fills with the accent colour; on that row the mark
// takes the selected text's colour. Tags without active cases are dimmed
// (secondary label colour).
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

    // The label column's decoration: a check mark for an active tag, else a
    // blank of the same size, so that the labels line up.
    static constexpr int markSize = 16;
    QIcon activeMark() const;
    QIcon blankMark() const;

    // Within a batch the counts are made again once, when it ends, however
    // many runs of rows it reloads: a view that sizes the count column asks
    // for every row after each run.
    void beginUpdates() override;
    void endUpdates() override;
    // The counts are made again when other tags are active than when they
    // were made; a re-query of the list does the same.
    void refreshCountsForActiveTags();
    // How many times the counts of the listed tags were made (for measuring).
    int countingPasses() const { return m_countingPasses; }

private:
    // The counts of all listed tags are made together when the first one is
    // asked for, and kept until the list changes.
    QString countText(Tag *tag) const;
    void countListedTags() const;
    // The labels the active tags' terms compare with, in activeTags order.
    QStringList activeLabels() const;

    mutable QHash<const Tag *, QString> m_countTexts;
    // Drawn in the palette's colours; made again when they change.
    mutable QIcon m_activeMark;
    mutable QRgb m_activeMarkColours[2] = {0, 0};
    mutable QIcon m_blankMark;
    mutable QStringList m_countedActiveLabels; // the active tags m_countTexts were made with
    mutable int m_countingPasses = 0;
    bool m_inBatch = false;
    bool m_countsStale = false; // a change within the batch made the kept counts old
};

} // namespace ovalis
