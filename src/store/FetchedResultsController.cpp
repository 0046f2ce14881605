#include "store/FetchedResultsController.h"

#include <QSet>
#include <algorithm>
#include <iterator>

#include "store/ManagedObject.h"
#include "store/ManagedObjectContext.h"
#include "store/PredicateNode.h"

namespace ovalis {

namespace {

// No predicate, or one that holds by its form alone (an AND of nothing).
bool matchesEverything(const Predicate &predicate)
{
    if (predicate.isNull())
        return true;
    const PredicateNode *node = predicate.rootNode();
    return node
           && (node->kind() == PredicateNode::Kind::True
               || (node->kind() == PredicateNode::Kind::And && node->children().isEmpty()));
}

} // namespace

FetchedResultsController::FetchedResultsController(const FetchRequest &request, ManagedObjectContext *context,
                                                   const QString &cacheName, QObject *parent)
    : QObject(parent)
    , m_request(request)
    , m_context(context)
    , m_cacheName(cacheName)
{
    m_connection = connect(context, &ManagedObjectContext::objectsDidChange, this,
                           &FetchedResultsController::contextObjectsDidChange, Qt::DirectConnection);
}

FetchedResultsController::~FetchedResultsController()
{
    disconnect(m_connection);
}

bool FetchedResultsController::performFetch(QString *error)
{
    QString failure;
    QList<ManagedObject *> objects = m_context->executeFetch(m_request, &failure);
    if (!failure.isEmpty()) {
        if (error)
            *error = failure;
        return false;
    }
    m_objects = std::move(objects);
    m_listedUpTo = ManagedObject::latestSequence();
    m_fetched = true;
    if (!m_request.fetchLimit)
        offerReference(m_objects, matchesEverything(m_request.predicate));
    return true;
}

int FetchedResultsController::indexOf(const ManagedObject *object) const
{
    return int(m_objects.indexOf(const_cast<ManagedObject *>(object)));
}

bool FetchedResultsController::setPredicate(const Predicate &predicate, QString *error)
{
    clearCache();
    m_request.predicate = predicate;
    if (!m_fetched || m_request.sortDescriptors.isEmpty() || m_request.fetchLimit)
        return performFetch(error);
    if (matchesEverything(predicate) && m_referenceIsEverything && m_referenceSort == m_request.sortDescriptors) {
        // Every object again, as listed before: changes since then reached
        // the list through the context's notifications or dropped the reference.
        m_objects = m_reference;
        m_listedUpTo = ManagedObject::latestSequence();
        return true;
    }
    // A predicate that lists only objects of a list fetched before (a search
    // one letter longer, a tag switched off again) keeps that list's order;
    // sorting, which reads every object's keys, is left out.
    FetchRequest unsorted = m_request;
    unsorted.sortDescriptors.clear();
    unsorted.unordered = true;
    QString failure;
    QList<ManagedObject *> objects = m_context->executeFetch(unsorted, &failure);
    if (!failure.isEmpty()) {
        if (error)
            *error = failure;
        return false;
    }
    if (!orderByReference(objects))
        sortObjects(objects, m_request.sortDescriptors);
    m_objects = std::move(objects);
    m_listedUpTo = ManagedObject::latestSequence();
    offerReference(m_objects, matchesEverything(predicate));
    return true;
}

bool FetchedResultsController::orderByReference(QList<ManagedObject *> &objects) const
{
    if (m_referenceSort != m_request.sortDescriptors || m_reference.size() < objects.size())
        return false;
    const QSet<ManagedObject *> wanted(objects.cbegin(), objects.cend());
    if (wanted.size() != objects.size())
        return false;
    QList<ManagedObject *> ordered;
    ordered.reserve(objects.size());
    for (ManagedObject *object : std::as_const(m_reference))
        if (wanted.contains(object))
            ordered.append(object);
    if (ordered.size() != objects.size())
        return false;
    objects = std::move(ordered);
    return true;
}

void FetchedResultsController::offerReference(const QList<ManagedObject *> &sorted, bool everything)
{
    if (m_referenceSort == m_request.sortDescriptors && m_reference.size() >= sorted.size() && !everything)
        return;
    m_reference = sorted;
    m_referenceSort = m_request.sortDescriptors;
    m_referenceIsEverything = everything;
}

void FetchedResultsController::clearCache()
{
    deleteCache(m_cacheName);
}

void FetchedResultsController::deleteCache(const QString &)
{
    // Results are recomputed by every fetch; there is nothing kept to delete.
}

QString FetchedResultsController::description() const
{
    return m_cacheName.isEmpty() ? QStringLiteral("Unknown cache name") : QStringLiteral("FRC (%1)").arg(m_cacheName);
}

bool FetchedResultsController::matches(ManagedObject *object) const
{
    return object->managedObjectContext() == m_context && !object->isDeleted()
           && object->entityName() == m_request.entityName
           && (m_request.predicate.isNull() || m_request.predicate.evaluate(*object));
}

void FetchedResultsController::contextObjectsDidChange(const ObjectsChange &change)
{
    if (!m_fetched)
        return;
    // Every object of the batch that concerns this list, with whether it
    // belongs in the new list.
    QHash<ManagedObject *, bool> affected;
    QSet<ManagedObject *> moved; // sort keys changed
    QSet<ManagedObject *> unfiltered; // no key the predicate reads changed: in the list as before
    QSet<QString> sortKeys;
    for (const SortDescriptor &descriptor : std::as_const(m_request.sortDescriptors))
        sortKeys.insert(descriptor.key);
    const QSet<QString> predicateKeys = m_request.predicate.referencedKeys();
    bool insertedOrDeleted = false;
    // Whether the batch only brings objects made since the list was fetched,
    // which therefore cannot be in it yet.
    bool onlyNewObjects = true;
    for (ManagedObject *object : change.deleted)
        if (object->entityName() == m_request.entityName) {
            affected.insert(object, false);
            insertedOrDeleted = true;
            onlyNewObjects = false;
        }
    for (ManagedObject *object : change.inserted)
        if (object->entityName() == m_request.entityName) {
            affected.insert(object, matches(object));
            insertedOrDeleted = true;
            onlyNewObjects = onlyNewObjects && object->sequence() > m_listedUpTo;
        }
    for (ManagedObject *object : change.updated) {
        if (object->entityName() != m_request.entityName)
            continue;
        onlyNewObjects = false;
        const QSet<QString> changedKeys = change.changedKeys.value(object);
        if (m_request.predicate.isNull() || object->managedObjectContext() != m_context || changedKeys.intersects(predicateKeys)) {
            affected.insert(object, matches(object));
        } else {
            affected.insert(object, false);
            unfiltered.insert(object);
        }
        if (changedKeys.intersects(sortKeys))
            moved.insert(object);
    }
    // The reference order no longer holds every object in its place.
    if (!moved.isEmpty() || insertedOrDeleted) {
        m_reference.clear();
        m_referenceIsEverything = false;
    }
    if (affected.isEmpty())
        return;
    if (onlyNewObjects) {
        insertNewObjects(affected);
        return;
    }

    // Old rows, the list without the affected objects, and the new list.
    QHash<ManagedObject *, int> oldRows;
    QList<ManagedObject *> kept;
    kept.reserve(m_objects.size());
    for (int row = 0; row < m_objects.size(); ++row) {
        ManagedObject *object = m_objects[row];
        if (affected.contains(object))
            oldRows.insert(object, row);
        else
            kept.append(object);
    }
    for (ManagedObject *object : std::as_const(unfiltered))
        affected[object] = oldRows.contains(object);
    // Objects that left the list stay out of the batch when they were not in it.
    for (auto it = affected.begin(); it != affected.end();) {
        if (!it.value() && !oldRows.contains(it.key()))
            it = affected.erase(it);
        else
            ++it;
    }
    if (affected.isEmpty())
        return;
    QList<ManagedObject *> incoming;
    for (auto it = affected.cbegin(); it != affected.cend(); ++it)
        if (it.value())
            incoming.append(it.key());
    sortObjects(incoming, m_request.sortDescriptors);
    const QList<SortDescriptor> &descriptors = m_request.sortDescriptors;
    QList<ManagedObject *> updated;
    updated.reserve(kept.size() + incoming.size());
    int keptIndex = 0;
    for (ManagedObject *object : std::as_const(incoming)) {
        const auto position = std::upper_bound(kept.cbegin() + keptIndex, kept.cend(), object,
                                               [&](ManagedObject *a, ManagedObject *b) {
                                                   return compareObjects(a, b, descriptors) < 0;
                                               });
        const int until = int(position - kept.cbegin());
        for (; keptIndex < until; ++keptIndex)
            updated.append(kept[keptIndex]);
        updated.append(object);
    }
    for (; keptIndex < kept.size(); ++keptIndex)
        updated.append(kept[keptIndex]);
    QHash<ManagedObject *, int> newRows;
    for (int row = 0; row < updated.size(); ++row)
        if (affected.contains(updated[row]))
            newRows.insert(updated[row], row);

    // Objects that stay in the list are updates unless their place among the
    // objects that stay changed; those are moves (a delete and an insert).
    QSet<ManagedObject *> stationary;
    for (auto it = affected.cbegin(); it != affected.cend(); ++it)
        if (it.value() && oldRows.contains(it.key()) && !moved.contains(it.key()))
            stationary.insert(it.key());
    // The objects that stay (kept ones and stationary updates) must come in
    // the same order before and after. Kept objects keep their order, so it
    // is enough that each stationary object has the same rank among the
    // objects that stay in both lists: its row less the rows taken, before
    // it, by objects that leave (old list) or arrive (new list).
    for (;;) {
        std::vector<int> leaving, arriving;
        for (auto it = affected.cbegin(); it != affected.cend(); ++it) {
            if (stationary.contains(it.key()))
                continue;
            if (oldRows.contains(it.key()))
                leaving.push_back(oldRows.value(it.key()));
            if (newRows.contains(it.key()))
                arriving.push_back(newRows.value(it.key()));
        }
        std::sort(leaving.begin(), leaving.end());
        std::sort(arriving.begin(), arriving.end());
        auto rank = [](int row, const std::vector<int> &others) {
            return row - int(std::lower_bound(others.begin(), others.end(), row) - others.begin());
        };
        QSet<ManagedObject *> misplaced;
        for (ManagedObject *object : std::as_const(stationary))
            if (rank(oldRows.value(object), leaving) != rank(newRows.value(object), arriving))
                misplaced.insert(object);
        if (misplaced.isEmpty())
            break;
        stationary.subtract(misplaced);
    }

    struct Report {
        ManagedObject *object;
        std::optional<int> oldRow;
        FetchedResultsControllerDelegate::ChangeType type;
        std::optional<int> newRow;
    };
    QList<Report> reports;
    using ChangeType = FetchedResultsControllerDelegate::ChangeType;
    for (auto it = affected.cbegin(); it != affected.cend(); ++it) {
        ManagedObject *object = it.key();
        const bool wasIn = oldRows.contains(object);
        const bool isIn = it.value();
        if (wasIn && !isIn)
            reports.append({object, oldRows.value(object), ChangeType::Delete, std::nullopt});
        else if (!wasIn && isIn)
            reports.append({object, std::nullopt, ChangeType::Insert, newRows.value(object)});
        else if (wasIn && isIn)
            reports.append({object, oldRows.value(object), stationary.contains(object) ? ChangeType::Update : ChangeType::Move,
                            newRows.value(object)});
    }
    m_objects = std::move(updated);
    if (reports.isEmpty() || !m_delegate)
        return;
    std::sort(reports.begin(), reports.end(), [](const Report &a, const Report &b) {
        return a.object->sequence() < b.object->sequence();
    });
    m_delegate->controllerWillChangeContent(this);
    for (const Report &report : std::as_const(reports))
        m_delegate->controllerDidChangeObject(this, report.object, report.oldRow, report.type, report.newRow);
    m_delegate->controllerDidChangeContent(this);
}

void FetchedResultsController::insertNewObjects(const QHash<ManagedObject *, bool> &affected)
{
    // The listed objects all stay where they are, so the new ones are laid
    // into the list by their places alone: nothing else of the list (a
    // hundred thousand cases during a restore) is looked up for each batch.
    QList<ManagedObject *> incoming;
    for (auto it = affected.cbegin(); it != affected.cend(); ++it)
        if (it.value())
            incoming.append(it.key());
    if (incoming.isEmpty())
        return;
    const QList<SortDescriptor> &descriptors = m_request.sortDescriptors;
    sortObjects(incoming, descriptors);
    QList<ManagedObject *> updated;
    updated.reserve(m_objects.size() + incoming.size());
    QList<std::pair<ManagedObject *, int>> rows;
    rows.reserve(incoming.size());
    auto listed = m_objects.cbegin();
    for (ManagedObject *object : std::as_const(incoming)) {
        const auto position = std::upper_bound(listed, m_objects.cend(), object, [&](ManagedObject *a, ManagedObject *b) {
            return compareObjects(a, b, descriptors) < 0;
        });
        std::copy(listed, position, std::back_inserter(updated));
        listed = position;
        rows.append({object, int(updated.size())});
        updated.append(object);
    }
    std::copy(listed, m_objects.cend(), std::back_inserter(updated));
    m_objects = std::move(updated);
    if (!m_delegate)
        return;
    std::sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) { return a.first->sequence() < b.first->sequence(); });
    m_delegate->controllerWillChangeContent(this);
    for (const auto &[object, row] : std::as_const(rows))
        m_delegate->controllerDidChangeObject(this, object, std::nullopt, FetchedResultsControllerDelegate::ChangeType::Insert, row);
    m_delegate->controllerDidChangeContent(this);
}

} // namespace ovalis
