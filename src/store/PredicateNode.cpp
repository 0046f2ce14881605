#include "store/PredicateNode.h"

#include <QStringList>

#include "util/TextFolding.h"
#include "util/TextMatching.h"

namespace ovalis {

PredicateNode::Pointer PredicateNode::constant(bool value)
{
    auto node = std::shared_ptr<PredicateNode>(new PredicateNode);
    node->m_kind = value ? Kind::True : Kind::False;
    return node;
}

PredicateNode::Pointer PredicateNode::compound(Kind kind, const QList<Pointer> &children)
{
    auto node = std::shared_ptr<PredicateNode>(new PredicateNode);
    node->m_kind = kind;
    node->m_children = children;
    return node;
}

PredicateNode::Pointer PredicateNode::negation(Pointer child)
{
    auto node = std::shared_ptr<PredicateNode>(new PredicateNode);
    node->m_kind = Kind::Not;
    node->m_children = {std::move(child)};
    return node;
}

PredicateNode::Pointer PredicateNode::comparison(PredicateModifier modifier, PredicateExpression left,
                                                 PredicateOperator op, int options, PredicateExpression right,
                                                 QString *error)
{
    for (PredicateExpression *side : {&left, &right})
        if (side->isConstant() && side->valueType() == PredicateExpression::ValueType::String)
            side->setFoldedText(foldText(side->text(), op, options));
    auto node = std::shared_ptr<PredicateNode>(new PredicateNode);
    if (op == PredicateOperator::Matches && right.isConstant()
        && right.valueType() == PredicateExpression::ValueType::String) {
        node->m_matchesExpression = ovalis::matchesExpression(right.foldedText(), options & CaseInsensitiveOption);
        // Compiled here, once, so that evaluations on any thread only match.
        node->m_matchesExpression.optimize();
        if (!node->m_matchesExpression.isValid()) {
            *error = QStringLiteral("invalid regular expression %1: %2")
                         .arg(PredicateExpression::quoted(right.text()), node->m_matchesExpression.errorString());
            return nullptr;
        }
    }
    node->m_kind = Kind::Comparison;
    node->m_modifier = modifier;
    node->m_operator = op;
    node->m_options = options;
    node->m_left = std::make_unique<const PredicateExpression>(std::move(left));
    node->m_right = std::make_unique<const PredicateExpression>(std::move(right));
    return node;
}

QString PredicateNode::foldText(const QString &text, PredicateOperator op, int options)
{
    if (op == PredicateOperator::Matches)
        options &= DiacriticInsensitiveOption;
    switch (options & (CaseInsensitiveOption | DiacriticInsensitiveOption)) {
    case CaseInsensitiveOption | DiacriticInsensitiveOption: return foldForComparison(text);
    case CaseInsensitiveOption: return foldCaseOnly(text);
    case DiacriticInsensitiveOption: return foldDiacriticsOnly(text);
    default: return text;
    }
}

QString PredicateNode::operatorText(PredicateOperator op)
{
    switch (op) {
    case PredicateOperator::EqualTo: return QStringLiteral("==");
    case PredicateOperator::NotEqualTo: return QStringLiteral("!=");
    case PredicateOperator::LessThan: return QStringLiteral("<");
    case PredicateOperator::LessThanOrEqualTo: return QStringLiteral("<=");
    case PredicateOperator::GreaterThan: return QStringLiteral(">");
    case PredicateOperator::GreaterThanOrEqualTo: return QStringLiteral(">=");
    case PredicateOperator::Contains: return QStringLiteral("CONTAINS");
    case PredicateOperator::BeginsWith: return QStringLiteral("BEGINSWITH");
    case PredicateOperator::EndsWith: return QStringLiteral("ENDSWITH");
    case PredicateOperator::Like: return QStringLiteral("LIKE");
    case PredicateOperator::Matches: return QStringLiteral("MATCHES");
    }
    return QString();
}

bool PredicateNode::formatsAsChain() const
{
    if (m_kind != Kind::And && m_kind != Kind::Or)
        return false;
    if (m_children.size() == 1)
        return m_children.first()->formatsAsChain();
    return m_children.size() > 1;
}

QString PredicateNode::format() const
{
    const auto member = [](const Pointer &child) {
        return child->formatsAsChain() ? QLatin1Char('(') + child->format() + QLatin1Char(')') : child->format();
    };
    switch (m_kind) {
    case Kind::True: return QStringLiteral("TRUEPREDICATE");
    case Kind::False: return QStringLiteral("FALSEPREDICATE");
    case Kind::And:
    case Kind::Or: {
        if (m_children.isEmpty())
            return m_kind == Kind::And ? QStringLiteral("TRUEPREDICATE") : QStringLiteral("FALSEPREDICATE");
        if (m_children.size() == 1)
            return m_children.first()->format();
        QStringList parts;
        for (const Pointer &child : m_children)
            parts << member(child);
        return parts.join(m_kind == Kind::And ? QStringLiteral(" AND ") : QStringLiteral(" OR "));
    }
    case Kind::Not: return QStringLiteral("NOT ") + member(m_children.first());
    case Kind::Comparison: {
        QString text;
        switch (m_modifier) {
        case PredicateModifier::Direct: break;
        case PredicateModifier::Any: text = QStringLiteral("ANY "); break;
        case PredicateModifier::All: text = QStringLiteral("ALL "); break;
        case PredicateModifier::None: text = QStringLiteral("NONE "); break;
        }
        text += m_left->format() + QLatin1Char(' ') + operatorText(m_operator);
        if (m_options & (CaseInsensitiveOption | DiacriticInsensitiveOption)) {
            text += QLatin1Char('[');
            if (m_options & CaseInsensitiveOption)
                text += QLatin1Char('c');
            if (m_options & DiacriticInsensitiveOption)
                text += QLatin1Char('d');
            text += QLatin1Char(']');
        }
        return text + QLatin1Char(' ') + m_right->format();
    }
    }
    return QString();
}

} // namespace ovalis
