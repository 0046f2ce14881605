#include "media/ui/MediaThumbnailDelegate.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace ovalis {

namespace {
constexpr int padding = 6;
constexpr int textGap = 4;
} // namespace

MediaThumbnailDelegate::MediaThumbnailDelegate(int thumbnailSide, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_side(thumbnailSide)
{
}

QSize MediaThumbnailDelegate::cellSize(const QFont &font) const
{
    const QFontMetrics metrics(font);
    return {m_side + 2 * padding, m_side + 2 * padding + textGap + metrics.height()};
}

QSize MediaThumbnailDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return cellSize(option.font);
}

void MediaThumbnailDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRect cell = option.rect;
    const QPalette &palette = option.palette;
    const bool selected = option.state & QStyle::State_Selected;
    const bool active = option.state & QStyle::State_Active;
    if (selected) {
        QColor highlight = palette.color(active ? QPalette::Active : QPalette::Inactive, QPalette::Highlight);
        if (!active)
            highlight.setAlpha(110);
        QPainterPath path;
        path.addRoundedRect(QRectF(cell).adjusted(1.5, 1.5, -1.5, -1.5), 8, 8);
        painter->fillPath(path, highlight);
    }

    const QRect square(cell.left() + (cell.width() - m_side) / 2, cell.top() + padding, m_side, m_side);
    const QImage image = index.data(Qt::DecorationRole).value<QImage>();
    if (image.isNull()) {
        // Still being made: a quiet frame where it will be.
        QColor frame = palette.color(QPalette::Mid);
        frame.setAlpha(60);
        painter->setPen(Qt::NoPen);
        painter->setBrush(frame);
        painter->drawRoundedRect(QRectF(square).adjusted(m_side * 0.1, m_side * 0.1, -m_side * 0.1, -m_side * 0.1), 6, 6);
    } else {
        const QSize fitted = image.size().scaled(square.size(), Qt::KeepAspectRatio).boundedTo(image.size());
        const QRect target(square.left() + (square.width() - fitted.width()) / 2,
                           square.bottom() + 1 - fitted.height(), fitted.width(), fitted.height());
        painter->setRenderHint(QPainter::SmoothPixmapTransform, fitted != image.size());
        painter->drawImage(target, image);
    }

    const QRect textRect(cell.left() + padding, square.bottom() + 1 + textGap, cell.width() - 2 * padding,
                         option.fontMetrics.height());
    const QString name = option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle,
                                                       textRect.width());
    painter->setFont(option.font);
    painter->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(textRect, Qt::AlignHCenter | Qt::AlignVCenter, name);
    painter->restore();
}

} // namespace ovalis
