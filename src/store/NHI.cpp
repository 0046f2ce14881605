#include "store/NHI.h"

#include "store/TextPattern.h"
#include "util/Settings.h"

namespace ovalis {

namespace {

// A letter's value: A to H are 1 to 8, J to N 9 to 13, P to Z 14 to 24. I and
// O never open a match but may stand second or third, where they count as 8
// and 13.
int letterValue(QChar letter)
{
    const int code = letter.unicode();
    if (code < 'I')
        return code - 64;
    if (code <= 'N')
        return code - 65;
    return code - 66;
}

} // namespace

bool recognisesNHIs()
{
    return Settings::shared().boolValue(recogniseNHIsSettingKey);
}

std::optional<QString> normalisedNHI(const QString &text)
{
    const QStringList found = TextPattern::nhi().matches(text.toUpper());
    if (found.isEmpty())
        return std::nullopt;
    const QString nhi = found.first();
    const int sum = 7 * letterValue(nhi[0]) + 6 * letterValue(nhi[1]) + 5 * letterValue(nhi[2])
        + 4 * nhi[3].digitValue() + 3 * nhi[4].digitValue() + 2 * nhi[5].digitValue();
    const int remainder = sum % 11;
    if (remainder == 0)
        return std::nullopt;
    const int checkDigit = remainder == 1 ? 0 : 11 - remainder;
    if (nhi[6].digitValue() != checkDigit)
        return std::nullopt;
    return nhi;
}

QStringList recognisedNHIs(const QString &text)
{
    QStringList result;
    for (const QString &match : TextPattern::nhi().matches(text))
        if (normalisedNHI(match))
            result.append(match);
    return result;
}

} // namespace ovalis
