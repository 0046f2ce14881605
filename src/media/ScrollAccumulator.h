#pragma once

#include <QPoint>

namespace ovalis {

// Turns scrolling into steps through the media: distance accumulates until
// it passes one unit in either direction, which makes one step and starts
// again from zero.
class ScrollAccumulator
{
public:
    // The distance of one wheel event, positive when scrolling down: wheel
    // notches (angle delta / 120) for a wheel, pixels / 30 for a precise
    // device (one that reports pixel deltas, such as a touchpad).
    static double deltaForWheel(const QPoint &angleDelta, const QPoint &pixelDelta);

    // Adds delta. Answers +1 (and resets) once the total is above 1.0, -1
    // (and resets) once it is below -1.0, else 0: exactly ±1.0 does not step.
    int accumulate(double delta);

    double cumulativeYDelta() const { return m_cumulativeYDelta; }
    void reset() { m_cumulativeYDelta = 0.0; }

private:
    double m_cumulativeYDelta = 0.0;
};

} // namespace ovalis
