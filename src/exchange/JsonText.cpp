#include "exchange/JsonText.h"

#include <QStringList>

namespace ovalis {

void JsonText::appendString(QString &text, QStringView value)
{
    static const char hex[] = "0123456789abcdef";
    text += QLatin1Char('"');
    for (const QChar c : value) {
        const char16_t u = c.unicode();
        switch (u) {
        case u'"': text += QLatin1String("\\\""); break;
        case u'\\': text += QLatin1String("\\\\"); break;
        case u'\n': text += QLatin1String("\\n"); break;
        case u'\r': text += QLatin1String("\\r"); break;
        case u'\t': text += QLatin1String("\\t"); break;
        case u'\b': text += QLatin1String("\\b"); break;
        case u'\f': text += QLatin1String("\\f"); break;
        default:
            if (u < 0x20) {
                text += QLatin1String("\\u00");
                text += QLatin1Char(hex[u >> 4]);
                text += QLatin1Char(hex[u & 0xf]);
            } else {
                text += c;
            }
        }
    }
    text += QLatin1Char('"');
}

void JsonText::beginMember(QString &text, int indent, QLatin1StringView key, bool first)
{
    text += first ? QLatin1String("\n") : QLatin1String(",\n");
    text += QString(indent, QLatin1Char(' '));
    text += QLatin1Char('"');
    text += key;
    text += QLatin1String("\" : ");
}

void JsonText::endObject(QString &text, int indent)
{
    text += QLatin1Char('\n');
    text += QString(qMax(indent - 2, 0), QLatin1Char(' '));
    text += QLatin1Char('}');
}

QString JsonText::snakeCase(QStringView fieldName)
{
    QString key;
    key.reserve(fieldName.size() + 4);
    for (const QChar c : fieldName) {
        if (c.isUpper()) {
            key += QLatin1Char('_');
            key += c.toLower();
        } else {
            key += c;
        }
    }
    return key;
}

QString JsonText::camelCaseFromSnakeCase(const QString &key)
{
    if (!key.contains(QLatin1Char('_')))
        return key;
    // Leading and trailing underscores are kept; the words between are
    // joined, each after the first with a capital.
    qsizetype first = 0;
    while (first < key.size() && key[first] == QLatin1Char('_'))
        ++first;
    qsizetype last = key.size();
    while (last > first && key[last - 1] == QLatin1Char('_'))
        --last;
    if (first == last)
        return key;
    const QStringList words = key.mid(first, last - first).split(QLatin1Char('_'), Qt::SkipEmptyParts);
    QString result = key.left(first);
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString word = words[i].toLower();
        result += i == 0 ? word : word.left(1).toUpper() + word.mid(1);
    }
    return result + key.mid(last);
}

} // namespace ovalis
