#include <QTimeZone>
#include <gtest/gtest.h>

#include <algorithm>

#include "find/AdvancedFindPredicate.h"
#include "store/EntityDescription.h"
#include "store/PredicateNode.h"
#include "support/StoreFixture.h"

using namespace ovalis;

namespace {

using Op = AdvancedFindOperator;
using Field = AdvancedFindField;

const QTimeZone berlin(QByteArrayLiteral("Europe/Berlin"));

QDateTime inBerlin(int year, int month, int day, int hour, int minute = 0, int second = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), berlin);
}

AdvancedFindRule rule(Field field, Op op, const QVariant &value = {})
{
    return AdvancedFindRule(field, op, value);
}

QVariant text(const char *value)
{
    return AdvancedFindRule::makeStringValue(QString::fromUtf8(value));
}

class AdvancedFindPredicateTest : public test::StoreFixture
{
protected:
    Case *addCase(const QString &name)
    {
        Case *item = context()->insertNew<Case>();
        m_names.insert(item, name);
        return item;
    }

    Tag *tag(const QString &label)
    {
        if (!m_tags.contains(label))
            m_tags.insert(label, newTag(label));
        return m_tags.value(label);
    }

    struct CaseValues {
        const char *name;
        const char *patientID; // nullptr: never set, as for summary and detail
        const char *summary;
        const char *detail;
        std::optional<Sex> sex;
        QStringList tags;
        int media;
    };

    // Five cases that between them hold absent, empty, accented and plain
    // texts, every sex, tags that share a prefix, and media or none.
    void addTextLibrary()
    {
        const QList<CaseValues> library{
            {"left", "ABC1234", "Pneumonia of the left lung", "Right lower lobe", Sex::male, {QStringLiteral("CT")}, 1},
            {"accented", "abc9999", "Pnéumonia", nullptr, Sex::female, {QStringLiteral("CT chest")}, 0},
            {"blank", nullptr, nullptr, "", std::nullopt, {}, 0},
            {"emptyID", "", "", "lung", Sex::nonbinary, {QStringLiteral("Crâne"), QStringLiteral("CT")}, 2},
            {"other", "XYZ", "Fracture", "no pneumonia here", Sex::unknown, {QStringLiteral("MRI")}, 0},
        };
        for (const CaseValues &values : library) {
            Case *item = addCase(QString::fromLatin1(values.name));
            if (values.patientID)
                item->setPatientID(QString::fromUtf8(values.patientID));
            if (values.summary)
                item->setSummary(QString::fromUtf8(values.summary));
            if (values.detail)
                item->setDetail(QString::fromUtf8(values.detail));
            if (values.sex)
                item->setSex(*values.sex);
            for (const QString &label : values.tags)
                item->addToTags(tag(label));
            for (int i = 0; i < values.media; ++i)
                item->addToMedia(context()->insertNew<Media>());
        }
    }

    // The names of the cases the predicate matches, fetched from the saved
    // store through SQL; the in-memory evaluation of every case must agree.
    QStringList matching(const Predicate &predicate)
    {
        const EntityDescription &entity = *ManagedObjectModel::ovalisModel().entity(Case::entityName());
        QString error;
        EXPECT_TRUE(predicate.validate(entity, &error)) << predicate.format().toStdString() << ": " << error.toStdString();
        QString where;
        QVariantList bindings;
        EXPECT_TRUE(predicate.toSql(entity, QStringLiteral("t0"), &where, &bindings, &error)) << error.toStdString();

        if (context()->hasChanges())
            EXPECT_TRUE(context()->save(&error)) << error.toStdString();
        QStringList fetched;
        for (ManagedObject *object : context()->arrayOfObjects(Case::entityName(), predicate))
            fetched << m_names.value(static_cast<Case *>(object));
        QStringList evaluated;
        for (ManagedObject *object : context()->arrayOfObjects(Case::entityName()))
            if (predicate.evaluate(*object))
                evaluated << m_names.value(static_cast<Case *>(object));
        fetched.sort();
        evaluated.sort();
        EXPECT_EQ(fetched, evaluated) << predicate.format().toStdString();
        return fetched;
    }

    // Nothing when the rule gives no predicate.
    std::optional<QStringList> matching(const AdvancedFindRule &rule, const QDateTime &now = inBerlin(2024, 3, 31, 12))
    {
        const std::optional<Predicate> predicate = AdvancedFindPredicate::forRule(rule, now, berlin);
        if (!predicate)
            return std::nullopt;
        return matching(*predicate);
    }

    static QStringList names(std::initializer_list<const char *> list)
    {
        QStringList result;
        for (const char *name : list)
            result << QString::fromLatin1(name);
        result.sort();
        return result;
    }

    QHash<Case *, QString> m_names;
    QHash<QString, Tag *> m_tags;
};

TEST_F(AdvancedFindPredicateTest, TextOperatorsIgnoreCaseAndDiacriticsAndTreatAbsentTextAsNotContaining)
{
    addTextLibrary();
    EXPECT_EQ(matching(rule(Field::summary, Op::contains, text("PNEUMONIA"))), names({"left", "accented"}));
    EXPECT_EQ(matching(rule(Field::summary, Op::doesNotContain, text("pneumonia"))), names({"blank", "emptyID", "other"}));
    EXPECT_EQ(matching(rule(Field::summary, Op::equals, text("pneumonia"))), names({"accented"}));
    EXPECT_EQ(matching(rule(Field::summary, Op::beginsWith, text("pneu"))), names({"left", "accented"}));
    EXPECT_EQ(matching(rule(Field::summary, Op::endsWith, text("LUNG"))), names({"left"}));
    EXPECT_EQ(matching(rule(Field::detail, Op::contains, text("lung"))), names({"emptyID"}));
    EXPECT_EQ(matching(rule(Field::detail, Op::endsWith, text("here"))), names({"other"}));
    EXPECT_EQ(matching(rule(Field::patientID, Op::beginsWith, text("abc"))), names({"left", "accented"}));
    // The value is used as held: a leading space is not trimmed away.
    EXPECT_EQ(matching(rule(Field::summary, Op::equals, text(" pneumonia"))), QStringList());
}

TEST_F(AdvancedFindPredicateTest, TextRulesWithoutAUsableValueGiveNoPredicateButEmptinessNeedsNone)
{
    addTextLibrary();
    for (Op op : {Op::contains, Op::doesNotContain, Op::equals, Op::beginsWith, Op::endsWith}) {
        EXPECT_FALSE(matching(rule(Field::summary, op))) << int(op);
        EXPECT_FALSE(matching(rule(Field::summary, op, text("")))) << int(op);
        EXPECT_FALSE(matching(rule(Field::summary, op, QVariant(5)))) << int(op);
    }
    // An absent identifier and an empty one are both empty; the value is ignored.
    EXPECT_EQ(matching(rule(Field::patientID, Op::isEmpty)), names({"blank", "emptyID"}));
    EXPECT_EQ(matching(rule(Field::patientID, Op::isEmpty, text("ignored"))), names({"blank", "emptyID"}));
    EXPECT_EQ(matching(rule(Field::patientID, Op::isNotEmpty)), names({"left", "accented", "other"}));
    EXPECT_EQ(matching(rule(Field::detail, Op::isEmpty)), names({"accented", "blank"}));
}

TEST_F(AdvancedFindPredicateTest, SexPresenceAndTagRules)
{
    addTextLibrary();
    const auto sex = [](Sex value) { return AdvancedFindRule::makeSexValue(qint16(value)); };
    // Unknown matches cases whose sex was never set as well as those set to it.
    EXPECT_EQ(matching(rule(Field::sex, Op::sexIs, sex(Sex::unknown))), names({"blank", "other"}));
    EXPECT_EQ(matching(rule(Field::sex, Op::sexIs, sex(Sex::female))), names({"accented"}));
    EXPECT_EQ(matching(rule(Field::sex, Op::sexIsNot, sex(Sex::unknown))), names({"left", "accented", "emptyID"}));
    EXPECT_FALSE(matching(rule(Field::sex, Op::sexIs)));
    EXPECT_FALSE(matching(rule(Field::sex, Op::sexIs, QVariant(0))));

    EXPECT_EQ(matching(rule(Field::hasMedia, Op::isTrue)), names({"left", "emptyID"}));
    EXPECT_EQ(matching(rule(Field::hasMedia, Op::isFalse)), names({"accented", "blank", "other"}));
    EXPECT_EQ(matching(rule(Field::hasTags, Op::isTrue)), names({"left", "accented", "emptyID", "other"}));
    EXPECT_EQ(matching(rule(Field::hasTags, Op::isFalse)), names({"blank"}));

    // Whole labels only, ignoring case and diacritics.
    EXPECT_EQ(matching(rule(Field::tag, Op::containsTag, text("ct"))), names({"left", "emptyID"}));
    EXPECT_EQ(matching(rule(Field::tag, Op::containsTag, text("crane"))), names({"emptyID"}));
    EXPECT_EQ(matching(rule(Field::tag, Op::containsTag, text("CT ch"))), QStringList());
    EXPECT_EQ(matching(rule(Field::tag, Op::doesNotContainTag, text("ct"))), names({"accented", "blank", "other"}));
    EXPECT_FALSE(matching(rule(Field::tag, Op::containsTag, text(""))));
}

TEST_F(AdvancedFindPredicateTest, AnOperatorItsFieldDoesNotOfferGivesNoPredicate)
{
    const QVariant date = AdvancedFindRule::makeDateValue(inBerlin(2024, 1, 1, 0));
    EXPECT_FALSE(AdvancedFindPredicate::forRule(rule(Field::summary, Op::isBefore, date)));
    EXPECT_FALSE(AdvancedFindPredicate::forRule(rule(Field::dateAdded, Op::contains, text("2024"))));
    EXPECT_FALSE(AdvancedFindPredicate::forRule(rule(Field::tag, Op::isTrue)));
    EXPECT_FALSE(AdvancedFindPredicate::forRule(rule(Field::hasMedia, Op::isEmpty)));
    EXPECT_FALSE(AdvancedFindPredicate::forRule(rule(Field::sex, Op::equals, AdvancedFindRule::makeSexValue(1))));
}

TEST_F(AdvancedFindPredicateTest, IsOnSpansOneCalendarDayAcrossDaylightSavingChanges)
{
    // 31 March 2024 has 23 hours in Berlin, 27 October 2024 has 25.
    addCase(QStringLiteral("springStart"))->setDateAdded(inBerlin(2024, 3, 31, 0));
    addCase(QStringLiteral("springLate"))->setDateAdded(inBerlin(2024, 3, 31, 23, 30));
    addCase(QStringLiteral("springNext"))->setDateAdded(inBerlin(2024, 4, 1, 0));
    addCase(QStringLiteral("springBefore"))->setDateAdded(inBerlin(2024, 3, 30, 23, 59, 59));
    addCase(QStringLiteral("autumnLate"))->setDateAdded(inBerlin(2024, 10, 27, 23, 30));
    addCase(QStringLiteral("autumnNext"))->setDateAdded(inBerlin(2024, 10, 28, 0));

    const auto on = [](const QDateTime &date) {
        return rule(Field::dateAdded, Op::isOn, AdvancedFindRule::makeDateValue(date));
    };
    EXPECT_EQ(matching(on(inBerlin(2024, 3, 31, 15))), names({"springStart", "springLate"}));
    EXPECT_EQ(matching(on(inBerlin(2024, 10, 27, 10))), names({"autumnLate"}));
    // The day is the one that contains the instant in the user's zone, not in UTC.
    EXPECT_EQ(matching(on(QDateTime(QDate(2024, 3, 30), QTime(22, 30), QTimeZone::utc()))), names({"springBefore"}));
    EXPECT_EQ(matching(on(QDateTime(QDate(2024, 3, 30), QTime(23, 30), QTimeZone::utc()))),
              names({"springStart", "springLate"}));
    EXPECT_FALSE(matching(on(QDateTime())));
    EXPECT_FALSE(matching(rule(Field::dateAdded, Op::isOn, text("2024-03-31"))));
    // Absent dates match no date comparison.
    EXPECT_EQ(matching(rule(Field::dateOfBirth, Op::isBefore, AdvancedFindRule::makeDateValue(inBerlin(2030, 1, 1, 0)))),
              QStringList());
}

TEST_F(AdvancedFindPredicateTest, BeforeAndAfterCompareWithTheInstantAsPicked)
{
    addCase(QStringLiteral("morning"))->setDateOfBirth(inBerlin(1980, 5, 5, 9));
    addCase(QStringLiteral("evening"))->setDateOfBirth(inBerlin(1980, 5, 5, 18));
    addCase(QStringLiteral("unborn"));
    Case *modified = addCase(QStringLiteral("modified"));
    modified->setDateModified(inBerlin(2024, 2, 1, 8));

    const QVariant picked = AdvancedFindRule::makeDateValue(inBerlin(1980, 5, 5, 14));
    EXPECT_EQ(matching(rule(Field::dateOfBirth, Op::isBefore, picked)), names({"morning"}));
    EXPECT_EQ(matching(rule(Field::dateOfBirth, Op::isAfter, picked)), names({"evening"}));
    EXPECT_EQ(matching(rule(Field::dateModified, Op::isAfter, AdvancedFindRule::makeDateValue(inBerlin(2024, 1, 31, 8)))),
              names({"modified"}));
    EXPECT_FALSE(matching(rule(Field::dateOfBirth, Op::isBefore)));
}

TEST_F(AdvancedFindPredicateTest, LastNDaysCountsCalendarDaysBackFromNowAndNeedsAtLeastOne)
{
    // Noon on the day the clocks go forward: one calendar day back is 23 hours.
    const QDateTime now = inBerlin(2024, 3, 31, 12);
    addCase(QStringLiteral("22HoursAgo"))->setDateAdded(now.addSecs(-22 * 3600));
    addCase(QStringLiteral("23HoursAgo"))->setDateAdded(now.addSecs(-23 * 3600));
    addCase(QStringLiteral("23AndAHalfHoursAgo"))->setDateAdded(now.addSecs(-23 * 3600 - 1800));
    addCase(QStringLiteral("sixDaysAgo"))->setDateAdded(now.addDays(-6));
    addCase(QStringLiteral("eightDaysAgo"))->setDateAdded(now.addDays(-8));

    const auto lastDays = [&](const QVariant &days) {
        return matching(rule(Field::dateAdded, Op::isInTheLastNDays, days), now);
    };
    EXPECT_EQ(lastDays(AdvancedFindRule::makeDayCountValue(1)), names({"22HoursAgo", "23HoursAgo"}));
    EXPECT_EQ(lastDays(QVariant(7)), names({"22HoursAgo", "23HoursAgo", "23AndAHalfHoursAgo", "sixDaysAgo"}));
    EXPECT_FALSE(lastDays(AdvancedFindRule::makeDayCountValue(0)));
    EXPECT_FALSE(lastDays(AdvancedFindRule::makeDayCountValue(-3)));
    EXPECT_FALSE(lastDays(text("7")));
    EXPECT_FALSE(lastDays(AdvancedFindRule::makeDateValue(now)));
    // Far beyond the calendar: no date, so no predicate rather than a wrong one.
    EXPECT_FALSE(lastDays(AdvancedFindRule::makeDayCountValue(std::numeric_limits<qint64>::max())));
}

TEST_F(AdvancedFindPredicateTest, WithoutAClockTheRulesUseTheCurrentMoment)
{
    addCase(QStringLiteral("justAdded"));
    addCase(QStringLiteral("addedLastWeek"))->setDateAdded(QDateTime::currentDateTime().addDays(-7));
    const auto predicate = AdvancedFindPredicate::forRule(
        rule(Field::dateAdded, Op::isInTheLastNDays, AdvancedFindRule::makeDayCountValue(1)));
    ASSERT_TRUE(predicate);
    EXPECT_EQ(matching(*predicate), names({"justAdded"}));
}

TEST_F(AdvancedFindPredicateTest, RuleSetsDropRulesWithoutPredicateAndAlwaysBuildACompound)
{
    addTextLibrary();
    const auto shared = [](const AdvancedFindRule &r) { return std::make_shared<AdvancedFindRule>(r); };
    const auto emptyText = shared(rule(Field::summary, Op::contains, text("")));
    const auto pneumonia = shared(rule(Field::summary, Op::contains, text("pneumonia")));
    const auto hasMedia = shared(rule(Field::hasMedia, Op::isTrue));
    const auto noTags = shared(rule(Field::hasTags, Op::isFalse));

    EXPECT_FALSE(AdvancedFindPredicate::forRules(AdvancedFindCompoundType::all, {emptyText, emptyText}));
    EXPECT_FALSE(AdvancedFindPredicate::forRules(AdvancedFindCompoundType::any, {emptyText, nullptr}));
    EXPECT_FALSE(AdvancedFindPredicate::forRules(AdvancedFindCompoundType::any, {}));

    const auto single = AdvancedFindPredicate::forRules(AdvancedFindCompoundType::any, {emptyText, pneumonia});
    ASSERT_TRUE(single && single->rootNode());
    EXPECT_EQ(single->rootNode()->kind(), PredicateNode::Kind::Or);
    EXPECT_EQ(single->rootNode()->children().size(), 1);
    EXPECT_EQ(matching(*single), names({"left", "accented"}));

    const auto all = AdvancedFindPredicate::forRules(AdvancedFindCompoundType::all, {pneumonia, emptyText, hasMedia});
    ASSERT_TRUE(all && all->rootNode());
    EXPECT_EQ(all->rootNode()->kind(), PredicateNode::Kind::And);
    EXPECT_EQ(all->rootNode()->children().size(), 2);
    EXPECT_EQ(matching(*all), names({"left"}));

    const auto any = AdvancedFindPredicate::forRules(AdvancedFindCompoundType::any, {pneumonia, noTags, nullptr});
    ASSERT_TRUE(any);
    EXPECT_EQ(matching(*any), names({"left", "accented", "blank"}));
    // The compound reads the shared rules as they are when it is built.
    pneumonia->value = text("fracture");
    EXPECT_EQ(matching(*AdvancedFindPredicate::forRules(AdvancedFindCompoundType::any, {pneumonia, noTags})),
              names({"other", "blank"}));
}

} // namespace
