#include "media/AnnotationPageGeometry.h"

#include <algorithm>

namespace ovalis {

AnnotationPageGeometry::AnnotationPageGeometry(const QSizeF &pageSize, const QSizeF &viewSize)
    : m_pageSize(pageSize)
{
    const double availableWidth = std::max(1.0, viewSize.width() - 2 * pageMargin);
    const double availableHeight = std::max(1.0, viewSize.height() - 2 * pageMargin);
    if (pageSize.width() > 0 && pageSize.height() > 0)
        m_scale = std::min(availableWidth / pageSize.width(), availableHeight / pageSize.height());
    m_origin = QPointF((viewSize.width() - pageSize.width() * m_scale) / 2,
                       (viewSize.height() - pageSize.height() * m_scale) / 2);
}

QRectF AnnotationPageGeometry::pageRectInView() const
{
    return QRectF(m_origin, m_pageSize * m_scale);
}

QTransform AnnotationPageGeometry::sceneToViewTransform() const
{
    return QTransform(m_scale, 0, 0, m_scale, m_origin.x(), m_origin.y());
}

QPointF AnnotationPageGeometry::pageToScene(const QPointF &page) const
{
    return QPointF(page.x(), m_pageSize.height() - page.y());
}

QPointF AnnotationPageGeometry::sceneToPage(const QPointF &scene) const
{
    return QPointF(scene.x(), m_pageSize.height() - scene.y());
}

QPointF AnnotationPageGeometry::sceneToView(const QPointF &scene) const
{
    return m_origin + scene * m_scale;
}

QPointF AnnotationPageGeometry::viewToScene(const QPointF &view) const
{
    return (view - m_origin) / m_scale;
}

QRectF AnnotationPageGeometry::pageRectToView(const QRectF &page) const
{
    return QRectF(pageToView(page.topLeft()), pageToView(page.bottomRight())).normalized();
}

} // namespace ovalis
