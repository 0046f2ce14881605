#include "store/PredicateEvaluator.h"

#include <QDateTime>
#include <QVariant>

#include <cmath>

#include "util/TextMatching.h"

namespace ovalis {

namespace {

using Terminal = PredicateExpression::Terminal;

// A variable bound by an enclosing SUBQUERY; the chain lives on the stack.
struct Binding {
    const QString *name;
    const PredicateObject *object;
    const Binding *outer;
};

struct Scope {
    const PredicateObject *self;
    const Binding *bindings;
};

// One value taking part in a comparison.
struct Operand {
    enum class Type { Absent, String, Number, Date, Object };
    Type type = Type::Absent;
    bool integral = true;
    qint64 integer = 0; // Number when integral, Date as milliseconds since 1970.
    double real = 0;    // Number when not integral.
    QString text;
    const PredicateObject *owner = nullptr; // A String read from owner's attribute *key.
    const QString *key = nullptr;
    const QString *folded = nullptr; // A String constant, folded for the comparison.
    const PredicateObject *object = nullptr;

    bool isAbsent() const { return type == Type::Absent; }
};

Operand numberOperand(qint64 value)
{
    Operand o;
    o.type = Operand::Type::Number;
    o.integer = value;
    return o;
}

Operand objectOperand(const PredicateObject *object)
{
    Operand o;
    o.type = Operand::Type::Object;
    o.object = object;
    return o;
}

Operand constantOperand(const PredicateExpression &e)
{
    Operand o;
    switch (e.valueType()) {
    case PredicateExpression::ValueType::Nil: break;
    case PredicateExpression::ValueType::String:
        o.type = Operand::Type::String;
        o.text = e.text();
        o.folded = &e.foldedText();
        break;
    case PredicateExpression::ValueType::Integer:
    case PredicateExpression::ValueType::Boolean: o = numberOperand(e.integerValue()); break;
    case PredicateExpression::ValueType::Real:
        o.type = Operand::Type::Number;
        o.integral = false;
        o.real = e.realValue();
        break;
    case PredicateExpression::ValueType::Date:
        o.type = Operand::Type::Date;
        o.integer = e.integerValue();
        break;
    }
    return o;
}

Operand attributeOperand(const PredicateObject &object, const QString &key)
{
    const QVariant value = object.attributeValue(key);
    Operand o;
    switch (value.metaType().id()) {
    case QMetaType::QString:
        o.type = Operand::Type::String;
        o.text = *static_cast<const QString *>(value.constData());
        o.owner = &object;
        o.key = &key;
        break;
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::LongLong: o = numberOperand(value.toLongLong()); break;
    case QMetaType::Double:
    case QMetaType::Float:
        o.type = Operand::Type::Number;
        o.integral = false;
        o.real = value.toDouble();
        break;
    case QMetaType::QDateTime: {
        const QDateTime date = value.toDateTime();
        if (date.isValid()) {
            o.type = Operand::Type::Date;
            o.integer = date.toMSecsSinceEpoch();
        }
        break;
    }
    default: break;
    }
    return o;
}

Operand lengthOf(const Operand &o)
{
    if (o.isAbsent())
        return numberOperand(0);
    if (o.type == Operand::Type::String)
        return numberOperand(o.text.size());
    return Operand();
}

const PredicateObject *rootObject(const PredicateExpression &e, const Scope &scope)
{
    if (e.variable().isEmpty())
        return scope.self;
    for (const Binding *b = scope.bindings; b; b = b->outer)
        if (*b->name == e.variable())
            return b->object;
    return nullptr;
}

bool crossesToMany(const EntityDescription &entity, const QStringList &keys)
{
    const EntityDescription *current = &entity;
    for (const QString &key : keys) {
        const RelationshipDescription *relationship = current->relationship(key);
        if (!relationship)
            return false;
        if (relationship->toMany)
            return true;
        current = ManagedObjectModel::ovalisModel().entity(relationship->destinationEntity);
        if (!current)
            return false;
    }
    return false;
}

// Calls visit with each value keys[index…] reach from object (through to-one
// relationships at most one); stops early when visit returns false.
template <typename Visit>
bool walk(const PredicateObject &object, const QStringList &keys, qsizetype index, Terminal terminal, Visit &visit)
{
    const QString &key = keys[index];
    const bool last = index + 1 == keys.size();
    if (object.entityDescription().relationship(key)) {
        const QList<const PredicateObject *> related = object.relatedObjects(key);
        for (const PredicateObject *member : related) {
            if (last) {
                const Operand o = objectOperand(member);
                if (!visit(terminal == Terminal::Length ? lengthOf(o) : o))
                    return false;
            } else if (!walk(*member, keys, index + 1, terminal, visit)) {
                return false;
            }
        }
        return true;
    }
    if (!last)
        return visit(Operand());
    const Operand o = attributeOperand(object, key);
    return visit(terminal == Terminal::Length ? lengthOf(o) : o);
}

// The number of objects keys[index…] lead to, or -1 when a key is no relationship.
qint64 count(const PredicateObject &object, const QStringList &keys, qsizetype index)
{
    const QString &key = keys[index];
    if (!object.entityDescription().relationship(key))
        return -1;
    const QList<const PredicateObject *> related = object.relatedObjects(key);
    if (index + 1 == keys.size())
        return related.size();
    qint64 total = 0;
    for (const PredicateObject *member : related) {
        const qint64 n = count(*member, keys, index + 1);
        if (n < 0)
            return -1;
        total += n;
    }
    return total;
}

bool evaluateNode(const PredicateNode &node, const Scope &scope);

qint64 subqueryCount(const PredicateExpression &e, const Scope &scope)
{
    const PredicateExpression &collection = e.collection();
    const PredicateObject *root = rootObject(collection, scope);
    if (!root)
        return 0;
    qint64 n = 0;
    auto visit = [&](const Operand &member) {
        if (member.type == Operand::Type::Object) {
            const Binding binding{&e.variable(), member.object, scope.bindings};
            if (evaluateNode(e.subpredicate(), Scope{member.object, &binding}))
                ++n;
        }
        return true;
    };
    walk(*root, collection.keys(), 0, Terminal::None, visit);
    return n;
}

// singleValued: the caller has found that the key path crosses no to-many relationship.
Operand scalar(const PredicateExpression &e, const Scope &scope, bool singleValued = false)
{
    switch (e.kind()) {
    case PredicateExpression::Kind::Constant: return constantOperand(e);
    case PredicateExpression::Kind::Subquery: return numberOperand(subqueryCount(e, scope));
    case PredicateExpression::Kind::KeyPath: break;
    }
    const PredicateObject *root = rootObject(e, scope);
    if (!root)
        return Operand();
    if (e.keys().isEmpty())
        return e.terminal() == Terminal::None ? objectOperand(root) : Operand();
    if (e.terminal() == Terminal::Count) {
        const qint64 n = count(*root, e.keys(), 0);
        return n < 0 ? Operand() : numberOperand(n);
    }
    // A to-many key path has no single value.
    if (!singleValued && crossesToMany(root->entityDescription(), e.keys()))
        return Operand();
    Operand result;
    auto visit = [&](const Operand &o) {
        result = o;
        return false;
    };
    walk(*root, e.keys(), 0, e.terminal(), visit);
    return e.terminal() == Terminal::Length && result.isAbsent() ? numberOperand(0) : result;
}

QString foldedText(const Operand &o, const PredicateNode &node)
{
    int options = node.options() & (CaseInsensitiveOption | DiacriticInsensitiveOption);
    if (node.op() == PredicateOperator::Matches)
        options &= DiacriticInsensitiveOption;
    if (!options)
        return o.text;
    if (o.folded)
        return *o.folded;
    if (o.owner && options == (CaseInsensitiveOption | DiacriticInsensitiveOption))
        return o.owner->foldedAttributeValue(*o.key);
    return PredicateNode::foldText(o.text, node.op(), options);
}

// The order of two present values of the same kind; false when they have none.
bool order(const PredicateNode &node, const Operand &l, const Operand &r, int *result)
{
    if (l.type != r.type)
        return false;
    switch (l.type) {
    case Operand::Type::String:
        *result = QStringView(foldedText(l, node)).compare(QStringView(foldedText(r, node)));
        return true;
    case Operand::Type::Number:
        if (l.integral && r.integral) {
            *result = (l.integer > r.integer) - (l.integer < r.integer);
            return true;
        } else {
            const double a = l.integral ? double(l.integer) : l.real;
            const double b = r.integral ? double(r.integer) : r.real;
            if (std::isnan(a) || std::isnan(b))
                return false;
            *result = (a > b) - (a < b);
            return true;
        }
    case Operand::Type::Date: *result = (l.integer > r.integer) - (l.integer < r.integer); return true;
    default: return false;
    }
}

bool equal(const PredicateNode &node, const Operand &l, const Operand &r)
{
    if (l.isAbsent() || r.isAbsent())
        return l.isAbsent() && r.isAbsent();
    if (l.type == Operand::Type::Object)
        return r.type == Operand::Type::Object && l.object == r.object;
    if (l.type == Operand::Type::String && r.type == Operand::Type::String)
        return foldedText(l, node) == foldedText(r, node);
    int result = 0;
    return order(node, l, r, &result) && result == 0;
}

bool compare(const PredicateNode &node, const Operand &l, const Operand &r)
{
    const PredicateOperator op = node.op();
    if (op == PredicateOperator::EqualTo)
        return equal(node, l, r);
    if (op == PredicateOperator::NotEqualTo)
        return !equal(node, l, r);
    if (l.isAbsent() || r.isAbsent())
        return false;
    int result = 0;
    switch (op) {
    case PredicateOperator::LessThan: return order(node, l, r, &result) && result < 0;
    case PredicateOperator::LessThanOrEqualTo: return order(node, l, r, &result) && result <= 0;
    case PredicateOperator::GreaterThan: return order(node, l, r, &result) && result > 0;
    case PredicateOperator::GreaterThanOrEqualTo: return order(node, l, r, &result) && result >= 0;
    default: break;
    }
    if (l.type != Operand::Type::String || r.type != Operand::Type::String)
        return false;
    const QString text = foldedText(l, node);
    switch (op) {
    case PredicateOperator::Contains: return textContains(text, foldedText(r, node));
    case PredicateOperator::BeginsWith: return textStartsWith(text, foldedText(r, node));
    case PredicateOperator::EndsWith: return textEndsWith(text, foldedText(r, node));
    case PredicateOperator::Like: return matchesLikePattern(text, foldedText(r, node));
    case PredicateOperator::Matches: {
        if (node.right().isConstant())
            return node.matchesExpression().isValid() && node.matchesExpression().match(text).hasMatch();
        const QRegularExpression expression =
            matchesExpression(foldedText(r, node), node.options() & CaseInsensitiveOption);
        return expression.isValid() && expression.match(text).hasMatch();
    }
    default: return false;
    }
}

bool evaluateComparison(const PredicateNode &node, const Scope &scope)
{
    const PredicateExpression &left = node.left();
    bool singleValued = false;
    if (left.kind() == PredicateExpression::Kind::KeyPath && left.terminal() != Terminal::Count
        && !left.keys().isEmpty()) {
        const PredicateObject *root = rootObject(left, scope);
        singleValued = root && !crossesToMany(root->entityDescription(), left.keys());
        if (root && !singleValued) {
            const Operand right = scalar(node.right(), scope);
            // ANY and NONE look for a member that compares true, ALL for one that does not.
            const bool sought = node.modifier() != PredicateModifier::All;
            bool found = false;
            auto visit = [&](const Operand &member) {
                if (compare(node, member, right) == sought) {
                    found = true;
                    return false;
                }
                return true;
            };
            walk(*root, left.keys(), 0, left.terminal(), visit);
            return node.modifier() == PredicateModifier::Any || node.modifier() == PredicateModifier::Direct ? found
                                                                                                                : !found;
        }
    }
    const bool result = compare(node, scalar(left, scope, singleValued), scalar(node.right(), scope));
    return node.modifier() == PredicateModifier::None ? !result : result;
}

bool evaluateNode(const PredicateNode &node, const Scope &scope)
{
    switch (node.kind()) {
    case PredicateNode::Kind::True: return true;
    case PredicateNode::Kind::False: return false;
    case PredicateNode::Kind::And:
        for (const PredicateNode::Pointer &child : node.children())
            if (!evaluateNode(*child, scope))
                return false;
        return true;
    case PredicateNode::Kind::Or:
        for (const PredicateNode::Pointer &child : node.children())
            if (evaluateNode(*child, scope))
                return true;
        return false;
    case PredicateNode::Kind::Not: return !evaluateNode(*node.children().first(), scope);
    case PredicateNode::Kind::Comparison: return evaluateComparison(node, scope);
    }
    return false;
}

} // namespace

bool PredicateEvaluator::evaluate(const PredicateNode &node, const PredicateObject &object)
{
    return evaluateNode(node, Scope{&object, nullptr});
}

} // namespace ovalis
