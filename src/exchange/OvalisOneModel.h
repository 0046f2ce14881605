#pragma once

#include <QString>
#include <QVector>

namespace ovalis {

// The data model of version-1 documents ("OvalisOne"): conditions of
// patients, each with studies holding images and files, grouped in albums.
// Only what the import reads is described; a document may hold more.
class OvalisOneModel
{
public:
    enum class AttributeType { String, Integer, Double, Boolean, Date, Binary };

    struct Attribute {
        QString name;
        AttributeType type = AttributeType::String;
        // Binary values that the document may keep in files of their own.
        bool allowsExternalStorage = false;
    };

    struct Relationship {
        QString name;
        QString destinationEntity;
        QString inverseName;
        bool toMany = false;
        bool inverseToMany = false;
    };

    struct Entity {
        QString name;
        QVector<Attribute> attributes;
        QVector<Relationship> relationships;

        const Attribute *attribute(const QString &attributeName) const;
        const Relationship *relationship(const QString &relationshipName) const;
    };

    // The compiled model of that name; nullptr for a name the program does not ship.
    static const OvalisOneModel *load(const QString &name);
    static constexpr const char *modelName = "OvalisOne";

    const QVector<Entity> &entities() const { return m_entities; }
    const Entity *entity(const QString &name) const;

private:
    OvalisOneModel();
    QVector<Entity> m_entities;
};

} // namespace ovalis
