#include "exchange/OvalisOneModel.h"

namespace ovalis {

namespace {

using Type = OvalisOneModel::AttributeType;

OvalisOneModel::Relationship toOne(const QString &name, const QString &destination, const QString &inverse)
{
    return {name, destination, inverse, false, true};
}

OvalisOneModel::Relationship toMany(const QString &name, const QString &destination, const QString &inverse,
                                    bool inverseToMany = false)
{
    return {name, destination, inverse, true, inverseToMany};
}

} // namespace

OvalisOneModel::OvalisOneModel()
{
    m_entities = {
        {QStringLiteral("Condition"),
         {{QStringLiteral("conditionDescription"), Type::String},
          {QStringLiteral("dateOfOnset"), Type::Date},
          {QStringLiteral("conditionRegion"), Type::Integer},
          {QStringLiteral("system"), Type::Integer},
          {QStringLiteral("pathology"), Type::Integer}},
         {toOne(QStringLiteral("patient"), QStringLiteral("Patient"), QStringLiteral("conditions")),
          toMany(QStringLiteral("studies"), QStringLiteral("Study"), QStringLiteral("condition")),
          toMany(QStringLiteral("albums"), QStringLiteral("Album"), QStringLiteral("conditions"), true)}},
        {QStringLiteral("Patient"),
         {{QStringLiteral("identifier"), Type::String},
          {QStringLiteral("dateOfBirth"), Type::Date},
          {QStringLiteral("gender"), Type::Integer}},
         {toMany(QStringLiteral("conditions"), QStringLiteral("Condition"), QStringLiteral("patient")),
          toMany(QStringLiteral("linkedToPatients"), QStringLiteral("Patient"), QStringLiteral("linkedFromPatients"), true),
          toMany(QStringLiteral("linkedFromPatients"), QStringLiteral("Patient"), QStringLiteral("linkedToPatients"), true)}},
        {QStringLiteral("Study"),
         {{QStringLiteral("studyDescription"), Type::String},
          {QStringLiteral("studyRegion"), Type::Integer},
          {QStringLiteral("modality"), Type::Integer},
          {QStringLiteral("dateOfStudy"), Type::Date}},
         {toOne(QStringLiteral("condition"), QStringLiteral("Condition"), QStringLiteral("studies")),
          toMany(QStringLiteral("images"), QStringLiteral("Image"), QStringLiteral("study")),
          toMany(QStringLiteral("files"), QStringLiteral("File"), QStringLiteral("study"))}},
        {QStringLiteral("Image"),
         {{QStringLiteral("imageData"), Type::Binary, true},
          {QStringLiteral("fileName"), Type::String},
          {QStringLiteral("order"), Type::Integer}},
         {toOne(QStringLiteral("study"), QStringLiteral("Study"), QStringLiteral("images"))}},
        {QStringLiteral("File"),
         {{QStringLiteral("fileData"), Type::Binary, true},
          {QStringLiteral("fileName"), Type::String},
          {QStringLiteral("order"), Type::Integer}},
         {toOne(QStringLiteral("study"), QStringLiteral("Study"), QStringLiteral("files"))}},
        {QStringLiteral("Album"),
         {{QStringLiteral("label"), Type::String}},
         {toMany(QStringLiteral("conditions"), QStringLiteral("Condition"), QStringLiteral("albums"), true)}},
    };
}

const OvalisOneModel *OvalisOneModel::load(const QString &name)
{
    static const OvalisOneModel model;
    return name == QLatin1String(modelName) ? &model : nullptr;
}

const OvalisOneModel::Entity *OvalisOneModel::entity(const QString &name) const
{
    for (const Entity &entity : m_entities)
        if (entity.name == name)
            return &entity;
    return nullptr;
}

const OvalisOneModel::Attribute *OvalisOneModel::Entity::attribute(const QString &attributeName) const
{
    for (const Attribute &attribute : attributes)
        if (attribute.name == attributeName)
            return &attribute;
    return nullptr;
}

const OvalisOneModel::Relationship *OvalisOneModel::Entity::relationship(const QString &relationshipName) const
{
    for (const Relationship &relationship : relationships)
        if (relationship.name == relationshipName)
            return &relationship;
    return nullptr;
}

} // namespace ovalis
