#include "store/EntityDescription.h"

namespace ovalis {

int EntityDescription::attributeIndex(const QString &attributeName) const
{
    for (int i = 0; i < attributes.size(); ++i)
        if (attributes[i].name == attributeName)
            return i;
    return -1;
}

int EntityDescription::relationshipIndex(const QString &relationshipName) const
{
    for (int i = 0; i < relationships.size(); ++i)
        if (relationships[i].name == relationshipName)
            return i;
    return -1;
}

const AttributeDescription *EntityDescription::attribute(const QString &attributeName) const
{
    const int i = attributeIndex(attributeName);
    return i < 0 ? nullptr : &attributes[i];
}

const RelationshipDescription *EntityDescription::relationship(const QString &relationshipName) const
{
    const int i = relationshipIndex(relationshipName);
    return i < 0 ? nullptr : &relationships[i];
}

namespace {

AttributeDescription text(const char *name, const char *column)
{
    const QString c = QString::fromLatin1(column);
    return {QString::fromLatin1(name), AttributeType::String, c, c + QStringLiteral("_fold"), true};
}

AttributeDescription scalar(const char *name, AttributeType type, const char *column, bool optional)
{
    return {QString::fromLatin1(name), type, QString::fromLatin1(column), QString(), optional};
}

} // namespace

ManagedObjectModel::ManagedObjectModel()
{
    EntityDescription caseEntity;
    caseEntity.name = QStringLiteral("Case");
    caseEntity.table = QStringLiteral("cases");
    caseEntity.attributes = {
        text("patientID", "patient_id"),
        scalar("sex", AttributeType::Integer16, "sex", false),
        scalar("dateOfBirth", AttributeType::Date, "date_of_birth", true),
        scalar("dateOfDiagnosis", AttributeType::Date, "date_of_diagnosis", true),
        scalar("dateAdded", AttributeType::Date, "date_added", true),
        scalar("dateModified", AttributeType::Date, "date_modified", true),
        text("summary", "summary"),
        text("detail", "detail"),
        // The same case on every machine of a mirrored library.
        scalar("uuid", AttributeType::String, "uuid", true),
    };
    RelationshipDescription caseMedia;
    caseMedia.name = QStringLiteral("media");
    caseMedia.destinationEntity = QStringLiteral("Media");
    caseMedia.toMany = true;
    caseMedia.inverseName = QStringLiteral("itsCase");
    caseMedia.foreignKeyColumn = QStringLiteral("case_pk"); // in the media table
    RelationshipDescription caseTags;
    caseTags.name = QStringLiteral("tags");
    caseTags.destinationEntity = QStringLiteral("Tag");
    caseTags.toMany = true;
    caseTags.inverseName = QStringLiteral("cases");
    caseTags.joinTable = QStringLiteral("case_tags");
    caseTags.joinSourceColumn = QStringLiteral("case_pk");
    caseTags.joinDestinationColumn = QStringLiteral("tag_pk");
    caseEntity.relationships = {caseMedia, caseTags};

    EntityDescription mediaEntity;
    mediaEntity.name = QStringLiteral("Media");
    mediaEntity.table = QStringLiteral("media");
    mediaEntity.attributes = {
        text("uuid", "uuid"),
        text("fileName", "file_name"),
        scalar("orderIndex", AttributeType::Integer32, "order_index", false),
        scalar("creationDate", AttributeType::Date, "creation_date", true),
    };
    RelationshipDescription mediaCase;
    mediaCase.name = QStringLiteral("itsCase");
    mediaCase.destinationEntity = QStringLiteral("Case");
    mediaCase.toMany = false;
    mediaCase.inverseName = QStringLiteral("media");
    mediaCase.foreignKeyColumn = QStringLiteral("case_pk");
    mediaEntity.relationships = {mediaCase};

    EntityDescription tagEntity;
    tagEntity.name = QStringLiteral("Tag");
    tagEntity.table = QStringLiteral("tags");
    tagEntity.attributes = {
        text("label", "label"),
        scalar("active", AttributeType::Boolean, "active", false),
        scalar("hasActiveCases", AttributeType::Boolean, "has_active_cases", false),
        scalar("uuid", AttributeType::String, "uuid", true),
    };
    RelationshipDescription tagCases;
    tagCases.name = QStringLiteral("cases");
    tagCases.destinationEntity = QStringLiteral("Case");
    tagCases.toMany = true;
    tagCases.inverseName = QStringLiteral("tags");
    tagCases.joinTable = QStringLiteral("case_tags");
    tagCases.joinSourceColumn = QStringLiteral("tag_pk");
    tagCases.joinDestinationColumn = QStringLiteral("case_pk");
    tagEntity.relationships = {tagCases};

    m_entities = {caseEntity, mediaEntity, tagEntity};
}

const ManagedObjectModel &ManagedObjectModel::ovalisModel()
{
    static const ManagedObjectModel model;
    return model;
}

const EntityDescription *ManagedObjectModel::entity(const QString &name) const
{
    const int i = entityIndex(name);
    return i < 0 ? nullptr : &m_entities[i];
}

int ManagedObjectModel::entityIndex(const QString &name) const
{
    for (int i = 0; i < m_entities.size(); ++i)
        if (m_entities[i].name == name)
            return i;
    return -1;
}

QStringList EntityDescription::storedColumns() const
{
    QStringList columns{primaryKeyColumn};
    for (const AttributeDescription &attribute : attributes) {
        columns << attribute.column;
        if (!attribute.foldColumn.isEmpty())
            columns << attribute.foldColumn;
    }
    for (const RelationshipDescription &relationship : relationships)
        if (!relationship.toMany)
            columns << relationship.foreignKeyColumn;
    return columns;
}

QString ManagedObjectModel::tableStatement(const EntityDescription &entity, const QString &tableName) const
{
    // AUTOINCREMENT keeps a deleted record's key from being handed out again,
    // so that another process's new record is never taken for the deleted one.
    QStringList columns{entity.primaryKeyColumn + QStringLiteral(" INTEGER PRIMARY KEY AUTOINCREMENT")};
    for (const AttributeDescription &attribute : entity.attributes) {
        QString sqlType;
        switch (attribute.type) {
        case AttributeType::String: sqlType = QStringLiteral("TEXT"); break;
        case AttributeType::Date: sqlType = QStringLiteral("REAL"); break;
        default: sqlType = QStringLiteral("INTEGER"); break;
        }
        columns << attribute.column + QLatin1Char(' ') + sqlType
                       + (attribute.optional ? QString() : QStringLiteral(" NOT NULL DEFAULT 0"));
        if (!attribute.foldColumn.isEmpty())
            columns << attribute.foldColumn + QStringLiteral(" TEXT");
    }
    for (const RelationshipDescription &relationship : entity.relationships)
        if (!relationship.toMany)
            columns << relationship.foreignKeyColumn + QStringLiteral(" INTEGER");
    return QStringLiteral("CREATE TABLE %1 (%2)").arg(tableName, columns.join(QStringLiteral(", ")));
}

QStringList ManagedObjectModel::indexStatements() const
{
    return {QStringLiteral("CREATE INDEX IF NOT EXISTS case_tags_by_tag ON case_tags (tag_pk, case_pk)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS media_by_case ON media (case_pk)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS media_by_uuid ON media (uuid)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS tags_by_label ON tags (label)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS cases_by_patient ON cases (patient_id)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS cases_by_uuid ON cases (uuid)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS tags_by_uuid ON tags (uuid)")};
}

QStringList ManagedObjectModel::schemaStatements() const
{
    QStringList statements;
    for (const EntityDescription &entity : m_entities)
        statements << tableStatement(entity, entity.table);
    statements << QStringLiteral("CREATE TABLE case_tags (case_pk INTEGER NOT NULL, tag_pk INTEGER NOT NULL, "
                                 "PRIMARY KEY (case_pk, tag_pk)) WITHOUT ROWID");
    statements << indexStatements();
    return statements;
}

} // namespace ovalis
