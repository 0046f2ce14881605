#include "media/ScrollAccumulator.h"

namespace ovalis {

namespace {
constexpr double angleUnitsPerNotch = 120.0;
constexpr double pixelsPerStep = 30.0;
} // namespace

double ScrollAccumulator::deltaForWheel(const QPoint &angleDelta, const QPoint &pixelDelta)
{
    // Qt's deltas are positive when the wheel turns away from the user, i.e.
    // when the content would scroll up; the media then step backwards.
    if (!pixelDelta.isNull())
        return -pixelDelta.y() / pixelsPerStep;
    return -angleDelta.y() / angleUnitsPerNotch;
}

int ScrollAccumulator::accumulate(double delta)
{
    m_cumulativeYDelta += delta;
    if (m_cumulativeYDelta < -1.0) {
        m_cumulativeYDelta = 0.0;
        return -1;
    }
    if (m_cumulativeYDelta > 1.0) {
        m_cumulativeYDelta = 0.0;
        return 1;
    }
    return 0;
}

} // namespace ovalis
