#pragma once

#include <QAction>
#include <QMenu>
#include <QStringList>

namespace ovalis::test {

// The menu's item titles in order, "---" for a separator. Widget tests only.
inline QStringList menuTitles(const QMenu *menu)
{
    QStringList titles;
    for (const QAction *action : menu->actions())
        titles << (action->isSeparator() ? QStringLiteral("---") : action->text());
    return titles;
}

} // namespace ovalis::test
