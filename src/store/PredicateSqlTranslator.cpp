#include "store/PredicateSqlTranslator.h"

#include <QHash>

#include <QList>

#include <algorithm>
#include <cmath>

namespace ovalis {

using Terminal = PredicateExpression::Terminal;
using ValueType = PredicateExpression::ValueType;

// Text with its parameters, composed in text order so that the bindings
// always follow the placeholders.
struct PredicateSqlTranslator::Sql {
    QString text;
    QVariantList bindings;

    Sql &operator<<(const QString &t)
    {
        text += t;
        return *this;
    }
    Sql &operator<<(QLatin1String t)
    {
        text += t;
        return *this;
    }
    Sql &operator<<(const Sql &other)
    {
        text += other.text;
        bindings += other.bindings;
        return *this;
    }
    Sql &bind(const QVariant &value)
    {
        text += QLatin1Char('?');
        bindings << value;
        return *this;
    }
};

struct PredicateSqlTranslator::Scope {
    struct Variable {
        QString name;
        QString alias;
        const EntityDescription *entity;
    };
    QString alias;
    const EntityDescription *entity;
    QList<Variable> variables; // Innermost last.
};

// A key path resolved against the model.
struct PredicateSqlTranslator::Path {
    QString rootAlias;
    const EntityDescription *rootEntity = nullptr;
    QList<const RelationshipDescription *> hops;
    QList<const EntityDescription *> destinations; // One per hop.
    const AttributeDescription *attribute = nullptr; // Null when the path ends on objects.
    Terminal terminal = Terminal::None;
    bool toMany = false;

    const EntityDescription *finalEntity() const { return destinations.isEmpty() ? rootEntity : destinations.last(); }
};

// The rows a path's hops join, correlated with the root row by `correlation`.
// For a path whose first hop is to-many, rootKey IN (SELECT sourceKey FROM
// from WHERE …) selects the same root rows without correlation.
struct PredicateSqlTranslator::Chain {
    QString from;
    QString correlation;
    QString finalAlias;
    QString rootKey;
    QString sourceKey;
    bool sourceKeyNullable = false;
};

struct PredicateSqlTranslator::InSubquery {
    const PredicateNode *node; // the comparison that wrote it
    QString rootKey;
    Sql select;
};

// One side of a comparison. Its SQL is NULL exactly when the value is absent
// (a NaN constant aside, which is decided before any SQL is written).
struct PredicateSqlTranslator::Operand {
    enum class Class { Nil, String, Number, Date, Object };
    Sql sql;
    Class valueClass = Class::Nil;
    const EntityDescription *objectEntity = nullptr;
    bool canBeAbsent = false;
    bool simple = true; // A column or a parameter, cheap to repeat.
    bool isNaN = false;
    const PredicateExpression *constant = nullptr;
};

namespace {

QString column(const QString &alias, const QString &name)
{
    return alias + QLatin1Char('.') + name;
}

qint64 codePointCount(const QString &text)
{
    qint64 count = 0;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (!(text[i].isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate()))
            ++count;
    return count;
}

} // namespace

PredicateSqlTranslator::~PredicateSqlTranslator() = default;

PredicateSqlTranslator::PredicateSqlTranslator(const EntityDescription &entity, const QString &alias)
    : m_entity(entity)
    , m_alias(alias)
{
}

bool PredicateSqlTranslator::translate(const PredicateNode &node, QString *whereClause, QVariantList *bindings,
                                       QString *error)
{
    m_aliasCount = 0;
    m_error.clear();
    Sql sql;
    if (!translateNode(node, Scope{m_alias, &m_entity, {}}, &sql)) {
        if (error)
            *error = m_error;
        return false;
    }
    if (whereClause)
        *whereClause = sql.text;
    if (bindings)
        *bindings = sql.bindings;
    return true;
}

bool PredicateSqlTranslator::fail(const QString &message)
{
    if (m_error.isEmpty())
        m_error = message;
    return false;
}

QString PredicateSqlTranslator::newAlias()
{
    return m_alias + QLatin1Char('_') + QString::number(++m_aliasCount);
}

bool PredicateSqlTranslator::translateNode(const PredicateNode &node, const Scope &scope, Sql *sql)
{
    switch (node.kind()) {
    case PredicateNode::Kind::True: *sql << QLatin1String("1"); return true;
    case PredicateNode::Kind::False: *sql << QLatin1String("0"); return true;
    case PredicateNode::Kind::And:
    case PredicateNode::Kind::Or: {
        const bool conjunction = node.kind() == PredicateNode::Kind::And;
        if (node.children().isEmpty()) {
            *sql << QLatin1String(conjunction ? "1" : "0");
            return true;
        }
        // Members of a conjunction that each keep the root rows whose key is in
        // a subquery (the tag filters) become one intersection, so that SQLite
        // looks up only the rows in all of them.
        QList<Sql> members;
        QHash<QString, QList<Sql>> intersections;
        QStringList keyOrder;
        for (const PredicateNode::Pointer &child : node.children()) {
            Sql member;
            m_lastInSubquery.reset();
            if (!translateNode(*child, scope, &member))
                return false;
            if (conjunction && m_lastInSubquery && m_lastInSubquery->node == child.get()) {
                if (!intersections.contains(m_lastInSubquery->rootKey))
                    keyOrder.append(m_lastInSubquery->rootKey);
                intersections[m_lastInSubquery->rootKey].append(m_lastInSubquery->select);
            } else {
                members.append(member);
            }
            m_lastInSubquery.reset();
        }
        QList<Sql> combined;
        for (const QString &key : std::as_const(keyOrder)) {
            Sql in;
            in << QLatin1String("(") << key << QLatin1String(" IN (");
            const QList<Sql> &selects = intersections.value(key);
            for (int i = 0; i < selects.size(); ++i)
                in << (i ? QLatin1String(" INTERSECT ") : QLatin1String("")) << selects[i];
            in << QLatin1String("))");
            combined.append(in);
        }
        combined += members;
        // SQLite nests a chain of n operators n levels deep and refuses more
        // than 1000 levels; a long chain is written as nested groups of at
        // most 16 members, so that the depth grows with its logarithm.
        const QLatin1String op(conjunction ? " AND " : " OR ");
        const auto group = [&](const auto &self, qsizetype from, qsizetype to) -> void {
            constexpr qsizetype width = 16;
            *sql << QLatin1String("(");
            const qsizetype step = to - from <= width ? 1 : (to - from + width - 1) / width;
            for (qsizetype start = from; start < to; start += step) {
                if (start > from)
                    *sql << op;
                if (step == 1)
                    *sql << combined[start];
                else
                    self(self, start, std::min(to, start + step));
            }
            *sql << QLatin1String(")");
        };
        group(group, 0, combined.size());
        return true;
    }
    case PredicateNode::Kind::Not: {
        *sql << QLatin1String("(NOT ");
        if (!translateNode(*node.children().first(), scope, sql))
            return false;
        *sql << QLatin1String(")");
        return true;
    }
    case PredicateNode::Kind::Comparison: return translateComparison(node, scope, sql);
    }
    return fail(QStringLiteral("unknown predicate node"));
}

bool PredicateSqlTranslator::resolve(const PredicateExpression &expression, const Scope &scope, Path *path)
{
    path->terminal = expression.terminal();
    if (expression.variable().isEmpty()) {
        path->rootAlias = scope.alias;
        path->rootEntity = scope.entity;
    } else {
        for (qsizetype i = scope.variables.size() - 1; i >= 0 && !path->rootEntity; --i)
            if (scope.variables[i].name == expression.variable()) {
                path->rootAlias = scope.variables[i].alias;
                path->rootEntity = scope.variables[i].entity;
            }
        if (!path->rootEntity)
            return fail(QStringLiteral("variable $%1 is not bound").arg(expression.variable()));
    }
    const EntityDescription *entity = path->rootEntity;
    const QStringList &keys = expression.keys();
    for (qsizetype i = 0; i < keys.size(); ++i) {
        if (const RelationshipDescription *relationship = entity->relationship(keys[i])) {
            const EntityDescription *destination =
                ManagedObjectModel::ovalisModel().entity(relationship->destinationEntity);
            if (!destination)
                return fail(QStringLiteral("relationship %1 of %2 leads to an unknown entity")
                                .arg(relationship->name, entity->name));
            path->hops << relationship;
            path->destinations << destination;
            path->toMany = path->toMany || relationship->toMany;
            entity = destination;
        } else if (const AttributeDescription *attribute = entity->attribute(keys[i])) {
            if (i + 1 != keys.size())
                return fail(QStringLiteral("key path %1: %2 is an attribute of %3 and cannot be followed")
                                .arg(expression.format(), keys[i], entity->name));
            path->attribute = attribute;
        } else {
            return fail(QStringLiteral("key path %1: entity %2 has no key \"%3\"")
                            .arg(expression.format(), entity->name, keys[i]));
        }
    }
    if (path->terminal == Terminal::Count && (path->attribute || path->hops.isEmpty()))
        return fail(QStringLiteral("key path %1: @count needs a relationship").arg(expression.format()));
    if (path->terminal == Terminal::Length && (!path->attribute || path->attribute->type != AttributeType::String))
        return fail(QStringLiteral("key path %1: length needs a text attribute").arg(expression.format()));
    return true;
}

PredicateSqlTranslator::Chain PredicateSqlTranslator::chain(const Path &path)
{
    Chain result;
    QString source = path.rootAlias;
    const EntityDescription *sourceEntity = path.rootEntity;
    for (qsizetype i = 0; i < path.hops.size(); ++i) {
        const RelationshipDescription &relationship = *path.hops[i];
        const EntityDescription &destination = *path.destinations[i];
        const QString alias = newAlias();
        const QString table = destination.table + QLatin1Char(' ') + alias;
        const QString sourcePk = column(source, sourceEntity->primaryKeyColumn);
        const QString destinationPk = column(alias, destination.primaryKeyColumn);
        if (relationship.isManyToMany()) {
            const QString join = newAlias();
            const QString joinTable = relationship.joinTable + QLatin1Char(' ') + join;
            const QString joinSource = column(join, relationship.joinSourceColumn);
            const QString joinDestination = column(join, relationship.joinDestinationColumn);
            if (i == 0) {
                result.from = joinTable + QLatin1String(" JOIN ") + table + QLatin1String(" ON ") + destinationPk
                              + QLatin1String(" = ") + joinDestination;
                result.correlation = joinSource + QLatin1String(" = ") + sourcePk;
                result.rootKey = sourcePk;
                result.sourceKey = joinSource;
            } else {
                result.from += QLatin1String(" JOIN ") + joinTable + QLatin1String(" ON ") + joinSource
                               + QLatin1String(" = ") + sourcePk + QLatin1String(" JOIN ") + table
                               + QLatin1String(" ON ") + destinationPk + QLatin1String(" = ") + joinDestination;
            }
        } else if (relationship.toMany) {
            QString foreignKey = relationship.foreignKeyColumn;
            if (foreignKey.isEmpty())
                if (const RelationshipDescription *inverse = destination.relationship(relationship.inverseName))
                    foreignKey = inverse->foreignKeyColumn;
            const QString destinationKey = column(alias, foreignKey);
            if (i == 0) {
                result.from = table;
                result.correlation = destinationKey + QLatin1String(" = ") + sourcePk;
                result.rootKey = sourcePk;
                result.sourceKey = destinationKey;
                result.sourceKeyNullable = true;
            } else {
                result.from += QLatin1String(" JOIN ") + table + QLatin1String(" ON ") + destinationKey
                               + QLatin1String(" = ") + sourcePk;
            }
        } else {
            const QString sourceKey = column(source, relationship.foreignKeyColumn);
            if (i == 0) {
                result.from = table;
                result.correlation = destinationPk + QLatin1String(" = ") + sourceKey;
                result.rootKey = sourceKey;
                result.sourceKey = destinationPk;
            } else {
                result.from += QLatin1String(" JOIN ") + table + QLatin1String(" ON ") + destinationPk
                               + QLatin1String(" = ") + sourceKey;
            }
        }
        source = alias;
        sourceEntity = &destination;
    }
    result.finalAlias = source;
    return result;
}

PredicateSqlTranslator::Fold PredicateSqlTranslator::foldFor(const PredicateNode &node)
{
    int options = node.options() & (CaseInsensitiveOption | DiacriticInsensitiveOption);
    if (node.op() == PredicateOperator::Matches)
        options &= DiacriticInsensitiveOption;
    switch (options) {
    case CaseInsensitiveOption | DiacriticInsensitiveOption: return Fold::CaseAndDiacritics;
    case CaseInsensitiveOption: return Fold::Case;
    case DiacriticInsensitiveOption: return Fold::Diacritics;
    default: return Fold::None;
    }
}

PredicateSqlTranslator::Operand PredicateSqlTranslator::leafOperand(const QString &alias,
                                                                    const EntityDescription &entity,
                                                                    const AttributeDescription *attribute,
                                                                    Terminal terminal, Fold fold)
{
    Operand operand;
    if (!attribute) {
        operand.sql << column(alias, entity.primaryKeyColumn);
        operand.valueClass = Operand::Class::Object;
        operand.objectEntity = &entity;
        return operand;
    }
    const QString plain = column(alias, attribute->column);
    if (terminal == Terminal::Length) {
        operand.sql << QLatin1String("ovalis_length(") << plain << QLatin1String(")");
        operand.valueClass = Operand::Class::Number;
        return operand;
    }
    operand.canBeAbsent = attribute->optional;
    switch (attribute->type) {
    case AttributeType::String:
        operand.valueClass = Operand::Class::String;
        // A fold computed per row is worth computing once: no guard repeats it.
        operand.simple = fold == Fold::None || (fold == Fold::CaseAndDiacritics && !attribute->foldColumn.isEmpty());
        switch (fold) {
        case Fold::None: operand.sql << plain; break;
        case Fold::CaseAndDiacritics:
            if (attribute->foldColumn.isEmpty())
                operand.sql << QLatin1String("ovalis_fold(") << plain << QLatin1String(")");
            else
                operand.sql << column(alias, attribute->foldColumn);
            break;
        case Fold::Case: operand.sql << QLatin1String("ovalis_fold_c(") << plain << QLatin1String(")"); break;
        case Fold::Diacritics: operand.sql << QLatin1String("ovalis_fold_d(") << plain << QLatin1String(")"); break;
        }
        break;
    case AttributeType::Date:
        operand.valueClass = Operand::Class::Date;
        operand.sql << plain;
        break;
    case AttributeType::Integer16:
    case AttributeType::Integer32:
    case AttributeType::Boolean:
        operand.valueClass = Operand::Class::Number;
        operand.sql << plain;
        break;
    }
    return operand;
}

bool PredicateSqlTranslator::translateScalar(const PredicateExpression &expression, const Scope &scope, Fold fold,
                                             Operand *operand)
{
    // A subquery's count and a to-many key path's @count are both a count subquery.
    auto countOperand = [&] {
        Sql source;
        if (!countSource(expression, scope, false, &source))
            return false;
        operand->sql << QLatin1String("(SELECT count(*) ") << source << QLatin1String(")");
        operand->valueClass = Operand::Class::Number;
        operand->simple = false;
        return true;
    };
    switch (expression.kind()) {
    case PredicateExpression::Kind::Constant:
        operand->constant = &expression;
        switch (expression.valueType()) {
        case ValueType::Nil:
            operand->sql << QLatin1String("NULL");
            operand->valueClass = Operand::Class::Nil;
            operand->canBeAbsent = true;
            return true;
        case ValueType::String:
            operand->sql.bind(expression.foldedText());
            operand->valueClass = Operand::Class::String;
            return true;
        case ValueType::Integer:
        case ValueType::Boolean:
            operand->sql.bind(expression.integerValue());
            operand->valueClass = Operand::Class::Number;
            return true;
        case ValueType::Real:
            operand->sql.bind(expression.realValue());
            operand->valueClass = Operand::Class::Number;
            operand->isNaN = std::isnan(expression.realValue());
            return true;
        case ValueType::Date:
            operand->sql.bind(double(expression.integerValue()) / 1000.0);
            operand->valueClass = Operand::Class::Date;
            return true;
        }
        return fail(QStringLiteral("unknown constant"));
    case PredicateExpression::Kind::Subquery: {
        return countOperand();
    }
    case PredicateExpression::Kind::KeyPath: break;
    }

    Path path;
    if (!resolve(expression, scope, &path))
        return false;
    if (path.terminal == Terminal::Count) {
        return countOperand();
    }
    if (path.toMany)
        return fail(QStringLiteral("key path %1 crosses a to-many relationship and has no single value; "
                                   "it can only be the left side of a comparison")
                        .arg(expression.format()));
    if (path.hops.isEmpty()) {
        *operand = leafOperand(path.rootAlias, *path.rootEntity, path.attribute, path.terminal, fold);
        return true;
    }
    const Chain rows = chain(path);
    const Operand inner = leafOperand(rows.finalAlias, *path.finalEntity(), path.attribute, Terminal::None, fold);
    *operand = inner;
    operand->sql = Sql();
    operand->simple = false;
    const bool length = path.terminal == Terminal::Length;
    if (length) {
        operand->sql << QLatin1String("ovalis_length(");
        operand->valueClass = Operand::Class::Number;
    }
    operand->sql << QLatin1String("(SELECT ") << inner.sql << QLatin1String(" FROM ") << rows.from
                 << QLatin1String(" WHERE ") << rows.correlation << QLatin1String(")");
    if (length)
        operand->sql << QLatin1String(")");
    operand->canBeAbsent = !length;
    return true;
}

bool PredicateSqlTranslator::countSource(const PredicateExpression &expression, const Scope &scope, bool keySet,
                                         Sql *sql)
{
    const bool subquery = expression.kind() == PredicateExpression::Kind::Subquery;
    const PredicateExpression &collection = subquery ? expression.collection() : expression;
    Path path;
    if (!resolve(collection, scope, &path))
        return false;
    if (path.attribute || path.hops.isEmpty())
        return fail(QStringLiteral("%1 needs a relationship").arg(collection.format()));
    const Chain rows = chain(path);
    if (keySet) {
        *sql << rows.rootKey << QLatin1String(" IN (SELECT ") << rows.sourceKey << QLatin1String(" FROM ") << rows.from
             << QLatin1String(" WHERE ");
        *sql << (rows.sourceKeyNullable ? rows.sourceKey + QLatin1String(" IS NOT NULL") : QStringLiteral("1"));
    } else {
        *sql << QLatin1String("FROM ") << rows.from << QLatin1String(" WHERE ") << rows.correlation;
    }
    if (subquery) {
        Scope inner{rows.finalAlias, path.finalEntity(), scope.variables};
        inner.variables << Scope::Variable{expression.variable(), rows.finalAlias, path.finalEntity()};
        *sql << QLatin1String(" AND ");
        if (!translateNode(expression.subpredicate(), inner, sql))
            return false;
    }
    if (keySet)
        *sql << QLatin1String(")");
    return true;
}

bool PredicateSqlTranslator::refersOnlyTo(const PredicateExpression &expression, QStringList variables)
{
    switch (expression.kind()) {
    case PredicateExpression::Kind::Constant: return true;
    case PredicateExpression::Kind::KeyPath:
        return expression.variable().isEmpty() || variables.contains(expression.variable());
    case PredicateExpression::Kind::Subquery:
        if (!refersOnlyTo(expression.collection(), variables))
            return false;
        variables << expression.variable();
        return refersOnlyTo(expression.subpredicate(), variables);
    }
    return false;
}

bool PredicateSqlTranslator::refersOnlyTo(const PredicateNode &node, const QStringList &variables)
{
    if (node.kind() == PredicateNode::Kind::Comparison)
        return refersOnlyTo(node.left(), variables) && refersOnlyTo(node.right(), variables);
    for (const PredicateNode::Pointer &child : node.children())
        if (!refersOnlyTo(*child, variables))
            return false;
    return true;
}

bool PredicateSqlTranslator::translateCountAgainstZero(const PredicateNode &node, const Scope &scope, bool *done,
                                                       Sql *sql)
{
    *done = false;
    const PredicateExpression &left = node.left();
    const PredicateExpression &right = node.right();
    const bool subquery = left.kind() == PredicateExpression::Kind::Subquery;
    const bool counted =
        subquery || (left.kind() == PredicateExpression::Kind::KeyPath && left.terminal() == Terminal::Count);
    const bool zero = right.isConstant() && right.valueType() == ValueType::Integer && right.integerValue() == 0;
    const PredicateOperator op = node.op();
    if (!counted || !zero
        || (op != PredicateOperator::EqualTo && op != PredicateOperator::NotEqualTo
            && op != PredicateOperator::GreaterThan))
        return true;
    // A SUBQUERY whose condition needs nothing of the row itself is answered
    // for every row at once; a plain @count by an index lookup per row.
    Path path;
    if (!resolve(subquery ? left.collection() : left, scope, &path))
        return false;
    const bool keySet = subquery && !path.hops.isEmpty() && path.hops.first()->toMany
                        && refersOnlyTo(left.subpredicate(), {left.variable()});
    Sql source;
    if (!countSource(left, scope, keySet, &source))
        return false;
    const bool empty = (op == PredicateOperator::EqualTo) != (node.modifier() == PredicateModifier::None);
    if (keySet)
        *sql << QLatin1String(empty ? "(NOT " : "(") << source << QLatin1String(")");
    else
        *sql << QLatin1String(empty ? "(NOT EXISTS (SELECT 1 " : "(EXISTS (SELECT 1 ") << source << QLatin1String("))");
    *done = true;
    return true;
}

bool PredicateSqlTranslator::translateComparison(const PredicateNode &node, const Scope &scope, Sql *sql)
{
    const Fold fold = foldFor(node);

    const PredicateExpression &left = node.left();
    if (left.kind() == PredicateExpression::Kind::KeyPath && left.terminal() != Terminal::Count) {
        Path path;
        if (!resolve(left, scope, &path))
            return false;
        if (path.toMany)
            return translateCollectionComparison(node, scope, path, sql);
    }

    bool done = false;
    if (!translateCountAgainstZero(node, scope, &done, sql))
        return false;
    if (done)
        return true;

    Operand l;
    Operand r;
    Sql comparison;
    if (!translateScalar(left, scope, fold, &l) || !translateScalar(node.right(), scope, fold, &r)
        || !compareOperands(node, l, r, &comparison))
        return false;
    if (node.modifier() == PredicateModifier::None)
        *sql << QLatin1String("(NOT ") << comparison << QLatin1String(")");
    else
        *sql << comparison;
    return true;
}

bool PredicateSqlTranslator::translateCollectionComparison(const PredicateNode &node, const Scope &scope,
                                                           const Path &path, Sql *sql)
{
    const Fold fold = foldFor(node);
    Operand r;
    if (!translateScalar(node.right(), scope, fold, &r))
        return false;
    const Chain rows = chain(path);
    const Operand member = leafOperand(rows.finalAlias, *path.finalEntity(), path.attribute, path.terminal, fold);
    Sql comparison;
    if (!compareOperands(node, member, r, &comparison))
        return false;

    const PredicateModifier modifier = node.modifier();
    Sql condition;
    if (modifier == PredicateModifier::All)
        condition << QLatin1String("(NOT ") << comparison << QLatin1String(")");
    else
        condition << comparison;

    // ANY looks for a member that compares true, ALL for one that does not,
    // NONE for one that does and negates.
    *sql << QLatin1String(modifier == PredicateModifier::Any || modifier == PredicateModifier::Direct ? "(" : "(NOT ");
    // The uncorrelated form needs a root key that is never NULL: the root's
    // own primary key, reached through a first hop that is to-many.
    if (node.right().isConstant() && path.hops.first()->toMany) {
        Sql select;
        select << QLatin1String("SELECT ") << rows.sourceKey << QLatin1String(" FROM ") << rows.from << QLatin1String(" WHERE ");
        if (rows.sourceKeyNullable)
            select << rows.sourceKey << QLatin1String(" IS NOT NULL AND ");
        select << condition;
        *sql << rows.rootKey << QLatin1String(" IN (") << select << QLatin1String(")");
        if (modifier == PredicateModifier::Any || modifier == PredicateModifier::Direct)
            m_lastInSubquery.reset(new InSubquery{&node, rows.rootKey, select});
    } else {
        *sql << QLatin1String("EXISTS (SELECT 1 FROM ") << rows.from << QLatin1String(" WHERE ") << rows.correlation
             << QLatin1String(" AND ") << condition << QLatin1String(")");
    }
    *sql << QLatin1String(")");
    return true;
}

bool PredicateSqlTranslator::compareOperands(const PredicateNode &node, const Operand &l, const Operand &r, Sql *sql)
{
    using Class = Operand::Class;
    const PredicateOperator op = node.op();

    const auto isNull = [](const Operand &o) {
        Sql s;
        if (o.canBeAbsent)
            s << QLatin1String("(") << o.sql << QLatin1String(" IS NULL)");
        else
            s << QLatin1String("0");
        return s;
    };
    // A comparison that SQL makes NULL when an operand is, made 0 instead.
    const auto twoValued = [](const Sql &comparison, const Operand &a, const Operand &b) {
        Sql s;
        const bool aNullable = a.canBeAbsent;
        const bool bNullable = b.canBeAbsent;
        if (!aNullable && !bNullable) {
            s << QLatin1String("(") << comparison << QLatin1String(")");
        } else if ((!aNullable || a.simple) && (!bNullable || b.simple)) {
            s << QLatin1String("(");
            if (aNullable)
                s << a.sql << QLatin1String(" IS NOT NULL AND ");
            if (bNullable)
                s << b.sql << QLatin1String(" IS NOT NULL AND ");
            s << comparison << QLatin1String(")");
        } else {
            s << QLatin1String("COALESCE(") << comparison << QLatin1String(", 0)");
        }
        return s;
    };

    if (op == PredicateOperator::EqualTo || op == PredicateOperator::NotEqualTo) {
        Sql equal;
        if (l.isNaN || r.isNaN) {
            equal << QLatin1String("0");
        } else if (l.valueClass == Class::Nil && r.valueClass == Class::Nil) {
            equal << QLatin1String("1");
        } else if (l.valueClass == Class::Nil) {
            equal = isNull(r);
        } else if (r.valueClass == Class::Nil) {
            equal = isNull(l);
        } else if (l.valueClass != r.valueClass || l.objectEntity != r.objectEntity) {
            if (l.canBeAbsent && r.canBeAbsent)
                equal << QLatin1String("(") << isNull(l) << QLatin1String(" AND ") << isNull(r) << QLatin1String(")");
            else
                equal << QLatin1String("0");
        } else {
            equal << QLatin1String("(") << l.sql << QLatin1String(" IS ") << r.sql << QLatin1String(")");
        }
        if (op == PredicateOperator::EqualTo)
            *sql << equal;
        else
            *sql << QLatin1String("(NOT ") << equal << QLatin1String(")");
        return true;
    }

    if (l.valueClass == Class::Nil || r.valueClass == Class::Nil || l.isNaN || r.isNaN) {
        *sql << QLatin1String("0");
        return true;
    }

    const char *ordering = nullptr;
    switch (op) {
    case PredicateOperator::LessThan: ordering = " < "; break;
    case PredicateOperator::LessThanOrEqualTo: ordering = " <= "; break;
    case PredicateOperator::GreaterThan: ordering = " > "; break;
    case PredicateOperator::GreaterThanOrEqualTo: ordering = " >= "; break;
    default: break;
    }
    if (ordering) {
        if (l.valueClass != r.valueClass || l.valueClass == Class::Object) {
            *sql << QLatin1String("0");
            return true;
        }
        Sql comparison;
        comparison << l.sql << QLatin1String(ordering) << r.sql;
        if (l.valueClass == Class::String)
            comparison << QLatin1String(" COLLATE ovalis_utf16");
        *sql << twoValued(comparison, l, r);
        return true;
    }

    if (l.valueClass != Class::String || r.valueClass != Class::String) {
        *sql << QLatin1String("0");
        return true;
    }
    if (!r.constant)
        return fail(QStringLiteral("%1 %2 needs a constant on its right side in SQL")
                        .arg(node.left().format(), PredicateNode::operatorText(op)));
    const QString &needle = r.constant->foldedText();
    const Operand none;
    Sql comparison;
    switch (op) {
    case PredicateOperator::Contains:
    case PredicateOperator::BeginsWith:
    case PredicateOperator::EndsWith:
        if (needle.isEmpty()) {
            if (l.canBeAbsent)
                *sql << QLatin1String("(") << l.sql << QLatin1String(" IS NOT NULL)");
            else
                *sql << QLatin1String("1");
            return true;
        }
        if (op == PredicateOperator::Contains) {
            comparison << QLatin1String("ovalis_contains(") << l.sql << QLatin1String(", ") << r.sql << QLatin1String(")");
        } else {
            comparison << QLatin1String("substr(") << l.sql
                       << QLatin1String(op == PredicateOperator::BeginsWith ? ", 1, " : ", -");
            comparison.bind(codePointCount(needle));
            comparison << QLatin1String(") = ") << r.sql;
        }
        *sql << twoValued(comparison, l, none);
        return true;
    case PredicateOperator::Like:
        *sql << QLatin1String("ovalis_like(") << l.sql << QLatin1String(", ") << r.sql << QLatin1String(")");
        return true;
    case PredicateOperator::Matches:
        *sql << QLatin1String("ovalis_matches(") << l.sql << QLatin1String(", ") << r.sql
             << QLatin1String((node.options() & CaseInsensitiveOption) ? ", 1)" : ", 0)");
        return true;
    default: break;
    }
    return fail(QStringLiteral("unsupported operator %1").arg(PredicateNode::operatorText(op)));
}

} // namespace ovalis
