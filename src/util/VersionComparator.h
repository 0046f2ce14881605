#pragma once

#include <QString>

namespace ovalis {

// Orders version strings the way people read them: runs of digits compare as
// numbers ("10" after "9"), runs of letters as text, and a version with an
// extra pre-release part comes before the plain one ("2.0b3" before "2.0"),
// while an extra number comes after ("2.0.1" after "2.0").
class VersionComparator
{
public:
    // Negative when a is older than b, zero when they are the same, positive
    // when a is newer.
    static int compare(const QString &a, const QString &b);
};

} // namespace ovalis
