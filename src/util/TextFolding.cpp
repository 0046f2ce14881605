#include "util/TextFolding.h"

namespace ovalis {

namespace {

bool isAscii(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

QString asciiCaseFolded(const QString &text)
{
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size && !(text[i] >= QLatin1Char('A') && text[i] <= QLatin1Char('Z')))
        ++i;
    if (i == size)
        return text;
    QString folded = text;
    QChar *data = folded.data();
    for (; i < size; ++i)
        if (data[i] >= QLatin1Char('A') && data[i] <= QLatin1Char('Z'))
            data[i] = QChar(data[i].unicode() + ('a' - 'A'));
    return folded;
}

QString withoutNonSpacingMarks(const QString &decomposed)
{
    QString result;
    result.reserve(decomposed.size());
    const QChar *data = decomposed.constData();
    const qsizetype size = decomposed.size();
    for (qsizetype i = 0; i < size;) {
        char32_t codePoint = data[i].unicode();
        qsizetype length = 1;
        if (data[i].isHighSurrogate() && i + 1 < size && data[i + 1].isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(data[i], data[i + 1]);
            length = 2;
        }
        if (QChar::category(codePoint) != QChar::Mark_NonSpacing)
            result.append(data + i, length);
        i += length;
    }
    return result;
}

} // namespace

QString foldForComparison(const QString &text)
{
    if (isAscii(text))
        return asciiCaseFolded(text);
    return withoutNonSpacingMarks(text.normalized(QString::NormalizationForm_D)).toCaseFolded();
}

QString foldCaseOnly(const QString &text)
{
    if (isAscii(text))
        return asciiCaseFolded(text);
    return text.toCaseFolded();
}

QString foldDiacriticsOnly(const QString &text)
{
    if (isAscii(text))
        return text;
    return withoutNonSpacingMarks(text.normalized(QString::NormalizationForm_D));
}

} // namespace ovalis
