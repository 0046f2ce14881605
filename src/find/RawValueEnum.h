#pragma once

#include <QList>
#include <optional>

namespace ovalis {

// For enumerations whose raw values run from 0 to their last case without gaps.
template<class Enum>
QList<Enum> rawValueEnumCases(Enum last)
{
    QList<Enum> cases;
    for (int raw = 0; raw <= int(last); ++raw)
        cases << Enum(raw);
    return cases;
}

template<class Enum>
std::optional<Enum> rawValueEnumCase(int rawValue, Enum last)
{
    if (rawValue < 0 || rawValue > int(last))
        return std::nullopt;
    return Enum(rawValue);
}

} // namespace ovalis
