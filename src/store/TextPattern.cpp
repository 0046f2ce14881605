#include "store/TextPattern.h"

namespace ovalis {

const QString TextPattern::nhiPattern = QStringLiteral("(?=[^OI])[A-Z]{3}[0-9]{4}");
const QString TextPattern::urlPattern = QStringLiteral("https?://\\S+");
const QString TextPattern::paperReferencePattern = QStringLiteral("scrolla://\\S+");

TextPattern::TextPattern(const QString &pattern)
    : m_expression(pattern)
{
}

const TextPattern &TextPattern::nhi()
{
    static thread_local const TextPattern pattern(nhiPattern);
    return pattern;
}

const TextPattern &TextPattern::url()
{
    static thread_local const TextPattern pattern(urlPattern);
    return pattern;
}

const TextPattern &TextPattern::paperReference()
{
    static thread_local const TextPattern pattern(paperReferencePattern);
    return pattern;
}

QStringList TextPattern::matches(const QString &text) const
{
    QStringList result;
    if (text.isEmpty() || !m_expression.isValid())
        return result;
    QRegularExpressionMatchIterator iterator = m_expression.globalMatch(text);
    while (iterator.hasNext())
        result.append(iterator.next().captured(0));
    return result;
}

bool TextPattern::hasMatch(const QString &text) const
{
    return !text.isEmpty() && m_expression.isValid() && m_expression.match(text).hasMatch();
}

} // namespace ovalis
