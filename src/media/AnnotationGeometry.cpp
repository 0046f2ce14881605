#include "media/AnnotationGeometry.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <algorithm>
#include <cmath>

namespace ovalis {

std::optional<AnnotationMark> AnnotationGeometry::markForDrag(AnnotationTool tool, const QPointF &a, const QPointF &b,
                                                              const QColor &color)
{
    const double dx = std::abs(b.x() - a.x());
    const double dy = std::abs(b.y() - a.y());
    if (tool == AnnotationTool::text || (dx <= minimumDrag && dy <= minimumDrag))
        return std::nullopt;
    AnnotationMark mark;
    mark.color = color;
    mark.borderWidth = shapeBorderWidth;
    const double minX = std::min(a.x(), b.x());
    const double minY = std::min(a.y(), b.y());
    if (tool == AnnotationTool::arrow) {
        mark.kind = AnnotationMark::Kind::line;
        mark.bounds = QRectF(minX - arrowBoundsOutset, minY - arrowBoundsOutset, dx + 2 * arrowBoundsOutset,
                             dy + 2 * arrowBoundsOutset);
        mark.startPoint = a - mark.bounds.topLeft();
        mark.endPoint = b - mark.bounds.topLeft();
        return mark;
    }
    mark.kind = tool == AnnotationTool::rectangle ? AnnotationMark::Kind::square : AnnotationMark::Kind::circle;
    mark.bounds = QRectF(minX, minY, dx, dy);
    return mark;
}

double AnnotationGeometry::textEntryHeight(double fontSize)
{
    return std::ceil(fontSize * 1.6);
}

double AnnotationGeometry::textLabelHeight(double fontSize)
{
    return std::ceil(fontSize * 1.4);
}

QFont AnnotationGeometry::textFont(double fontSize)
{
    // A pixel size, so that one point of the font is one point of the page
    // whatever the resolution of the device drawn on.
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(std::max(1, int(std::lround(fontSize))));
    return font;
}

double AnnotationGeometry::textWidth(const QString &text, double fontSize)
{
    return QFontMetricsF(textFont(fontSize)).horizontalAdvance(text);
}

std::optional<AnnotationMark> AnnotationGeometry::textMark(const QString &text, const QPointF &p, double fontSize,
                                                           const QColor &color, double measuredTextWidth)
{
    if (text.isEmpty())
        return std::nullopt;
    const double width = std::max(minimumTextWidth, measuredTextWidth + textPadding);
    const double height = textLabelHeight(fontSize);
    AnnotationMark mark;
    mark.kind = AnnotationMark::Kind::freeText;
    mark.bounds = QRectF(p.x(), p.y() - height, width, height);
    mark.contents = text;
    mark.fontSize = fontSize;
    mark.fontColor = color;
    mark.color = color;
    QColor background = color;
    background.setAlphaF(float(textBackgroundAlpha));
    mark.backgroundColor = background;
    mark.borderWidth = textBorderWidth;
    return mark;
}

} // namespace ovalis
