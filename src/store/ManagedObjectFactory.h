#pragma once

#include <memory>

namespace ovalis {

class ManagedObject;

// A new object of the class that stands for the entity (Case, Media, Tag).
std::unique_ptr<ManagedObject> makeManagedObject(int entityIndex);

} // namespace ovalis
