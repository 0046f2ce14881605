#pragma once

#include <QHash>
#include <QSet>
#include <QString>

namespace ovalis {

class Case;
class ManagedObjectContext;
class Tag;

// Attaching tags by label during one import: the first tag of the context
// whose label equals the text exactly ("label == %@"), else a new tag with
// that label. The context's tags are read once, when the first label is
// asked for; the tags made are remembered for the rest of the run. On the
// context's thread.
class TagsByLabel
{
public:
    explicit TagsByLabel(ManagedObjectContext *context); // Not owned.

    Tag *tagWithLabel(const QString &label);
    // Adds the case to the tag's cases.
    Tag *attach(Case *item, const QString &label);
    // The tags this run made (not those it found).
    const QSet<Tag *> &createdTags() const { return m_created; }

private:
    ManagedObjectContext *m_context;
    bool m_loaded = false;
    QHash<QString, Tag *> m_tags;
    QSet<Tag *> m_created;
};

} // namespace ovalis
