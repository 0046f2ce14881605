#include "store/UuidDirectoryPath.h"

#include <QStringList>

namespace ovalis {

QString uuidDirectoryPath(const QString &uuid, bool allGroups)
{
    const QStringList groups = uuid.split(QLatin1Char('-'));
    if (allGroups)
        return groups.join(QLatin1Char('/'));
    const QString first = groups.value(0);
    QStringList pieces;
    for (int i = 0; i < first.size(); i += 2)
        pieces.append(first.mid(i, 2));
    return pieces.join(QLatin1Char('/'));
}

} // namespace ovalis
