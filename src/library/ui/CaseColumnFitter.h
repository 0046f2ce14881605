#pragma once

#include <QObject>
#include <QElapsedTimer>
#include <QTimer>

class QTableView;

namespace ovalis {

// Fits the case list's columns to its width. The summary column takes what
// the others leave. The identifier, age and sex, and date columns are as wide
// as their texts and titles. The tags column is as wide as its texts while the
// summary keeps a readable width, and gives way (its texts cut short) only
// when it would not; where even that is too narrow the summary keeps its
// readable width and the list scrolls sideways. Refits when the list is shown or resized, lists other
// cases or scrolls to other rows. Measures the rows on screen and a few
// hundred around them, never the whole list.
class CaseColumnFitter : public QObject
{
    Q_OBJECT

public:
    // table (not owned, the parent) shows a CaseTableModel.
    explicit CaseColumnFitter(QTableView *table);

    // The summary's narrowest width before the tags column gives way.
    int summaryMinimumWidth() const;
    // What a column needs to show its texts and its title uncut.
    int contentWidth(int column) const;

public slots:
    // Fits now (only while the list is visible: hidden, it would measure every row).
    void fitColumns();
    // Fits once control returns to the event loop.
    void scheduleFit();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QTableView *m_table;
    QTimer m_fitTimer;
    QElapsedTimer m_lastFit; // since the columns were last fitted
};

} // namespace ovalis
