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

int ScrollAccumulator::accumulate(double delta, bool notched)
{
    m_cumulativeYDelta += delta;
    int steps = 0;
    if (notched) {
        // Eighths of a notch add up to exactly one, tenths nearly so.
        constexpr double slack = 1e-9;
        if (m_cumulativeYDelta >= 1.0 - slack || m_cumulativeYDelta <= -1.0 + slack)
            steps = m_cumulativeYDelta > 0 ? int(m_cumulativeYDelta + slack) : int(m_cumulativeYDelta - slack);
    } else if (m_cumulativeYDelta < -1.0) {
        steps = -1;
    } else if (m_cumulativeYDelta > 1.0) {
        steps = 1;
    }
    if (steps != 0)
        m_cumulativeYDelta = 0.0;
    return steps;
}

} // namespace ovalis
