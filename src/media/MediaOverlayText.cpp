#include "media/MediaOverlayText.h"

#include <QRegularExpression>
#include <QStringList>
#include <QTextBoundaryFinder>

#include "store/TextPattern.h"

namespace ovalis {

QString MediaOverlayText::cleaned(const QString &text, bool removeIdentifiers)
{
    if (text.isEmpty())
        return QString(QLatin1String(""));
    static thread_local const QRegularExpression identifier(TextPattern::nhiPattern);
    static thread_local const QRegularExpression address(TextPattern::urlPattern);
    QString result = text;
    if (removeIdentifiers)
        result.remove(identifier);
    result.remove(address);
    return result;
}

QString MediaOverlayText::summaryText(const QString &summary, bool removeIdentifiers)
{
    return cleaned(summary, removeIdentifiers);
}

QString MediaOverlayText::detailText(const QString &detail, bool removeIdentifiers)
{
    const QString text = cleaned(detail, removeIdentifiers);
    // Most details are far shorter than the limit in code units already.
    if (text.size() < detailCharacterLimit)
        return text;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    int characters = 0;
    while (characters < detailCharacterLimit && graphemes.toNextBoundary() >= 0)
        ++characters;
    if (characters < detailCharacterLimit)
        return text;
    return text.left(graphemes.position()) + QChar(0x2026);
}

QString MediaOverlayText::demographicsText(const QString &ageString, const QString &sexString)
{
    QStringList parts;
    if (!ageString.isEmpty())
        parts.append(ageString);
    if (!sexString.isEmpty())
        parts.append(sexString);
    return parts.join(QLatin1Char(' '));
}

} // namespace ovalis
