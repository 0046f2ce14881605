#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <memory>

namespace ovalis {

// One vector mark on an annotated image, in page coordinates: points of the
// image with the origin at its bottom left.
struct AnnotationMark {
    enum class Kind {
        line,     // an arrow: a line with a closed arrowhead at its end
        square,   // a rectangle outline
        circle,   // an ellipse outline
        freeText, // a text label on a tinted background
    };

    Kind kind = Kind::line;
    QRectF bounds;
    // Line only: the ends, relative to the bounds' origin.
    QPointF startPoint;
    QPointF endPoint;
    QColor color;           // the border (and arrowhead)
    double borderWidth = 0; // no border when 0
    // FreeText only.
    QString contents;
    double fontSize = 0;
    QColor fontColor;
    QColor backgroundColor;
};

// Marks are shared between the page and the editor's undo lists, which
// tell them apart by identity.
using AnnotationMarkRef = std::shared_ptr<const AnnotationMark>;

} // namespace ovalis
