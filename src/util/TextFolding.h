#pragma once

#include <QString>

namespace ovalis {

// The key under which two texts compare equal when case and diacritics are
// ignored ([cd]): canonical decomposition (NFD), non-spacing marks dropped,
// then case folding. "smíth" and "SMITH" give the same key. A null text gives
// a null key, an empty text an empty one. Pure ASCII text takes a fast path
// that allocates only when it holds an upper-case letter.
QString foldForComparison(const QString &text);

// Case folding alone ([c]).
QString foldCaseOnly(const QString &text);

// Decomposition without non-spacing marks alone ([d]).
QString foldDiacriticsOnly(const QString &text);

} // namespace ovalis
