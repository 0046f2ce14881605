#include "store/ManagedObjectFactory.h"

#include "store/Case.h"
#include "store/Media.h"
#include "store/Tag.h"

namespace ovalis {

std::unique_ptr<ManagedObject> makeManagedObject(int entityIndex)
{
    const ManagedObjectModel &model = ManagedObjectModel::ovalisModel();
    const EntityDescription &entity = model.entities()[entityIndex];
    if (entity.name == Case::entityName())
        return std::make_unique<Case>(entity, entityIndex);
    if (entity.name == Media::entityName())
        return std::make_unique<Media>(entity, entityIndex);
    return std::make_unique<Tag>(entity, entityIndex);
}

} // namespace ovalis
