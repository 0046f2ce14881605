#pragma once

#include <QStyledItemDelegate>

namespace ovalis {

// Draws one grid item: the thumbnail fitted into a square, the file name
// under it, and a rounded highlight when selected.
class MediaThumbnailDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit MediaThumbnailDelegate(int thumbnailSide, QObject *parent = nullptr);

    // Every item has this size, so the grid lays out without asking for data.
    QSize cellSize(const QFont &font) const;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    int m_side;
};

} // namespace ovalis
