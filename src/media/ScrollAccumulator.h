#pragma once

#include <QPoint>

namespace ovalis {

// Turns scrolling into steps through the media. A mouse wheel steps once per
// notch; smaller wheel movements (high-resolution wheels, touchpads that
// report angles) add up until they make a whole notch. Precise devices
// (pixel deltas) add up until the distance passes one unit. A step starts
// the count again from zero.
class ScrollAccumulator
{
public:
    // The distance of one wheel event, positive when scrolling down: wheel
    // notches (angle delta / 120) for a wheel, pixels / 30 for a precise
    // device (one that reports pixel deltas, such as a touchpad).
    static double deltaForWheel(const QPoint &angleDelta, const QPoint &pixelDelta);
    // Whether the event counts in wheel notches (no pixel delta).
    static bool isNotched(const QPoint &pixelDelta) { return pixelDelta.isNull(); }

    // Adds delta and answers the steps it makes, positive downwards.
    // Notched: a whole notch steps (an event of several notches makes as
    // many steps). Otherwise the total must pass ±1.0: exactly ±1.0 does not
    // step. The total restarts from zero after a step.
    int accumulate(double delta, bool notched = false);

    double cumulativeYDelta() const { return m_cumulativeYDelta; }
    void reset() { m_cumulativeYDelta = 0.0; }

private:
    double m_cumulativeYDelta = 0.0;
};

} // namespace ovalis
