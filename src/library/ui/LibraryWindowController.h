#pragma once

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>

#include "util/ObserverToken.h"

class QAction;
class QLabel;
class QMenu;

namespace ovalis {

class DicomImportDialog;

class AdvancedFindWindowController;
class ApplicationHost;
class Case;
class CoreDataStack;
class LabelledProgressView;
class LibrarySplitViewController;
class MediaWindowController;
class OvalisOneImportController;
class LibraryWithTagsView;
class LibraryWithTagsViewController;
class MediaTransferView;
class MirrorService;
class MirrorStatusView;
class SearchField;

// The application's main window: the search field and its scopes, the
// library view beside the detail side, teaching mode, and the find, reset
// and navigation requests other windows send through notifications.
class LibraryWindowController : public QMainWindow
{
    Q_OBJECT

public:
    // host may be null (tests); it supplies the application-wide menus, here
    // and in the media window, and learns of the window.
    explicit LibraryWindowController(CoreDataStack &stack, ApplicationHost *host = nullptr, QWidget *parent = nullptr);
    ~LibraryWindowController() override;

    SearchField *searchField() const { return m_searchField; }
    QAction *toggleDetailToolbarItem() const { return m_toggleDetailToolbarItem; }
    QAction *toggleTeachingToolbarItem() const { return m_toggleTeachingToolbarItem; }
    LibrarySplitViewController *splitViewController() const { return m_splitViewController; }
    LibraryWithTagsView *libraryView() const;
    LibraryWithTagsViewController *libraryViewController() const;
    // The media window once showMedia() has made it, else nullptr.
    MediaWindowController *mediaWindowController() const { return m_mediaWindowController.get(); }
    // The Advanced Find window once showAdvancedFind() has made it, else nullptr.
    AdvancedFindWindowController *advancedFindWindowController() const { return m_advancedFindWindowController.get(); }
    QAction *advancedFindToolbarItem() const { return m_advancedFindToolbarItem; }
    // The progress of long imports and exports, in the status bar.
    LabelledProgressView *progressView() const { return m_progressView; }
    // Shows the mirror's state in the status bar from now on (once), and
    // offers its server in the Sync Media windows opened after.
    void setMirrorService(MirrorService *service);
    MirrorStatusView *mirrorStatusView() const { return m_mirrorStatusView; }
    QAction *showAdvancedFindMenuItem() const { return m_showAdvancedFindMenuItem; }
    // The version-1 import's file dialog, search and choice window.
    OvalisOneImportController *ovalisOneImportController() const { return m_ovalisOneImportController; }
    // The Sync Media window while it is open, else nullptr.
    MediaTransferView *syncMediaWindowController() const;
    QAction *syncMediaToolbarItem() const { return m_syncMediaToolbarItem; }
    QStringList currentSearchScopeKeysArray() const { return m_currentSearchScopeKeysArray; }
    static const QList<QPair<QString, QStringList>> &searchScopesDictionary();

    // The menu titles of the two toggles as they read now.
    QString toggleSplitViewMenuTitle() const;
    QString toggleTeachingModeMenuTitle() const;
    // Test seam: the panel of importFolder, answering a folder (empty when
    // cancelled). Defaults to a modal folder panel.
    void setImportFolderChooser(std::function<QString()> chooser) { m_importFolderChooser = std::move(chooser); }

public slots:
    void performSearch(const QString &text);
    void limitSearchScope(const QString &title);
    void find();
    void reset();
    void toggleSplitView();
    void toggleTeachingMode();
    // Makes the Advanced Find window on first use, then keeps it for the
    // run, and brings it to the front.
    void showAdvancedFind();
    // Version-1 documents: chosen in a file dialog, or looked for in the
    // home folder and offered in a window of their own.
    void importOvalisOne();
    void importOvalisOneAutomatically();
    // Makes the Sync Media window when none is open and brings it to the
    // front; closing it deletes it, so the next call makes a new one.
    void showNetworkWindow();
    // With exactly one case selected: records it in the case history and
    // shows the media window, toggling its full screen when Alt is held or
    // in teaching mode.
    void showMedia();
    // A click on the detail side's media field switches the detail to the
    // Preview tab; with Ctrl held, or from anything else, it shows media as
    // the case list's command does.
    void showMediaWindow(QWidget *sender, Qt::KeyboardModifiers modifiers);
    // Selects the case (the caller resets the search and filters first so
    // that it is listed), scrolls to it and shows its media.
    void showCase(ovalis::Case *item);
    // Asks for a folder and imports its tree of images as cases.
    void importFolder();
    // Opens the review of DICOM files (empty until files are added or dropped).
    void importDicom();
    // The review of these DICOM files, folders or DICOMDIRs; with intoSelectedCase
    // (a drop on a case) it starts with "Add to the selected case" chosen.
    DicomImportDialog *reviewDicom(const QStringList &paths, bool intoSelectedCase = false);
    // A drop of DICOM on the case list: on a case, it is selected and offered as the target.
    void reviewDroppedDicom(const QStringList &paths, ovalis::Case *target);
    // Selects a case just added, clearing the search and filters when they
    // hide it, and puts the keyboard in its Patient ID field.
    void showNewCase(ovalis::Case *item);

    // The requests other windows post.
    void selectCaseInLibrary(ovalis::Case *item);
    void setFind(const QString &identifier);
    void searchAll(const QString &text);
    void goNext();
    void goPrevious();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildToolbar();
    void buildMenus();
    void registerObservers();
    void chooseScope(const QString &title);
    void searchWithText(const QString &text);
    void setDetailCollapsed(bool collapsed);
    void selectCaseRow(int row);
    void goToRelativeRow(int offset);
    void makeCaseListFirstResponder();
    void showSelectionInDetail();
    void updateMenuTitles();
    void editCommand(const char *slot);

    CoreDataStack &m_stack;
    ApplicationHost *m_host;
    LibrarySplitViewController *m_splitViewController;
    SearchField *m_searchField = nullptr;
    LabelledProgressView *m_progressView = nullptr;
    MirrorStatusView *m_mirrorStatusView = nullptr;
    QPointer<MirrorService> m_mirrorService;
    QAction *m_toggleDetailToolbarItem = nullptr;
    QAction *m_toggleTeachingToolbarItem = nullptr;
    QAction *m_advancedFindToolbarItem = nullptr;
    QAction *m_showAdvancedFindMenuItem = nullptr;
    QAction *m_syncMediaToolbarItem = nullptr;
    QAction *m_toggleSplitViewMenuItem = nullptr;
    QAction *m_toggleTeachingModeMenuItem = nullptr;
    QAction *m_undoMenuItem = nullptr;
    QAction *m_redoMenuItem = nullptr;
    QStringList m_currentSearchScopeKeysArray;
    std::function<QString()> m_importFolderChooser;
    std::unique_ptr<MediaWindowController> m_mediaWindowController;
    std::unique_ptr<AdvancedFindWindowController> m_advancedFindWindowController;
    OvalisOneImportController *m_ovalisOneImportController; // Owned (child).
    QPointer<MediaTransferView> m_syncMediaWindowController; // Deletes itself on close.

    ObserverToken m_selectCaseInLibraryNotificationToken;
    ObserverToken m_setFindNotificationToken;
    ObserverToken m_searchAllNotificationToken;
    ObserverToken m_goNextCaseNotificationToken;
    ObserverToken m_goPreviousCaseNotificationToken;
    ObserverToken m_showMediaNotificationToken;
    ObserverToken m_mocDidSaveNotificationToken;
    ObserverToken m_mocDidUpdateNotificationToken;
};

} // namespace ovalis
