#include "find/ui/AdvancedFindWindowController.h"

#include <QVBoxLayout>

#include "find/ui/AdvancedFindViewController.h"
#include "util/Settings.h"

namespace ovalis {

AdvancedFindWindowController::AdvancedFindWindowController(ManagedObjectContext *context, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_viewController(new AdvancedFindViewController(context, this))
{
    setObjectName(QStringLiteral("advancedFindWindow"));
    setWindowTitle(QStringLiteral("Advanced Find"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_viewController);
    setMinimumSize(500, 350);
    if (!restoreGeometry(Settings::shared().dataValue(frameAutosaveName())))
        resize(800, 560);
}

AdvancedFindWindowController::~AdvancedFindWindowController()
{
    // Quitting with the window open keeps where it was.
    if (isVisible())
        saveFrame();
}

void AdvancedFindWindowController::showWindow()
{
    show();
    raise();
    activateWindow();
}

void AdvancedFindWindowController::hideEvent(QHideEvent *event)
{
    saveFrame();
    QWidget::hideEvent(event);
}

void AdvancedFindWindowController::saveFrame()
{
    Settings::shared().setValue(frameAutosaveName(), saveGeometry());
}

} // namespace ovalis
