#pragma once

#include <QString>
#include <QStringList>

namespace ovalis {

class Case;
class ManagedObjectContext;
class Tag;

// What the info tab's tag token field does to the store, without widgets:
// completions for the label being typed, bringing a case's tags in line with
// the field's tokens, and switching a tag on as a filter by its label.
// Everything runs on the thread of the case's (or given) context.
class CaseTagTokens
{
public:
    // Shorter typed text is not completed.
    static constexpr int minimumCompletionLength = 2;

    // The labels of the tags whose label begins with substring, ignoring case
    // and diacritics: the most used tags first, equally used ones by label in
    // plain string order. Tags without a label are skipped, and so are labels
    // already among tokens (the tokens committed so far, not the text being
    // typed). Nothing for fewer than two characters or a case without a context.
    static QStringList completions(Case *currentCase, const QString &substring, const QStringList &tokens);

    // Makes the case's tag labels equal to the set of tokens, comparing
    // labels exactly (letter case counts): the case leaves its tags whose
    // label is no longer among the tokens (the tags themselves stay), and
    // joins the first tag of each new token's label, a new Tag (which posts
    // "Updated Tag") when none has it. Saves nothing; a deleted case is left alone.
    static void synchroniseTags(Case *item, const QStringList &tokens);

    // The first tag whose label is exactly label, or nullptr.
    static Tag *firstTagWithLabel(ManagedObjectContext *context, const QString &label);

    // Sets the active flag of the first tag labelled label; false when there
    // is no such tag.
    static bool activateTag(ManagedObjectContext *context, const QString &label);
};

} // namespace ovalis
