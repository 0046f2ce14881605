#include "library/ui/YieldingSplitter.h"

#include <QResizeEvent>
#include <algorithm>

namespace ovalis {

namespace {

int minimumWidthOf(const QWidget *pane)
{
    return qMax(pane->minimumWidth(), pane->minimumSizeHint().width());
}

} // namespace

YieldingSplitter::YieldingSplitter(int sidePane, QWidget *parent)
    : QSplitter(Qt::Horizontal, parent)
    , m_sidePane(sidePane == 0 ? 0 : 1)
{
    connect(this, &QSplitter::splitterMoved, this, [this] {
        const QList<int> widths = sizes();
        if (widths.size() != 2 || widths.contains(0))
            return;
        m_sideWidth = widths[m_sidePane];
        m_mainWidth = widths[1 - m_sidePane];
        emit preferredWidthsChanged();
    });
}

void YieldingSplitter::setPreferredWidths(int mainWidth, int sideWidth)
{
    m_mainWidth = mainWidth;
    m_sideWidth = sideWidth;
    QList<int> widths(2);
    widths[m_sidePane] = sideWidth;
    widths[1 - m_sidePane] = mainWidth;
    setSizes(widths);
    layOutPanes();
}

void YieldingSplitter::layOutPanes()
{
    if (count() != 2 || m_sideWidth <= 0)
        return;
    const QWidget *side = widget(m_sidePane);
    const QWidget *main = widget(1 - m_sidePane);
    if (side->isHidden() || main->isHidden())
        return;
    const int total = contentsRect().width() - handleWidth();
    const int sideMinimum = minimumWidthOf(side);
    const int mainMinimum = minimumWidthOf(main);
    if (total < sideMinimum + mainMinimum)
        return; // too narrow for both: as QSplitter lays them out
    // Up to its preferred width, the side pane has what the main pane's
    // preferred width leaves; never less than its minimum, and never so much
    // that the main pane goes below its own.
    const int sideWidth = std::clamp(total - m_mainWidth, sideMinimum, qMax(sideMinimum, qMin(m_sideWidth, total - mainMinimum)));
    QList<int> widths(2);
    widths[m_sidePane] = sideWidth;
    widths[1 - m_sidePane] = total - sideWidth;
    if (widths != sizes())
        setSizes(widths);
}

void YieldingSplitter::resizeEvent(QResizeEvent *event)
{
    QSplitter::resizeEvent(event);
    layOutPanes();
}

} // namespace ovalis
