#include "library/LibraryWithTagsViewController.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QPointer>
#include <QSet>
#include <algorithm>
#include <climits>

#include "library/CaseLine.h"
#include "library/CaseListDragAndDrop.h"
#include "library/CaseTableModel.h"
#include "library/LibraryQuery.h"
#include "library/Randomiser.h"
#include "library/TagTableModel.h"
#include "media/MediaDragAndDrop.h"
#include "media/MediaFileImport.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/LibraryNotifications.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/Tag.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/SerialQueue.h"
#include "util/UndoManager.h"

namespace ovalis {

namespace {

const QString casesCacheName = QStringLiteral("Library cases with tags cache");
const QString tagsCacheName = QStringLiteral("Tags cache");
const QString ageOrderKey = QStringLiteral("dateOfBirth");

QList<Tag *> asTags(const QList<ManagedObject *> &objects)
{
    QList<Tag *> tags;
    tags.reserve(objects.size());
    for (ManagedObject *object : objects)
        tags.append(static_cast<Tag *>(object));
    return tags;
}

// The selected rows of a selection model, ascending and distinct.
QList<int> selectedRows(const QItemSelectionModel *selection)
{
    QList<int> rows;
    for (const QItemSelectionRange &range : selection->selection())
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

// Whole rows, as contiguous ranges.
QItemSelection rowSelection(const QAbstractItemModel *model, QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QItemSelection selection;
    const int lastColumn = model->columnCount() - 1;
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
            ++j;
        selection.select(model->index(rows[i], 0), model->index(rows[j], lastColumn));
        i = j + 1;
    }
    return selection;
}

// The label a tag term compares with: an absent label is the empty text.
QString termLabel(const Tag *tag)
{
    const QString label = tag->label();
    return label.isNull() ? QStringLiteral("") : label;
}

} // namespace

LibraryWithTagsViewController::LibraryWithTagsViewController(ManagedObjectContext *context, QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_casesModel(new CaseTableModel(this))
    , m_tagsModel(new TagTableModel(this))
    , m_casesSelection(new QItemSelectionModel(m_casesModel, this))
    , m_tagsSelection(new QItemSelectionModel(m_tagsModel, this))
    , m_randomiser(&Randomiser::shared())
{
    // Cases travel in the drop signals, also to queued connections.
    qRegisterMetaType<ovalis::Case *>();
    m_casesModel->setSource([this] {
        if (usesAgeOrder())
            return m_customSortedCases;
        return m_casesController ? m_casesController->fetchedObjects() : QList<ManagedObject *>();
    });
    m_tagsModel->setSource(
        [this] { return m_tagsController ? m_tagsController->fetchedObjects() : QList<ManagedObject *>(); });
    connect(m_casesModel, &CaseTableModel::sortRequested, this, &LibraryWithTagsViewController::setCaseSortDescriptors);
}

LibraryWithTagsViewController::~LibraryWithTagsViewController()
{
    // The models read the controllers; nothing may read them once they are gone.
    m_casesModel->setSource({});
    m_tagsModel->setSource({});
}

// --- Set-up and observers ---------------------------------------------------

void LibraryWithTagsViewController::viewDidLoad(const QList<SortDescriptor> &initialSort)
{
    m_sortDescriptors = initialSort;

    Log::info(LogArea::UI, QStringLiteral("Set up Cases FRC"));
    m_casesController = std::make_unique<CaseResultsController>(
        FetchRequest{Case::entityName(), Predicate(), m_sortDescriptors, std::nullopt, false}, m_context, casesCacheName);
    m_casesController->setDelegate(this);
    QString error;
    if (!m_casesController->performFetch(&error))
        qFatal("%s", qPrintable(QStringLiteral("Failed to initialize Cases FetchedResultsController: ") + error));
    recomputeAgeOrder();

    Log::info(LogArea::UI, QStringLiteral("Set up Tags FRC"));
    const SortDescriptor byLabel{QStringLiteral("label"), true, SortDescriptor::Comparator::CaseInsensitive};
    m_tagsController = std::make_unique<FetchedResultsController>(
        FetchRequest{Tag::entityName(), Predicate(), {byLabel}, std::nullopt, false}, m_context, tagsCacheName);
    m_tagsController->setDelegate(this);
    if (!m_tagsController->performFetch(&error))
        qFatal("%s", qPrintable(QStringLiteral("Failed to initialize Tags FetchedResultsController: ") + error));

    m_casesModel->reload();
    m_tagsModel->reload();
}

void LibraryWithTagsViewController::viewWillAppear()
{
    NotificationCenter &center = NotificationCenter::defaultCenter();
    // "Updated Tag" is posted while a tag is being inserted, before its label
    // is set, so its work and that of "Updated Tag from Detail" run later on
    // the main thread (not at all once the observers are gone).
    const auto onMainThreadLater = [this](void (LibraryWithTagsViewController::*handler)()) {
        return [this, handler](const Notification &) {
            QMetaObject::invokeMethod(
                this,
                [this, handler] {
                    if (m_observing)
                        (this->*handler)();
                },
                Qt::QueuedConnection);
        };
    };
    // A background import posts it for every tag it makes: one check on the
    // main thread serves every post that arrives before it runs.
    m_updatedTagToken = center.addObserver(LibraryNotifications::updatedTag, nullptr,
                                           [this](const Notification &) { scheduleTagsArrived(); });
    m_updatedTagInDetailToken = center.addObserver(LibraryNotifications::updatedTagFromDetail, nullptr,
                                                   onMainThreadLater(&LibraryWithTagsViewController::updatedTagFromDetail));
    // The posters of "Updated Tag Activity" (tag commands, the window's reset,
    // find) go on to select cases in the re-queried list, so a post on the
    // main thread re-queries before it returns; one from another thread is
    // handled on the main thread.
    m_updatedTagActiveToken = center.addObserver(
        LibraryNotifications::updatedTagActivity, nullptr, [this](const Notification &) { updatedTagActivity(); },
        NotificationCenter::Delivery::MainThread);
    m_selectRandomCaseToken = center.addObserver(
        LibraryNotifications::selectRandomCase, nullptr, [this](const Notification &) { selectRandomCase(); },
        NotificationCenter::Delivery::MainThread);
    // Tags made elsewhere (a folder import, a restore, another program) post
    // "Updated Tag" while they are still on their way here; their activity is
    // worked out once they have arrived in this context.
    const QMetaObject::Connection arrived = connect(m_context, &ManagedObjectContext::objectsDidChange, this,
                                                    &LibraryWithTagsViewController::tagsMayHaveArrived);
    m_tagsArrivedToken = ObserverToken([arrived] { QObject::disconnect(arrived); });
    m_observing = true;
}

void LibraryWithTagsViewController::viewDidDisappear()
{
    Log::info(LogArea::TearDown, QStringLiteral("Tear down observers"));
    m_observing = false;
    m_updatedTagToken.reset();
    m_updatedTagInDetailToken.reset();
    m_updatedTagActiveToken.reset();
    m_selectRandomCaseToken.reset();
    m_tagsArrivedToken.reset();
}

void LibraryWithTagsViewController::updatedTag()
{
    refreshTagActivity();
    updateTagsPredicate();
    const QList<Case *> selected = selectedCases();
    emit detailTagLabelsChanged(selected.size() == 1 ? tagLabelsSorted(selected.first()) : QStringList());
}

void LibraryWithTagsViewController::tagsMayHaveArrived(const ObjectsChange &change)
{
    const bool tagsInserted = std::any_of(change.inserted.cbegin(), change.inserted.cend(), [](const ManagedObject *object) {
        return object->entityName() == Tag::entityName();
    });
    if (tagsInserted)
        scheduleTagsArrived(); // after the live lists have taken in the batch
}

void LibraryWithTagsViewController::scheduleTagsArrived()
{
    if (m_tagsArrivalQueued.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_tagsArrivalQueued = false;
            if (m_observing)
                tagsArrived();
        },
        Qt::QueuedConnection);
}

void LibraryWithTagsViewController::tagsArrived()
{
    // While no tag filters the list, every tag is listed and has active
    // cases: the new tags are already in the list, and only their own flag
    // needs setting. Fetching every tag again for each batch of an import
    // would hold up the window for a tenth of a second each time.
    const QList<ManagedObject *> listed = m_tagsController ? m_tagsController->fetchedObjects() : QList<ManagedObject *>();
    const bool unfiltered = m_tagsController && m_tagsController->fetchRequest().predicate.isNull()
                            && std::none_of(listed.cbegin(), listed.cend(), [](const ManagedObject *object) {
                                   return static_cast<const Tag *>(object)->active();
                               });
    if (!unfiltered) {
        updatedTag();
        return;
    }
    for (ManagedObject *object : listed)
        if (Tag *tag = static_cast<Tag *>(object); !tag->hasActiveCases())
            tag->setHasActiveCases(true);
    const QList<Case *> selected = selectedCases();
    emit detailTagLabelsChanged(selected.size() == 1 ? tagLabelsSorted(selected.first()) : QStringList());
}

void LibraryWithTagsViewController::updatedTagFromDetail()
{
    refreshTagActivity();
    updateTagsPredicate();
}

void LibraryWithTagsViewController::updatedTagActivity()
{
    updateTagsPredicate();
    m_storedSelectedCases = selectedCases();
    updateCasesPredicate();
    restoreSelection();
}

// --- Rows and cases ---------------------------------------------------------

QList<Case *> LibraryWithTagsViewController::displayedCases() const
{
    const QList<ManagedObject *> &objects = displayedObjects();
    QList<Case *> cases;
    cases.reserve(objects.size());
    for (ManagedObject *object : objects)
        cases.append(static_cast<Case *>(object));
    return cases;
}

const QList<ManagedObject *> &LibraryWithTagsViewController::displayedObjects() const
{
    static const QList<ManagedObject *> none;
    if (usesAgeOrder())
        return m_customSortedCases;
    return m_casesController ? m_casesController->fetchedObjects() : none;
}

QList<Case *> LibraryWithTagsViewController::selectedCases() const
{
    // The rows are those the table shows, which are displayedCases except
    // while a batch of store changes is being applied.
    QList<Case *> cases;
    for (int row : selectedRows(m_casesSelection)) {
        if (Case *item = m_casesModel->caseAtRow(row))
            cases.append(item);
        else
            Log::error(LogArea::UI, QStringLiteral("Can't get case from array"));
    }
    return cases;
}

Case *LibraryWithTagsViewController::caseAtRow(int row) const
{
    Case *item = m_casesModel->caseAtRow(row);
    if (!item)
        Log::error(LogArea::UI, QStringLiteral("Can't get case from array"));
    return item;
}

Tag *LibraryWithTagsViewController::tagAtRow(int row) const
{
    Tag *tag = m_tagsModel->tagAtRow(row);
    if (!tag)
        Log::error(LogArea::UI, QStringLiteral("Can't get tag from array"));
    return tag;
}

int LibraryWithTagsViewController::rowOfCase(const Case *item) const
{
    return m_casesModel->rowOfObject(item);
}

// --- Predicates -------------------------------------------------------------

bool LibraryWithTagsViewController::usesAgeOrder() const
{
    return !m_sortDescriptors.isEmpty() && m_sortDescriptors.first().key == ageOrderKey;
}

Predicate LibraryWithTagsViewController::casePredicate() const
{
    QStringList labels;
    for (const Tag *tag : Tag::activeTags(m_context))
        labels.append(termLabel(tag));
    return LibraryQuery::casePredicate(labels, m_searchPredicate);
}

Predicate LibraryWithTagsViewController::tagPredicate() const
{
    return tagPredicateWithTerms(nullptr);
}

Predicate LibraryWithTagsViewController::tagPredicateWithTerms(int *termCount) const
{
    if (termCount)
        *termCount = 0;
    const QList<Tag *> tags = asTags(m_context->arrayOfObjects(Tag::entityName()));
    if (std::none_of(tags.cbegin(), tags.cend(), [](const Tag *tag) { return tag->active(); }))
        return Predicate();
    QList<Predicate> terms;
    for (const Tag *tag : tags) {
        if (!tag->hasActiveCases())
            continue;
        const QString label = tag->label();
        terms.append(Predicate::fromFormat(QStringLiteral("label == %@"), {label.isNull() ? QVariant() : QVariant(label)}));
    }
    if (terms.isEmpty() || terms.size() == tags.size())
        return Predicate();
    if (termCount)
        *termCount = int(terms.size());
    return Predicate::orPredicate(terms);
}

// --- Tag activity -----------------------------------------------------------

void LibraryWithTagsViewController::refreshTagActivity()
{
    if (!m_context)
        return;
    const QList<Tag *> tags = asTags(m_context->arrayOfObjects(Tag::entityName()));
    QStringList activeLabels;
    for (const Tag *tag : tags)
        if (tag->active())
            activeLabels.append(termLabel(tag));

    // A tag has active cases when a case carrying every active tag also
    // carries a tag with its label: one query for every tag instead of one
    // per tag. A failed fetch counts as no cases.
    QSet<QString> labelsOnActiveCases;
    if (!activeLabels.isEmpty()) {
        if (storedTaggingIsCurrent()) {
            // The store answers: the tags that share a case with every active tag.
            QStringList terms;
            QVariantList arguments;
            for (const QString &label : std::as_const(activeLabels)) {
                terms.append(QStringLiteral("ANY $c.tags.label == %@"));
                arguments.append(label);
            }
            const Predicate sharesAnActiveCase = Predicate::fromFormat(
                QStringLiteral("SUBQUERY(cases, $c, %1).@count > 0").arg(terms.join(QStringLiteral(" AND "))), arguments);
            for (ManagedObject *object : m_context->arrayOfObjects(Tag::entityName(), sharesAnActiveCase))
                if (const QString label = static_cast<Tag *>(object)->label(); !label.isNull())
                    labelsOnActiveCases.insert(label);
        } else {
            // Tagging edited since the last save: the cases' tags as this context has them.
            const Predicate carriesActiveTags = LibraryQuery::casePredicate(activeLabels, Predicate());
            for (ManagedObject *object : m_context->arrayOfObjects(Case::entityName(), carriesActiveTags))
                for (const Tag *tag : static_cast<Case *>(object)->tags())
                    if (const QString label = tag->label(); !label.isNull())
                        labelsOnActiveCases.insert(label);
        }
    }
    for (Tag *tag : tags) {
        const bool hasActiveCases =
            activeLabels.isEmpty() || (tag->managedObjectContext() && labelsOnActiveCases.contains(termLabel(tag)));
        if (tag->hasActiveCases() != hasActiveCases)
            tag->setHasActiveCases(hasActiveCases);
    }
}

bool LibraryWithTagsViewController::storedTaggingIsCurrent() const
{
    const auto isCaseOrTag = [](const ManagedObject *object) {
        return object->entityName() == Case::entityName() || object->entityName() == Tag::entityName();
    };
    const QList<ManagedObject *> inserted = m_context->insertedObjects();
    const QList<ManagedObject *> deleted = m_context->deletedObjects();
    if (std::any_of(inserted.cbegin(), inserted.cend(), isCaseOrTag) || std::any_of(deleted.cbegin(), deleted.cend(), isCaseOrTag))
        return false;
    for (const ManagedObject *object : m_context->updatedObjects()) {
        const QStringList keys = object->changedKeys();
        if (object->entityName() == Case::entityName() && keys.contains(QStringLiteral("tags")))
            return false;
        if (object->entityName() == Tag::entityName()
            && (keys.contains(QStringLiteral("label")) || keys.contains(QStringLiteral("cases"))))
            return false;
    }
    return true;
}

void LibraryWithTagsViewController::toggleTagActivity(int tagRow)
{
    if (tagRow < 0)
        return; // no row selected
    Tag *tag = tagAtRow(tagRow);
    if (!tag)
        return;
    tag->setActive(!tag->active());
    refreshTagActivity();
    refreshFilters();
}

void LibraryWithTagsViewController::toggleTagFiltering(int tagRow)
{
    Tag *tag = tagAtRow(tagRow);
    if (!tag)
        return;
    tag->setActive(!tag->active());
    refreshTagActivity();
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedTagActivity);
}

void LibraryWithTagsViewController::filterTagsToSelection()
{
    QList<Tag *> collected;
    QSet<Tag *> seen;
    for (const Case *item : selectedCases())
        for (Tag *tag : item->tags())
            if (!seen.contains(tag)) {
                seen.insert(tag);
                collected.append(tag);
            }
    for (Tag *tag : asTags(m_context->arrayOfObjects(Tag::entityName()))) {
        if (tag->active())
            tag->setActive(false);
        if (tag->hasActiveCases())
            tag->setHasActiveCases(false);
    }
    for (Tag *tag : std::as_const(collected))
        tag->setActive(true);
    refreshTagActivity();
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedTagActivity);
}

// --- Re-queries -------------------------------------------------------------

void LibraryWithTagsViewController::updateTagsPredicate()
{
    if (!m_tagsController)
        return;
    int termCount = 0;
    const Predicate predicate = tagPredicateWithTerms(&termCount);
    if (termCount > 0)
        Log::info(LogArea::UI, QStringLiteral("Update tags FRC predicate (") + QString::number(termCount));
    // Every search keystroke comes here, and mostly the same tags are to be
    // listed: the list follows its tags' own changes, so it is fetched and
    // laid out again (2,000 rows, their counts sized) only for other tags.
    if (m_tagsController->hasFetched() && predicate.format() == m_tagsController->fetchRequest().predicate.format()) {
        Log::info(LogArea::UI, QStringLiteral("Update UI for tags FRC changed"));
        m_tagsModel->refreshCountsForActiveTags();
        return;
    }
    // The tag list keeps its selection across the re-query, so that Return
    // can switch the same tag back.
    QList<ManagedObject *> selectedTags;
    for (int row : selectedRows(m_tagsSelection))
        if (ManagedObject *tag = m_tagsModel->objectAtRow(row))
            selectedTags.append(tag);
    QString error;
    if (!m_tagsController->setPredicate(predicate, &error))
        qFatal("%s", qPrintable(QStringLiteral("Failed to update Tags FRC with new predicate: ") + error));
    Log::info(LogArea::UI, QStringLiteral("Update UI for tags FRC changed"));
    m_tagsModel->reload();
    QList<int> rows;
    for (ManagedObject *tag : std::as_const(selectedTags))
        if (const int row = m_tagsModel->rowOfObject(tag); row >= 0)
            rows.append(row);
    if (!rows.isEmpty())
        m_tagsSelection->select(rowSelection(m_tagsModel, rows), QItemSelectionModel::ClearAndSelect);
}

void LibraryWithTagsViewController::updateCasesPredicate()
{
    if (!m_casesController)
        return;
    const Predicate predicate = casePredicate();
    Log::info(LogArea::UI, QStringLiteral("Compound tags/search predicate =\r") + predicate.format());
    QString error;
    if (!m_casesController->setPredicate(predicate, &error))
        qFatal("%s", qPrintable(QStringLiteral("Failed to update Cases FRC with new predicate: ") + error));
    recomputeAgeOrder();
    Log::info(LogArea::UI, QStringLiteral("Update UI for cases FRC changed"));
    m_casesModel->reload();
    emit casesReloaded();
    updateCaseCount();
}

void LibraryWithTagsViewController::refreshFilters()
{
    updateTagsPredicate();
    m_storedSelectedCases = selectedCases();
    updateCasesPredicate();
    restoreSelection();
}

// --- Selection --------------------------------------------------------------

void LibraryWithTagsViewController::restoreSelection()
{
    const QList<ManagedObject *> &displayed = displayedObjects();
    QList<int> rows;
    rows.reserve(m_storedSelectedCases.size());
    if (m_storedSelectedCases.size() <= 8) {
        for (const Case *item : std::as_const(m_storedSelectedCases))
            if (const qsizetype row = displayed.indexOf(const_cast<Case *>(item)); row >= 0)
                rows.append(int(row));
    } else {
        // Many cases (a whole list selected): one pass over the list.
        QHash<const ManagedObject *, int> firstRows;
        for (const Case *item : std::as_const(m_storedSelectedCases))
            firstRows.insert(item, -1);
        for (int row = 0; row < displayed.size(); ++row) {
            auto it = firstRows.find(displayed[row]);
            if (it != firstRows.end() && it.value() < 0)
                it.value() = row;
        }
        for (const Case *item : std::as_const(m_storedSelectedCases))
            if (const int row = firstRows.value(item, -1); row >= 0)
                rows.append(row);
    }
    selectCaseRows(rows);
}

void LibraryWithTagsViewController::selectCaseRows(const QList<int> &rows)
{
    QList<int> listed;
    listed.reserve(rows.size());
    for (int row : rows)
        if (row >= 0 && row < m_casesModel->rowCount())
            listed.append(row);
    const QItemSelection selection = rowSelection(m_casesModel, listed);
    if (selection != m_casesSelection->selection()) {
        if (selection.isEmpty())
            m_casesSelection->clearSelection();
        else
            m_casesSelection->select(selection, QItemSelectionModel::ClearAndSelect);
    }
    if (!listed.isEmpty()) {
        const int last = *std::max_element(listed.cbegin(), listed.cend());
        m_casesSelection->setCurrentIndex(m_casesModel->index(last, 0), QItemSelectionModel::NoUpdate);
    }
    // The table scrolls once the selection has been drawn: to the selected
    // row as it is then (the last one), when there still is one.
    QMetaObject::invokeMethod(
        this,
        [this] {
            const QList<int> selected = selectedRows(m_casesSelection);
            if (!selected.isEmpty())
                emit scrollToCaseRowRequested(selected.last());
        },
        Qt::QueuedConnection);
}

bool LibraryWithTagsViewController::selectCase(Case *item)
{
    const int row = rowOfCase(item);
    if (row < 0)
        return false;
    selectCaseRows({row});
    return true;
}

void LibraryWithTagsViewController::selectRandomCase()
{
    QList<Case *> candidates;
    for (ManagedObject *object : displayedObjects()) {
        auto *item = static_cast<Case *>(object);
        if (item->hasMedia())
            candidates.append(item);
    }
    if (Case *picked = m_randomiser->randomCase(candidates))
        selectCase(picked);
}

// --- Orders -----------------------------------------------------------------

void LibraryWithTagsViewController::recomputeAgeOrder()
{
    if (!usesAgeOrder() || !m_casesController) {
        m_customSortedCases.clear();
        m_identifierKeys.clear();
        return;
    }
    const auto descriptor = std::find_if(m_sortDescriptors.cbegin(), m_sortDescriptors.cend(),
                                         [](const SortDescriptor &d) { return d.key == ageOrderKey; });
    QList<Case *> cases;
    const QList<ManagedObject *> &fetched = m_casesController->fetchedObjects();
    cases.reserve(fetched.size());
    for (ManagedObject *object : fetched)
        cases.append(static_cast<Case *>(object));
    LibraryQuery::sortByAge(cases, descriptor->ascending, &m_identifierKeys);
    m_customSortedCases.clear();
    m_customSortedCases.reserve(cases.size());
    for (Case *item : std::as_const(cases))
        m_customSortedCases.append(item);
}

void LibraryWithTagsViewController::updateAgeOrder()
{
    // The same order as recomputeAgeOrder gives, without sorting every case:
    // the cases the batch did not change keep their order among themselves,
    // and each changed case still listed goes in by binary search. Equal ages
    // and identifiers keep the live list's order, as the stable sort does.
    const QList<ManagedObject *> &live = m_casesController->fetchedObjects();
    if (m_customSortedCases.isEmpty() || m_ageOrderChanges.size() * 8 > live.size()) {
        recomputeAgeOrder();
        return;
    }
    const bool ascending = std::find_if(m_sortDescriptors.cbegin(), m_sortDescriptors.cend(), [](const SortDescriptor &d) {
                               return d.key == ageOrderKey;
                           })->ascending;
    const QSet<ManagedObject *> changed(m_ageOrderChanges.cbegin(), m_ageOrderChanges.cend());
    QList<ManagedObject *> kept;
    kept.reserve(live.size());
    for (ManagedObject *object : std::as_const(m_customSortedCases))
        if (!changed.contains(object))
            kept.append(object);
    std::optional<QHash<const ManagedObject *, int>> liveRows; // made on the first tie
    const auto liveRow = [&](const ManagedObject *object) {
        if (!liveRows) {
            liveRows.emplace();
            liveRows->reserve(live.size());
            for (int row = 0; row < live.size(); ++row)
                liveRows->insert(live[row], row);
        }
        return liveRows->value(object, -1);
    };
    const auto before = [&](ManagedObject *a, ManagedObject *b) {
        const double ageA = static_cast<Case *>(a)->age();
        const double ageB = static_cast<Case *>(b)->age();
        if (ageA != ageB)
            return ascending ? ageA < ageB : ageA > ageB;
        const int order = LibraryQuery::identifierKey(static_cast<Case *>(a), m_identifierKeys)
                              .compare(LibraryQuery::identifierKey(static_cast<Case *>(b), m_identifierKeys));
        return order != 0 ? order < 0 : liveRow(a) < liveRow(b);
    };
    QList<ManagedObject *> arriving;
    for (ManagedObject *object : changed)
        if (!m_ageOrderLeaving.contains(object))
            arriving.append(object);
    std::sort(arriving.begin(), arriving.end(), before);
    QList<ManagedObject *> merged;
    merged.reserve(kept.size() + arriving.size());
    auto from = kept.cbegin();
    for (ManagedObject *object : std::as_const(arriving)) {
        const auto until = std::upper_bound(from, kept.cend(), object, before);
        merged.append(QList<ManagedObject *>(from, until));
        merged.append(object);
        from = until;
    }
    merged.append(QList<ManagedObject *>(from, kept.cend()));
    m_customSortedCases = std::move(merged);
}

void LibraryWithTagsViewController::setCaseSortDescriptors(const QList<SortDescriptor> &descriptors)
{
    Log::info(LogArea::UI, QStringLiteral("Sort descriptors changed to ") + describeSortDescriptors(descriptors));
    const QList<SortDescriptor> previous = m_sortDescriptors;
    m_sortDescriptors = descriptors;
    // The same cases stay selected in their new rows.
    m_storedSelectedCases = selectedCases();
    // The table announces its sort once more when sorting is switched on; the
    // list is already in that order, so 100,000 cases are not fetched again.
    const bool alreadySorted = m_casesController && m_casesController->fetchRequest().sortDescriptors == descriptors;
    if (m_casesController && !usesAgeOrder() && !alreadySorted) {
        const QList<SortDescriptor> previousFetchSort = m_casesController->fetchRequest().sortDescriptors;
        m_casesController->fetchRequest().sortDescriptors = descriptors;
        m_casesController->clearCache();
        QString error;
        if (!m_casesController->performFetch(&error)) {
            Log::error(LogArea::UI, QStringLiteral("Failed to re-specify sort controllers: ") + error);
            // The table still shows the previous order; the rows keep mapping to it.
            m_sortDescriptors = previous;
            m_casesController->fetchRequest().sortDescriptors = previousFetchSort;
            return;
        }
    }
    // The live list keeps its own sort while the age order is shown.
    recomputeAgeOrder();
    m_casesModel->reload();
    restoreSelection();
}

// --- Count ------------------------------------------------------------------

QString LibraryWithTagsViewController::caseCountText() const
{
    const qsizetype count = displayedObjects().size();
    return QStringLiteral("Showing %1 %2").arg(count).arg(count == 1 ? QStringLiteral("case") : QStringLiteral("cases"));
}

bool LibraryWithTagsViewController::libraryIsEmpty() const
{
    return displayedObjects().isEmpty() && m_context->countOfObjects(Case::entityName()) == 0;
}

void LibraryWithTagsViewController::updateCaseCount()
{
    emit caseCountChanged(caseCountText());
}

QStringList LibraryWithTagsViewController::tagLabelsSorted(const Case *item)
{
    QStringList labels;
    if (!item)
        return labels;
    for (const Tag *tag : item->tags()) {
        const QString label = tag->label();
        if (!label.isNull())
            labels.append(label);
    }
    std::sort(labels.begin(), labels.end());
    return labels;
}

// --- Batches of store changes -----------------------------------------------

void LibraryWithTagsViewController::controllerWillChangeContent(FetchedResultsController *controller)
{
    if (controller == m_casesController.get()) {
        m_storedSelectedCases = selectedCases();
        m_casesFRCChangeConsolidator.emplace();
        m_ageOrderChanges.clear();
        m_ageOrderLeaving.clear();
    } else if (controller == m_tagsController.get()) {
        m_tagsFRCChangeConsolidator.emplace();
    } else {
        Log::info(LogArea::UI, QStringLiteral("Not implemented"));
    }
}

void LibraryWithTagsViewController::controllerDidChangeObject(FetchedResultsController *controller, ManagedObject *object,
                                                              std::optional<int> oldRow, ChangeType type,
                                                              std::optional<int> newRow)
{
    if (controller == m_casesController.get()) {
        if (!m_casesFRCChangeConsolidator)
            return;
        if (usesAgeOrder()) {
            m_ageOrderChanges.append(object); // rows of the live list are not the rows shown
            if (type == ChangeType::Delete)
                m_ageOrderLeaving.insert(object);
        } else
            m_casesFRCChangeConsolidator->recordChange(type, oldRow, newRow);
    } else if (controller == m_tagsController.get()) {
        if (m_tagsFRCChangeConsolidator)
            m_tagsFRCChangeConsolidator->recordChange(type, oldRow, newRow);
    } else {
        Log::info(LogArea::UI, QStringLiteral("Not implemented"));
    }
}

void LibraryWithTagsViewController::controllerDidChangeContent(FetchedResultsController *controller)
{
    if (controller == m_casesController.get()) {
        if (!m_casesFRCChangeConsolidator)
            return;
        if (usesAgeOrder()) {
            updateAgeOrder();
            recordAgeOrderChanges();
        } else {
            recomputeAgeOrder();
        }
        m_casesFRCChangeConsolidator->apply(*m_casesModel);
        restoreSelection();
        updateCaseCount();
    } else if (controller == m_tagsController.get()) {
        if (m_tagsFRCChangeConsolidator)
            m_tagsFRCChangeConsolidator->apply(*m_tagsModel);
    } else {
        Log::info(LogArea::UI, QStringLiteral("Not implemented"));
    }
}

void LibraryWithTagsViewController::recordAgeOrderChanges()
{
    // The changed cases' rows in the table as shown (the old age order) and
    // in the new age order. The cases that did not change keep their order
    // among themselves, so removing every changed case from its old row and
    // inserting each that is still listed at its new row gives the new list.
    const QSet<ManagedObject *> changed(m_ageOrderChanges.cbegin(), m_ageOrderChanges.cend());
    const auto rowsOfChanged = [&changed](const QList<ManagedObject *> &list) {
        QHash<ManagedObject *, int> rows;
        for (int row = 0; row < list.size() && rows.size() < changed.size(); ++row)
            if (changed.contains(list[row]))
                rows.insert(list[row], row);
        return rows;
    };
    const QHash<ManagedObject *, int> oldRows = rowsOfChanged(m_casesModel->rows());
    const QHash<ManagedObject *, int> newRows = rowsOfChanged(m_customSortedCases);
    // When every changed case keeps its row, the list is the same and the
    // rows are only redrawn.
    bool sameRows = oldRows.size() == changed.size() && newRows.size() == changed.size();
    for (auto it = oldRows.cbegin(); sameRows && it != oldRows.cend(); ++it)
        sameRows = newRows.value(it.key()) == it.value();
    FRCChangeConsolidator &consolidator = *m_casesFRCChangeConsolidator;
    for (ManagedObject *object : std::as_const(changed)) {
        const auto oldRow = oldRows.find(object);
        const auto newRow = newRows.find(object);
        if (sameRows)
            consolidator.recordChange(ChangeType::Update, oldRow.value(), newRow.value());
        else {
            if (oldRow != oldRows.cend())
                consolidator.recordChange(ChangeType::Delete, oldRow.value(), std::nullopt);
            if (newRow != newRows.cend())
                consolidator.recordChange(ChangeType::Insert, std::nullopt, newRow.value());
        }
    }
}

// --- Commands -----------------------------------------------------------------

void LibraryWithTagsViewController::performUndoable(const QString &actionName, const std::function<void()> &change)
{
    UndoManager *undo = m_context->undoManager();
    if (undo) {
        undo->beginUndoGrouping();
        undo->setActionName(actionName);
    }
    change();
    if (undo)
        undo->endUndoGrouping();
}

void LibraryWithTagsViewController::reloadCases()
{
    Log::info(LogArea::UI, QStringLiteral("Update UI for cases FRC changed"));
    m_casesModel->reload();
    emit casesReloaded();
    updateCaseCount();
}

Case *LibraryWithTagsViewController::addCase()
{
    Log::info(LogArea::CoreData, QStringLiteral("Adding new case"));
    auto *item = static_cast<Case *>(m_context->insertObject(Case::entityName()));
    // The live list takes the case in with the context's next change report;
    // the list is shown with it after that.
    QMetaObject::invokeMethod(
        this,
        [this, item] {
            m_context->processPendingChanges();
            reloadCases();
            selectCase(item);
            emit caseAdded(item);
        },
        Qt::QueuedConnection);
    return item;
}

LibraryWithTagsViewController::Alert LibraryWithTagsViewController::removeCasesAlert(qsizetype count)
{
    return Alert{
        QStringLiteral("Delete Cases"),
        QStringLiteral("Are you sure you want to delete %1 %2 from your library?\n\nThis can not be undone.")
            .arg(count)
            .arg(count == 1 ? QStringLiteral("case") : QStringLiteral("cases")),
        {QStringLiteral("Delete"), QStringLiteral("Cancel")},
    };
}

void LibraryWithTagsViewController::removeCases()
{
    const QList<Case *> cases = selectedCases();
    if (cases.isEmpty())
        return;
    m_context->saveWithParent(true);
    const int cancel = 1;
    if (!m_removeCasesConfirmation || m_removeCasesConfirmation(removeCasesAlert(cases.size())) == cancel)
        return;
    performUndoable(QStringLiteral("Delete Cases"), [&] {
        for (Case *item : cases) {
            Log::info(LogArea::CoreData, QStringLiteral("Deleting ") + item->description());
            m_context->deleteObject(item);
        }
    });
    QString error;
    if (!m_context->save(&error)) {
        // The cases stay deleted in the context; the next save tries again.
        Log::error(LogArea::CoreData, QStringLiteral("Failed to delete cases: ") + error);
        return;
    }
    reloadCases();
}

bool LibraryWithTagsViewController::hasSelectedCases() const
{
    return m_casesSelection->hasSelection();
}

QString LibraryWithTagsViewController::patientIdentifiersText() const
{
    QStringList identifiers;
    for (const Case *item : selectedCases())
        if (const QString id = item->patientID(); !id.isEmpty())
            identifiers.append(id);
    return identifiers.join(QLatin1Char('\n'));
}

void LibraryWithTagsViewController::copy()
{
    if (const QString text = patientIdentifiersText(); !text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void LibraryWithTagsViewController::copyAlternate()
{
    if (const QString text = CaseLine::lines(selectedCases()); !text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void LibraryWithTagsViewController::deleteMediaFiles()
{
    Log::info(LogArea::UI, QStringLiteral("Delete media files"));
    for (const Case *item : selectedCases())
        for (Media *media : item->media())
            media->deleteFile(); // logs a record without a location
    // The grids show the files as missing once they are gone.
    if (CoreDataStack *stack = m_context->stack())
        stack->fileDeletionQueue()->async([] { NotificationCenter::defaultCenter().post(LibraryNotifications::updatedMedia); });
}

QList<ObjectID> LibraryWithTagsViewController::savedSelectedCaseIDs()
{
    // The child finds the cases by their permanent identifiers.
    if (m_context->hasChanges())
        m_context->saveWithParent(true);
    QList<ObjectID> ids;
    for (const Case *item : selectedCases())
        ids.append(item->objectID());
    return ids;
}

void LibraryWithTagsViewController::exportMedia(const QUrl &folder,
                                                std::function<void(const JSONImporter::MediaExportSummary &)> finished)
{
    const QList<ObjectID> ids = savedSelectedCaseIDs();
    if (!ids.isEmpty())
        JSONImporter(folder).exportMedia(ids, m_context, std::move(finished));
}

void LibraryWithTagsViewController::exportForTeaching(const QString &folder,
                                                      std::function<void(const TeachingExport::Summary &)> finished)
{
    const QList<ObjectID> ids = savedSelectedCaseIDs();
    if (!ids.isEmpty())
        TeachingExport::exportCases(ids, m_context, folder, std::move(finished));
}

Tag *LibraryWithTagsViewController::tagToRename(int tagRow)
{
    Log::info(LogArea::UI, QStringLiteral("Rename tag at index: ") + QString::number(tagRow));
    Tag *tag = tagAtRow(tagRow);
    if (tag)
        Log::info(LogArea::UI, QStringLiteral("Rename ") + tag->description());
    return tag;
}

bool LibraryWithTagsViewController::renameTag(Tag *tag, const QString &name)
{
    const QString label = name.trimmed();
    if (label.isEmpty())
        return false;
    ManagedObjectContext *context = tag ? tag->managedObjectContext() : nullptr;
    if (!context) {
        Log::error(LogArea::UI, QStringLiteral("No tag or MOC"));
        return true;
    }
    performUndoable(QStringLiteral("Rename Tag"), [&] { tag->setLabel(label); });
    context->saveWithParent(true);
    // The re-query that follows redraws the cases with the new label.
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedTagActivity);
    return true;
}

void LibraryWithTagsViewController::deleteTag(int tagRow)
{
    Tag *tag = tagAtRow(tagRow);
    if (!tag)
        return;
    Log::info(LogArea::UI, QStringLiteral("Delete tag at index: %1 (%2)").arg(tagRow).arg(tag->description()));
    performUndoable(QStringLiteral("Delete Tag"), [&] { m_context->deleteObject(tag); });
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedTagActivity);
}

void LibraryWithTagsViewController::deleteUnusedTags()
{
    Log::info(LogArea::UI, QStringLiteral("Delete unused tags"));
    const QList<ManagedObject *> unused =
        m_context->arrayOfObjects(Tag::entityName(), Predicate::fromFormat(QStringLiteral("cases.@count == 0")));
    if (unused.isEmpty())
        return;
    performUndoable(QStringLiteral("Delete Unused Tags"), [&] {
        for (Tag *tag : asTags(unused)) {
            const QString label = tag->label();
            Log::info(LogArea::CoreData, QStringLiteral("Delete tag: ") + (label.isNull() ? QStringLiteral("nil") : label));
            m_context->deleteObject(tag);
        }
    });
}

bool LibraryWithTagsViewController::acceptTagsDrop(const QMimeData *data, int tagRow)
{
    Log::info(LogArea::UI, QStringLiteral("Accept tags tableView drop for row ") + QString::number(tagRow));
    const std::optional<IndexSet> rows = CaseListDragAndDrop::draggedRows(data);
    if (!rows) {
        Log::error(LogArea::UI, QStringLiteral("Unable to get dragged row indexes"));
        return false;
    }
    Tag *tag = tagAtRow(tagRow);
    if (!tag)
        return false;
    const quint64 listed = quint64(m_casesModel->rowCount());
    for (const IndexSet::Range &range : rows->ranges()) {
        for (quint64 row = range.location; row < std::min(range.end(), listed); ++row)
            tag->addToCases(m_casesModel->caseAtRow(int(row)));
        if (range.end() > listed) // rows past the list, however many, logged once
            Log::error(LogArea::UI, QStringLiteral("Can't get case from array"));
    }
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedTag);
    return true;
}

bool LibraryWithTagsViewController::acceptCasesDrop(const QMimeData *data, int caseRow, bool moveFilesToTrash)
{
    Case *target = caseAtRow(caseRow);
    if (const QStringList dicom = MediaDragAndDrop::dicomDropPaths(data); !dicom.isEmpty()) {
        Log::info(LogArea::UI, QStringLiteral("Accept DICOM drop on the case list"));
        emit dicomDropped(dicom, target);
        return true;
    }
    if (!target || !data)
        return false;
    if (const std::optional<QString> doi = CaseListDragAndDrop::droppedDOI(data)) {
        const QString detail = target->detail();
        target->setDetail(detail.isEmpty() ? *doi : detail + QLatin1Char('\n') + *doi);
        return true;
    }
    if (data->hasUrls()) {
        const QList<QUrl> files = CaseListDragAndDrop::droppedFiles(data);
        if (files.isEmpty())
            return false;
        Log::info(LogArea::UI, QStringLiteral("Accept fileURL to case tableView drop for row ") + QString::number(caseRow));
        importDroppedFiles(target, files, moveFilesToTrash);
        return true;
    }
    const std::optional<IndexSet> rows = CaseListDragAndDrop::draggedRows(data);
    if (!rows || rows->isEmpty()) {
        Log::error(LogArea::UI, QStringLiteral("Unable to get dragged row indexes"));
        return false;
    }
    Case *source = caseAtRow(int(std::min<quint64>(rows->ranges().first().location, quint64(INT_MAX))));
    if (!source)
        return false;
    emit caseDroppedOnCase(source, target, caseRow);
    return true;
}

void LibraryWithTagsViewController::importDroppedFiles(Case *target, const QList<QUrl> &urls, bool moveFilesToTrash)
{
    MediaFileImport::Options options;
    options.logArea = LogArea::Filing;
    options.moveFilesToTrash = moveFilesToTrash;
    options.undoActionName = QStringLiteral("Import Media");
    QPointer<LibraryWithTagsViewController> self(this);
    MediaFileImport::importFiles(target, urls, options, [self, target] {
        if (self)
            emit self->droppedFilesImported(target);
    });
}

} // namespace ovalis
