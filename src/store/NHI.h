#pragma once

#include <QLatin1String>
#include <QString>
#include <QStringList>
#include <optional>

namespace ovalis {

// New Zealand National Health Index numbers: three letters (without I and O),
// four digits, the last of them a check digit.

// The setting that switches recognition on (registered true at start).
inline constexpr QLatin1String recogniseNHIsSettingKey("Recognise_NZ_NHIs");

// Whether identifiers are checked and recognised, read from the shared settings.
bool recognisesNHIs();

// The first NHI in the upper-cased text that passes the check-digit test, in
// capitals; the text may hold other characters around it. Nothing when the
// first match of the pattern fails the test or when there is no match.
std::optional<QString> normalisedNHI(const QString &text);

// Every match of the NHI pattern in the text as it appears there (the match is
// case-sensitive, so lower-case identifiers are not found) that passes the
// check, duplicates included, in text order.
QStringList recognisedNHIs(const QString &text);

} // namespace ovalis
