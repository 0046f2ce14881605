#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace ovalis {

enum class AttributeType { String, Integer16, Integer32, Boolean, Date };

// One stored attribute. Values in memory are QVariants: QString, int, bool
// or QDateTime (millisecond precision, UTC); an invalid QVariant is absent.
// In SQLite a date is a REAL of seconds since 1970-01-01 UTC.
struct AttributeDescription {
    QString name;
    AttributeType type = AttributeType::String;
    QString column;
    // For strings: the column holding foldForComparison(value), kept in step
    // by every save so that [cd] comparisons in SQL need no per-row folding.
    QString foldColumn;
    bool optional = true; // Non-optional attributes read 0/false when unset.
};

// A relationship and how it is stored:
// - to-one: an integer column foreignKeyColumn in the entity's own table;
// - to-many whose inverse is to-one: the inverse's column in the destination table;
// - many-to-many: joinTable(joinSourceColumn -> this entity, joinDestinationColumn -> destination).
struct RelationshipDescription {
    QString name;
    QString destinationEntity;
    bool toMany = false;
    QString inverseName;
    QString foreignKeyColumn;
    QString joinTable;
    QString joinSourceColumn;
    QString joinDestinationColumn;

    bool isManyToMany() const { return !joinTable.isEmpty(); }
};

struct EntityDescription {
    QString name;
    QString table;
    QString primaryKeyColumn = QStringLiteral("pk");
    QVector<AttributeDescription> attributes;
    QVector<RelationshipDescription> relationships;

    int attributeIndex(const QString &attributeName) const;
    // The columns of the entity's table in order: the key, each attribute
    // (with its folded column after it) and each to-one foreign key.
    QStringList storedColumns() const;
    int relationshipIndex(const QString &relationshipName) const;
    const AttributeDescription *attribute(const QString &attributeName) const;
    const RelationshipDescription *relationship(const QString &relationshipName) const;
};

// The library's model: the entities "Case", "Media" and "Tag".
class ManagedObjectModel
{
public:
    static const ManagedObjectModel &ovalisModel();

    // The schema version this build writes (PRAGMA user_version). Version 2
    // never hands out a record's key again once the record is deleted;
    // version 3 gives every case and tag a uuid.
    static constexpr int schemaVersion = 3;

    const QVector<EntityDescription> &entities() const { return m_entities; }
    const EntityDescription *entity(const QString &name) const;
    int entityIndex(const QString &name) const;

    // CREATE TABLE / CREATE INDEX statements for an empty store.
    QStringList schemaStatements() const;
    // The CREATE TABLE statement of one entity's table, under the given name.
    QString tableStatement(const EntityDescription &entity, const QString &tableName) const;
    // The CREATE INDEX statements of the entities' tables and the join table.
    QStringList indexStatements() const;

private:
    ManagedObjectModel();
    QVector<EntityDescription> m_entities;
};

} // namespace ovalis
