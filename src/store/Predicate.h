#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QVariantList>

#include <memory>

#include "store/EntityDescription.h"
#include "store/PredicateObject.h"

namespace ovalis {

class PredicateNode;

// A query condition over the objects of one entity, written as a format string
// ("ANY tags.label == %@", "%K CONTAINS[cd] %@", "SUBQUERY(tags, $t, $t.label
// ==[cd] %@).@count == 0", …). It can be evaluated on an object in memory and
// translated to an SQL condition; both give the same answer on the same data,
// the in-memory evaluation being the reference:
// - a comparison with an absent value is false, so its negation is true;
//   "!=" is exactly the negation of "==", and "==" holds for two absent
//   values ("%K == nil" for an absent value);
// - ".length" of an absent text is 0, "@count" of an empty relationship is 0;
// - [cd] compares foldForComparison of both texts, [c] and [d] the partial folds;
// - numbers (and Booleans as 0 or 1) compare numerically, dates as instants;
//   values of different kinds are never equal and never ordered;
// - a key path crossing a to-many relationship compares each value it reaches:
//   ANY (also without a modifier) holds when one does, ALL when every one
//   does (so for none at all), NONE when no one does.
//
// A copy is cheap: it shares the immutable parsed tree, which may be used from
// any thread.
class Predicate
{
public:
    // The null predicate: no condition, every object matches.
    Predicate();

    // Invalid (isValid() false, with errorString()) when the format does not
    // parse or needs more arguments than given.
    static Predicate fromFormat(const QString &format, const QVariantList &arguments = {});

    // Compounds are built for any number of members: an AND of none matches
    // everything, an OR of none matches nothing. A null member matches
    // everything; an invalid member makes the compound invalid.
    static Predicate andPredicate(const QList<Predicate> &predicates);
    static Predicate orPredicate(const QList<Predicate> &predicates);
    static Predicate notPredicate(const Predicate &predicate);

    bool isNull() const { return !m_root && m_error.isEmpty(); }
    // True for the null predicate too.
    bool isValid() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }

    // The canonical text, which parses back to the same predicate: strings
    // double-quoted with escapes, dates as CAST(<seconds since 2001-01-01 UTC>,
    // "NSDate"), nil as nil. Empty for a null or invalid predicate.
    QString format() const;

    // The reference semantics. The null predicate matches every object, an
    // invalid one none. A key the object's entity does not have reads as absent.
    bool evaluate(const PredicateObject &object) const;

    // Every key named anywhere in the predicate's key paths and subqueries;
    // a change of any other key cannot change whether an object matches.
    QSet<QString> referencedKeys() const;

    // The parsed tree, for code that recognises particular shapes of
    // predicate; nullptr for a null or invalid predicate.
    const PredicateNode *rootNode() const { return m_root.get(); }

    // Whether every key path names attributes and relationships of the entity
    // (and of the entities it leads to) and is used in a way the SQL
    // translation supports; the first problem goes to error.
    bool validate(const EntityDescription &entity, QString *error = nullptr) const;

    // A condition over entity's table aliased as alias, for a WHERE clause,
    // with '?' placeholders whose values go to bindings in order (texts as
    // QString, integers as qint64, Booleans as 0 or 1, dates as double seconds
    // since 1970 UTC). The condition is never NULL, so it can be negated or
    // combined as it is. Replaces *whereClause and *bindings; false with an
    // error when the predicate is invalid or cannot be translated. The
    // connection must have registerSqlFunctions applied.
    bool toSql(const EntityDescription &entity, const QString &alias, QString *whereClause, QVariantList *bindings,
               QString *error = nullptr) const;

private:
    static Predicate compound(bool conjunction, const QList<Predicate> &predicates);

    std::shared_ptr<const PredicateNode> m_root;
    QString m_error;
};

} // namespace ovalis
