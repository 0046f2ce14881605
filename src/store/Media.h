#pragma once

#include <QDateTime>

#include "store/ManagedObject.h"

namespace ovalis {

class Case;

// One image, movie or PDF file of a case. Its file lives in the media
// directory under a path cut from its uuid.
class Media : public ManagedObject
{
public:
    enum Attribute { Uuid, FileName, OrderIndex, CreationDate };
    enum Relationship { ItsCase };

    Media(const EntityDescription &entity, int entityIndex);
    static QString entityName() { return QStringLiteral("Media"); }

    QString uuid() const { return stringAttribute(Uuid); }
    void setUuid(const QString &value) { setAttribute(Uuid, value); }
    QString fileName() const { return stringAttribute(FileName); }
    void setFileName(const QString &value) { setAttribute(FileName, value); }
    int orderIndex() const { return attribute(OrderIndex).toInt(); }
    void setOrderIndex(int value) { setAttribute(OrderIndex, value); }
    QDateTime creationDate() const { return dateAttribute(CreationDate); }
    void setCreationDate(const QDateTime &value) { setAttribute(CreationDate, value); }

    Case *itsCase() const;
    void setItsCase(Case *owner);

    // The file's location: media directory / uuidDirectoryPath / uuid.extension;
    // empty without a uuid or a context on a library.
    QString filePath() const;

    QString description() const override;
    QVariant derivedValue(const QString &key) const override;

protected:
    void awakeFromInsert() override;
    void prepareForDeletion() override;
};

} // namespace ovalis
