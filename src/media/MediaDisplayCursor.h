#pragma once

namespace ovalis {

// The display's cursor tools, chosen by holding a modifier key over an image.
enum class MediaDisplayCursor {
    none = 0,
    loupe = 1,      // Alt: the small loupe
    magnifier = 2,  // Shift: the large loupe
    redArrow = 3,   // left Super
    greenArrow = 4, // right Super
};

} // namespace ovalis
