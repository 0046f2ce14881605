#pragma once

#include <QStyledItemDelegate>

namespace ovalis {

// Draws one grid item: the thumbnail fitted into a square (standing on its
// bottom edge), the file name under it, and a rounded highlight when selected.
class MediaThumbnailDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    // Thumbnails are drawn to fit a square of thumbnailSide pixels.
    explicit MediaThumbnailDelegate(int thumbnailSide, QObject *parent = nullptr);

    int thumbnailSide() const { return m_side; }
    void setThumbnailSide(int side) { m_side = side; }

    // Every item has this size, so the grid lays out without asking for data.
    QSize cellSize(const QFont &font) const;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    int m_side;
};

} // namespace ovalis
