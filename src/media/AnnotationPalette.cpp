#include "media/AnnotationPalette.h"

namespace ovalis {

// The desktop's usual bright system colours.
const QList<AnnotationPalette::NamedColor> &AnnotationPalette::colors()
{
    static const QList<NamedColor> palette{
        {QStringLiteral("Red"), QColor(255, 59, 48)},     {QStringLiteral("Yellow"), QColor(255, 204, 0)},
        {QStringLiteral("Green"), QColor(52, 199, 89)},   {QStringLiteral("Blue"), QColor(0, 122, 255)},
        {QStringLiteral("Purple"), QColor(175, 82, 222)}, {QStringLiteral("White"), QColor(255, 255, 255)},
        {QStringLiteral("Black"), QColor(0, 0, 0)},
    };
    return palette;
}

const QList<AnnotationPalette::TextSize> &AnnotationPalette::textSizes()
{
    static const QList<TextSize> sizes{
        {QStringLiteral("S"), QStringLiteral("Small (12pt)"), 12.0},
        {QStringLiteral("M"), QStringLiteral("Medium (18pt)"), 18.0},
        {QStringLiteral("L"), QStringLiteral("Large (28pt)"), 28.0},
    };
    return sizes;
}

} // namespace ovalis
