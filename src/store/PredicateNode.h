#pragma once

#include <QList>
#include <QRegularExpression>
#include <QString>

#include <memory>

#include "store/PredicateExpression.h"

namespace ovalis {

enum class PredicateOperator {
    EqualTo,
    NotEqualTo,
    LessThan,
    LessThanOrEqualTo,
    GreaterThan,
    GreaterThanOrEqualTo,
    Contains,
    BeginsWith,
    EndsWith,
    Like,
    Matches,
};

// How a comparison treats a left side that crosses a to-many relationship.
// Direct (no keyword) behaves as Any there.
enum class PredicateModifier { Direct, Any, All, None };

enum PredicateOption { CaseInsensitiveOption = 0x1, DiacriticInsensitiveOption = 0x2 };

// A node of a parsed predicate. Immutable and shared between copies of a
// Predicate, so it may be read from any thread.
class PredicateNode
{
public:
    enum class Kind { True, False, And, Or, Not, Comparison };
    using Pointer = std::shared_ptr<const PredicateNode>;

    static Pointer constant(bool value);
    // kind is And or Or. An empty And holds, an empty Or does not.
    static Pointer compound(Kind kind, const QList<Pointer> &children);
    static Pointer negation(Pointer child);
    // Folds the constant texts for the options and compiles a constant
    // MATCHES pattern; null with an error when that pattern is invalid.
    static Pointer comparison(PredicateModifier modifier, PredicateExpression left, PredicateOperator op, int options,
                              PredicateExpression right, QString *error);

    Kind kind() const { return m_kind; }
    const QList<Pointer> &children() const { return m_children; }

    PredicateModifier modifier() const { return m_modifier; }
    PredicateOperator op() const { return m_operator; }
    int options() const { return m_options; }
    const PredicateExpression &left() const { return *m_left; }
    const PredicateExpression &right() const { return *m_right; }
    // For MATCHES with a constant pattern.
    const QRegularExpression &matchesExpression() const { return m_matchesExpression; }

    QString format() const;

    // How the comparison folds each text it compares: the options' fold,
    // except that MATCHES folds diacritics only (case goes to the expression).
    static QString foldText(const QString &text, PredicateOperator op, int options);
    static QString operatorText(PredicateOperator op);

private:
    PredicateNode() = default;
    bool formatsAsChain() const;

    Kind m_kind = Kind::True;
    QList<Pointer> m_children;
    PredicateModifier m_modifier = PredicateModifier::Direct;
    PredicateOperator m_operator = PredicateOperator::EqualTo;
    int m_options = 0;
    std::unique_ptr<const PredicateExpression> m_left;
    std::unique_ptr<const PredicateExpression> m_right;
    QRegularExpression m_matchesExpression;
};

} // namespace ovalis
