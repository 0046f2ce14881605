#include "util/ui/ApplicationHost.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

namespace ovalis {

ApplicationHost::ApplicationMenus ApplicationHost::addWindowMenus(ApplicationHost *host, QMenuBar *menuBar, QWidget *window)
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("ApplicationHost", text); };
    ApplicationMenus menus{};
    if (host) {
        menus = host->addApplicationMenus(menuBar);
    } else {
        menus.file = menuBar->addMenu(tr("&File"));
        menus.edit = menuBar->addMenu(tr("&Edit"));
        menus.view = menuBar->addMenu(tr("&View"));
        menus.window = menuBar->addMenu(tr("&Window"));
    }
    auto *minimise = new QAction(tr("Minimise"), menus.window);
    minimise->setShortcut(QKeySequence(QStringLiteral("Ctrl+M")));
    QObject::connect(minimise, &QAction::triggered, window, &QWidget::showMinimized);
    QAction *firstWindowItem = menus.window->actions().value(0);
    menus.window->insertAction(firstWindowItem, minimise);
    if (firstWindowItem)
        menus.window->insertSeparator(firstWindowItem);
    return menus;
}

} // namespace ovalis
