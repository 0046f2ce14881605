#pragma once

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>

#include "exchange/JSONImporter.h"
#include "exchange/TeachingExport.h"
#include "library/FRCChangeConsolidator.h"
#include "library/LibraryQuery.h"
#include "store/FetchedResultsController.h"
#include "store/FetchedResultsControllerDelegate.h"
#include "store/ObjectsChange.h"
#include "store/Predicate.h"
#include "store/SortDescriptor.h"
#include "util/ObserverToken.h"

class QItemSelectionModel;
class QMimeData;

namespace ovalis {

class Case;
class CaseTableModel;
class ManagedObjectContext;
class Randomiser;
class Tag;
class TagTableModel;

// The library view's logic, without widgets: the tag list and the case list
// as live queries over the main context, the two-degree tag activity that
// filters them, the search term, the age order, and the selection of the
// case list (kept across re-queries). The widget that shows it
// (LibraryWithTagsView) puts the two models and selection models into its
// tables and forwards the user's commands here.
class LibraryWithTagsViewController : public QObject, private FetchedResultsControllerDelegate
{
    Q_OBJECT

public:
    explicit LibraryWithTagsViewController(ManagedObjectContext *context, QObject *parent = nullptr);
    ~LibraryWithTagsViewController() override;

    // Sets up both live lists ("Set up Cases FRC", "Set up Tags FRC"); a
    // failed first fetch is fatal. initialSort is the case table's sort.
    void viewDidLoad(const QList<SortDescriptor> &initialSort = {});
    // Registers the notification observers; viewDidDisappear removes them
    // ("Tear down observers"). "Updated Tag" and "Updated Tag from Detail" are
    // handled later on the main thread; "Updated Tag Activity" posted on the
    // main thread is handled before the post returns (so that the poster can
    // select in the re-queried list), from another thread later on the main
    // thread.
    void viewWillAppear();
    void viewDidDisappear();

    ManagedObjectContext *managedObjectContext() const { return m_context; }
    CaseResultsController *casesFetchedResultsController() const { return m_casesController.get(); }
    FetchedResultsController *tagsFetchedResultsController() const { return m_tagsController.get(); }
    CaseTableModel *casesModel() const { return m_casesModel; }
    TagTableModel *tagsModel() const { return m_tagsModel; }
    QItemSelectionModel *casesSelectionModel() const { return m_casesSelection; }
    QItemSelectionModel *tagsSelectionModel() const { return m_tagsSelection; }

    // Rows of the case list map to these, in this order.
    QList<Case *> displayedCases() const;
    // No case listed, and none in the library to list.
    bool libraryIsEmpty() const;
    // The selected rows, ascending, as cases.
    QList<Case *> selectedCases() const;
    Case *caseAtRow(int row) const; // logs "Can't get case from array" outside the list
    Tag *tagAtRow(int row) const;   // logs "Can't get tag from array" outside the list
    int rowOfCase(const Case *item) const; // -1 when not listed

    const Predicate &searchPredicate() const { return m_searchPredicate; }
    void setSearchPredicate(const Predicate &predicate) { m_searchPredicate = predicate; }

    QList<SortDescriptor> caseSortDescriptors() const { return m_sortDescriptors; }
    // The sort change: age order or a re-sort of the live list, then reload.
    void setCaseSortDescriptors(const QList<SortDescriptor> &descriptors);
    bool usesAgeOrder() const;

    // The predicates the two lists are filtered with now.
    Predicate casePredicate() const;
    Predicate tagPredicate() const;

    void refreshTagActivity();
    void updateTagsPredicate();
    void updateCasesPredicate();
    void refreshFilters();
    void restoreSelection();
    void recomputeAgeOrder();
    void updateCaseCount();
    QString caseCountText() const; // "Showing 1 case", "Showing 0 cases"

    // Selects exactly these rows of the case list (rows outside are skipped)
    // and asks for the last one to be scrolled into view.
    void selectCaseRows(const QList<int> &rows);
    // Selects the case when it is listed; false otherwise.
    bool selectCase(Case *item);

    // "Select Random Case": a listed case with media that the randomiser has
    // not picked before becomes the only selected row; nothing happens when
    // there is none.
    void selectRandomCase();
    // Randomiser::shared() unless set (not owned; it must outlive this).
    void setRandomiser(Randomiser *randomiser) { m_randomiser = randomiser; }

    // Tag commands, by row of the tag list.
    void toggleTagActivity(int tagRow);  // double-click or Return: flip, refresh activity, refreshFilters
    void toggleTagFiltering(int tagRow); // context menu: flip, refresh activity, post "Updated Tag Activity"
    void filterTagsToSelection();

    // The labels of a case's tags, absent labels skipped, plain ascending order.
    static QStringList tagLabelsSorted(const Case *item);

    // An alert that asks before a command goes ahead: its message, its
    // informative text and its buttons, the first one destructive.
    struct Alert {
        QString messageText;
        QString informativeText;
        QStringList buttonTitles;
    };
    // Shows the alert and answers the index of the button chosen.
    using AlertPresenter = std::function<int(const Alert &alert)>;
    // "Delete Cases", asking about count cases.
    static Alert removeCasesAlert(qsizetype count);
    // Asked by removeCases; without one no case is deleted.
    void setRemoveCasesConfirmation(AlertPresenter presenter) { m_removeCasesConfirmation = std::move(presenter); }

    // Case list commands, on the selected cases.
    // Inserts a new case (not saved); later on the main thread the list is
    // reloaded and the case selected when it is listed.
    Case *addCase();
    // Deletes the selected cases once the confirmation answers other than
    // "Cancel", and saves.
    void removeCases();
    // Patient identifiers, one a line (cases without one skipped), and case
    // lines, each replacing the clipboard's text unless empty.
    QString patientIdentifiersText() const;
    void copy();
    void copyAlternate();
    // Removes the media files of the selected cases; their records stay.
    void deleteMediaFiles();
    // Copies the media files of the selected cases into folders below
    // folder, on a private child of the list's context; finished runs on the
    // main thread. Export Media is offered only with a selection.
    void exportMedia(const QUrl &folder, std::function<void(const JSONImporter::MediaExportSummary &)> finished = {});
    // The selected cases for a teaching-file site (see TeachingExport).
    void exportForTeaching(const QString &folder, std::function<void(const TeachingExport::Summary &)> finished = {});
    // Copy and the remove button need a selected case.
    bool hasSelectedCases() const;

    // Tag list commands, by row of the tag list.
    // The tag to rename (logging the request), or nullptr.
    Tag *tagToRename(int tagRow);
    // Sets the trimmed name as the tag's label (one undo step, "Rename Tag")
    // and saves. False, changing nothing, when the name is blank.
    bool renameTag(Tag *tag, const QString &name);
    void deleteTag(int tagRow);     // one undo step, "Delete Tag"
    void deleteUnusedTags();        // every tag no case carries

    // Drops onto a row of the tag list and of the case list; true when taken.
    // The checks of what may be dropped are CaseListDragAndDrop's.
    bool acceptTagsDrop(const QMimeData *data, int tagRow);
    bool acceptCasesDrop(const QMimeData *data, int caseRow, bool moveFilesToTrash);

signals:
    void caseCountChanged(const QString &text);
    // The case table should scroll this row into view (queued after a selection change).
    void scrollToCaseRowRequested(int row);
    // The case list was re-queried; the detail side should follow the selection.
    void casesReloaded();
    // "Updated Tag": the detail side shows these labels for its case (empty: clear).
    void detailTagLabelsChanged(const QStringList &labels);
    // A case was dropped onto another one (at targetRow of the case list).
    void caseDroppedOnCase(ovalis::Case *source, ovalis::Case *target, int targetRow);
    // Files dropped onto a case have been imported and saved.
    void droppedFilesImported(ovalis::Case *target);
    // Files or folders holding DICOM were dropped on the list, on target or
    // (null) beside the cases; the window shows the import's review.
    void dicomDropped(const QStringList &paths, ovalis::Case *target);
    // A case made by addCase is in the list model (selected when listed).
    void caseAdded(ovalis::Case *item);

private:
    // The selected cases' identifiers, after saving, so that a background child finds them.
    QList<ObjectID> savedSelectedCaseIDs();
    // Runs change as one undo step of the main context with this name.
    void performUndoable(const QString &actionName, const std::function<void()> &change);
    // Reloads the case list, the detail side and the count after a command.
    void reloadCases();
    void importDroppedFiles(Case *target, const QList<QUrl> &urls, bool moveFilesToTrash);

    // The three tag notifications' work, on the main thread.
    void updatedTag();
    void updatedTagFromDetail();
    void updatedTagActivity();
    // Tags inserted in the context (a child's save, another program's)
    // refresh the tag activity once the batch has been taken in.
    void tagsMayHaveArrived(const ObjectsChange &change);
    void scheduleTagsArrived();
    void tagsArrived();
    // Whether the store holds the tagging this context sees: no case or tag
    // inserted or deleted, no case's tags and no tag's label edited since
    // the last save.
    bool storedTaggingIsCurrent() const;
    // displayedCases without copying.
    const QList<ManagedObject *> &displayedObjects() const;
    // The tag predicate and the number of its terms (0 when it collapsed to none).
    Predicate tagPredicateWithTerms(int *termCount) const;
    // recomputeAgeOrder at the end of a batch, placing only the changed cases.
    void updateAgeOrder();
    // In the age order a batch's rows are those of the live list's own
    // order; the changed cases' rows are taken from the two age orders instead.
    void recordAgeOrderChanges();

    void controllerWillChangeContent(FetchedResultsController *controller) override;
    void controllerDidChangeObject(FetchedResultsController *controller, ManagedObject *object,
                                   std::optional<int> oldRow, ChangeType type, std::optional<int> newRow) override;
    void controllerDidChangeContent(FetchedResultsController *controller) override;

    ManagedObjectContext *m_context; // Not owned.
    std::unique_ptr<CaseResultsController> m_casesController;
    std::unique_ptr<FetchedResultsController> m_tagsController;
    std::optional<FRCChangeConsolidator> m_casesFRCChangeConsolidator;
    std::optional<FRCChangeConsolidator> m_tagsFRCChangeConsolidator;
    CaseTableModel *m_casesModel;
    TagTableModel *m_tagsModel;
    QItemSelectionModel *m_casesSelection;
    QItemSelectionModel *m_tagsSelection;
    QList<SortDescriptor> m_sortDescriptors;
    QList<Case *> m_storedSelectedCases;
    QList<ManagedObject *> m_customSortedCases; // cases, in the age order
    QList<ManagedObject *> m_ageOrderChanges;   // the cases changed in the batch in progress
    QSet<ManagedObject *> m_ageOrderLeaving;    // those of them no longer listed
    LibraryQuery::IdentifierKeys m_identifierKeys; // kept while the age order is shown
    Predicate m_searchPredicate;
    Randomiser *m_randomiser; // Not owned.
    bool m_observing = false;
    AlertPresenter m_removeCasesConfirmation;

    ObserverToken m_updatedTagToken;
    ObserverToken m_updatedTagInDetailToken;
    ObserverToken m_updatedTagActiveToken;
    ObserverToken m_selectRandomCaseToken;
    ObserverToken m_tagsArrivedToken;
    std::atomic<bool> m_tagsArrivalQueued = false;
};

} // namespace ovalis
