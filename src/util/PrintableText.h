#pragma once

#include <QString>

namespace ovalis {

// Text from elsewhere (a peer's name, a name in a file) made safe to show:
// without control characters, so that it cannot move the cursor, clear a
// line or recolour a terminal, and without the invisible characters that
// reorder or break the text around it.
class PrintableText
{
public:
    // The text without C0 and C1 controls (escape sequences lose their
    // escape and show as harmless characters), line and paragraph separators,
    // and format characters such as direction overrides; tabs and line
    // breaks become spaces.
    static QString from(const QString &text);
};

} // namespace ovalis
