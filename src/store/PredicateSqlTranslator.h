#pragma once

#include <memory>

#include <QString>
#include <QVariantList>

#include "store/EntityDescription.h"
#include "store/PredicateNode.h"

namespace ovalis {

// Translates a parsed predicate into an SQLite condition over one entity's
// table that selects exactly the rows whose objects the in-memory evaluation
// accepts, absent values included. Every condition it writes is 0 or 1, never
// NULL, so NOT and the compounds need no further care. Shapes:
// - attributes compare with IS (absent is NULL), [cd] through the fold column
//   and a folded parameter, [c]/[d] through ovalis_fold_c/ovalis_fold_d;
// - a to-many key path: "alias.pk IN (SELECT <source key> FROM <join> WHERE …)"
//   when compared with a constant (the tag label and join-table indexes answer
//   ANY tags.label == %@), otherwise a correlated EXISTS; ALL and NONE negate;
// - @count and SUBQUERY: "(SELECT count(*) FROM … WHERE …)"; compared with 0,
//   EXISTS for @count, and for a SUBQUERY whose condition needs nothing of
//   the row "alias.pk IN (SELECT <source key> FROM … WHERE <condition>)";
// - a to-one key path: a scalar subquery on the related row, which is NULL
//   when the foreign key is NULL or names no row.
// Relationship destinations come from ManagedObjectModel::ovalisModel().
class PredicateSqlTranslator
{
public:
    PredicateSqlTranslator(const EntityDescription &entity, const QString &alias);
    ~PredicateSqlTranslator();

    bool translate(const PredicateNode &node, QString *whereClause, QVariantList *bindings, QString *error);

private:
    struct Sql;
    struct Scope;
    struct Path;
    struct Chain;
    struct Operand;
    enum class Fold { None, CaseAndDiacritics, Case, Diacritics };

    static Fold foldFor(const PredicateNode &node);
    // The value of an attribute (or the object itself) of the row aliased alias.
    static Operand leafOperand(const QString &alias, const EntityDescription &entity,
                               const AttributeDescription *attribute, PredicateExpression::Terminal terminal,
                               Fold fold);
    bool translateNode(const PredicateNode &node, const Scope &scope, Sql *sql);
    bool translateComparison(const PredicateNode &node, const Scope &scope, Sql *sql);
    bool translateCollectionComparison(const PredicateNode &node, const Scope &scope, const Path &path, Sql *sql);
    bool translateCountAgainstZero(const PredicateNode &node, const Scope &scope, bool *done, Sql *sql);
    bool translateScalar(const PredicateExpression &expression, const Scope &scope, Fold fold, Operand *operand);
    // The members an @count or a SUBQUERY counts, as "FROM … WHERE …" correlated
    // with the scope's row, or with keySet as "<root key> IN (SELECT …)".
    bool countSource(const PredicateExpression &expression, const Scope &scope, bool keySet, Sql *sql);
    // Whether the expression or predicate names no variable but the given ones.
    static bool refersOnlyTo(const PredicateExpression &expression, QStringList variables);
    static bool refersOnlyTo(const PredicateNode &node, const QStringList &variables);
    bool compareOperands(const PredicateNode &node, const Operand &left, const Operand &right, Sql *sql);
    bool resolve(const PredicateExpression &expression, const Scope &scope, Path *path);
    Chain chain(const Path &path);
    QString newAlias();
    bool fail(const QString &message);

    const EntityDescription &m_entity;
    QString m_alias;
    int m_aliasCount = 0;
    QString m_error;
    // Set by a comparison that wrote the form "(rootKey IN (SELECT …))":
    // the root key and the SELECT, so that a conjunction can intersect them.
    struct InSubquery;
    std::unique_ptr<InSubquery> m_lastInSubquery;
};

} // namespace ovalis
