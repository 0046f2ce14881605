#include "store/Media.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include "media/UuidDirectoryPath.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "util/SerialQueue.h"

namespace ovalis {

Media::Media(const EntityDescription &entity, int entityIndex)
    : ManagedObject(entity, entityIndex)
{
}

Case *Media::itsCase() const
{
    return static_cast<Case *>(toOne(ItsCase));
}

void Media::setItsCase(Case *owner)
{
    setToOne(ItsCase, owner);
}

QString Media::filePath() const
{
    const QString id = uuid();
    ManagedObjectContext *context = managedObjectContext();
    if (id.isEmpty() || !context || !context->stack())
        return QString();
    const QString extension = QFileInfo(fileName()).suffix();
    return context->stack()->mediaDirectory() + QLatin1Char('/') + uuidDirectoryPath(id) + QLatin1Char('/') + id
           + (extension.isEmpty() ? QString() : QLatin1Char('.') + extension);
}

QString Media::description() const
{
    const QString name = fileName();
    const QString id = uuid();
    return QStringLiteral("#%1 %2 (%3)")
        .arg(orderIndex())
        .arg(name.isNull() ? QStringLiteral("?") : name, id.isNull() ? QStringLiteral("?") : uuidDirectoryPath(id));
}

QVariant Media::derivedValue(const QString &key) const
{
    if (key == QLatin1String("description"))
        return description();
    return {};
}

void Media::awakeFromInsert()
{
    setCreationDate(QDateTime::currentDateTimeUtc());
    setUuid(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
}

void Media::prepareForDeletion()
{
    // The file goes later, on the file-deletion queue; the record does not wait for it.
    const QString path = filePath();
    ManagedObjectContext *context = managedObjectContext();
    setItsCase(nullptr);
    if (!path.isEmpty() && context && context->stack())
        context->stack()->fileDeletionQueue()->async([path] {
            if (QFileInfo::exists(path))
                QFile::remove(path);
        });
}

} // namespace ovalis
