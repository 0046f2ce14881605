#include "find/AdvancedFindFavorite.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <limits>

#include "find/JsonFields.h"

namespace ovalis {

namespace {

const QString idKey = QStringLiteral("id");
const QString labelKey = QStringLiteral("label");
const QString compoundKey = QStringLiteral("compoundTypeRawValue");
const QString rulesKey = QStringLiteral("rules");

} // namespace

QString AdvancedFindFavorite::idString() const
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QJsonObject AdvancedFindFavorite::toJson() const
{
    return QJsonDocument::fromJson(toOrderedJson()).object();
}

QByteArray AdvancedFindFavorite::toOrderedJson() const
{
    QByteArray rulesJson = "[";
    for (const AdvancedFindRuleSnapshot &rule : rules) {
        if (rulesJson.size() > 1)
            rulesJson += ',';
        rulesJson += rule.toOrderedJson();
    }
    rulesJson += ']';
    return JsonFields::orderedObject({{idKey, JsonFields::text(idString())},
                                      {labelKey, JsonFields::text(label)},
                                      {compoundKey, QByteArray::number(compoundTypeRawValue)},
                                      {rulesKey, rulesJson}});
}

std::optional<AdvancedFindFavorite> AdvancedFindFavorite::fromJson(const QJsonObject &object, QString *error)
{
    JsonFields fields(object);
    AdvancedFindFavorite favorite;
    const std::optional<QString> id = fields.requiredString(idKey);
    favorite.label = fields.requiredString(labelKey).value_or(QString());
    const std::optional<qint64> compound =
        fields.requiredInteger(compoundKey, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max());
    const std::optional<QJsonArray> rules = fields.requiredArray(rulesKey);
    QString problem = fields.errorString();
    if (problem.isEmpty()) {
        favorite.id = QUuid::fromString(*id);
        if (favorite.id.isNull() && *id != QUuid().toString(QUuid::WithoutBraces))
            problem = QStringLiteral("\"id\" is not a UUID");
        // Every value but 1 means all; keep that meaning when it does not fit an int.
        favorite.compoundTypeRawValue = *compound == 1 ? 1 : (qint64(int(*compound)) == *compound ? int(*compound) : 0);
    }
    if (problem.isEmpty()) {
        const auto snapshots = JsonFields::decodeObjects<AdvancedFindRuleSnapshot>(
            *rules, QStringLiteral("rule"), &AdvancedFindRuleSnapshot::fromJson, &problem);
        favorite.rules = snapshots.value_or(QList<AdvancedFindRuleSnapshot>());
    }
    if (!problem.isEmpty()) {
        if (error)
            *error = problem;
        return std::nullopt;
    }
    return favorite;
}

} // namespace ovalis
