#include "store/PredicateParser.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <limits>

namespace ovalis {

namespace {

constexpr int maximumDepth = 200;

const char *const reservedWords[] = {
    "AND", "OR", "NOT", "ANY", "SOME", "ALL", "NONE", "IN", "BETWEEN", "CONTAINS", "BEGINSWITH", "ENDSWITH", "LIKE",
    "MATCHES", "NIL", "NULL", "YES", "NO", "TRUE", "FALSE", "TRUEPREDICATE", "FALSEPREDICATE", "SUBQUERY", "CAST",
    "SELF",
};

bool isWord(QStringView text, const char *word)
{
    return text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}

bool isIdentifierStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_');
}

bool isIdentifierPart(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

PredicateParser::PredicateParser(const QString &format, const QVariantList &arguments)
    : m_format(format)
    , m_arguments(arguments)
{
}

bool PredicateParser::isReservedWord(QStringView word)
{
    for (const char *reserved : reservedWords)
        if (isWord(word, reserved))
            return true;
    return false;
}

PredicateNode::Pointer PredicateParser::parse(QString *error)
{
    PredicateNode::Pointer root = parseOr();
    if (root && peek().type != Token::Type::End)
        fail(QStringLiteral("unexpected \"%1\"").arg(peek().text), peek().position);
    if (!m_error.isEmpty())
        root = nullptr;
    if (!root && error)
        *error = QStringLiteral("Unable to parse the format string \"%1\": %2").arg(m_format, m_error);
    return root;
}

bool PredicateParser::fail(const QString &message, qsizetype position)
{
    if (m_error.isEmpty())
        m_error = QStringLiteral("%1 at offset %2").arg(message, QString::number(position));
    return false;
}

bool PredicateParser::enter(qsizetype position)
{
    if (++m_depth > maximumDepth)
        return fail(QStringLiteral("nesting deeper than %1").arg(maximumDepth), position);
    return true;
}

PredicateParser::Token PredicateParser::lex()
{
    const QString &f = m_format;
    const qsizetype size = f.size();
    while (m_position < size && f[m_position].isSpace())
        ++m_position;
    Token token;
    token.position = m_position;
    if (m_position >= size)
        return token;
    const QChar c = f[m_position];

    if (isIdentifierStart(c) || c == QLatin1Char('#') || c == QLatin1Char('$') || c == QLatin1Char('@')) {
        token.type = c == QLatin1Char('#')   ? Token::Type::EscapedIdentifier
                     : c == QLatin1Char('$') ? Token::Type::Variable
                     : c == QLatin1Char('@') ? Token::Type::AtKeyword
                                             : Token::Type::Identifier;
        qsizetype start = token.type == Token::Type::Identifier ? m_position : m_position + 1;
        qsizetype end = start;
        if (end < size && isIdentifierStart(f[end])) {
            ++end;
            while (end < size && isIdentifierPart(f[end]))
                ++end;
        }
        if (end == start) {
            token.type = Token::Type::End;
            fail(QStringLiteral("expected a name after \"%1\"").arg(c), m_position);
            m_position = size;
            return token;
        }
        token.text = f.mid(start, end - start);
        m_position = end;
        return token;
    }

    if (isDigit(c) || (c == QLatin1Char('-') && m_position + 1 < size && isDigit(f[m_position + 1]))) {
        qsizetype end = m_position + 1;
        while (end < size && isDigit(f[end]))
            ++end;
        if (end + 1 < size && f[end] == QLatin1Char('.') && isDigit(f[end + 1])) {
            end += 2;
            while (end < size && isDigit(f[end]))
                ++end;
        }
        if (end < size && (f[end] == QLatin1Char('e') || f[end] == QLatin1Char('E'))) {
            qsizetype exponent = end + 1;
            if (exponent < size && (f[exponent] == QLatin1Char('+') || f[exponent] == QLatin1Char('-')))
                ++exponent;
            if (exponent < size && isDigit(f[exponent])) {
                end = exponent;
                while (end < size && isDigit(f[end]))
                    ++end;
            }
        }
        token.type = Token::Type::Number;
        token.text = f.mid(m_position, end - m_position);
        m_position = end;
        return token;
    }

    if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
        QString text = QStringLiteral("");
        qsizetype i = m_position + 1;
        while (i < size && f[i] != c) {
            if (f[i] != QLatin1Char('\\') || i + 1 >= size) {
                text += f[i++];
                continue;
            }
            const QChar escaped = f[i + 1];
            i += 2;
            switch (escaped.unicode()) {
            case 'n': text += QLatin1Char('\n'); break;
            case 'r': text += QLatin1Char('\r'); break;
            case 't': text += QLatin1Char('\t'); break;
            case '"':
            case '\'':
            case '\\': text += escaped; break;
            case 'u': {
                bool ok = false;
                const uint unit = i + 4 <= size ? f.mid(i, 4).toUInt(&ok, 16) : 0;
                if (!ok) {
                    fail(QStringLiteral("invalid \\u escape"), i - 2);
                    m_position = size;
                    return Token();
                }
                text += QChar(char16_t(unit));
                i += 4;
                break;
            }
            default:
                // Kept as written, so that a LIKE pattern can escape its wildcards.
                text += QLatin1Char('\\');
                text += escaped;
            }
        }
        if (i >= size) {
            fail(QStringLiteral("unterminated string"), m_position);
            m_position = size;
            return Token();
        }
        token.type = Token::Type::String;
        token.text = text;
        m_position = i + 1;
        return token;
    }

    if (c == QLatin1Char('%')) {
        qsizetype end = m_position + 1;
        QString conversion;
        while (end < size && f[end] == QLatin1Char('l') && conversion.size() < 2)
            conversion += f[end++];
        if (end < size) {
            const QChar kind = f[end];
            const bool integer = kind == QLatin1Char('d') || kind == QLatin1Char('i') || kind == QLatin1Char('u');
            const bool real = kind == QLatin1Char('f');
            const bool plain = kind == QLatin1Char('K') || kind == QLatin1Char('@');
            if (integer || real || (plain && conversion.isEmpty())) {
                token.type = Token::Type::Substitution;
                token.text = conversion + kind;
                m_position = end + 1;
                return token;
            }
        }
        fail(QStringLiteral("unknown substitution \"%1\"").arg(f.mid(m_position, end + 1 - m_position)), m_position);
        m_position = size;
        return Token();
    }

    static const char *const symbols[] = {"==", "!=", "<>", "<=", ">=", "=<", "=>", "&&", "||", "(", ")", ",", ".",
                                          "[",  "]",  "=",  "<",  ">",  "!",  "{",  "}"};
    for (const char *symbol : symbols) {
        const QLatin1String s(symbol);
        if (QStringView(f).mid(m_position).startsWith(s)) {
            token.type = Token::Type::Symbol;
            token.text = s;
            m_position += s.size();
            return token;
        }
    }
    fail(QStringLiteral("unexpected character \"%1\"").arg(c), m_position);
    m_position = size;
    return Token();
}

const PredicateParser::Token &PredicateParser::peek()
{
    if (!m_hasPeeked) {
        m_peeked = lex();
        m_hasPeeked = true;
    }
    return m_peeked;
}

PredicateParser::Token PredicateParser::next()
{
    peek();
    m_hasPeeked = false;
    return m_peeked;
}

bool PredicateParser::peekSymbol(const char *symbol)
{
    const Token &token = peek();
    return token.type == Token::Type::Symbol && token.text == QLatin1String(symbol);
}

bool PredicateParser::peekWord(const char *word)
{
    const Token &token = peek();
    return token.type == Token::Type::Identifier && isWord(token.text, word);
}

bool PredicateParser::expectSymbol(const char *symbol)
{
    const Token token = next();
    if (token.type == Token::Type::Symbol && token.text == QLatin1String(symbol))
        return true;
    return fail(QStringLiteral("expected \"%1\"").arg(QLatin1String(symbol)), token.position);
}

PredicateNode::Pointer PredicateParser::parseOr()
{
    QList<PredicateNode::Pointer> members;
    do {
        if (!members.isEmpty())
            next();
        PredicateNode::Pointer member = parseAnd();
        if (!member)
            return nullptr;
        members << member;
    } while (peekWord("OR") || peekSymbol("||"));
    return members.size() == 1 ? members.first() : PredicateNode::compound(PredicateNode::Kind::Or, members);
}

PredicateNode::Pointer PredicateParser::parseAnd()
{
    QList<PredicateNode::Pointer> members;
    do {
        if (!members.isEmpty())
            next();
        PredicateNode::Pointer member = parseNot();
        if (!member)
            return nullptr;
        members << member;
    } while (peekWord("AND") || peekSymbol("&&"));
    return members.size() == 1 ? members.first() : PredicateNode::compound(PredicateNode::Kind::And, members);
}

PredicateNode::Pointer PredicateParser::parseNot()
{
    if (!peekWord("NOT") && !peekSymbol("!"))
        return parsePrimary();
    const Token token = next();
    if (!enter(token.position))
        return nullptr;
    PredicateNode::Pointer child = parseNot();
    --m_depth;
    return child ? PredicateNode::negation(child) : nullptr;
}

PredicateNode::Pointer PredicateParser::parsePrimary()
{
    if (peekSymbol("(")) {
        const Token open = next();
        if (!enter(open.position))
            return nullptr;
        PredicateNode::Pointer inner = parseOr();
        --m_depth;
        if (!inner || !expectSymbol(")"))
            return nullptr;
        return inner;
    }
    if (peekWord("TRUEPREDICATE") || peekWord("FALSEPREDICATE"))
        return PredicateNode::constant(isWord(next().text, "TRUEPREDICATE"));
    return parseComparison();
}

PredicateNode::Pointer PredicateParser::parseComparison()
{
    PredicateModifier modifier = PredicateModifier::Direct;
    if (peekWord("ANY") || peekWord("SOME"))
        modifier = PredicateModifier::Any;
    else if (peekWord("ALL"))
        modifier = PredicateModifier::All;
    else if (peekWord("NONE"))
        modifier = PredicateModifier::None;
    if (modifier != PredicateModifier::Direct)
        next();

    PredicateExpression left = PredicateExpression::nil();
    PredicateExpression right = PredicateExpression::nil();
    PredicateOperator op = PredicateOperator::EqualTo;
    int options = 0;
    if (!parseExpression(&left) || !parseOperator(&op, &options) || !parseExpression(&right))
        return nullptr;
    QString error;
    PredicateNode::Pointer node = PredicateNode::comparison(modifier, std::move(left), op, options, std::move(right), &error);
    if (!node)
        fail(error, m_position);
    return node;
}

bool PredicateParser::parseOperator(PredicateOperator *op, int *options)
{
    const Token token = next();
    struct Spelling {
        const char *text;
        PredicateOperator op;
    };
    static const Spelling symbols[] = {
        {"==", PredicateOperator::EqualTo},
        {"=", PredicateOperator::EqualTo},
        {"!=", PredicateOperator::NotEqualTo},
        {"<>", PredicateOperator::NotEqualTo},
        {"<", PredicateOperator::LessThan},
        {"<=", PredicateOperator::LessThanOrEqualTo},
        {"=<", PredicateOperator::LessThanOrEqualTo},
        {">", PredicateOperator::GreaterThan},
        {">=", PredicateOperator::GreaterThanOrEqualTo},
        {"=>", PredicateOperator::GreaterThanOrEqualTo},
    };
    static const Spelling words[] = {
        {"CONTAINS", PredicateOperator::Contains},     {"BEGINSWITH", PredicateOperator::BeginsWith},
        {"ENDSWITH", PredicateOperator::EndsWith},     {"LIKE", PredicateOperator::Like},
        {"MATCHES", PredicateOperator::Matches},
    };
    bool found = false;
    if (token.type == Token::Type::Symbol) {
        for (const Spelling &spelling : symbols)
            if (token.text == QLatin1String(spelling.text)) {
                *op = spelling.op;
                found = true;
            }
    } else if (token.type == Token::Type::Identifier) {
        for (const Spelling &spelling : words)
            if (isWord(token.text, spelling.text)) {
                *op = spelling.op;
                found = true;
            }
        if (!found && (isWord(token.text, "IN") || isWord(token.text, "BETWEEN")))
            return fail(QStringLiteral("unsupported operator \"%1\"").arg(token.text), token.position);
    }
    if (!found)
        return fail(token.type == Token::Type::End ? QStringLiteral("expected a comparison operator, found the end")
                                                   : QStringLiteral("expected a comparison operator, found \"%1\"")
                                                         .arg(token.text),
                    token.position);

    *options = 0;
    if (!peekSymbol("["))
        return true;
    next();
    const Token optionToken = next();
    if (optionToken.type != Token::Type::Identifier)
        return fail(QStringLiteral("expected comparison options"), optionToken.position);
    for (const QChar c : optionToken.text) {
        if (c.toLower() == QLatin1Char('c'))
            *options |= CaseInsensitiveOption;
        else if (c.toLower() == QLatin1Char('d'))
            *options |= DiacriticInsensitiveOption;
        else
            return fail(QStringLiteral("unknown comparison option \"%1\"").arg(c), optionToken.position);
    }
    return expectSymbol("]");
}

bool PredicateParser::takeArgument(const Token &token, QVariant *argument)
{
    if (m_nextArgument >= m_arguments.size())
        return fail(QStringLiteral("%%1 needs argument %2 but only %3 were given")
                        .arg(token.text)
                        .arg(m_nextArgument + 1)
                        .arg(m_arguments.size()),
                    token.position);
    *argument = m_arguments.at(m_nextArgument++);
    return true;
}

bool PredicateParser::substitution(const Token &token, PredicateExpression *expression, QStringList *keys)
{
    QVariant argument;
    if (!takeArgument(token, &argument))
        return false;
    const QChar kind = token.text.back();
    const int type = argument.metaType().id();

    if (kind == QLatin1Char('K')) {
        if (type != QMetaType::QString)
            return fail(QStringLiteral("%K needs a text argument"), token.position);
        const QStringList parts = argument.toString().split(QLatin1Char('.'));
        for (const QString &part : parts)
            if (part.isEmpty() || !isIdentifierStart(part.front())
                || !std::all_of(part.begin(), part.end(), isIdentifierPart))
                return fail(QStringLiteral("%K argument \"%1\" is no key path").arg(argument.toString()), token.position);
        *keys << parts;
        return true;
    }

    if (kind == QLatin1Char('@')) {
        if (!argument.isValid() || argument.isNull()) {
            *expression = PredicateExpression::nil();
            return true;
        }
        switch (type) {
        case QMetaType::QString: *expression = PredicateExpression::string(argument.toString()); return true;
        case QMetaType::Bool: *expression = PredicateExpression::boolean(argument.toBool()); return true;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::LongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar: *expression = PredicateExpression::integer(argument.toLongLong()); return true;
        case QMetaType::ULong:
        case QMetaType::ULongLong: {
            const qulonglong value = argument.toULongLong();
            *expression = value > qulonglong(std::numeric_limits<qint64>::max())
                              ? PredicateExpression::real(double(value))
                              : PredicateExpression::integer(qint64(value));
            return true;
        }
        case QMetaType::Double:
        case QMetaType::Float: *expression = PredicateExpression::real(argument.toDouble()); return true;
        case QMetaType::QDateTime: {
            const QDateTime date = argument.toDateTime();
            *expression = date.isValid() ? PredicateExpression::date(date.toMSecsSinceEpoch()) : PredicateExpression::nil();
            return true;
        }
        default:
            return fail(QStringLiteral("%@ cannot take an argument of type %1")
                            .arg(QString::fromLatin1(argument.metaType().name())),
                        token.position);
        }
    }

    bool ok = false;
    if (kind == QLatin1Char('f')) {
        const double value = argument.toDouble(&ok);
        if (ok)
            *expression = PredicateExpression::real(value);
    } else {
        const qlonglong value = argument.toLongLong(&ok);
        if (ok)
            *expression = PredicateExpression::integer(value);
    }
    if (!ok)
        return fail(QStringLiteral("%%1 needs a number").arg(token.text), token.position);
    return true;
}

bool PredicateParser::parseExpression(PredicateExpression *expression)
{
    const Token token = next();
    switch (token.type) {
    case Token::Type::String: *expression = PredicateExpression::string(token.text); return true;
    case Token::Type::Number: {
        bool ok = false;
        const qlonglong integer = token.text.toLongLong(&ok);
        if (ok) {
            *expression = PredicateExpression::integer(integer);
            return true;
        }
        const double real = token.text.toDouble(&ok);
        if (!ok || !std::isfinite(real))
            return fail(QStringLiteral("invalid number \"%1\"").arg(token.text), token.position);
        *expression = PredicateExpression::real(real);
        return true;
    }
    case Token::Type::Substitution: {
        QStringList keys;
        if (!substitution(token, expression, &keys))
            return false;
        return keys.isEmpty() || parseKeyPathSuffix(QString(), keys, expression);
    }
    case Token::Type::Variable:
        if (!m_variables.contains(token.text))
            return fail(QStringLiteral("variable $%1 is not bound by a SUBQUERY").arg(token.text), token.position);
        return parseKeyPathSuffix(token.text, {}, expression);
    case Token::Type::EscapedIdentifier: return parseKeyPathSuffix(QString(), {token.text}, expression);
    case Token::Type::Identifier:
        if (isWord(token.text, "nil") || isWord(token.text, "NULL")) {
            *expression = PredicateExpression::nil();
            return true;
        }
        if (isWord(token.text, "YES") || isWord(token.text, "TRUE") || isWord(token.text, "NO")
            || isWord(token.text, "FALSE")) {
            *expression = PredicateExpression::boolean(isWord(token.text, "YES") || isWord(token.text, "TRUE"));
            return true;
        }
        if (isWord(token.text, "SUBQUERY"))
            return parseSubquery(expression);
        if (isWord(token.text, "CAST")) {
            if (!enter(token.position))
                return false;
            const bool parsed = parseCast(expression);
            --m_depth;
            return parsed;
        }
        if (isReservedWord(token.text))
            return fail(QStringLiteral("unexpected \"%1\"").arg(token.text), token.position);
        return parseKeyPathSuffix(QString(), {token.text}, expression);
    case Token::Type::End: return fail(QStringLiteral("expected an expression, found the end"), token.position);
    default: return fail(QStringLiteral("expected an expression, found \"%1\"").arg(token.text), token.position);
    }
}

bool PredicateParser::parseKeyPathSuffix(const QString &variable, QStringList keys, PredicateExpression *expression)
{
    PredicateExpression::Terminal terminal = PredicateExpression::Terminal::None;
    while (peekSymbol(".")) {
        next();
        const Token token = next();
        if (terminal != PredicateExpression::Terminal::None)
            return fail(QStringLiteral("nothing may follow @count"), token.position);
        if (token.type == Token::Type::Identifier && !isReservedWord(token.text))
            keys << token.text;
        else if (token.type == Token::Type::EscapedIdentifier)
            keys << token.text;
        else if (token.type == Token::Type::AtKeyword && token.text == QLatin1String("count"))
            terminal = PredicateExpression::Terminal::Count;
        else if (token.type == Token::Type::Substitution && token.text == QLatin1String("K")) {
            if (!substitution(token, expression, &keys))
                return false;
        } else
            return fail(QStringLiteral("expected a key after \".\""), token.position);
    }
    if (terminal == PredicateExpression::Terminal::None && keys.size() >= 2 && keys.last() == QLatin1String("length")) {
        keys.removeLast();
        terminal = PredicateExpression::Terminal::Length;
    }
    *expression = PredicateExpression::keyPath(variable, keys, terminal);
    return true;
}

bool PredicateParser::parseSubquery(PredicateExpression *expression)
{
    const qsizetype start = peek().position;
    if (!expectSymbol("("))
        return false;
    PredicateExpression collection = PredicateExpression::nil();
    if (!parseExpression(&collection))
        return false;
    if (collection.kind() != PredicateExpression::Kind::KeyPath
        || collection.terminal() != PredicateExpression::Terminal::None || collection.keys().isEmpty())
        return fail(QStringLiteral("SUBQUERY needs a relationship key path"), start);
    if (!expectSymbol(","))
        return false;
    const Token variable = next();
    if (variable.type != Token::Type::Variable)
        return fail(QStringLiteral("SUBQUERY needs a $variable"), variable.position);
    if (!expectSymbol(",") || !enter(variable.position))
        return false;
    m_variables << variable.text;
    PredicateNode::Pointer predicate = parseOr();
    m_variables.removeLast();
    --m_depth;
    if (!predicate || !expectSymbol(")"))
        return false;
    if (!expectSymbol("."))
        return false;
    const Token count = next();
    if (count.type != Token::Type::AtKeyword || count.text != QLatin1String("count"))
        return fail(QStringLiteral("SUBQUERY must be followed by .@count"), count.position);
    *expression = PredicateExpression::subquery(collection, variable.text, predicate);
    return !peekSymbol(".") || fail(QStringLiteral("nothing may follow @count"), peek().position);
}

bool PredicateParser::parseCast(PredicateExpression *expression)
{
    if (!expectSymbol("("))
        return false;
    PredicateExpression value = PredicateExpression::nil();
    const qsizetype position = peek().position;
    if (!parseExpression(&value))
        return false;
    if (!expectSymbol(","))
        return false;
    const Token type = next();
    if (type.type != Token::Type::String || type.text != QLatin1String("NSDate"))
        return fail(QStringLiteral("only CAST(…, \"NSDate\") is supported"), type.position);
    if (!expectSymbol(")"))
        return false;
    double seconds = 0;
    if (value.isConstant() && value.valueType() == PredicateExpression::ValueType::Integer)
        seconds = double(value.integerValue());
    else if (value.isConstant() && value.valueType() == PredicateExpression::ValueType::Real)
        seconds = value.realValue();
    else
        return fail(QStringLiteral("CAST needs a number of seconds"), position);
    const double msecs = std::round(seconds * 1000.0);
    if (!std::isfinite(msecs) || std::abs(msecs) > 1e17)
        return fail(QStringLiteral("date out of range"), position);
    *expression = PredicateExpression::date(qint64(msecs) + PredicateExpression::referenceDateMSecsSinceEpoch);
    return true;
}

} // namespace ovalis
