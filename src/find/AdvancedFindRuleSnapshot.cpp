#include "find/AdvancedFindRuleSnapshot.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cmath>
#include <limits>

#include "find/JsonFields.h"

namespace ovalis {

namespace {

enum class ValueKey { string, sex, integer, date, none };

// Which snapshot key holds the value of a rule with this field and operator.
ValueKey valueKey(AdvancedFindField field, AdvancedFindOperator op)
{
    switch (advancedFindFieldGroup(field)) {
    case AdvancedFindFieldGroup::text:
    case AdvancedFindFieldGroup::tag: return ValueKey::string;
    case AdvancedFindFieldGroup::sex: return ValueKey::sex;
    case AdvancedFindFieldGroup::date:
        return op == AdvancedFindOperator::isInTheLastNDays ? ValueKey::integer : ValueKey::date;
    case AdvancedFindFieldGroup::presence: return ValueKey::none;
    }
    return ValueKey::none;
}

const QString fieldIndexKey = QStringLiteral("fieldIndex");
const QString operatorKey = QStringLiteral("operatorRawValue");
const QString stringKey = QStringLiteral("stringValue");
const QString sexKey = QStringLiteral("sexValue");
const QString integerKey = QStringLiteral("integerValue");
const QString dateKey = QStringLiteral("dateValue");

// The rule's value types are those of the snapshot's keys: QString, qint16,
// qint64 and QDateTime.
template<class T>
QVariant variant(const std::optional<T> &value)
{
    return value ? QVariant::fromValue(*value) : QVariant();
}

QList<JsonFields::Entry> entries(const AdvancedFindRuleSnapshot &snapshot)
{
    QList<JsonFields::Entry> list{{fieldIndexKey, QByteArray::number(snapshot.fieldIndex)},
                                  {operatorKey, QByteArray::number(snapshot.operatorRawValue)}};
    if (snapshot.stringValue)
        list.append({stringKey, JsonFields::text(*snapshot.stringValue)});
    if (snapshot.sexValue)
        list.append({sexKey, QByteArray::number(*snapshot.sexValue)});
    if (snapshot.integerValue)
        list.append({integerKey, QByteArray::number(*snapshot.integerValue)});
    if (snapshot.dateValue)
        list.append({dateKey, JsonFields::text(JsonFields::secondsSinceReferenceDate(*snapshot.dateValue))});
    return list;
}

} // namespace

AdvancedFindRuleSnapshot AdvancedFindRuleSnapshot::fromRule(const AdvancedFindRule &rule)
{
    AdvancedFindRuleSnapshot snapshot;
    snapshot.fieldIndex = int(rule.field);
    snapshot.operatorRawValue = int(rule.ruleOperator);
    switch (valueKey(rule.field, rule.ruleOperator)) {
    case ValueKey::string: snapshot.stringValue = rule.stringValue(); break;
    case ValueKey::sex: snapshot.sexValue = rule.sexValue(); break;
    case ValueKey::integer: snapshot.integerValue = rule.dayCountValue(); break;
    case ValueKey::date: snapshot.dateValue = rule.dateValue(); break;
    case ValueKey::none: break;
    }
    return snapshot;
}

AdvancedFindRule AdvancedFindRuleSnapshot::toRule() const
{
    AdvancedFindRule rule;
    rule.field = advancedFindFieldFromRawValue(fieldIndex).value_or(AdvancedFindField::summary);
    const std::optional<AdvancedFindOperator> op = advancedFindOperatorFromRawValue(operatorRawValue);
    rule.ruleOperator = op && advancedFindFieldOffers(rule.field, *op) ? *op : defaultAdvancedFindOperator(rule.field);
    switch (valueKey(rule.field, rule.ruleOperator)) {
    case ValueKey::string: rule.value = variant(stringValue); break;
    case ValueKey::sex: rule.value = variant(sexValue); break;
    case ValueKey::integer: rule.value = variant(integerValue); break;
    case ValueKey::date: rule.value = variant(dateValue); break;
    case ValueKey::none: break;
    }
    return rule;
}

QJsonObject AdvancedFindRuleSnapshot::toJson() const
{
    return QJsonDocument::fromJson(toOrderedJson()).object();
}

QByteArray AdvancedFindRuleSnapshot::toOrderedJson() const
{
    return JsonFields::orderedObject(entries(*this));
}

std::optional<AdvancedFindRuleSnapshot> AdvancedFindRuleSnapshot::fromJson(const QJsonObject &object, QString *error)
{
    JsonFields fields(object);
    AdvancedFindRuleSnapshot snapshot;
    const auto field = fields.requiredInteger(fieldIndexKey, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    const auto op = fields.requiredInteger(operatorKey, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    if (field)
        snapshot.fieldIndex = int(*field);
    if (op)
        snapshot.operatorRawValue = int(*op);
    snapshot.stringValue = fields.optionalString(stringKey);
    if (const auto sex = fields.optionalInteger(sexKey, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max()))
        snapshot.sexValue = qint16(*sex);
    snapshot.integerValue = fields.optionalInteger(integerKey, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max());
    snapshot.dateValue = fields.optionalDate(dateKey);
    if (!fields.errorString().isEmpty()) {
        if (error)
            *error = fields.errorString();
        return std::nullopt;
    }
    return snapshot;
}

std::optional<QList<AdvancedFindRuleSnapshot>> AdvancedFindRuleSnapshot::listFromJson(const QByteArray &json, QString *error)
{
    const std::optional<QJsonArray> array = JsonFields::parseArray(json, error);
    if (!array)
        return std::nullopt;
    return JsonFields::decodeObjects<AdvancedFindRuleSnapshot>(*array, QStringLiteral("rule"), &AdvancedFindRuleSnapshot::fromJson, error);
}

} // namespace ovalis
