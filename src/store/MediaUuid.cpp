#include "store/MediaUuid.h"

#include <QUuid>

namespace ovalis {

namespace {

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
}

} // namespace

bool MediaUuid::isValid(QStringView text)
{
    if (text.size() != 36)
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != QLatin1Char('-') : !isHexDigit(text[i]))
            return false;
    }
    return true;
}

std::optional<QString> MediaUuid::canonical(QStringView text)
{
    if (!isValid(text))
        return std::nullopt;
    return text.toString().toUpper();
}

QString MediaUuid::generate()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

} // namespace ovalis
