#pragma once

#include <optional>

namespace ovalis {

class FetchedResultsController;
class ManagedObject;

// Receives each batch of changes of a live result list, on the context's thread.
class FetchedResultsControllerDelegate
{
public:
    enum class ChangeType { Insert = 1, Delete = 2, Move = 3, Update = 4 };

    virtual ~FetchedResultsControllerDelegate() = default;
    virtual void controllerWillChangeContent(FetchedResultsController *controller) = 0;
    // oldRow is the row before the batch, newRow the row after it; each is
    // absent where the change type has none.
    virtual void controllerDidChangeObject(FetchedResultsController *controller, ManagedObject *object,
                                           std::optional<int> oldRow, ChangeType type, std::optional<int> newRow) = 0;
    virtual void controllerDidChangeContent(FetchedResultsController *controller) = 0;
};

} // namespace ovalis
