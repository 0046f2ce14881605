#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "PredicateTestObject.h"
#include "store/Predicate.h"

using namespace ovalis;

namespace {

// A handful of hand-made records: what users see in the library's search,
// tag filter and advanced find.
class PredicateEvaluationTest : public ::testing::Test
{
protected:
    PredicateTestObject *make(const char *entity, qint64 pk)
    {
        m_objects.push_back(std::make_unique<PredicateTestObject>(
            *ManagedObjectModel::ovalisModel().entity(QString::fromLatin1(entity)), pk));
        return m_objects.back().get();
    }
    PredicateTestObject *makeCase(qint64 pk, const QVariant &summary = {}, const QVariant &patientID = {}, int sex = 0)
    {
        PredicateTestObject *object = make("Case", pk);
        object->setValue(QStringLiteral("summary"), summary);
        object->setValue(QStringLiteral("patientID"), patientID);
        object->setValue(QStringLiteral("sex"), sex);
        return object;
    }
    PredicateTestObject *makeTag(qint64 pk, const QVariant &label)
    {
        PredicateTestObject *tag = make("Tag", pk);
        tag->setValue(QStringLiteral("label"), label);
        tag->setValue(QStringLiteral("active"), false);
        return tag;
    }
    static void link(PredicateTestObject *someCase, PredicateTestObject *tag)
    {
        someCase->addRelated(QStringLiteral("tags"), tag);
        tag->addRelated(QStringLiteral("cases"), someCase);
    }
    static bool holds(const PredicateObject &object, const char *format, const QVariantList &arguments = {})
    {
        const Predicate predicate = Predicate::fromFormat(QString::fromUtf8(format), arguments);
        EXPECT_TRUE(predicate.isValid()) << format << ": " << predicate.errorString().toStdString();
        return predicate.evaluate(object);
    }

    std::vector<std::unique_ptr<PredicateTestObject>> m_objects;
};

} // namespace

TEST_F(PredicateEvaluationTest, TextComparisonsFoldAsTheirOptionsSay)
{
    const PredicateTestObject *smith = makeCase(1, QStringLiteral("Dr. SMITH, chest"), QStringLiteral("XAB1"));
    const PredicateTestObject *decomposed = makeCase(2, QStringLiteral("Smi\u0301th"));

    EXPECT_TRUE(holds(*smith, "summary CONTAINS[cd] %@", {QStringLiteral("smíth")}));
    EXPECT_TRUE(holds(*smith, "summary contains[cd] 'Smith'"));
    EXPECT_FALSE(holds(*smith, "summary CONTAINS %@", {QStringLiteral("smíth")}));
    EXPECT_FALSE(holds(*smith, "summary CONTAINS[c] %@", {QStringLiteral("smíth")}));
    EXPECT_TRUE(holds(*smith, "summary CONTAINS[c] %@", {QStringLiteral("smith")}));
    EXPECT_FALSE(holds(*smith, "summary CONTAINS[d] %@", {QStringLiteral("smíth")}));
    EXPECT_TRUE(holds(*smith, "summary CONTAINS[d] %@", {QStringLiteral("SMÍTH")}));
    EXPECT_TRUE(holds(*decomposed, "summary ==[cd] %@", {QStringLiteral("SMÍTH")}));
    EXPECT_TRUE(holds(*decomposed, "summary ==[d] %@", {QStringLiteral("Smith")}));
    EXPECT_FALSE(holds(*decomposed, "summary == %@", {QStringLiteral("Smíth")}));

    EXPECT_TRUE(holds(*smith, "patientID contains[cd] %@", {QStringLiteral("ab")}));
    EXPECT_TRUE(holds(*smith, "summary BEGINSWITH[cd] 'dr.' AND summary ENDSWITH[cd] 'CHÉST'"));
    EXPECT_FALSE(holds(*smith, "summary BEGINSWITH 'dr.'"));
    EXPECT_TRUE(holds(*smith, "summary LIKE[cd] '*sm?th*'"));
    EXPECT_FALSE(holds(*smith, "summary LIKE[cd] 'sm?th*'"));
    EXPECT_TRUE(holds(*smith, "summary MATCHES[c] 'dr\\\\. smith.*'"));
    EXPECT_TRUE(holds(*smith, "summary > 'Dr. A' AND summary < 'Dr. T' AND summary >=[c] 'dr. smith'"));
    EXPECT_TRUE(holds(*smith, "summary CONTAINS '' AND summary BEGINSWITH '' AND summary ENDSWITH ''"));
}

TEST_F(PredicateEvaluationTest, AbsentValuesFailComparisonsAndPassTheirNegations)
{
    const PredicateTestObject *empty = makeCase(1);
    const PredicateTestObject *blank = makeCase(2, QStringLiteral(""), QStringLiteral(""));

    EXPECT_FALSE(holds(*empty, "summary CONTAINS[cd] 'x'"));
    EXPECT_TRUE(holds(*empty, "NOT summary CONTAINS[cd] 'x'"));
    EXPECT_FALSE(holds(*empty, "summary CONTAINS ''"));
    EXPECT_FALSE(holds(*empty, "summary < 'm' OR summary > 'm' OR summary == 'm'"));
    EXPECT_TRUE(holds(*empty, "summary != 'm'"));
    EXPECT_TRUE(holds(*empty, "summary == nil AND nil == summary"));
    EXPECT_FALSE(holds(*empty, "summary != nil"));
    EXPECT_TRUE(holds(*empty, "summary.length == 0"));
    EXPECT_TRUE(holds(*empty, "summary == detail"));
    EXPECT_TRUE(holds(*empty, "summary == dateAdded"));
    EXPECT_FALSE(holds(*empty, "summary == sex"));

    EXPECT_TRUE(holds(*blank, "summary CONTAINS ''"));
    EXPECT_FALSE(holds(*blank, "summary == nil"));
    EXPECT_TRUE(holds(*blank, "summary.length == 0"));
    // The advanced find's "is empty" and "is not empty".
    for (const PredicateTestObject *object : {empty, blank}) {
        EXPECT_TRUE(holds(*object, "%K == nil OR %K.length == 0", {QStringLiteral("patientID"), QStringLiteral("patientID")}));
        EXPECT_FALSE(holds(*object, "%K != nil AND %K.length > 0", {QStringLiteral("patientID"), QStringLiteral("patientID")}));
    }
}

TEST_F(PredicateEvaluationTest, NumbersBooleansAndDatesCompareByValue)
{
    PredicateTestObject *someCase = makeCase(1, QStringLiteral("7"), {}, 2);
    const QDateTime added = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
    someCase->setValue(QStringLiteral("dateAdded"), added);
    PredicateTestObject *tag = makeTag(1, QStringLiteral("CT"));
    tag->setValue(QStringLiteral("active"), true);

    EXPECT_TRUE(holds(*someCase, "sex == %d", {qint16(2)}));
    EXPECT_TRUE(holds(*someCase, "sex == 2.0 AND sex < 2.5 AND sex > %@", {true}));
    EXPECT_FALSE(holds(*someCase, "sex == '2'"));
    EXPECT_TRUE(holds(*someCase, "sex != '2'"));
    EXPECT_FALSE(holds(*someCase, "summary == 7 OR summary < 8"));
    EXPECT_TRUE(holds(*tag, "active == YES AND active == 1 AND active > 0.5 AND hasActiveCases == nil"));

    EXPECT_TRUE(holds(*someCase, "dateAdded == %@", {added}));
    EXPECT_FALSE(holds(*someCase, "dateAdded == %@", {added.addMSecs(1)}));
    EXPECT_TRUE(holds(*someCase, "dateAdded >= %@ AND dateAdded < %@", {added.addDays(-1), added.addMSecs(1)}));
    EXPECT_TRUE(holds(*someCase, "dateAdded > %@", {added.toTimeZone(QTimeZone(3600 * 5)).addSecs(-1)}));
    EXPECT_FALSE(holds(*someCase, "dateAdded > %@ OR dateAdded == 1700000000.123", {QDateTime()}));
    EXPECT_FALSE(holds(*someCase, "dateOfBirth < %@", {added}));
    EXPECT_TRUE(holds(*someCase, "NOT dateOfBirth < %@", {added}));
}

TEST_F(PredicateEvaluationTest, RelationshipsCountIterateAndCrossToOne)
{
    PredicateTestObject *untagged = makeCase(1, QStringLiteral("none"));
    PredicateTestObject *ct = makeCase(2, QStringLiteral("ct"));
    PredicateTestObject *ctChest = makeCase(3, QStringLiteral("ct chest"));
    PredicateTestObject *tagCT = makeTag(10, QStringLiteral("CT"));
    PredicateTestObject *tagCTChest = makeTag(11, QStringLiteral("CT chest"));
    PredicateTestObject *tagNoLabel = makeTag(12, {});
    link(ct, tagCT);
    link(ctChest, tagCTChest);
    link(ctChest, tagNoLabel);
    PredicateTestObject *orphan = make("Media", 20);
    PredicateTestObject *media = make("Media", 21);
    media->addRelated(QStringLiteral("itsCase"), ct);
    ct->addRelated(QStringLiteral("media"), media);

    EXPECT_FALSE(holds(*untagged, "ANY tags.label == %@", {QStringLiteral("CT")}));
    EXPECT_FALSE(holds(*untagged, "tags.label == %@", {QStringLiteral("CT")}));
    EXPECT_TRUE(holds(*untagged, "ALL tags.label == 'CT' AND NONE tags.label == 'CT'"));
    EXPECT_TRUE(holds(*ct, "ANY tags.label == 'CT' AND tags.label == 'CT' AND ALL tags.label ==[c] 'ct'"));
    EXPECT_TRUE(holds(*ctChest, "ANY tags.label == nil AND ANY tags.label != 'CT chest'"));
    EXPECT_FALSE(holds(*ctChest, "ALL tags.label BEGINSWITH 'CT'"));
    EXPECT_TRUE(holds(*ctChest, "NONE tags.label == 'CT'"));
    EXPECT_TRUE(holds(*ctChest, "ANY tags.label.length == 0 AND ANY tags.label.length == 8"));

    EXPECT_TRUE(holds(*untagged, "tags.@count == 0 AND media.@count == 0"));
    EXPECT_TRUE(holds(*ctChest, "tags.@count == 2 AND tags.@count > 1"));
    EXPECT_TRUE(holds(*ct, "media.@count > 0 AND tags.cases.@count == 1"));

    // The advanced find's "contains tag" matches the whole label apart from case and accents.
    const char *containsTag = "SUBQUERY(tags, $tag, $tag.label ==[cd] %@).@count > 0";
    const char *lacksTag = "SUBQUERY(tags, $tag, $tag.label ==[cd] %@).@count == 0";
    EXPECT_TRUE(holds(*ct, containsTag, {QStringLiteral("ct")}));
    EXPECT_FALSE(holds(*ctChest, containsTag, {QStringLiteral("ct")}));
    EXPECT_TRUE(holds(*ctChest, lacksTag, {QStringLiteral("ct")}));
    EXPECT_TRUE(holds(*untagged, lacksTag, {QStringLiteral("ct")}));
    EXPECT_TRUE(holds(*ctChest, "SUBQUERY(tags, $t, label != nil).@count == 1"));
    EXPECT_TRUE(holds(*tagCT, "SUBQUERY(cases, $c, SUBQUERY($c.tags, $u, $u.label == $c.summary).@count == 0).@count == 1"));

    EXPECT_TRUE(holds(*orphan, "itsCase == nil AND itsCase.patientID == nil AND itsCase.summary.length == 0"));
    EXPECT_FALSE(holds(*orphan, "itsCase != nil OR itsCase.sex == 0 OR itsCase.sex != nil"));
    EXPECT_TRUE(holds(*orphan, "itsCase.sex != 0 AND itsCase.media.@count == 0"));
    EXPECT_TRUE(holds(*media, "itsCase != nil AND itsCase.summary == 'ct' AND itsCase.media.@count == 1"));
    EXPECT_TRUE(holds(*media, "itsCase.tags.label == 'CT'"));
}

TEST_F(PredicateEvaluationTest, CompoundsAndSpecialPredicates)
{
    const PredicateTestObject *someCase = makeCase(1, QStringLiteral("x"));
    const Predicate yes = Predicate::fromFormat(QStringLiteral("summary == 'x'"));
    const Predicate no = Predicate::fromFormat(QStringLiteral("summary == 'y'"));

    EXPECT_TRUE(Predicate().evaluate(*someCase));
    EXPECT_FALSE(Predicate::fromFormat(QStringLiteral("summary ==")).evaluate(*someCase));
    EXPECT_TRUE(Predicate::andPredicate({}).evaluate(*someCase));
    EXPECT_FALSE(Predicate::orPredicate({}).evaluate(*someCase));
    EXPECT_TRUE(Predicate::andPredicate({yes}).evaluate(*someCase));
    EXPECT_FALSE(Predicate::andPredicate({yes, no}).evaluate(*someCase));
    EXPECT_TRUE(Predicate::orPredicate({no, yes}).evaluate(*someCase));
    EXPECT_FALSE(Predicate::orPredicate({no}).evaluate(*someCase));
    EXPECT_TRUE(Predicate::notPredicate(no).evaluate(*someCase));
    EXPECT_TRUE(Predicate::andPredicate({Predicate(), yes}).evaluate(*someCase));
    EXPECT_FALSE(Predicate::notPredicate(Predicate()).evaluate(*someCase));
    EXPECT_TRUE(holds(*someCase, "TRUEPREDICATE AND NOT FALSEPREDICATE"));
    EXPECT_TRUE(holds(*someCase, "summary == 'y' OR summary == 'x' AND NOT summary == 'y'"));
    EXPECT_FALSE(holds(*someCase, "(summary == 'y' OR summary == 'x') AND summary == 'y'"));
    EXPECT_TRUE(holds(*someCase, "'a' < 'b' AND nil == nil AND 1 == 1.0 AND 'x' CONTAINS 'x'"));
}
