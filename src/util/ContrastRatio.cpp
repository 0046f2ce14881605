#include "util/ContrastRatio.h"

#include <algorithm>
#include <cmath>

namespace ovalis {

namespace {

double linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double ratioOfLuminances(double first, double second)
{
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

// The least contrast of colour on any of the backgrounds.
double leastContrast(const QColor &colour, const QList<QColor> &backgrounds)
{
    double least = 21.0;
    for (const QColor &background : backgrounds)
        least = std::min(least, ContrastRatio::between(colour, background));
    return least;
}

// Opaque, in the 8-bit channels it is painted with.
QColor mixed(const QColor &from, const QColor &to, double amount)
{
    const auto channel = [amount](double a, double b) { return int(std::lround((a + (b - a) * amount) * 255.0)); };
    return QColor(channel(from.redF(), to.redF()), channel(from.greenF(), to.greenF()), channel(from.blueF(), to.blueF()));
}

} // namespace

double ContrastRatio::relativeLuminance(const QColor &colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

QColor ContrastRatio::composited(const QColor &foreground, const QColor &background)
{
    const QColor front = foreground.toRgb();
    const QColor back = background.toRgb();
    return mixed(back, front, front.alphaF());
}

double ContrastRatio::between(const QColor &foreground, const QColor &background)
{
    return ratioOfLuminances(relativeLuminance(composited(foreground, background)), relativeLuminance(background));
}

QColor ContrastRatio::readable(const QColor &foreground, const QList<QColor> &backgrounds, double minimum)
{
    if (backgrounds.isEmpty() || leastContrast(foreground, backgrounds) >= minimum)
        return foreground;
    const QColor black(Qt::black);
    const QColor white(Qt::white);
    const QColor extreme = leastContrast(black, backgrounds) >= leastContrast(white, backgrounds) ? black : white;
    const QColor start = composited(foreground, backgrounds.first());
    // Contrast grows on the way to the extreme (on backgrounds that all lie
    // on the other side of the start), so the least step that reaches the
    // minimum is found by halving.
    if (leastContrast(extreme, backgrounds) < minimum)
        return extreme;
    double low = 0.0;
    double high = 1.0;
    for (int step = 0; step < 16; ++step) {
        const double middle = (low + high) / 2;
        if (leastContrast(mixed(start, extreme, middle), backgrounds) >= minimum)
            high = middle;
        else
            low = middle;
    }
    return mixed(start, extreme, high);
}

} // namespace ovalis
