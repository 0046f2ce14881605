#include "exchange/ui/ImportableURLDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>

#include "exchange/ImportVersion1ViewModel.h"

namespace ovalis {

namespace {

QFont pathFont(const QFont &base)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * 0.85);
    return font;
}

} // namespace

QRect ImportableURLDelegate::toggleRect(const QRect &row)
{
    return QRect(row.left() + margin, row.center().y() - toggleSize / 2, toggleSize, toggleSize);
}

QSize ImportableURLDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    const int text = option.fontMetrics.height() + QFontMetrics(pathFont(option.font)).height() + 2;
    return QSize(option.rect.width(), qMax(toggleSize, text) + 2 * 8);
}

void ImportableURLDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QPalette &palette = option.palette;
    if (option.state & QStyle::State_MouseOver)
        painter->fillRect(option.rect, palette.color(QPalette::AlternateBase));

    const bool scheduled = index.data(ImportVersion1ViewModel::ScheduledRole).toBool();
    const QRectF toggle = QRectF(toggleRect(option.rect)).adjusted(1, 1, -1, -1);
    if (scheduled) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(52, 168, 83));
        painter->drawEllipse(toggle);
        QPainterPath check;
        check.moveTo(toggle.left() + toggle.width() * 0.27, toggle.top() + toggle.height() * 0.52);
        check.lineTo(toggle.left() + toggle.width() * 0.44, toggle.top() + toggle.height() * 0.69);
        check.lineTo(toggle.left() + toggle.width() * 0.74, toggle.top() + toggle.height() * 0.34);
        painter->setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(check);
    } else {
        painter->setPen(QPen(QColor(150, 150, 150), 1.6));
        painter->setBrush(Qt::NoBrush);
        painter->drawEllipse(toggle);
    }

    const int textLeft = option.rect.left() + margin + toggleSize + margin;
    const QRect textRect(textLeft, option.rect.top() + 8, option.rect.right() - textLeft - margin, option.rect.height() - 16);
    const QFontMetrics nameMetrics(option.font);
    painter->setFont(option.font);
    painter->setPen(palette.color(QPalette::Text));
    painter->drawText(QRect(textRect.topLeft(), QSize(textRect.width(), nameMetrics.height())), Qt::AlignLeft | Qt::AlignVCenter,
                      nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, textRect.width()));
    const QFont small = pathFont(option.font);
    const QFontMetrics pathMetrics(small);
    painter->setFont(small);
    painter->setPen(palette.color(QPalette::PlaceholderText));
    painter->drawText(QRect(textRect.left(), textRect.top() + nameMetrics.height() + 2, textRect.width(), pathMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      pathMetrics.elidedText(index.data(ImportVersion1ViewModel::PathRole).toString(), Qt::ElideMiddle, textRect.width()));
    painter->restore();
}

} // namespace ovalis
