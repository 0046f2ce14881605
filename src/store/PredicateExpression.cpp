#include "store/PredicateExpression.h"

#include <QLocale>

#include "store/PredicateNode.h"
#include "store/PredicateParser.h"

namespace ovalis {

namespace {

QString formatKey(const QString &key)
{
    return PredicateParser::isReservedWord(key) ? QLatin1Char('#') + key : key;
}

QString formatReal(double value)
{
    if (value == 0)
        return QStringLiteral("0");
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

} // namespace

PredicateExpression PredicateExpression::nil()
{
    return PredicateExpression();
}

PredicateExpression PredicateExpression::string(const QString &text)
{
    PredicateExpression e;
    e.m_valueType = ValueType::String;
    // A bound or compared text is never null: only nil is.
    e.m_text = text.isNull() ? QStringLiteral("") : text;
    e.m_foldedText = e.m_text;
    return e;
}

PredicateExpression PredicateExpression::integer(qint64 value)
{
    PredicateExpression e;
    e.m_valueType = ValueType::Integer;
    e.m_integer = value;
    return e;
}

PredicateExpression PredicateExpression::real(double value)
{
    PredicateExpression e;
    e.m_valueType = ValueType::Real;
    e.m_real = value;
    return e;
}

PredicateExpression PredicateExpression::boolean(bool value)
{
    PredicateExpression e;
    e.m_valueType = ValueType::Boolean;
    e.m_integer = value ? 1 : 0;
    return e;
}

PredicateExpression PredicateExpression::date(qint64 msecsSinceEpoch)
{
    PredicateExpression e;
    e.m_valueType = ValueType::Date;
    e.m_integer = msecsSinceEpoch;
    return e;
}

PredicateExpression PredicateExpression::keyPath(const QString &variable, const QStringList &keys, Terminal terminal)
{
    PredicateExpression e;
    e.m_kind = Kind::KeyPath;
    e.m_variable = variable;
    e.m_keys = keys;
    e.m_terminal = terminal;
    return e;
}

PredicateExpression PredicateExpression::subquery(const PredicateExpression &collection, const QString &variable,
                                                  std::shared_ptr<const PredicateNode> predicate)
{
    PredicateExpression e;
    e.m_kind = Kind::Subquery;
    e.m_collection = std::make_shared<const PredicateExpression>(collection);
    e.m_variable = variable;
    e.m_subpredicate = std::move(predicate);
    e.m_terminal = Terminal::Count;
    return e;
}

QString PredicateExpression::quoted(const QString &text)
{
    QString result;
    result.reserve(text.size() + 2);
    result += QLatin1Char('"');
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"': result += QLatin1String("\\\""); break;
        case '\\': result += QLatin1String("\\\\"); break;
        case '\n': result += QLatin1String("\\n"); break;
        case '\r': result += QLatin1String("\\r"); break;
        case '\t': result += QLatin1String("\\t"); break;
        default:
            if (c.unicode() < 0x20)
                result += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                result += c;
        }
    }
    result += QLatin1Char('"');
    return result;
}

QString PredicateExpression::format() const
{
    switch (m_kind) {
    case Kind::Constant:
        switch (m_valueType) {
        case ValueType::Nil: return QStringLiteral("nil");
        case ValueType::String: return quoted(m_text);
        case ValueType::Integer: return QString::number(m_integer);
        case ValueType::Real: return formatReal(m_real);
        case ValueType::Boolean: return m_integer ? QStringLiteral("YES") : QStringLiteral("NO");
        case ValueType::Date:
            return QStringLiteral("CAST(%1, \"NSDate\")").arg(formatReal(double(m_integer - referenceDateMSecsSinceEpoch) / 1000.0));
        }
        return QString();
    case Kind::KeyPath: {
        QStringList parts;
        if (!m_variable.isEmpty())
            parts << QLatin1Char('$') + m_variable;
        for (const QString &key : m_keys)
            parts << formatKey(key);
        if (m_terminal == Terminal::Count)
            parts << QStringLiteral("@count");
        else if (m_terminal == Terminal::Length)
            parts << QStringLiteral("length");
        return parts.join(QLatin1Char('.'));
    }
    case Kind::Subquery:
        return QStringLiteral("SUBQUERY(%1, $%2, %3).@count")
            .arg(m_collection->format(), m_variable, m_subpredicate->format());
    }
    return QString();
}

} // namespace ovalis
