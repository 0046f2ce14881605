#include "media/DicomWindowing.h"

#include <QStringList>
#include <cmath>

namespace ovalis {

namespace {

constexpr double pixelsAcrossRange = 500.0;

QString valueText(double value)
{
    const bool whole = std::abs(value - std::round(value)) < 0.05;
    QString text = QString::number(value, 'f', whole ? 0 : 1);
    if (text.startsWith(QLatin1Char('-')))
        text.replace(0, 1, QChar(0x2212));
    return text;
}

} // namespace

std::optional<DicomWindow> DicomWindowing::presetForKey(int key)
{
    switch (key) {
    case Qt::Key_1:
        return DicomWindow{40, 80};
    case Qt::Key_2:
        return DicomWindow{40, 400};
    case Qt::Key_3:
        return DicomWindow{-600, 1500};
    case Qt::Key_4:
        return DicomWindow{400, 1800};
    default:
        return std::nullopt;
    }
}

DicomWindow DicomWindowing::dragged(const DicomWindow &start, const QPointF &offset, double sensitivity)
{
    return {start.center + offset.y() * sensitivity, std::max(1.0, start.width + offset.x() * sensitivity)};
}

double DicomWindowing::sensitivityFor(const DicomWindow &range)
{
    return std::max(range.width, 1.0) / pixelsAcrossRange;
}

QString DicomWindowing::overlayText(const std::optional<DicomWindow> &window, int frame, int frameCount)
{
    QStringList parts;
    if (window)
        parts.append(QStringLiteral("W %1 L %2").arg(valueText(window->width), valueText(window->center)));
    if (frameCount > 1)
        parts.append(QStringLiteral("frame %1/%2").arg(frame + 1).arg(frameCount));
    return parts.join(QStringLiteral("  "));
}

} // namespace ovalis
