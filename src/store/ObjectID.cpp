#include "store/ObjectID.h"

#include "store/EntityDescription.h"

namespace ovalis {

QString ObjectID::toString() const
{
    const auto &entities = ManagedObjectModel::ovalisModel().entities();
    const QString name = entity >= 0 && entity < entities.size() ? entities[entity].name : QStringLiteral("?");
    return isTemporary() ? QStringLiteral("x-ovalis://%1/t%2").arg(name).arg(-key)
                         : QStringLiteral("x-ovalis://%1/p%2").arg(name).arg(key);
}

} // namespace ovalis
