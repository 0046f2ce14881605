#pragma once

#include <functional>

#include <QPointer>
#include <QWidget>

class QDropEvent;
class QLabel;
class QTableView;
class QToolButton;

namespace ovalis {

class Case;
class CaseColumnFitter;
class CaseDragMenuController;
class LibraryWithTagsViewController;
class ManagedObjectContext;
class RenameTagViewController;
class YieldingSplitter;

// The tag list beside the case list, with the case count under them. Shows
// the models of its controller and forwards the user's commands to it.
class LibraryWithTagsView : public QWidget
{
    Q_OBJECT

public:
    explicit LibraryWithTagsView(ManagedObjectContext *context, QWidget *parent = nullptr);
    ~LibraryWithTagsView() override;

    LibraryWithTagsViewController *controller() const { return m_controller; }
    QTableView *casesTableView() const { return m_casesTableView; }
    // Offers linking and merging when one case is dropped onto another.
    CaseDragMenuController *caseDragMenuController() const { return m_caseDragMenuController; }
    QTableView *tagsTableView() const { return m_tagsTableView; }
    QLabel *caseCountField() const { return m_caseCountField; }
    // Over the case list while the library has no case: how to add or import some.
    QLabel *emptyLibraryHint() const { return m_emptyLibraryHint; }
    // The tag list and the case list; the tag list gives way first.
    YieldingSplitter *splitter() const { return m_splitter; }
    CaseColumnFitter *caseColumnFitter() const { return m_caseColumnFitter; }
    QToolButton *addButton() const { return m_addButton; }
    QToolButton *removeButton() const { return m_removeButton; } // enabled while a case is selected
    // The rename popover while it is open.
    RenameTagViewController *renameTagPopover() const;
    // The first visible cell of a case row, as the case-drag menu is anchored.
    QRect caseRowAnchor(int row) const;

    // The "Date Added" column hides in teaching mode.
    void setDateAddedColumnHidden(bool hidden);
    // Test seam: the panel of Export Media and Export for Teaching, answering a folder (empty when
    // cancelled). Defaults to a folder panel on this window.
    void setExportFolderChooser(std::function<QString()> chooser) { m_exportFolderChooser = std::move(chooser); }
    // Test seam: how an export that could not write everything is
    // reported (message and details). Defaults to a warning on this window.
    void setAlertPresenter(std::function<void(const QString &, const QString &)> presenter)
    {
        m_alertPresenter = std::move(presenter);
    }

public slots:
    void toggleTagFiltering();      // the tag under the context menu
    void filterTagsToSelection();
    // Asks for a folder and copies the selected cases' media files into it;
    // the window's status bar then says how many files of how many cases.
    void exportMedia();
    // The selected cases' DICOM files, renders and case.json for a teaching-file site.
    void exportForTeaching();
    void renameTag();               // the tag under the context menu
    void deleteTag();               // the tag under the context menu
    // Opens the rename popover beside the tag's row.
    void renameTagAtRow(int row);

signals:
    // A double-click on a case or the case menu's "Show Media".
    void showMediaRequested();
    // A case was dropped onto another case of the list; globalPosition is
    // the bottom left of the target row's first visible cell. Emitted once
    // the drop has finished.
    void caseDroppedOnCase(ovalis::Case *source, ovalis::Case *target, const QPoint &globalPosition);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void showTagsMenu(const QPoint &position);
    void showCasesMenu(const QPoint &position);
    void saveHeaderState() const;
    // The folder an export of the selected cases writes into; empty when
    // none is selected or the user cancelled.
    QString chooseExportFolder();
    // Names the first few problems of an export that did not write everything.
    void showExportProblems(const QString &message, const QStringList &problems);
    QWidget *makeCaseButtons();
    void updateEmptyLibraryHint();
    // Drags over and drops on the two tables' viewports; true when handled.
    bool handleDragEvent(QTableView *table, QEvent *event);

    LibraryWithTagsViewController *m_controller;
    std::function<QString()> m_exportFolderChooser;
    std::function<void(const QString &, const QString &)> m_alertPresenter;
    YieldingSplitter *m_splitter;
    QTableView *m_tagsTableView;
    QTableView *m_casesTableView;
    CaseDragMenuController *m_caseDragMenuController;
    CaseColumnFitter *m_caseColumnFitter = nullptr;
    QLabel *m_caseCountField;
    QLabel *m_emptyLibraryHint;
    QToolButton *m_addButton = nullptr;
    QToolButton *m_removeButton = nullptr;
    QPointer<RenameTagViewController> m_renameTagPopover;
    int m_contextTagRow = -1;
};

} // namespace ovalis
