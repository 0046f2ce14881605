#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <random>

#include "PredicateTestLibrary.h"
#include "store/Predicate.h"

using namespace ovalis;

namespace {

struct Example {
    QString format;
    QVariantList arguments;
    QString canonical;
};

QDateTime utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int msec = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, msec), Qt::UTC);
}

const EntityDescription &caseEntity()
{
    return *ManagedObjectModel::ovalisModel().entity(QStringLiteral("Case"));
}

// The parse of a canonical text must give the same canonical text.
void expectStableFormat(const Predicate &predicate)
{
    const Predicate reparsed = Predicate::fromFormat(predicate.format());
    ASSERT_TRUE(reparsed.isValid()) << predicate.format().toStdString() << ": " << reparsed.errorString().toStdString();
    EXPECT_EQ(reparsed.format(), predicate.format());
}

} // namespace

TEST(PredicateParserTest, FormatsEveryConstructCanonically)
{
    const QList<Example> examples{
        {"summary contains[cd] %@", {QStringLiteral("smith")}, R"(summary CONTAINS[cd] "smith")"},
        {"summary ContainS[CD] 'smith'", {}, R"(summary CONTAINS[cd] "smith")"},
        {"patientID BEGINSWITH[c] \"p\" OR patientID endswith[d] \"1\"", {},
         R"(patientID BEGINSWITH[c] "p" OR patientID ENDSWITH[d] "1")"},
        {"label ==[cd] %@", {QStringLiteral("CT")}, R"(label ==[cd] "CT")"},
        {"label = 'a' AND label <> 'b' AND sex =< 2 AND sex => 1 AND sex < 3 AND sex > 0", {},
         R"(label == "a" AND label != "b" AND sex <= 2 AND sex >= 1 AND sex < 3 AND sex > 0)"},
        {"fileName LIKE[cd] '*scan?.jpg'", {}, R"(fileName LIKE[cd] "*scan?.jpg")"},
        {"uuid MATCHES '[A-Z]+-[0-9]+'", {}, R"(uuid MATCHES "[A-Z]+-[0-9]+")"},
        {"ANY tags.label == %@", {QStringLiteral("A")}, R"(ANY tags.label == "A")"},
        {"some tags.label == 'A'", {}, R"(ANY tags.label == "A")"},
        {"ALL media.orderIndex > 0 AND NONE tags.label BEGINSWITH 'x'", {},
         R"(ALL media.orderIndex > 0 AND NONE tags.label BEGINSWITH "x")"},
        {"tags.label == 'A'", {}, R"(tags.label == "A")"},
        {"itsCase == nil OR itsCase.patientID == NULL", {}, "itsCase == nil OR itsCase.patientID == nil"},
        {"media.@count > 0 AND tags.@count == 0", {}, "media.@count > 0 AND tags.@count == 0"},
        {"%K == nil OR %K.length == 0", {QStringLiteral("patientID"), QStringLiteral("patientID")},
         "patientID == nil OR patientID.length == 0"},
        {"%K.length > 3", {QStringLiteral("itsCase.summary")}, "itsCase.summary.length > 3"},
        {"SUBQUERY(tags, $tag, $tag.label ==[cd] %@).@count == 0", {QStringLiteral("ct")},
         R"(SUBQUERY(tags, $tag, $tag.label ==[cd] "ct").@count == 0)"},
        {"SUBQUERY(tags, $t, SUBQUERY($t.cases, $c, $c.sex == $t.active).@count > 1).@count > 0", {},
         "SUBQUERY(tags, $t, SUBQUERY($t.cases, $c, $c.sex == $t.active).@count > 1).@count > 0"},
        {"TRUEPREDICATE", {}, "TRUEPREDICATE"},
        {"falsepredicate OR truepredicate", {}, "FALSEPREDICATE OR TRUEPREDICATE"},
        {"active == YES AND hasActiveCases == no AND active != TRUE AND active != false", {},
         "active == YES AND hasActiveCases == NO AND active != YES AND active != NO"},
        {R"(summary == "a\"b\\c\nd\te" OR summary == 'it\'s')", {},
         R"(summary == "a\"b\\c\nd\te" OR summary == "it's")"},
        {R"(summary == "\u00e9\u0001")", {}, "summary == \"\u00e9\\u0001\""},
        {"sex == -1 OR sex == 2.5 OR sex == 1e3 OR sex == 0.125", {}, "sex == -1 OR sex == 2.5 OR sex == 1000 OR sex == 0.125"},
        {"sex == %d OR sex == %i OR sex == %ld OR sex == %lld OR sex == %f", {qint16(2), 3, QVariant::fromValue(4L), qint64(5), 0.5},
         "sex == 2 OR sex == 3 OR sex == 4 OR sex == 5 OR sex == 0.5"},
        {"dateAdded >= %@ AND dateAdded < %@", {utc(2001, 1, 1, 0, 0, 10, 500), utc(1970, 1, 1)},
         R"(dateAdded >= CAST(10.5, "NSDate") AND dateAdded < CAST(-978307200, "NSDate"))"},
        {"dateAdded == CAST(-0.001, \"NSDate\")", {}, R"(dateAdded == CAST(-0.001, "NSDate"))"},
        {"a == 1 OR b == 2 AND c == 3", {}, "a == 1 OR (b == 2 AND c == 3)"},
        {"(a == 1 OR b == 2) AND c == 3", {}, "(a == 1 OR b == 2) AND c == 3"},
        {"a == 1 && b == 2 || !c == 3", {}, "(a == 1 AND b == 2) OR NOT c == 3"},
        {"NOT a == 1 AND b == 2", {}, "NOT a == 1 AND b == 2"},
        {"not (a == 1 and b == 2)", {}, "NOT (a == 1 AND b == 2)"},
        {"NOT NOT a == 1", {}, "NOT NOT a == 1"},
        {"((a == 1))", {}, "a == 1"},
        {"(a == 1 AND b == 2) AND c == 3", {}, "(a == 1 AND b == 2) AND c == 3"},
        {"#contains == 1 AND tags.#any == 2", {}, "#contains == 1 AND tags.#any == 2"},
        {"%@ < summary", {QStringLiteral("m")}, R"("m" < summary)"},
    };
    for (const Example &example : examples) {
        SCOPED_TRACE(example.format.toStdString());
        const Predicate predicate = Predicate::fromFormat(example.format, example.arguments);
        ASSERT_TRUE(predicate.isValid()) << predicate.errorString().toStdString();
        EXPECT_FALSE(predicate.isNull());
        EXPECT_EQ(predicate.format(), example.canonical);
        expectStableFormat(predicate);
    }
}

TEST(PredicateParserTest, SubstitutesArgumentsByType)
{
    const QList<Example> examples{
        {"x == %@", {QStringLiteral("é\"")}, R"(x == "é\"")"},
        {"x == %@", {QString()}, R"(x == "")"},
        {"x == %@", {42}, "x == 42"},
        {"x == %@", {qint64(1) << 40}, "x == 1099511627776"},
        {"x == %@", {2.25}, "x == 2.25"},
        {"x == %@", {true}, "x == YES"},
        {"x == %@", {QVariant()}, "x == nil"},
        {"x == %@", {QVariant::fromValue(nullptr)}, "x == nil"},
        {"x == %@", {QVariant(QMetaType::fromType<QString>())}, "x == nil"},
        {"x == %@", {QDateTime()}, "x == nil"},
        {"x == %@", {utc(2001, 1, 2)}, R"(x == CAST(86400, "NSDate"))"},
        {"%K == %@ AND %K != %d", {QStringLiteral("itsCase.sex"), 1, QStringLiteral("sex"), 2},
         "itsCase.sex == 1 AND sex != 2"},
        {"tags.%K == %@", {QStringLiteral("label"), QStringLiteral("A")}, R"(tags.label == "A")"},
        {"x == %@", {QStringLiteral("a"), QStringLiteral("ignored")}, R"(x == "a")"},
    };
    for (const Example &example : examples) {
        SCOPED_TRACE(example.format.toStdString() + " " + example.canonical.toStdString());
        const Predicate predicate = Predicate::fromFormat(example.format, example.arguments);
        ASSERT_TRUE(predicate.isValid()) << predicate.errorString().toStdString();
        EXPECT_EQ(predicate.format(), example.canonical);
        expectStableFormat(predicate);
    }
}

TEST(PredicateParserTest, BuildsCompoundsOfAnySize)
{
    const Predicate tag = Predicate::fromFormat(QStringLiteral("ANY tags.label == %@"), {QStringLiteral("A")});
    const Predicate summary = Predicate::fromFormat(QStringLiteral("summary CONTAINS[cd] %@"), {QStringLiteral("smith")});
    const Predicate detail = Predicate::fromFormat(QStringLiteral("detail CONTAINS[cd] %@"), {QStringLiteral("smith")});
    const Predicate search = Predicate::orPredicate({summary, detail});
    const Predicate both = Predicate::andPredicate({tag, search});
    EXPECT_EQ(both.format(),
              R"(ANY tags.label == "A" AND (summary CONTAINS[cd] "smith" OR detail CONTAINS[cd] "smith"))");
    expectStableFormat(both);
    EXPECT_EQ(Predicate::notPredicate(search).format(),
              R"(NOT (summary CONTAINS[cd] "smith" OR detail CONTAINS[cd] "smith"))");
    expectStableFormat(Predicate::notPredicate(search));
    EXPECT_EQ(Predicate::andPredicate({Predicate::andPredicate({tag, summary}), detail}).format(),
              R"((ANY tags.label == "A" AND summary CONTAINS[cd] "smith") AND detail CONTAINS[cd] "smith")");

    EXPECT_EQ(Predicate::orPredicate({summary}).format(), summary.format());
    EXPECT_EQ(Predicate::andPredicate({Predicate::orPredicate({search}), tag}).format(),
              R"((summary CONTAINS[cd] "smith" OR detail CONTAINS[cd] "smith") AND ANY tags.label == "A")");
    EXPECT_EQ(Predicate::andPredicate({}).format(), QStringLiteral("TRUEPREDICATE"));
    EXPECT_EQ(Predicate::orPredicate({}).format(), QStringLiteral("FALSEPREDICATE"));

    const Predicate null;
    EXPECT_TRUE(null.isNull());
    EXPECT_TRUE(null.isValid());
    EXPECT_TRUE(null.format().isEmpty());
    EXPECT_FALSE(Predicate::andPredicate({}).isNull());
    EXPECT_EQ(Predicate::andPredicate({null, tag}).format(), QStringLiteral(R"(TRUEPREDICATE AND ANY tags.label == "A")"));
    EXPECT_EQ(Predicate::notPredicate(null).format(), QStringLiteral("NOT TRUEPREDICATE"));

    const Predicate broken = Predicate::fromFormat(QStringLiteral("summary =="));
    const Predicate withBroken = Predicate::orPredicate({tag, broken});
    EXPECT_FALSE(withBroken.isValid());
    EXPECT_EQ(withBroken.errorString(), broken.errorString());
    EXPECT_FALSE(Predicate::notPredicate(broken).isValid());
}

TEST(PredicateParserTest, RejectsMalformedInputWithAMessage)
{
    const QList<Example> malformed{
        {"", {}, {}},
        {"   ", {}, {}},
        {"summary", {}, {}},
        {"summary ==", {}, {}},
        {"== 1", {}, {}},
        {"(summary == 1", {}, {}},
        {"summary == 1)", {}, {}},
        {"summary === 1", {}, {}},
        {"summary ~ 1", {}, {}},
        {"summary == 1 summary == 2", {}, {}},
        {"summary IN {1, 2}", {}, {}},
        {"sex BETWEEN {1, 2}", {}, {}},
        {"summary == \"unterminated", {}, {}},
        {"summary == 'bad \\u12'", {}, {}},
        {"summary CONTAINS[x] 'a'", {}, {}},
        {"summary CONTAINS[cd 'a'", {}, {}},
        {"summary == %@", {}, {}},
        {"%K == %@ AND %K == %@", {QStringLiteral("a"), 1, QStringLiteral("b")}, {}},
        {"%K == 1", {1}, {}},
        {"%K == 1", {QStringLiteral("a..b")}, {}},
        {"summary == %d", {QStringLiteral("seven")}, {}},
        {"summary == %@", {QVariant::fromValue(QStringList{QStringLiteral("a")})}, {}},
        {"summary == %q", {1}, {}},
        {"$x.label == 1", {}, {}},
        {"SUBQUERY(tags, tag, label == 1).@count > 0", {}, {}},
        {"SUBQUERY(tags, $t, $t.label == 1) > 0", {}, {}},
        {"SUBQUERY(tags, $t, $t.label == 1).@count.x > 0", {}, {}},
        {"SUBQUERY('x', $t, $t.label == 1).@count > 0", {}, {}},
        {"SUBQUERY(tags, $t, $u.label == 1).@count > 0", {}, {}},
        {"tags.@count.label > 1", {}, {}},
        {"tags.@avg > 1", {}, {}},
        {"summary MATCHES '('", {}, {}},
        {"dateAdded == CAST(1, \"NSNumber\")", {}, {}},
        {"dateAdded == CAST('x', \"NSDate\")", {}, {}},
        {"summary == 1 AND", {}, {}},
        {"NOT", {}, {}},
        {"AND == 1", {}, {}},
        {"summary == @", {}, {}},
        {"summary == $", {}, {}},
        {"summary == #", {}, {}},
        {"summary == 1 ^", {}, {}},
        {QString(500, QLatin1Char('(')) + QStringLiteral("a == 1") + QString(500, QLatin1Char(')')), {}, {}},
        {QStringLiteral("NOT ").repeated(1000) + QStringLiteral("a == 1"), {}, {}},
    };
    for (const Example &example : malformed) {
        SCOPED_TRACE(example.format.left(80).toStdString());
        const Predicate predicate = Predicate::fromFormat(example.format, example.arguments);
        EXPECT_FALSE(predicate.isValid());
        EXPECT_FALSE(predicate.isNull());
        EXPECT_TRUE(predicate.errorString().startsWith(QStringLiteral("Unable to parse the format string")))
            << predicate.errorString().toStdString();
        EXPECT_TRUE(predicate.format().isEmpty());
        QString clause;
        QVariantList bindings;
        QString error;
        EXPECT_FALSE(predicate.toSql(caseEntity(), QStringLiteral("t0"), &clause, &bindings, &error));
        EXPECT_EQ(error, predicate.errorString());
    }
}

TEST(PredicateParserTest, ReportsKeyPathsTheEntityLacks)
{
    PredicateTestLibrary library(3, 4);
    const PredicateTestObject *someCase = library.objects(QStringLiteral("Case")).first();
    const QList<QPair<QString, QString>> unknown{
        {"noSuchKey == 1", "noSuchKey"},
        {"summary.foo == 1", "summary"},
        {"tags.colour == 'red'", "colour"},
        {"itsCase == nil", "itsCase"},
        {"sex.length == 0", "length"},
        {"summary.@count == 0", "@count"},
        {"SUBQUERY(summary, $s, $s == nil).@count == 0", "relationship"},
        {"SUBQUERY(tags, $t, $t.nothing == 1).@count == 0", "nothing"},
        {"summary == tags.label", "to-many"},
        {"ANY tags.label CONTAINS summary", "constant"},
    };
    for (const auto &[format, mention] : unknown) {
        SCOPED_TRACE(format.toStdString());
        const Predicate predicate = Predicate::fromFormat(format);
        ASSERT_TRUE(predicate.isValid()) << predicate.errorString().toStdString();
        QString error;
        EXPECT_FALSE(predicate.validate(caseEntity(), &error));
        EXPECT_TRUE(error.contains(mention)) << error.toStdString();
        QString clause;
        QVariantList bindings;
        error.clear();
        EXPECT_FALSE(predicate.toSql(caseEntity(), QStringLiteral("t0"), &clause, &bindings, &error));
        EXPECT_FALSE(error.isEmpty());
        // In memory an unknown key reads as absent.
        predicate.evaluate(*someCase);
        Predicate::notPredicate(predicate).evaluate(*someCase);
    }
    EXPECT_FALSE(Predicate::fromFormat(QStringLiteral("noSuchKey == 1")).evaluate(*someCase));
    EXPECT_TRUE(Predicate::fromFormat(QStringLiteral("noSuchKey == nil")).evaluate(*someCase));
    EXPECT_TRUE(Predicate::fromFormat(QStringLiteral("NOT noSuchKey CONTAINS 'a'")).evaluate(*someCase));
}

TEST(PredicateParserTest, SurvivesMangledInput)
{
    PredicateTestLibrary library(5, 6);
    const QList<const PredicateTestObject *> cases = library.objects(QStringLiteral("Case"));
    const QStringList seeds{
        R"(ANY tags.label == %@ AND (summary CONTAINS[cd] "smith" OR detail CONTAINS[cd] 'smith'))",
        R"(SUBQUERY(tags, $tag, $tag.label ==[cd] %@).@count == 0 OR NOT media.@count > 0)",
        R"(%K == nil OR %K.length == 0 || dateAdded >= CAST(12.5, "NSDate"))",
        R"(ALL media.orderIndex >= %d AND NONE tags.label LIKE[c] "*a?\\*" AND itsCase == nil)",
        R"(sex != -2.5e3 AND patientID MATCHES[cd] "p[0-9]+" AND !(active == YES) AND summary BEGINSWITH "x")",
    };
    const QVariantList pool{QStringLiteral("summary"), QStringLiteral("x"), 1, 2.5, true, QVariant(),
                            QDateTime::fromMSecsSinceEpoch(0, Qt::UTC), QStringLiteral("tags.label")};
    const QString alphabet = QStringLiteral("()[]\"'%$@#.=!<>&|{}, \\abcdKCD019-\u00e9");
    std::mt19937 random(20240611);
    const auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    int parsed = 0;
    for (int round = 0; round < 3000; ++round) {
        QString text = seeds.at(pick(int(seeds.size())));
        const int edits = 1 + pick(4);
        for (int e = 0; e < edits && !text.isEmpty(); ++e) {
            const int at = pick(int(text.size()));
            switch (pick(4)) {
            case 0: text.truncate(at); break;
            case 1: text.remove(at, 1 + pick(3)); break;
            case 2: text.insert(at, alphabet.at(pick(int(alphabet.size())))); break;
            default: text.replace(at, 1, alphabet.at(pick(int(alphabet.size())))); break;
            }
        }
        QVariantList arguments;
        for (int a = pick(5); a > 0; --a)
            arguments << pool.at(pick(int(pool.size())));
        SCOPED_TRACE(text.toStdString());
        const Predicate predicate = Predicate::fromFormat(text, arguments);
        if (!predicate.isValid()) {
            EXPECT_FALSE(predicate.errorString().isEmpty());
            continue;
        }
        ++parsed;
        expectStableFormat(predicate);
        for (const PredicateTestObject *object : cases)
            predicate.evaluate(*object);
        QString clause;
        QVariantList bindings;
        QString error;
        if (predicate.toSql(caseEntity(), QStringLiteral("t0"), &clause, &bindings, &error)) {
            QString runError;
            EXPECT_TRUE(library.run(QStringLiteral("SELECT t0.pk FROM cases t0 WHERE ") + clause, bindings, nullptr,
                                    &runError))
                << runError.toStdString();
        } else {
            EXPECT_FALSE(error.isEmpty());
        }
    }
    EXPECT_GT(parsed, 100);
}
