#pragma once

#include <QPointF>
#include <QString>
#include <optional>

#include "media/DicomRenderer.h"

namespace ovalis {

// How the display changes the window of a DICOM image: the presets of the
// number keys, dragging, and the text the overlay shows.
class DicomWindowing
{
public:
    // Keys 1 to 4: brain 40/80, soft tissue 40/400, lung -600/1500, bone
    // 400/1800 (level/width); nothing for other keys.
    static std::optional<DicomWindow> presetForKey(int key);

    // The window a drag from start by offset (display pixels) makes:
    // rightwards widens it, downwards raises the level, each pixel moving by
    // sensitivity values. The width stays at 1 at least.
    static DicomWindow dragged(const DicomWindow &start, const QPointF &offset, double sensitivity);
    // Values per dragged pixel for an image whose values span range, so
    // that a drag across a typical display covers it about twice.
    static double sensitivityFor(const DicomWindow &range);

    // "W 1500 L −600", whole numbers unless the window has fractions (no
    // window for colour images), and for several frames "frame 3/15" after
    // it (frame counted from 0).
    static QString overlayText(const std::optional<DicomWindow> &window, int frame, int frameCount);
};

} // namespace ovalis
