#pragma once

#include <QStyledItemDelegate>

namespace ovalis {

// Paints one document of the version-1 choice: a large round toggle (a
// green check mark when scheduled, an empty grey circle when not), the
// document's name and, below it, its path in a small secondary font.
class ImportableURLDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // Where the toggle sits within a row's rectangle.
    static QRect toggleRect(const QRect &row);

private:
    static constexpr int toggleSize = 26;
    static constexpr int margin = 10;
};

} // namespace ovalis
