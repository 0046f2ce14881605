#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QTransform>

namespace ovalis {

// The three coordinate systems of the annotation editor and the ways
// between them:
//  - page: points of the image, origin at its bottom left, y upwards (where
//    marks live);
//  - scene: the same points with the origin at the top left, y downwards
//    (what is drawn);
//  - view: the widget's coordinates, where the scene is scaled to fit inside
//    a margin and centred.
class AnnotationPageGeometry
{
public:
    static constexpr double pageMargin = 8.0;

    AnnotationPageGeometry(const QSizeF &pageSize, const QSizeF &viewSize);

    double scale() const { return m_scale; }
    // Where the page is drawn in the view.
    QRectF pageRectInView() const;
    // Scene to view, for a painter.
    QTransform sceneToViewTransform() const;

    QPointF pageToScene(const QPointF &page) const;
    QPointF sceneToPage(const QPointF &scene) const;
    QPointF sceneToView(const QPointF &scene) const;
    QPointF viewToScene(const QPointF &view) const;
    QPointF pageToView(const QPointF &page) const { return sceneToView(pageToScene(page)); }
    QPointF viewToPage(const QPointF &view) const { return sceneToPage(viewToScene(view)); }
    QRectF pageRectToView(const QRectF &page) const;

private:
    QSizeF m_pageSize;
    double m_scale = 1.0;
    QPointF m_origin; // the page's top left in the view
};

} // namespace ovalis
