#include "store/Predicate.h"

#include "store/PredicateEvaluator.h"
#include "store/PredicateNode.h"
#include "store/PredicateParser.h"
#include "store/PredicateSqlTranslator.h"

namespace ovalis {

Predicate::Predicate() = default;

Predicate Predicate::fromFormat(const QString &format, const QVariantList &arguments)
{
    Predicate predicate;
    QString error;
    predicate.m_root = PredicateParser(format, arguments).parse(&error);
    if (!predicate.m_root)
        predicate.m_error = error.isEmpty() ? QStringLiteral("Unable to parse the format string \"%1\"").arg(format)
                                            : error;
    return predicate;
}

Predicate Predicate::compound(bool conjunction, const QList<Predicate> &predicates)
{
    Predicate result;
    QList<PredicateNode::Pointer> members;
    for (const Predicate &predicate : predicates) {
        if (!predicate.isValid()) {
            result.m_error = predicate.m_error;
            return result;
        }
        members << (predicate.m_root ? predicate.m_root : PredicateNode::constant(true));
    }
    result.m_root = PredicateNode::compound(conjunction ? PredicateNode::Kind::And : PredicateNode::Kind::Or, members);
    return result;
}

Predicate Predicate::andPredicate(const QList<Predicate> &predicates)
{
    return compound(true, predicates);
}

Predicate Predicate::orPredicate(const QList<Predicate> &predicates)
{
    return compound(false, predicates);
}

Predicate Predicate::notPredicate(const Predicate &predicate)
{
    Predicate result;
    if (!predicate.isValid()) {
        result.m_error = predicate.m_error;
        return result;
    }
    result.m_root = PredicateNode::negation(predicate.m_root ? predicate.m_root : PredicateNode::constant(true));
    return result;
}

QString Predicate::format() const
{
    return m_root ? m_root->format() : QString();
}

bool Predicate::evaluate(const PredicateObject &object) const
{
    if (!m_root)
        return isValid();
    return PredicateEvaluator::evaluate(*m_root, object);
}

bool Predicate::validate(const EntityDescription &entity, QString *error) const
{
    QString clause;
    QVariantList bindings;
    return toSql(entity, QStringLiteral("t0"), &clause, &bindings, error);
}

bool Predicate::toSql(const EntityDescription &entity, const QString &alias, QString *whereClause,
                      QVariantList *bindings, QString *error) const
{
    if (!isValid()) {
        if (error)
            *error = m_error;
        return false;
    }
    if (!m_root) {
        if (whereClause)
            *whereClause = QStringLiteral("1");
        if (bindings)
            bindings->clear();
        return true;
    }
    return PredicateSqlTranslator(entity, alias).translate(*m_root, whereClause, bindings, error);
}

namespace {

void collectKeys(const PredicateNode &node, QSet<QString> *keys);

void collectKeys(const PredicateExpression &expression, QSet<QString> *keys)
{
    switch (expression.kind()) {
    case PredicateExpression::Kind::KeyPath:
        for (const QString &key : expression.keys())
            keys->insert(key);
        break;
    case PredicateExpression::Kind::Subquery:
        collectKeys(expression.collection(), keys);
        collectKeys(expression.subpredicate(), keys);
        break;
    default:
        break;
    }
}

void collectKeys(const PredicateNode &node, QSet<QString> *keys)
{
    if (node.kind() == PredicateNode::Kind::Comparison) {
        collectKeys(node.left(), keys);
        collectKeys(node.right(), keys);
        return;
    }
    for (const PredicateNode::Pointer &child : node.children())
        collectKeys(*child, keys);
}

} // namespace

QSet<QString> Predicate::referencedKeys() const
{
    QSet<QString> keys;
    if (m_root)
        collectKeys(*m_root, &keys);
    return keys;
}

} // namespace ovalis
