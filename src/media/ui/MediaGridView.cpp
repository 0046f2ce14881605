#include "media/ui/MediaGridView.h"

#include <QDragEnterEvent>
#include <QPainter>
#include <limits>

namespace ovalis {

MediaGridView::MediaGridView(QWidget *parent)
    : QListView(parent)
{
    setViewMode(QListView::IconMode);
    setMovement(QListView::Static);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setUniformItemSizes(true);
    setSpacing(4);
    setSelectionRectVisible(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setAcceptDrops(false);
}

void MediaGridView::setDropHandlers(DropValidator validate, DropAcceptor accept)
{
    m_validate = std::move(validate);
    m_accept = std::move(accept);
    const bool drops = m_validate && m_accept;
    setAcceptDrops(drops);
    viewport()->setAcceptDrops(drops);
    setDropIndicatorShown(drops);
}

int MediaGridView::dropPositionAt(const QPoint &pos) const
{
    const int count = model() ? model()->rowCount(rootIndex()) : 0;
    if (count == 0)
        return 0;
    if (pos.y() > visualRect(model()->index(count - 1, 0, rootIndex())).bottom())
        return count;
    // The items of the line at pos, left to right: before the first one
    // whose middle lies right of pos.
    int bestLineDistance = std::numeric_limits<int>::max();
    int position = count;
    for (int row = 0; row < count; ++row) {
        const QRect rect = visualRect(model()->index(row, 0, rootIndex()));
        const int lineDistance = pos.y() < rect.top() ? rect.top() - pos.y() : pos.y() > rect.bottom() ? pos.y() - rect.bottom() : 0;
        if (lineDistance < bestLineDistance) {
            bestLineDistance = lineDistance;
            position = row + 1;
            if (pos.x() < rect.center().x())
                position = row;
        } else if (lineDistance == bestLineDistance && pos.x() >= rect.center().x()) {
            position = row + 1;
        }
    }
    return position;
}

void MediaGridView::judge(QDropEvent *event)
{
    const MediaDragAndDrop::DropOperation operation = m_validate ? m_validate(event->mimeData())
                                                                 : MediaDragAndDrop::DropOperation::None;
    switch (operation) {
    case MediaDragAndDrop::DropOperation::None:
        event->ignore();
        setDropIndicator(-1);
        return;
    case MediaDragAndDrop::DropOperation::Copy:
        event->setDropAction(Qt::CopyAction);
        break;
    case MediaDragAndDrop::DropOperation::Move:
        event->setDropAction(Qt::MoveAction);
        break;
    }
    event->accept();
    setDropIndicator(dropPositionAt(event->position().toPoint()));
}

void MediaGridView::dragEnterEvent(QDragEnterEvent *event)
{
    judge(event);
}

void MediaGridView::dragMoveEvent(QDragMoveEvent *event)
{
    judge(event);
}

void MediaGridView::dragLeaveEvent(QDragLeaveEvent *event)
{
    setDropIndicator(-1);
    event->accept();
}

void MediaGridView::dropEvent(QDropEvent *event)
{
    setDropIndicator(-1);
    const MediaDragAndDrop::DropOperation operation = m_validate ? m_validate(event->mimeData())
                                                                 : MediaDragAndDrop::DropOperation::None;
    if (operation == MediaDragAndDrop::DropOperation::None || !m_accept(event->mimeData(), dropPositionAt(event->position().toPoint()))) {
        event->ignore();
        return;
    }
    event->setDropAction(operation == MediaDragAndDrop::DropOperation::Move ? Qt::MoveAction : Qt::CopyAction);
    event->accept();
}

void MediaGridView::setDropIndicator(int position)
{
    if (position == m_dropIndicator)
        return;
    m_dropIndicator = position;
    viewport()->update();
}

void MediaGridView::paintEvent(QPaintEvent *event)
{
    QListView::paintEvent(event);
    const int count = model() ? model()->rowCount(rootIndex()) : 0;
    if (m_dropIndicator < 0 || count == 0)
        return;
    // A bar at the left edge of the item the drop goes before, or at the
    // right edge of the last item.
    const bool atEnd = m_dropIndicator >= count;
    const QRect rect = visualRect(model()->index(atEnd ? count - 1 : m_dropIndicator, 0, rootIndex()));
    const int x = atEnd ? rect.right() + spacing() / 2 : rect.left() - spacing() / 2;
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Highlight));
    painter.drawRoundedRect(QRectF(x - 1.5, rect.top() + 4, 3, rect.height() - 8), 1.5, 1.5);
}

} // namespace ovalis
