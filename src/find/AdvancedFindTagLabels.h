#pragma once

#include <QString>
#include <QStringList>

namespace ovalis {

class ManagedObjectContext;

// The tag labels offered by the tag rules' combo boxes.
class AdvancedFindTagLabels
{
public:
    // The label of every tag that has one, sorted ascending ignoring case in
    // the user's locale. On the context's thread.
    static QStringList load(ManagedObjectContext &context);
    // The first label that begins with the typed text ignoring case and
    // diacritics; empty for empty text or when none does.
    static QString completion(const QStringList &sortedLabels, const QString &typed);
};

} // namespace ovalis
