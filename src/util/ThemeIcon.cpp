#include "util/ThemeIcon.h"

namespace ovalis {

QIcon ThemeIcon::firstOf(std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        const QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
        if (!icon.isNull())
            return icon;
    }
    return QIcon();
}

} // namespace ovalis
