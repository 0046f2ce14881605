#pragma once

#include <QList>
#include <QString>
#include <optional>

#include "store/Predicate.h"
#include "store/SortDescriptor.h"

namespace ovalis {

struct FetchRequest {
    QString entityName;
    Predicate predicate; // null: every record
    QList<SortDescriptor> sortDescriptors;
    std::optional<int> fetchLimit;
    // Any order will do: the caller orders the objects itself. Without sort
    // descriptors the objects otherwise come in the order they were made.
    bool unordered = false;
    bool returnsObjectsAsFaults = false; // objects are always materialised; kept for callers
};

} // namespace ovalis
