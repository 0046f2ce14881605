#include "util/TextMatching.h"

namespace ovalis {

namespace {

qsizetype characterLength(QStringView text, qsizetype at)
{
    if (at + 1 < text.size() && text[at].isHighSurrogate() && text[at + 1].isLowSurrogate())
        return 2;
    return 1;
}

} // namespace

bool matchesLikePattern(QStringView text, QStringView pattern)
{
    qsizetype t = 0;
    qsizetype p = 0;
    qsizetype starPattern = -1; // Pattern position just after the last '*' seen.
    qsizetype starText = 0;     // Text position that '*' was last tried to end at.
    const qsizetype textSize = text.size();
    const qsizetype patternSize = pattern.size();
    while (t < textSize) {
        if (p < patternSize) {
            const QChar c = pattern[p];
            if (c == QLatin1Char('*')) {
                starPattern = ++p;
                starText = t;
                continue;
            }
            if (c == QLatin1Char('?')) {
                t += characterLength(text, t);
                ++p;
                continue;
            }
            const qsizetype literal = (c == QLatin1Char('\\') && p + 1 < patternSize) ? p + 1 : p;
            if (text[t] == pattern[literal]) {
                ++t;
                p = literal + 1;
                continue;
            }
        }
        if (starPattern < 0)
            return false;
        starText += characterLength(text, starText);
        t = starText;
        p = starPattern;
    }
    while (p < patternSize && pattern[p] == QLatin1Char('*'))
        ++p;
    return p == patternSize;
}

QRegularExpression matchesExpression(const QString &pattern, bool caseInsensitive)
{
    QRegularExpression::PatternOptions options = QRegularExpression::NoPatternOption;
    if (caseInsensitive)
        options |= QRegularExpression::CaseInsensitiveOption;
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern), options);
}

bool textContains(QStringView text, QStringView needle)
{
    return needle.isEmpty() || text.indexOf(needle) >= 0;
}

bool textStartsWith(QStringView text, QStringView prefix)
{
    return text.size() >= prefix.size() && text.first(prefix.size()) == prefix;
}

bool textEndsWith(QStringView text, QStringView suffix)
{
    return text.size() >= suffix.size() && text.last(suffix.size()) == suffix;
}

} // namespace ovalis
