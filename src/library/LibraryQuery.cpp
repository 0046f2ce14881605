#include "library/LibraryQuery.h"

#include <algorithm>

#include "store/Case.h"
#include "store/SortDescriptor.h"

namespace ovalis {

QStringList LibraryQuery::searchKeys(SearchScope scope)
{
    switch (scope) {
    case SearchScope::All:
        return {QStringLiteral("summary"), QStringLiteral("detail"), QStringLiteral("patientID")};
    case SearchScope::Summary:
        return {QStringLiteral("summary")};
    case SearchScope::PatientIdentifier:
        return {QStringLiteral("patientID")};
    }
    return {};
}

Predicate LibraryQuery::searchPredicate(const QString &text, SearchScope scope)
{
    if (text.isEmpty())
        return Predicate();
    QList<Predicate> terms;
    for (const QString &key : searchKeys(scope))
        terms.append(Predicate::fromFormat(QStringLiteral("%K contains[cd] %@"), {key, text}));
    return Predicate::orPredicate(terms);
}

Predicate LibraryQuery::casePredicate(const QStringList &activeTagLabels, const Predicate &search)
{
    QList<Predicate> terms;
    for (const QString &label : activeTagLabels)
        terms.append(Predicate::fromFormat(QStringLiteral("ANY tags.label == %@"),
                                           {label.isNull() ? QStringLiteral("") : label}));
    if (!search.isNull())
        terms.append(search);
    return Predicate::andPredicate(terms);
}

void LibraryQuery::sortByAge(QList<Case *> &cases, bool ascending)
{
    struct Entry {
        Case *item;
        double age;
        LocalizedSortKey key;
    };
    std::vector<Entry> entries;
    entries.reserve(cases.size());
    for (Case *item : std::as_const(cases)) {
        const QString id = item->patientID();
        entries.push_back({item, item->age(), LocalizedSortKey(id.isNull() ? QString() : id)});
    }
    std::stable_sort(entries.begin(), entries.end(), [ascending](const Entry &a, const Entry &b) {
        if (a.age != b.age)
            return ascending ? a.age < b.age : a.age > b.age;
        return a.key.compare(b.key) < 0;
    });
    for (qsizetype i = 0; i < cases.size(); ++i)
        cases[i] = entries[size_t(i)].item;
}

} // namespace ovalis
