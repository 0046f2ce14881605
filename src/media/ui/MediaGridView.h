#pragma once

#include <QListView>
#include <functional>

#include "media/MediaDragAndDrop.h"

namespace ovalis {

// The icon grid under a media collection: fixed cells that flow left to
// right and wrap. Drops are judged and taken by handlers its controller sets;
// without them (the read-only grid) nothing is dropped. While a drag hovers,
// a bar marks the position between items where it would land.
class MediaGridView : public QListView
{
    Q_OBJECT

public:
    using DropValidator = std::function<MediaDragAndDrop::DropOperation(const QMimeData *)>;
    // Answers whether the drop was taken; the int is the drop position.
    using DropAcceptor = std::function<bool(const QMimeData *, int)>;

    explicit MediaGridView(QWidget *parent = nullptr);

    void setDropHandlers(DropValidator validate, DropAcceptor accept);
    // The position between items (0 to the number of items) that a drop at
    // pos, in viewport coordinates, lands on.
    int dropPositionAt(const QPoint &pos) const;

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void judge(QDropEvent *event);
    void setDropIndicator(int position);

    DropValidator m_validate;
    DropAcceptor m_accept;
    int m_dropIndicator = -1;
};

} // namespace ovalis
