#include "store/Sex.h"

namespace ovalis {

std::optional<Sex> sexFromRawValue(int rawValue)
{
    if (rawValue < 0 || rawValue > 3)
        return std::nullopt;
    return Sex(rawValue);
}

QList<Sex> allSexes()
{
    return {Sex::unknown, Sex::male, Sex::female, Sex::nonbinary};
}

QString sexString(int rawValue)
{
    switch (rawValue) {
    case 0: return QStringLiteral("v");
    case 1: return QStringLiteral("Male");
    case 2: return QStringLiteral("Female");
    case 3: return QStringLiteral("Non-binary");
    default: return QString();
    }
}

QString abbreviatedSex(int rawValue)
{
    switch (rawValue) {
    case 1: return QStringLiteral("M");
    case 2: return QStringLiteral("F");
    case 3: return QStringLiteral("NB");
    default: return QString();
    }
}

} // namespace ovalis
