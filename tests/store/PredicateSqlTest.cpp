#include <QDateTime>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "PredicateTestLibrary.h"
#include "store/Predicate.h"
#include "store/PredicateExpression.h"

using namespace ovalis;

namespace {

struct Format {
    QString text;
    QVariantList arguments;

    Format &operator<<(const Format &other)
    {
        text += other.text;
        arguments += other.arguments;
        return *this;
    }
    Format &operator<<(const QString &more)
    {
        text += more;
        return *this;
    }
};

enum class Kind { String, Number, Date, Object };

// Where key paths may start: the evaluated object (empty prefix) or a
// SUBQUERY variable ("$v1.").
struct Root {
    QString prefix;
    const EntityDescription *entity;
};

struct KeyPath {
    QStringList keys;
    Kind kind = Kind::String;
    bool toMany = false;
};

const EntityDescription &entityNamed(const QString &name)
{
    return *ManagedObjectModel::ovalisModel().entity(name);
}

// Writes random predicate format strings over the model: every operator and
// option, modifiers, @count, .length, SUBQUERY (nested, with outer
// variables), nil, key paths on both sides, constants of every type given as
// literals or arguments, and nested AND/OR/NOT.
class RandomPredicateWriter
{
public:
    RandomPredicateWriter(quint32 seed, const PredicateTestLibrary &library)
        : m_random(seed)
        , m_library(library)
    {
    }

    Format predicate(const EntityDescription &entity) { return node({Root{QString(), &entity}}, 3); }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(m_random) < p; }
    template <typename T>
    const T &choose(const QList<T> &list) { return list.at(pick(int(list.size()))); }
    QString word(const char *keyword) { return chance(0.2) ? QString::fromLatin1(keyword).toLower() : QString::fromLatin1(keyword); }

    Format node(const QList<Root> &roots, int depth)
    {
        const int form = depth > 0 ? pick(100) : 99;
        if (form < 25) {
            const bool conjunction = chance(0.5);
            const QString joint = chance(0.2) ? QString::fromLatin1(conjunction ? " && " : " || ")
                                              : QLatin1Char(' ') + word(conjunction ? "AND" : "OR") + QLatin1Char(' ');
            Format f;
            const int members = 2 + pick(2);
            for (int i = 0; i < members; ++i) {
                if (i)
                    f << joint;
                f << QStringLiteral("(") << node(roots, depth - 1) << QStringLiteral(")");
            }
            return f;
        }
        if (form < 35) {
            Format f{chance(0.2) ? QStringLiteral("!(") : word("NOT") + QStringLiteral(" (")};
            return f << node(roots, depth - 1) << QStringLiteral(")");
        }
        return comparison(roots, depth);
    }

    // A path from root; hops only through to-one relationships unless toMany.
    KeyPath path(const EntityDescription &root, bool toMany, bool endOnRelationship, int maxHops = 2)
    {
        KeyPath result;
        const EntityDescription *entity = &root;
        const int hops = endOnRelationship ? 1 + pick(maxHops) : (chance(0.5) ? 0 : 1 + pick(maxHops));
        for (int h = 0; h < hops; ++h) {
            QList<const RelationshipDescription *> candidates;
            for (const RelationshipDescription &relationship : entity->relationships)
                if (toMany || !relationship.toMany)
                    candidates << &relationship;
            if (candidates.isEmpty())
                break;
            const RelationshipDescription *relationship = choose(candidates);
            result.keys << relationship->name;
            result.toMany = result.toMany || relationship->toMany;
            entity = &entityNamed(relationship->destinationEntity);
        }
        if (endOnRelationship) {
            result.kind = Kind::Object;
            return result;
        }
        const AttributeDescription &attribute = entity->attributes.at(pick(int(entity->attributes.size())));
        result.keys << attribute.name;
        result.kind = attribute.type == AttributeType::String ? Kind::String
                      : attribute.type == AttributeType::Date ? Kind::Date
                                                              : Kind::Number;
        return result;
    }

    // A text path: "$v.", "%K" with the keys as argument, or the keys written out.
    Format written(const Root &root, const KeyPath &keyPath, const QString &suffix = QString())
    {
        if (keyPath.keys.isEmpty())
            return Format{root.prefix.chopped(1) + suffix};
        if (root.prefix.isEmpty() && chance(0.2))
            return Format{QStringLiteral("%K") + suffix, {keyPath.keys.join(QLatin1Char('.'))}};
        return Format{root.prefix + keyPath.keys.join(QLatin1Char('.')) + suffix};
    }

    QString modifier(bool toMany)
    {
        if (!toMany && !chance(0.1))
            return QString();
        static const QList<const char *> modifiers{"", "ANY ", "SOME ", "ALL ", "NONE "};
        return word(choose(modifiers));
    }

    QString options()
    {
        static const QStringList choices{QString(), QString(), QStringLiteral("[c]"), QStringLiteral("[d]"),
                                         QStringLiteral("[cd]"), QStringLiteral("[cd]"), QStringLiteral("[CD]")};
        return choose(choices);
    }

    QString quoted(const QString &text)
    {
        const QChar quote = chance(0.5) ? QLatin1Char('"') : QLatin1Char('\'');
        QString result = quote;
        for (const QChar c : text) {
            if (c == quote || c == QLatin1Char('\\'))
                result += QLatin1Char('\\');
            result += c == QLatin1Char('\n') ? QStringLiteral("\\n") : QString(c);
        }
        return result + quote;
    }

    Format text(const QString &value) { return chance(0.5) ? Format{quoted(value)} : Format{QStringLiteral("%@"), {value}}; }

    Format constant(Kind kind, const QString &op)
    {
        if (chance(0.08))
            return chance(0.5) ? Format{word("nil")} : Format{QStringLiteral("%@"), {QVariant()}};
        if (chance(0.1))
            kind = Kind(pick(3));
        switch (kind) {
        case Kind::String: {
            if (op.startsWith(QLatin1String("LIKE"), Qt::CaseInsensitive)) {
                static const QStringList patterns{
                    QStringLiteral("*"),     QStringLiteral("?"),      QStringLiteral("*mi*"),    QStringLiteral("S?ith"),
                    QStringLiteral("*h"),    QStringLiteral("a\\*b"),  QStringLiteral("*T*"),     QStringLiteral("??"),
                    QString::fromUcs4(U"\U0001F600*"), QStringLiteral("Sm*th*"), QStringLiteral(""), QStringLiteral("*é*"),
                    QStringLiteral("?hest*"), QStringLiteral("*\\?*")};
                return text(choose(patterns));
            }
            if (op.startsWith(QLatin1String("MATCHES"), Qt::CaseInsensitive)) {
                static const QStringList expressions{
                    QStringLiteral(".*"),       QStringLiteral("S.ith.*"), QStringLiteral(".*mi.*"), QStringLiteral("[a-z ]+"),
                    QStringLiteral("(?i)smith"), QStringLiteral("."),      QStringLiteral(""),       QStringLiteral("\\p{L}+"),
                    QStringLiteral("c[th]+.*"), QStringLiteral(".*é.*")};
                return text(choose(expressions));
            }
            static const QStringList fragments{
                QStringLiteral("mi"), QStringLiteral("MÍ"), QStringLiteral("ith"), QStringLiteral("ITH"), QStringLiteral("í"),
                QStringLiteral("sm"), QStringLiteral("ct"), QStringLiteral("e"),   QStringLiteral("é"),   QStringLiteral("\u0301"),
                QStringLiteral("s"),  QStringLiteral("ß"),  QStringLiteral("ss"),  QStringLiteral("P1"),  QStringLiteral("UUID-1"),
                QStringLiteral("scan.jpg"), QStringLiteral("m"), QStringLiteral("\uFF01"), QString::fromUcs4(U"\U0001F600")};
            const int source = pick(3);
            return text(source == 0   ? choose(PredicateTestLibrary::texts())
                        : source == 1 ? choose(PredicateTestLibrary::tagLabels())
                                      : choose(fragments));
        }
        case Kind::Number: {
            const int form = pick(10);
            if (form < 4) {
                const int value = pick(8) - 1;
                const int style = pick(4);
                if (style == 0)
                    return Format{QString::number(value)};
                if (style == 1)
                    return Format{QStringLiteral("%d"), {value}};
                if (style == 2)
                    return Format{QStringLiteral("%lld"), {qint64(value)}};
                return Format{QStringLiteral("%@"), {value}};
            }
            if (form < 7) {
                static const QList<double> reals{0.5, 1.0, 2.5, -0.5, 3.0, 1e-9};
                const double value = choose(reals);
                return pick(3) == 0 ? Format{QString::number(value)}
                                    : Format{pick(2) ? QStringLiteral("%f") : QStringLiteral("%@"), {value}};
            }
            if (form < 9) {
                static const QList<const char *> booleans{"YES", "NO", "TRUE", "FALSE"};
                return chance(0.5) ? Format{word(choose(booleans))} : Format{QStringLiteral("%@"), {chance(0.5)}};
            }
            return Format{QStringLiteral("%@"), {std::numeric_limits<double>::quiet_NaN()}};
        }
        case Kind::Date:
        case Kind::Object: {
            QDateTime date = choose(m_library.sharedDates());
            if (chance(0.3))
                date = date.addMSecs(pick(3) - 1);
            else if (chance(0.3))
                date = QDateTime::fromMSecsSinceEpoch(
                    std::uniform_int_distribution<qint64>(-946771200000LL, 1893456000000LL)(m_random), Qt::UTC);
            if (chance(0.3)) {
                const double seconds =
                    double(date.toMSecsSinceEpoch() - PredicateExpression::referenceDateMSecsSinceEpoch) / 1000.0;
                return Format{QStringLiteral("CAST(%1, \"NSDate\")").arg(QString::number(seconds, 'g', 17))};
            }
            return Format{QStringLiteral("%@"), {date}};
        }
        }
        return Format{QStringLiteral("nil")};
    }

    QString comparisonOperator(Kind kind)
    {
        static const QStringList ordering{QStringLiteral("=="), QStringLiteral("="),  QStringLiteral("!="), QStringLiteral("<>"),
                                          QStringLiteral("<"),  QStringLiteral("<="), QStringLiteral(">"),  QStringLiteral(">=")};
        static const QList<const char *> textual{"CONTAINS", "BEGINSWITH", "ENDSWITH", "LIKE", "MATCHES"};
        if (kind == Kind::Object)
            return chance(0.5) ? QStringLiteral("==") : QStringLiteral("!=");
        const bool useText = kind == Kind::String ? chance(0.6) : chance(0.1);
        return (useText ? word(choose(textual)) : choose(ordering)) + options();
    }

    static bool isTextual(const QString &op) { return op.front().isLetter(); }

    // A single-valued path (to-one hops only), possibly with .length or .@count.
    Format scalarOperand(const QList<Root> &roots)
    {
        const Root &root = choose(roots);
        const int form = pick(10);
        if (form == 0)
            return written(root, path(*root.entity, true, true), QStringLiteral(".@count"));
        const KeyPath keyPath = path(*root.entity, false, false);
        if (form == 1 && keyPath.kind == Kind::String)
            return written(root, keyPath, QStringLiteral(".length"));
        return written(root, keyPath);
    }

    Format comparison(const QList<Root> &roots, int depth)
    {
        // Left sides start at the innermost object or variable; right-side key
        // paths may start at any root, outer variables included.
        const Root &root = roots.size() > 1 && chance(0.5) ? roots[1] : roots[0];
        const int form = pick(100);

        if (form < 50) {
            const KeyPath keyPath = path(*root.entity, true, false);
            const QString op = comparisonOperator(keyPath.kind);
            Format f{modifier(keyPath.toMany)};
            f << written(root, keyPath) << QStringLiteral(" ") << op << QStringLiteral(" ");
            if (!isTextual(op) && chance(0.15))
                return f << scalarOperand(roots);
            return f << constant(keyPath.kind, op);
        }
        if (form < 60) {
            const KeyPath keyPath = path(*root.entity, true, true);
            Format f{modifier(false)};
            f << written(root, keyPath, QStringLiteral(".@count"));
            f << QStringLiteral(" ") << comparisonOperator(Kind::Number) << QStringLiteral(" ");
            return f << (chance(0.8) ? Format{QString::number(pick(4))} : constant(Kind::Number, QString()));
        }
        if (form < 68) {
            KeyPath keyPath;
            do
                keyPath = path(*root.entity, true, false);
            while (keyPath.kind != Kind::String);
            Format f{modifier(keyPath.toMany)};
            f << written(root, keyPath, QStringLiteral(".length")) << QStringLiteral(" ")
              << comparisonOperator(Kind::Number) << QStringLiteral(" ");
            return f << (chance(0.8) ? Format{QString::number(pick(7))} : constant(Kind::Number, QString()));
        }
        if (form < 78 && depth > 0) {
            const KeyPath collection = path(*root.entity, true, true);
            QString entityName = root.entity->name;
            for (const QString &key : collection.keys)
                entityName = entityNamed(entityName).relationship(key)->destinationEntity;
            const QString variable = QStringLiteral("$v%1").arg(++m_variables);
            QList<Root> inner{Root{QString(), &entityNamed(entityName)}, Root{variable + QLatin1Char('.'), &entityNamed(entityName)}};
            for (const Root &outer : roots)
                if (!outer.prefix.isEmpty())
                    inner << outer;
            Format f{modifier(false) + word("SUBQUERY") + QStringLiteral("(")};
            f << written(root, collection) << QStringLiteral(", ") << variable << QStringLiteral(", ")
              << node(inner, depth - 1) << QStringLiteral(").@count ") << comparisonOperator(Kind::Number)
              << QStringLiteral(" ") << QString::number(pick(3));
            return f;
        }
        if (form < 84) {
            const KeyPath keyPath = path(*root.entity, true, true, 1);
            Format f{modifier(keyPath.toMany)};
            f << written(root, keyPath) << QStringLiteral(" ") << comparisonOperator(Kind::Object) << QStringLiteral(" ");
            return f << (chance(0.85) ? Format{word("nil")} : constant(Kind::String, QString()));
        }
        if (form < 92) {
            // Both sides key paths, of the same kind or not.
            Format f = scalarOperand(roots);
            f << QStringLiteral(" ") << choose(QStringList{QStringLiteral("=="), QStringLiteral("!="), QStringLiteral("<"),
                                                            QStringLiteral(">="), QStringLiteral("==[cd]"), QStringLiteral("<[c]")})
              << QStringLiteral(" ");
            return f << scalarOperand(roots);
        }
        if (form < 97) {
            // A constant on the left.
            const KeyPath keyPath = path(*root.entity, false, false);
            QString op;
            do
                op = comparisonOperator(keyPath.kind);
            while (isTextual(op));
            Format f = constant(keyPath.kind, op);
            return f << QStringLiteral(" ") << op << QStringLiteral(" ") << written(root, keyPath);
        }
        static const QStringList fixed{QStringLiteral("TRUEPREDICATE"), QStringLiteral("FALSEPREDICATE"),
                                       QStringLiteral("nil == nil"), QStringLiteral("'a' CONTAINS[c] 'A'"),
                                       QStringLiteral("1 < 0.5")};
        return Format{choose(fixed)};
    }

    std::mt19937 m_random;
    const PredicateTestLibrary &m_library;
    int m_variables = 0;
};

QString describe(const QSet<qint64> &keys)
{
    QList<qint64> sorted(keys.begin(), keys.end());
    std::sort(sorted.begin(), sorted.end());
    QStringList numbers;
    for (qint64 key : sorted)
        numbers << QString::number(key);
    return numbers.join(QLatin1Char(' '));
}

} // namespace

TEST(PredicateSqlTest, SelectsWhatInMemoryEvaluationAcceptsOnRandomLibraries)
{
    const QList<QPair<QString, int>> workload{{QStringLiteral("Case"), 500}, {QStringLiteral("Media"), 250},
                                               {QStringLiteral("Tag"), 250}};
    int failures = 0;
    int discriminating = 0;
    int total = 0;
    for (quint32 seed : {11u, 12u, 13u}) {
        PredicateTestLibrary library(seed);
        RandomPredicateWriter writer(seed * 7919u, library);
        for (const auto &[entityName, count] : workload) {
            const qsizetype population = library.objects(entityName).size();
            for (int i = 0; i < count && failures < 20; ++i) {
                const Format format = writer.predicate(entityNamed(entityName));
                const Predicate predicate = Predicate::fromFormat(format.text, format.arguments);
                if (!predicate.isValid()) {
                    ++failures;
                    ADD_FAILURE() << format.text.toStdString() << ": " << predicate.errorString().toStdString();
                    continue;
                }
                ++total;
                const QSet<qint64> inMemory = library.evaluate(predicate, entityName);
                if (!inMemory.isEmpty() && inMemory.size() < population)
                    ++discriminating;
                QSet<qint64> selected;
                QString sql;
                QString error;
                if (!library.select(predicate, entityName, &selected, &sql, &error)) {
                    ++failures;
                    ADD_FAILURE() << entityName.toStdString() << ": " << predicate.format().toStdString() << "\n"
                                  << error.toStdString();
                    continue;
                }
                if (selected != inMemory) {
                    ++failures;
                    ADD_FAILURE() << entityName.toStdString() << " (seed " << seed << "): " << predicate.format().toStdString()
                                  << "\n  written as: " << format.text.toStdString() << "\n  SQL: " << sql.toStdString()
                                  << "\n  only in SQL: " << describe(selected - inMemory).toStdString()
                                  << "\n  only in memory: " << describe(inMemory - selected).toStdString();
                    continue;
                }
                // The condition is never NULL, so that callers may negate it.
                QString where;
                QVariantList bindings;
                predicate.toSql(entityNamed(entityName), QStringLiteral("t0"), &where, &bindings);
                QList<qint64> nullRows;
                ASSERT_TRUE(library.run(QStringLiteral("SELECT t0.pk FROM %1 t0 WHERE (%2) IS NULL")
                                            .arg(entityNamed(entityName).table, where),
                                        bindings, &nullRows, &error))
                    << error.toStdString();
                EXPECT_TRUE(nullRows.isEmpty()) << predicate.format().toStdString();

                // The canonical text stands for the same predicate.
                if (predicate.format().contains(QLatin1String("nan")))
                    continue;
                const Predicate reparsed = Predicate::fromFormat(predicate.format());
                ASSERT_TRUE(reparsed.isValid()) << predicate.format().toStdString() << ": "
                                                << reparsed.errorString().toStdString();
                EXPECT_EQ(reparsed.format(), predicate.format());
                EXPECT_EQ(library.evaluate(reparsed, entityName), inMemory) << predicate.format().toStdString();
            }
        }
    }
    EXPECT_EQ(failures, 0);
    // The random predicates must tell objects apart, not just match all or none.
    EXPECT_GT(discriminating, total / 3);
}

TEST(PredicateSqlTest, HotFormsUseTheStoreIndexes)
{
    PredicateTestLibrary library(1, 20);
    const auto plan = [&](const char *entity, const char *format) {
        return library
            .queryPlan(Predicate::fromFormat(QString::fromLatin1(format), {QStringLiteral("A")}), QString::fromLatin1(entity))
            .join(QLatin1Char('\n'));
    };
    const QString anyTag = plan("Case", "ANY tags.label == %@");
    EXPECT_TRUE(anyTag.contains(QLatin1String("tags_by_label"))) << anyTag.toStdString();
    EXPECT_TRUE(anyTag.contains(QLatin1String("case_tags_by_tag"))) << anyTag.toStdString();
    const QString twoTags = plan("Case", "ANY tags.label == %@ AND ANY tags.label == 'B'");
    EXPECT_EQ(twoTags.count(QLatin1String("tags_by_label")), 2) << twoTags.toStdString();
    EXPECT_TRUE(plan("Case", "patientID == %@").contains(QLatin1String("cases_by_patient")));
    EXPECT_TRUE(plan("Media", "uuid == %@").contains(QLatin1String("media_by_uuid")));
    EXPECT_TRUE(plan("Tag", "label == %@").contains(QLatin1String("tags_by_label")));
    EXPECT_TRUE(plan("Case", "media.@count > 0").contains(QLatin1String("media_by_case")));
    EXPECT_TRUE(plan("Tag", "cases.@count == 0").contains(QLatin1String("case_tags_by_tag")));
}

TEST(PredicateSqlTest, BindsValuesAsTheStoreKeepsThem)
{
    const Predicate predicate = Predicate::fromFormat(
        QStringLiteral("patientID ==[cd] %@ AND dateAdded < %@ AND sex == YES AND summary CONTAINS %@ AND sex < 2.5"),
        {QStringLiteral("SMÍTH"), QDateTime::fromMSecsSinceEpoch(1500, Qt::UTC), QStringLiteral("Ab")});
    QString where;
    QVariantList bindings;
    QString error;
    ASSERT_TRUE(predicate.toSql(entityNamed(QStringLiteral("Case")), QStringLiteral("c"), &where, &bindings, &error))
        << error.toStdString();
    EXPECT_EQ(where.count(QLatin1Char('?')), bindings.size());
    ASSERT_EQ(bindings.size(), 5);
    EXPECT_EQ(bindings[0].metaType().id(), QMetaType::QString);
    EXPECT_EQ(bindings[0].toString(), QStringLiteral("smith"));
    EXPECT_EQ(bindings[1].metaType().id(), QMetaType::Double);
    EXPECT_EQ(bindings[1].toDouble(), 1.5);
    EXPECT_EQ(bindings[2].metaType().id(), QMetaType::LongLong);
    EXPECT_EQ(bindings[2].toLongLong(), 1);
    EXPECT_EQ(bindings[3].toString(), QStringLiteral("Ab"));
    EXPECT_EQ(bindings[4].metaType().id(), QMetaType::Double);
    EXPECT_TRUE(where.contains(QLatin1String("c.patient_id_fold"))) << where.toStdString();

    QString nullWhere;
    QVariantList nullBindings{1};
    ASSERT_TRUE(Predicate().toSql(entityNamed(QStringLiteral("Case")), QStringLiteral("c"), &nullWhere, &nullBindings));
    EXPECT_EQ(nullWhere, QStringLiteral("1"));
    EXPECT_TRUE(nullBindings.isEmpty());
}

TEST(PredicateSqlTest, LongCompoundsStayWithinSQLiteExpressionDepth)
{
    // The tag list filtered to its tags with active cases: one term per tag.
    PredicateTestLibrary library(5);
    const auto disjunction = [](const QStringList &labels) {
        QList<Predicate> terms;
        for (const QString &label : labels)
            terms.append(Predicate::fromFormat(QStringLiteral("label == %@"), {label}));
        return Predicate::orPredicate(terms);
    };
    QStringList labels = PredicateTestLibrary::tagLabels();
    for (int i = 0; i < 2500; ++i)
        labels.append(QStringLiteral("unused %1").arg(i));
    for (const Predicate &predicate : {disjunction(labels), disjunction(labels.mid(1)),
                                       Predicate::notPredicate(disjunction(labels.mid(2))),
                                       Predicate::andPredicate(QList<Predicate>(1500, Predicate::fromFormat(QStringLiteral("label != 'x'"))))}) {
        QSet<qint64> selected;
        QString sql;
        QString error;
        ASSERT_TRUE(library.select(predicate, QStringLiteral("Tag"), &selected, &sql, &error)) << error.left(200).toStdString();
        EXPECT_EQ(selected, library.evaluate(predicate, QStringLiteral("Tag")));
    }
}
