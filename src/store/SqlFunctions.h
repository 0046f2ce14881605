#pragma once

struct sqlite3;

namespace ovalis {

// Registers on a connection the deterministic functions and the collation
// that translated predicates use (see PredicateSqlTranslator):
//   ovalis_fold(text), ovalis_fold_c(text), ovalis_fold_d(text)
//       foldForComparison, foldCaseOnly, foldDiacriticsOnly; NULL gives NULL.
//   ovalis_length(text)
//       the length in UTF-16 code units, as QString::size(); NULL gives 0.
//   ovalis_contains(text, needle)
//       1 when text holds needle (an empty needle always), else 0, as
//       instr(text, needle) > 0; NULL in either gives NULL.
//   ovalis_like(text, pattern)
//       matchesLikePattern as 1 or 0; NULL in either gives 0.
//   ovalis_matches(text, pattern, caseInsensitive)
//       whole-text regular expression match as 1 or 0; NULL or an invalid
//       pattern gives 0.
//   COLLATE ovalis_utf16
//       the order of QString::compare (UTF-16 code units), which differs from
//       SQLite's BINARY order for characters beyond the Basic Multilingual Plane.
// Call it once per connection, before preparing any statement that uses them.
void registerSqlFunctions(sqlite3 *db);

} // namespace ovalis
