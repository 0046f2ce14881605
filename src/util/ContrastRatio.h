#pragma once

#include <QColor>
#include <QList>

namespace ovalis {

// How well text in one colour reads on another: the ratio of the lighter
// colour's relative luminance to the darker's (each plus 0.05), from 1 (the
// same) to 21 (black on white), as the accessibility guidelines measure it.
// Body text wants at least 4.5.
class ContrastRatio
{
public:
    static constexpr double readableText = 4.5;

    // 0 for black, 1 for white; sRGB channels linearised.
    static double relativeLuminance(const QColor &colour);
    // A translucent foreground counts as painted over the background.
    static double between(const QColor &foreground, const QColor &background);
    // The foreground as seen over the background: opaque.
    static QColor composited(const QColor &foreground, const QColor &background);
    // The foreground itself when it reaches minimum on every background;
    // otherwise the opaque colour nearest to it on the way to black or white
    // (whichever reads better on the backgrounds) that does, so a dimmed
    // colour stays as dim as it may. The backgrounds are opaque.
    static QColor readable(const QColor &foreground, const QList<QColor> &backgrounds, double minimum = readableText);
};

} // namespace ovalis
