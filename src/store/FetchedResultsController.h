#pragma once

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QString>

#include "store/FetchRequest.h"
#include "store/FetchedResultsControllerDelegate.h"
#include "store/ObjectsChange.h"

namespace ovalis {

class ManagedObjectContext;

// A live query: the records of one entity matching a predicate, in sort
// order, kept up to date as the context's objects change. Each processed
// change of the context becomes one batch for the delegate.
class FetchedResultsController : public QObject
{
    Q_OBJECT

public:
    FetchedResultsController(const FetchRequest &request, ManagedObjectContext *context,
                             const QString &cacheName = QString(), QObject *parent = nullptr);
    ~FetchedResultsController() override;

    FetchRequest &fetchRequest() { return m_request; }
    const FetchRequest &fetchRequest() const { return m_request; }
    ManagedObjectContext *managedObjectContext() const { return m_context; }
    QString cacheName() const { return m_cacheName; }
    void setDelegate(FetchedResultsControllerDelegate *delegate) { m_delegate = delegate; } // Not owned.

    bool performFetch(QString *error = nullptr);
    bool hasFetched() const { return m_fetched; }
    const QList<ManagedObject *> &fetchedObjects() const { return m_objects; }
    int indexOf(const ManagedObject *object) const;

    // Clears the cache, replaces the predicate and fetches again.
    bool setPredicate(const Predicate &predicate, QString *error = nullptr);
    // Forgets whatever was kept under the cache name. No result is ever kept
    // across a query change, so a new query is never answered stale.
    void clearCache();
    static void deleteCache(const QString &cacheName);

    // "FRC (<cache name>)", or "Unknown cache name" without one.
    QString description() const;

private:
    void contextObjectsDidChange(const ObjectsChange &change);
    void insertNewObjects(const QHash<ManagedObject *, bool> &affected);
    bool matches(ManagedObject *object) const;
    // objects in the order of the widest sorted list known current, when it
    // holds them all; false otherwise.
    bool orderByReference(QList<ManagedObject *> &objects) const;
    void offerReference(const QList<ManagedObject *> &sorted, bool everything);

    FetchRequest m_request;
    ManagedObjectContext *m_context; // Not owned.
    QString m_cacheName;
    FetchedResultsControllerDelegate *m_delegate = nullptr;
    QList<ManagedObject *> m_objects;
    bool m_fetched = false;
    // The widest list fetched with the current sort since the last insertion,
    // deletion or sort-key change, in its order: a new predicate's objects
    // are put in order by filtering it instead of reading their sort keys.
    QList<ManagedObject *> m_reference;
    QList<SortDescriptor> m_referenceSort;
    bool m_referenceIsEverything = false; // fetched without a predicate
    // No object made after this was listed by a fetch: an insertion of one
    // of them is new to the list.
    quint64 m_listedUpTo = 0;
    QMetaObject::Connection m_connection;
};

// The case list's controller: a class of its own, nothing more.
class CaseResultsController : public FetchedResultsController
{
    Q_OBJECT

public:
    using FetchedResultsController::FetchedResultsController;
};

} // namespace ovalis
