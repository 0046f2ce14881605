#pragma once

#include <QCollatorSortKey>
#include <QList>
#include <QString>
#include <QStringList>
#include <unordered_map>
#include <utility>

#include "store/Predicate.h"

namespace ovalis {

class Case;

// The predicates the library's case list is filtered with, shared by the
// library window and the command-line tool.
class LibraryQuery
{
public:
    enum class SearchScope { All, Summary, PatientIdentifier };

    // The keys a scope searches: All is summary, detail and patientID.
    static QStringList searchKeys(SearchScope scope);
    // One "%K contains[cd] %@" per key of the scope, joined with OR; null for an empty text.
    static Predicate searchPredicate(const QString &text, SearchScope scope);
    // One "ANY tags.label == %@" per label, in order, then the search as the last
    // term; a conjunction (every case when there are no terms).
    static Predicate casePredicate(const QStringList &activeTagLabels, const Predicate &search);
    // The collation keys of patient identifiers, kept by a caller that sorts
    // the same cases again and again. Entries are looked up by the case's
    // address and renewed when the identifier differs, so an entry left by a
    // deleted case never gives a wrong key.
    using IdentifierKeys = std::unordered_map<const Case *, std::pair<QString, QCollatorSortKey>>;

    // Orders cases by age at diagnosis (ascending or not), equal ages by patient
    // identifier ascending (localized, case-insensitive) whatever the direction.
    static void sortByAge(QList<Case *> &cases, bool ascending, IdentifierKeys *keys = nullptr);
    // The case's identifier key from keys, made or renewed there when needed.
    static const QCollatorSortKey &identifierKey(const Case *item, IdentifierKeys &keys);
};

} // namespace ovalis
