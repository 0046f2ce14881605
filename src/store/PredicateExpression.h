#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace ovalis {

class PredicateNode;

// One side of a comparison: a constant, a key path or a counted SUBQUERY.
// Built by PredicateParser and immutable once it sits in a PredicateNode.
class PredicateExpression
{
public:
    enum class Kind { Constant, KeyPath, Subquery };
    enum class ValueType { Nil, String, Integer, Real, Boolean, Date };
    // What follows the keys of a key path: ".@count" counts the objects the
    // keys lead to, ".length" is the UTF-16 length of a text (0 when absent).
    enum class Terminal { None, Count, Length };

    // 2001-01-01 00:00 UTC, from which CAST(seconds, "NSDate") counts.
    static constexpr qint64 referenceDateMSecsSinceEpoch = 978307200000;

    static PredicateExpression nil();
    static PredicateExpression string(const QString &text);
    static PredicateExpression integer(qint64 value);
    static PredicateExpression real(double value);
    static PredicateExpression boolean(bool value);
    static PredicateExpression date(qint64 msecsSinceEpoch);
    // Keys from the evaluated object, or from the object bound to $variable
    // when variable is not empty.
    static PredicateExpression keyPath(const QString &variable, const QStringList &keys, Terminal terminal);
    // The number of members of collection for which predicate holds, each
    // member bound to $variable and being the evaluated object of predicate.
    static PredicateExpression subquery(const PredicateExpression &collection, const QString &variable,
                                        std::shared_ptr<const PredicateNode> predicate);

    Kind kind() const { return m_kind; }
    bool isConstant() const { return m_kind == Kind::Constant; }
    bool isNil() const { return m_kind == Kind::Constant && m_valueType == ValueType::Nil; }

    ValueType valueType() const { return m_valueType; }
    const QString &text() const { return m_text; }
    // The text folded as the enclosing comparison's options ask; the text
    // itself when they ask for nothing.
    const QString &foldedText() const { return m_foldedText; }
    void setFoldedText(const QString &folded) { m_foldedText = folded; }
    // Integer and Boolean (0 or 1) values, and Date as milliseconds since 1970 UTC.
    qint64 integerValue() const { return m_integer; }
    double realValue() const { return m_real; }

    const QString &variable() const { return m_variable; }
    const QStringList &keys() const { return m_keys; }
    Terminal terminal() const { return m_terminal; }

    const PredicateExpression &collection() const { return *m_collection; }
    const PredicateNode &subpredicate() const { return *m_subpredicate; }

    QString format() const;

    // A string constant as the format writes it: double-quoted with escapes.
    static QString quoted(const QString &text);

private:
    PredicateExpression() = default;

    Kind m_kind = Kind::Constant;
    ValueType m_valueType = ValueType::Nil;
    QString m_text;
    QString m_foldedText;
    qint64 m_integer = 0;
    double m_real = 0;
    QString m_variable;
    QStringList m_keys;
    Terminal m_terminal = Terminal::None;
    std::shared_ptr<const PredicateExpression> m_collection;
    std::shared_ptr<const PredicateNode> m_subpredicate;
};

} // namespace ovalis
