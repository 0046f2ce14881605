#include <QJsonDocument>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "find/AdvancedFindCompoundType.h"
#include "find/AdvancedFindRuleSnapshot.h"
#include "find/AdvancedFindValueControl.h"

using namespace ovalis;

namespace {

using Op = AdvancedFindOperator;
using Field = AdvancedFindField;

std::optional<AdvancedFindRuleSnapshot> decode(const char *json, QString *error = nullptr)
{
    return AdvancedFindRuleSnapshot::fromJson(QJsonDocument::fromJson(json).object(), error);
}

TEST(AdvancedFindRuleSnapshotTest, EncodingWritesOnlyPresentValuesInKeyOrderWithDatesFrom2001)
{
    const AdvancedFindRuleSnapshot presence =
        AdvancedFindRuleSnapshot::fromRule(AdvancedFindRule(Field::hasMedia, Op::isTrue, QStringLiteral("stray")));
    EXPECT_EQ(presence.toOrderedJson(), QByteArray(R"({"fieldIndex":8,"operatorRawValue":11})"));
    EXPECT_EQ(presence.toJson().keys(), QStringList({QStringLiteral("fieldIndex"), QStringLiteral("operatorRawValue")}));

    const QDateTime dayAfterReference(QDate(2001, 1, 2), QTime(0, 0, 0, 500), QTimeZone::utc());
    const auto date = AdvancedFindRuleSnapshot::fromRule(
        AdvancedFindRule(Field::dateOfBirth, Op::isOn, AdvancedFindRule::makeDateValue(dayAfterReference)));
    EXPECT_EQ(date.toOrderedJson(), QByteArray(R"({"fieldIndex":5,"operatorRawValue":9,"dateValue":86400.5})"));
    const auto beforeReference = AdvancedFindRuleSnapshot::fromRule(AdvancedFindRule(
        Field::dateAdded, Op::isBefore, AdvancedFindRule::makeDateValue(QDateTime(QDate(2000, 12, 31), QTime(0, 0), QTimeZone::utc()))));
    EXPECT_EQ(beforeReference.toJson().value(QStringLiteral("dateValue")).toDouble(), -86400.0);

    const auto tag = AdvancedFindRuleSnapshot::fromRule(AdvancedFindRule(Field::tag, Op::containsTag, QStringLiteral("Crâne \"x\"")));
    EXPECT_EQ(QString::fromUtf8(tag.toOrderedJson()),
              QStringLiteral(R"({"fieldIndex":10,"operatorRawValue":15,"stringValue":"Crâne \"x\""})"));
    const auto sex = AdvancedFindRuleSnapshot::fromRule(AdvancedFindRule(Field::sex, Op::sexIsNot, AdvancedFindRule::makeSexValue(2)));
    EXPECT_EQ(sex.toOrderedJson(), QByteArray(R"({"fieldIndex":7,"operatorRawValue":14,"sexValue":2})"));
    const auto days = AdvancedFindRuleSnapshot::fromRule(AdvancedFindRule(Field::dateModified, Op::isInTheLastNDays, QVariant(30)));
    EXPECT_EQ(days.toOrderedJson(), QByteArray(R"({"fieldIndex":4,"operatorRawValue":10,"integerValue":30})"));
}

TEST(AdvancedFindRuleSnapshotTest, ASnapshotTakesOnlyTheValueOfTheTypeItsRuleNeeds)
{
    const QDateTime date(QDate(2024, 5, 6), QTime(7, 8), QTimeZone::utc());
    // A date rule that still holds a day count from before an operator change.
    auto snapshot = AdvancedFindRuleSnapshot::fromRule(AdvancedFindRule(Field::dateAdded, Op::isAfter, QVariant(qint64(3))));
    EXPECT_FALSE(snapshot.dateValue || snapshot.integerValue);
    snapshot = AdvancedFindRuleSnapshot::fromRule(AdvancedFindRule(Field::dateAdded, Op::isInTheLastNDays, date));
    EXPECT_FALSE(snapshot.dateValue || snapshot.integerValue);
    // A sex value must be 16 bits wide; an int is not taken.
    snapshot = AdvancedFindRuleSnapshot::fromRule(AdvancedFindRule(Field::sex, Op::sexIs, QVariant(1)));
    EXPECT_FALSE(snapshot.sexValue);
    snapshot = AdvancedFindRuleSnapshot::fromRule(AdvancedFindRule(Field::summary, Op::contains, QVariant(12)));
    EXPECT_FALSE(snapshot.stringValue);
    // Text rules keep their string even with an operator that ignores it.
    snapshot = AdvancedFindRuleSnapshot::fromRule(AdvancedFindRule(Field::patientID, Op::isEmpty, QStringLiteral("kept")));
    EXPECT_EQ(snapshot.stringValue, QStringLiteral("kept"));

    for (const AdvancedFindRule &rule : {AdvancedFindRule(Field::detail, Op::endsWith, QStringLiteral("lobe")),
                                         AdvancedFindRule(Field::sex, Op::sexIs, AdvancedFindRule::makeSexValue(0)),
                                         AdvancedFindRule(Field::dateOfDiagnosis, Op::isOn, date),
                                         AdvancedFindRule(Field::dateAdded, Op::isInTheLastNDays, AdvancedFindRule::makeDayCountValue(9)),
                                         AdvancedFindRule(Field::hasTags, Op::isFalse)}) {
        const auto encoded = AdvancedFindRuleSnapshot::fromRule(rule);
        const auto decoded = AdvancedFindRuleSnapshot::fromJson(encoded.toJson());
        ASSERT_TRUE(decoded);
        EXPECT_EQ(*decoded, encoded);
        const AdvancedFindRule back = decoded->toRule();
        EXPECT_EQ(back.field, rule.field);
        EXPECT_EQ(back.ruleOperator, rule.ruleOperator);
        EXPECT_EQ(AdvancedFindRuleSnapshot::fromRule(back), encoded);
    }
}

TEST(AdvancedFindRuleSnapshotTest, RulesFromSnapshotsFallBackToSummaryAndTheFieldsFirstOperator)
{
    auto rule = decode(R"({"fieldIndex":42,"operatorRawValue":3,"stringValue":"pneu"})")->toRule();
    EXPECT_EQ(rule.field, Field::summary);
    EXPECT_EQ(rule.ruleOperator, Op::beginsWith);
    EXPECT_EQ(rule.stringValue(), QStringLiteral("pneu"));

    rule = decode(R"({"fieldIndex":-1,"operatorRawValue":99})")->toRule();
    EXPECT_EQ(rule.field, Field::summary);
    EXPECT_EQ(rule.ruleOperator, Op::contains);
    EXPECT_FALSE(rule.value.isValid());

    // An operator of another group: the field's first, and the value that suits it.
    rule = decode(R"({"fieldIndex":3,"operatorRawValue":0,"stringValue":"x","integerValue":4,"dateValue":0})")->toRule();
    EXPECT_EQ(rule.field, Field::dateAdded);
    EXPECT_EQ(rule.ruleOperator, Op::isBefore);
    EXPECT_EQ(rule.dateValue(), QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc()));

    rule = decode(R"({"fieldIndex":3,"operatorRawValue":10,"integerValue":4,"dateValue":0})")->toRule();
    EXPECT_EQ(rule.dayCountValue(), 4);
    rule = decode(R"({"fieldIndex":7,"operatorRawValue":15,"sexValue":3,"stringValue":"x"})")->toRule();
    EXPECT_EQ(rule.ruleOperator, Op::sexIs);
    EXPECT_EQ(rule.sexValue(), 3);
    rule = decode(R"({"fieldIndex":9,"operatorRawValue":12,"stringValue":"x"})")->toRule();
    EXPECT_EQ(rule.ruleOperator, Op::isFalse);
    EXPECT_FALSE(rule.value.isValid());
    // An absent key leaves the value absent.
    rule = decode(R"({"fieldIndex":10,"operatorRawValue":16,"sexValue":1})")->toRule();
    EXPECT_EQ(rule.ruleOperator, Op::doesNotContainTag);
    EXPECT_FALSE(rule.value.isValid());
}

TEST(AdvancedFindRuleSnapshotTest, DecodingRefusesMissingKeysAndWrongTypesButReadsNullAsAbsent)
{
    QString error;
    EXPECT_FALSE(decode(R"({"operatorRawValue":0})", &error));
    EXPECT_TRUE(error.contains(QStringLiteral("fieldIndex"))) << error.toStdString();
    EXPECT_FALSE(decode(R"({"fieldIndex":0})"));
    EXPECT_FALSE(decode(R"({"fieldIndex":null,"operatorRawValue":0})"));
    EXPECT_FALSE(decode(R"({"fieldIndex":1.5,"operatorRawValue":0})"));
    EXPECT_FALSE(decode(R"({"fieldIndex":"1","operatorRawValue":0})"));
    EXPECT_FALSE(decode(R"({"fieldIndex":7,"operatorRawValue":13,"sexValue":40000})", &error));
    EXPECT_TRUE(error.contains(QStringLiteral("sexValue"))) << error.toStdString();
    EXPECT_FALSE(decode(R"({"fieldIndex":0,"operatorRawValue":0,"stringValue":5})"));
    EXPECT_FALSE(decode(R"({"fieldIndex":3,"operatorRawValue":7,"dateValue":"2024-01-01"})"));
    EXPECT_FALSE(decode(R"({"fieldIndex":3,"operatorRawValue":10,"integerValue":2.5})"));

    const auto nulls = decode(R"({"fieldIndex":3.0,"operatorRawValue":10,"integerValue":null,"stringValue":null})");
    ASSERT_TRUE(nulls);
    EXPECT_EQ(nulls->fieldIndex, 3);
    EXPECT_FALSE(nulls->integerValue || nulls->stringValue);
    const auto large = decode(R"({"fieldIndex":3,"operatorRawValue":10,"integerValue":9007199254740993})");
    ASSERT_TRUE(large);
    EXPECT_EQ(large->integerValue, qint64(9007199254740993));
    EXPECT_EQ(decode(R"({"fieldIndex":3,"operatorRawValue":10,"integerValue":-9223372036854775808})")->integerValue,
              std::numeric_limits<qint64>::min());
    EXPECT_EQ(decode(R"({"fieldIndex":3,"operatorRawValue":10,"integerValue":9223372036854775807})")->integerValue,
              std::numeric_limits<qint64>::max());
    EXPECT_FALSE(decode(R"({"fieldIndex":3,"operatorRawValue":10,"integerValue":9223372036854775808})"));
    EXPECT_FALSE(decode(R"({"fieldIndex":3,"operatorRawValue":10,"integerValue":1e300})"));
    EXPECT_FALSE(decode(R"({"fieldIndex":2147483648,"operatorRawValue":0})"));
}

TEST(AdvancedFindRuleSnapshotTest, ValueControlsFollowTheOperatorFirstAndTheFieldSecond)
{
    using Control = AdvancedFindValueControl;
    EXPECT_EQ(advancedFindValueControl(Field::summary, Op::contains), Control::textField);
    EXPECT_EQ(advancedFindValueControl(Field::patientID, Op::isNotEmpty), Control::none);
    EXPECT_EQ(advancedFindValueControl(Field::dateAdded, Op::isOn), Control::datePicker);
    EXPECT_EQ(advancedFindValueControl(Field::dateAdded, Op::isInTheLastNDays), Control::daysField);
    EXPECT_EQ(advancedFindValueControl(Field::sex, Op::sexIsNot), Control::sexPopUp);
    EXPECT_EQ(advancedFindValueControl(Field::tag, Op::doesNotContainTag), Control::tagComboBox);
    EXPECT_EQ(advancedFindValueControl(Field::hasMedia, Op::isTrue), Control::none);
    EXPECT_EQ(advancedFindValueControl(Field::hasTags, Op::contains), Control::none);

    // Every field offers its default first, and each operator belongs to one group.
    QList<AdvancedFindOperator> offered;
    for (AdvancedFindFieldGroup group : {AdvancedFindFieldGroup::text, AdvancedFindFieldGroup::date, AdvancedFindFieldGroup::sex,
                                         AdvancedFindFieldGroup::presence, AdvancedFindFieldGroup::tag})
        offered += advancedFindOperators(group);
    std::sort(offered.begin(), offered.end());
    EXPECT_EQ(offered, allAdvancedFindOperators());
    QStringList separatedAfter;
    for (AdvancedFindField field : allAdvancedFindFields()) {
        EXPECT_EQ(advancedFindOperators(field).constFirst(), defaultAdvancedFindOperator(field));
        if (advancedFindFieldEndsMenuGroup(field))
            separatedAfter << advancedFindFieldTitle(field);
    }
    EXPECT_EQ(separatedAfter, QStringList({QStringLiteral("Patient ID"), QStringLiteral("Date of Diagnosis"),
                                           QStringLiteral("Sex"), QStringLiteral("Has Tags")}));
    EXPECT_FALSE(advancedFindOperatorFromRawValue(17));
    EXPECT_FALSE(advancedFindFieldFromRawValue(11));
    EXPECT_EQ(advancedFindCompoundTypeFromRawValue(2), AdvancedFindCompoundType::all);
}

} // namespace
