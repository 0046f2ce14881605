#pragma once

#include <QColor>
#include <QList>
#include <QString>

namespace ovalis {

// The colours and text sizes the annotation editor offers, in toolbar order.
class AnnotationPalette
{
public:
    struct NamedColor {
        QString name; // the segment's tooltip
        QColor color;
    };
    struct TextSize {
        QString label;
        QString toolTip;
        double size;
    };

    static const QList<NamedColor> &colors();
    static const QList<TextSize> &textSizes();
};

} // namespace ovalis
