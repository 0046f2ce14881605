#pragma once

#include <QIcon>
#include <initializer_list>

namespace ovalis {

// Icons from the desktop's icon theme, for toolbars.
class ThemeIcon
{
public:
    // The first of the named icons the theme has; a null icon when it has none.
    static QIcon firstOf(std::initializer_list<const char *> names);
};

} // namespace ovalis
