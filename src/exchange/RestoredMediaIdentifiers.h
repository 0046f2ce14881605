#pragma once

#include <QHash>
#include <QString>

namespace ovalis {

class ManagedObjectContext;
class Media;

// The uuids one restore gives its media records. A record keeps the
// identifier of its backup record unless the library, or an earlier record
// of the same file, already uses it: two records with one uuid would share
// one file, and deleting either would take the other's image. Such a record
// keeps the fresh uuid it was made with instead, and gets a copy of the file
// of the record that holds the identifier when that file is present. The
// library's uuids are read once, when the first identifier is given. Only
// uuids and file names are kept, so the context may let go of its objects
// between saves. On the context's thread.
class RestoredMediaIdentifiers
{
public:
    explicit RestoredMediaIdentifiers(ManagedObjectContext *context); // Not owned.

    // Gives the new record (inserted, with its fileName set) the identifier,
    // which is a uuid in its canonical upper-case form.
    void assign(Media *media, const QString &identifier);

    // Records that were given a fresh uuid, and the files copied for them.
    int renamed() const { return m_renamed; }
    int filesCopied() const { return m_filesCopied; }

private:
    void load();
    void copyFile(const QString &holderUuid, const QString &holderFileName, Media *media);

    ManagedObjectContext *m_context;
    bool m_loaded = false;
    // Upper-case uuid → the file name of the record that holds it.
    QHash<QString, QString> m_holders;
    int m_renamed = 0;
    int m_filesCopied = 0;
};

} // namespace ovalis
