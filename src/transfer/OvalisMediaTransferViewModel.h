#pragma once

#include "transfer/MediaTransferViewModel.h"

namespace ovalis {

class CoreDataStack;

// The library's transfer model: announces changed media when a run ends.
class OvalisMediaTransferViewModel : public MediaTransferViewModel
{
    Q_OBJECT

public:
    using MediaTransferViewModel::MediaTransferViewModel;

    // The model for the stack's library: named "Library with N case(s)",
    // service "ovalis-peer", with a new OvalisMissingMediaManager.
    static std::unique_ptr<OvalisMediaTransferViewModel> forLibrary(CoreDataStack &stack,
                                                                    std::unique_ptr<MultiPeerManager> multiPeerManager = nullptr);
    static QString displayName(int caseCount);

protected:
    void mediaUpdated() override;
};

} // namespace ovalis
