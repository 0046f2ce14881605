#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include "store/ObjectID.h"

namespace ovalis {

class Case;
class ManagedObjectContext;
class Tag;

// Attaching tags by label during one import: the first tag of the context
// whose label equals the text exactly ("label == %@"), else a new tag with
// that label. The context's tags are read once, when the first label is
// asked for; the tags made are remembered for the rest of the run, by their
// identifiers, so that the context may let go of its objects between saves.
// On the context's thread.
class TagsByLabel
{
public:
    explicit TagsByLabel(ManagedObjectContext *context); // Not owned.

    Tag *tagWithLabel(const QString &label);
    // Reads the known tags of these labels that the context no longer holds
    // in one go: after the context lets go of its objects, a batch about to
    // be attached would otherwise read its tags one at a time.
    void prepare(const QSet<QString> &labels);
    // Adds the case to the tag's cases.
    Tag *attach(Case *item, const QString &label);
    // The tags this run made (not those it found), and how many.
    QList<Tag *> createdTags() const;
    qsizetype createdCount() const { return m_created.size(); }

private:
    void load();

    ManagedObjectContext *m_context;
    bool m_loaded = false;
    QHash<QString, ObjectID> m_tags;
    QList<ObjectID> m_created;
};

} // namespace ovalis
