#include "media/ui/CaseDragMenuController.h"

#include <QMenu>
#include <QWidget>

#include "store/Case.h"
#include "store/ManagedObjectContext.h"
#include "util/Log.h"
#include "util/UndoManager.h"

namespace ovalis {

CaseDragMenuController::CaseDragMenuController(QObject *parent)
    : QObject(parent)
{
}

CaseDragMenuController::~CaseDragMenuController()
{
    delete m_menu;
}

void CaseDragMenuController::showMenu(Case *source, Case *destination, QWidget *view, const QPoint &globalPosition)
{
    if (!view)
        return;
    m_sourceCase = CaseReference(source);
    m_destinationCase = CaseReference(destination);
    delete m_menu;
    m_menu = new QMenu(view);
    m_menu->setAttribute(Qt::WA_DeleteOnClose);
    m_menu->addAction(QStringLiteral("Link Cases"), this, &CaseDragMenuController::linkCases);
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("Merge Tags"), this, &CaseDragMenuController::copyTags);
    m_menu->addAction(QStringLiteral("Merge Images"), this, &CaseDragMenuController::copyImages);
    m_menu->addAction(QStringLiteral("Merge All"), this, &CaseDragMenuController::copyAll);
    m_menu->popup(globalPosition);
}

void CaseDragMenuController::linkCases()
{
    runAsUndoStep(QStringLiteral("Link cases"), QStringLiteral("Link cases"), [](Case *source, Case *destination) {
        source->linkPatient(destination);
        destination->linkPatient(source);
    });
}

void CaseDragMenuController::copyTags()
{
    runAsUndoStep(QStringLiteral("Copy tags"), QStringLiteral("Copy tags"),
                  [](Case *source, Case *destination) { destination->mergeTags(source); });
}

void CaseDragMenuController::copyImages()
{
    runAsUndoStep(QStringLiteral("Copy images"), QStringLiteral("Merge Images"),
                  [](Case *source, Case *destination) { destination->mergeMedia(source); });
}

void CaseDragMenuController::copyAll()
{
    runAsUndoStep(QStringLiteral("Copy tags, images, descriptions"), QStringLiteral("Merge All Data"),
                  [](Case *source, Case *destination) {
                      destination->mergeTags(source);
                      destination->mergeMedia(source);
                      destination->mergeDescriptions(source);
                  });
}

void CaseDragMenuController::runAsUndoStep(const QString &logLine, const QString &actionName,
                                           const std::function<void(Case *, Case *)> &operations)
{
    Log::info(LogArea::UI, logLine);
    if (!m_sourceCase.isLive() || !m_destinationCase.isLive())
        return;
    Case *source = m_sourceCase.get();
    Case *destination = m_destinationCase.get();
    UndoManager *undoManager = source->managedObjectContext()->undoManager();
    if (!undoManager) {
        operations(source, destination);
        return;
    }
    undoManager->beginUndoGrouping();
    undoManager->setActionName(actionName);
    operations(source, destination);
    undoManager->endUndoGrouping();
}

} // namespace ovalis
