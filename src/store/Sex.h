#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace ovalis {

// Stored as a 16-bit integer; the order is that of allSexes().
enum class Sex : qint16 { unknown = 0, male = 1, female = 2, nonbinary = 3 };

std::optional<Sex> sexFromRawValue(int rawValue);
QList<Sex> allSexes();
// "v" for unknown (a lower-case v), "Male", "Female", "Non-binary"; empty outside 0 to 3.
QString sexString(int rawValue);
// "", "M", "F", "NB"; empty outside 0 to 3.
QString abbreviatedSex(int rawValue);

} // namespace ovalis
