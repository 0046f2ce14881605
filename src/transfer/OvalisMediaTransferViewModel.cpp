#include "transfer/OvalisMediaTransferViewModel.h"

#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/LibraryNotifications.h"
#include "store/ManagedObjectContext.h"
#include "transfer/MultiPeerManager.h"
#include "transfer/OvalisMissingMediaManager.h"
#include "util/NotificationCenter.h"

namespace ovalis {

std::unique_ptr<OvalisMediaTransferViewModel> OvalisMediaTransferViewModel::forLibrary(CoreDataStack &stack,
                                                                                       std::unique_ptr<MultiPeerManager> multiPeerManager)
{
    const int cases = stack.mainContext()->countOfObjects(Case::entityName());
    return std::make_unique<OvalisMediaTransferViewModel>(displayName(cases), QStringLiteral("ovalis-peer"),
                                                          std::make_unique<OvalisMissingMediaManager>(stack),
                                                          std::move(multiPeerManager));
}

QString OvalisMediaTransferViewModel::displayName(int caseCount)
{
    return QStringLiteral("Library with %1 %2").arg(caseCount).arg(caseCount == 1 ? QStringLiteral("case") : QStringLiteral("cases"));
}

void OvalisMediaTransferViewModel::mediaUpdated()
{
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedMedia);
}

} // namespace ovalis
