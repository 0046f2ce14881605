#pragma once

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QString>
#include <optional>

#include "media/AnnotationMark.h"
#include "media/AnnotationTool.h"

namespace ovalis {

// The shapes and sizes of the marks the annotation editor makes.
class AnnotationGeometry
{
public:
    // A drag must move further than this in x or y to make a mark.
    static constexpr double minimumDrag = 4.0;
    static constexpr double shapeBorderWidth = 3.0;
    static constexpr double arrowBoundsOutset = 2.0;
    static constexpr double textEntryWidth = 220.0;
    static constexpr double minimumTextWidth = 30.0;
    static constexpr double textPadding = 10.0;
    static constexpr double textBorderWidth = 1.0;
    static constexpr double textBackgroundAlpha = 0.12;

    // The mark of a drag from a to b (page points) with a shape tool; nothing
    // for the text tool or a drag of at most minimumDrag in both directions.
    static std::optional<AnnotationMark> markForDrag(AnnotationTool tool, const QPointF &a, const QPointF &b,
                                                     const QColor &color);

    // The text entry's height for a text size: fontSize · 1.6, rounded up.
    static double textEntryHeight(double fontSize);
    // A label's height: fontSize · 1.4, rounded up.
    static double textLabelHeight(double fontSize);
    // The system font at fontSize, sized in page points.
    static QFont textFont(double fontSize);
    // How wide text is in textFont(fontSize).
    static double textWidth(const QString &text, double fontSize);

    // A label whose top left is at p; nothing for empty text. textWidth is
    // the text's measured width (see textWidth()).
    static std::optional<AnnotationMark> textMark(const QString &text, const QPointF &p, double fontSize, const QColor &color,
                                                  double measuredTextWidth);
};

} // namespace ovalis
