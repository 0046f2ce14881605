#pragma once

#include <QSplitter>

namespace ovalis {

// Two panes side by side, one of which, the side pane, gives way: as the
// splitter narrows, the side pane shrinks to its minimum width before the
// main pane loses any; as it widens, the side pane first gets back its
// preferred width and the main pane takes the rest. The widths the user
// drags the handle to become the preferred ones.
class YieldingSplitter : public QSplitter
{
    Q_OBJECT

public:
    // sidePane is the index (0 or 1) of the pane that gives way.
    explicit YieldingSplitter(int sidePane, QWidget *parent = nullptr);

    // The side pane keeps sideWidth while the main pane has at least
    // mainWidth; lays the panes out by them.
    void setPreferredWidths(int mainWidth, int sideWidth);
    int preferredSideWidth() const { return m_sideWidth; }
    int preferredMainWidth() const { return m_mainWidth; }

    // Lays the panes out by the preferred widths for the splitter's width
    // (as a resize does); call after showing a hidden pane.
    void layOutPanes();

signals:
    // The user dragged the handle: the panes' widths are the preferred ones.
    void preferredWidthsChanged();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    int m_sidePane;
    int m_mainWidth = 0;
    int m_sideWidth = 0;
};

} // namespace ovalis
