#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>

#include "store/PredicateExpression.h"
#include "store/PredicateNode.h"

namespace ovalis {

// Parses a predicate format string, substituting %K, %@, %d (%i, %ld, %lld,
// %u, …) and %f from the arguments in order. Precedence: NOT above AND above
// OR; comparisons bind tighter than NOT. An unparenthesised chain of AND (or
// of OR) becomes one compound with every member. %@ takes a QString (a null
// one reads as ""), an integer, double or bool, or a QDateTime; an invalid or
// null QVariant, or an invalid date, is nil. %K takes a QString key path.
class PredicateParser
{
public:
    PredicateParser(const QString &format, const QVariantList &arguments);

    // Null, with a message in error, when the format does not parse or needs
    // more arguments than given. Extra arguments are ignored.
    PredicateNode::Pointer parse(QString *error);

    // Words that a key must escape with '#' to be read as a key (any case).
    static bool isReservedWord(QStringView word);

private:
    struct Token {
        enum class Type { End, Identifier, EscapedIdentifier, String, Number, Variable, Substitution, AtKeyword, Symbol };
        Type type = Type::End;
        QString text;
        qsizetype position = 0;
    };

    Token lex();
    const Token &peek();
    Token next();
    bool peekSymbol(const char *symbol);
    bool peekWord(const char *word);
    bool expectSymbol(const char *symbol);
    bool fail(const QString &message, qsizetype position);
    bool enter(qsizetype position);

    PredicateNode::Pointer parseOr();
    PredicateNode::Pointer parseAnd();
    PredicateNode::Pointer parseNot();
    PredicateNode::Pointer parsePrimary();
    PredicateNode::Pointer parseComparison();
    bool parseOperator(PredicateOperator *op, int *options);
    bool parseExpression(PredicateExpression *expression);
    bool parseKeyPathSuffix(const QString &variable, QStringList keys, PredicateExpression *expression);
    bool parseSubquery(PredicateExpression *expression);
    bool parseCast(PredicateExpression *expression);
    bool substitution(const Token &token, PredicateExpression *expression, QStringList *keys);
    bool takeArgument(const Token &token, QVariant *argument);

    QString m_format;
    QVariantList m_arguments;
    qsizetype m_position = 0;
    qsizetype m_nextArgument = 0;
    int m_depth = 0;
    bool m_hasPeeked = false;
    Token m_peeked;
    QString m_error;
    QStringList m_variables; // Bound by enclosing SUBQUERYs, innermost last.
};

} // namespace ovalis
