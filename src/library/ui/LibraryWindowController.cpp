#include "library/ui/LibraryWindowController.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QPointer>
#include <QScreen>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>

#include "exchange/FolderHierarchyImport.h"
#include "exchange/ui/DicomImportDialog.h"
#include "exchange/ui/BackupReminderView.h"
#include "exchange/ui/JobNotice.h"
#include "exchange/ui/LabelledProgressView.h"
#include "exchange/ui/OvalisOneImportController.h"
#include "find/ui/AdvancedFindWindowController.h"
#include "library/CaseHistory.h"
#include "library/CaseTableModel.h"
#include "store/LibraryNotifications.h"
#include "library/LibraryQuery.h"
#include "library/LibraryWithTagsViewController.h"
#include "library/ui/ClickableTextField.h"
#include "library/ui/DetailTabViewController.h"
#include "library/ui/InfoViewController.h"
#include "library/ui/LibrarySplitViewController.h"
#include "library/ui/LibraryWithTagsView.h"
#include "library/ui/SearchField.h"
#include "media/ui/MediaWindowController.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/PersistentStore.h"
#include "store/Tag.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/Settings.h"
#include "transfer/MirrorService.h"
#include "transfer/OvalisMediaTransferViewModel.h"
#include "transfer/ui/MediaTransferView.h"
#include "transfer/ui/MirrorStatusView.h"
#include "util/ThemeIcon.h"
#include "util/UndoManager.h"
#include "util/ui/ApplicationHost.h"

namespace ovalis {

namespace {

const QString teachingModeKey = QStringLiteral("Teaching_Mode");
const QString collapseDetailKey = QStringLiteral("Case_Collapse_Last_SplitView");
const QString geometryKey = QStringLiteral("Library_Window_Frame");
const QString allScope = QStringLiteral("All");

// "<ManagedObjectContext: 0x…>" with the context's name when it has one.
QString describeContext(const ManagedObjectContext *context)
{
    const QString address = QStringLiteral("0x%1").arg(quintptr(context), 0, 16);
    return context->name().isEmpty() ? QStringLiteral("<ManagedObjectContext: %1>").arg(address)
                                     : QStringLiteral("<ManagedObjectContext: %1 (%2)>").arg(address, context->name());
}

// What an import from a folder did: "Imported 41 cases with 1,204 media
// files from “Teaching”.", and how many files it did not import (the log
// names them with the reason).
QString folderImportNotice(const FolderHierarchyImport::Summary &summary, const QString &name)
{
    if (summary.caseFolders == 0)
        return LibraryWindowController::tr("No case folders were found in “%1”; nothing was imported.").arg(name);
    QString notice = LibraryWindowController::tr("Imported %1 with %2 from “%3”.")
                         .arg(JobNotice::counted(summary.casesImported, LibraryWindowController::tr("case"),
                                                 LibraryWindowController::tr("cases")),
                              JobNotice::counted(summary.mediaCopied, LibraryWindowController::tr("media file"),
                                                 LibraryWindowController::tr("media files")),
                              name);
    if (!summary.skippedFiles.isEmpty())
        notice += QLatin1Char(' ')
                  + LibraryWindowController::tr("%1 not imported.")
                        .arg(JobNotice::counted(int(summary.skippedFiles.size()), LibraryWindowController::tr("file was"),
                                                LibraryWindowController::tr("files were")));
    for (const QString &skipped : summary.skippedFiles)
        Log::info(LogArea::Importing, QStringLiteral("Left out of the import: ") + skipped);
    return notice;
}

} // namespace

const QList<QPair<QString, QStringList>> &LibraryWindowController::searchScopesDictionary()
{
    static const QList<QPair<QString, QStringList>> scopes = {
        {QStringLiteral("All"), LibraryQuery::searchKeys(LibraryQuery::SearchScope::All)},
        {QStringLiteral("Summary"), LibraryQuery::searchKeys(LibraryQuery::SearchScope::Summary)},
        {QStringLiteral("Patient Identifier"), LibraryQuery::searchKeys(LibraryQuery::SearchScope::PatientIdentifier)},
    };
    return scopes;
}

LibraryWindowController::LibraryWindowController(CoreDataStack &stack, ApplicationHost *host, QWidget *parent)
    : QMainWindow(parent)
    , m_stack(stack)
    , m_host(host)
    , m_splitViewController(nullptr)
    , m_ovalisOneImportController(new OvalisOneImportController(stack.mainContext(), this))
{
    setObjectName(QStringLiteral("libraryWindow"));
    setWindowTitle(QStringLiteral("Ovalis"));
    setUnifiedTitleAndToolBarOnMac(true);
    // Every start is in curating mode, whatever the last run ended in.
    Settings::shared().setValue(teachingModeKey, false);

    m_splitViewController = new LibrarySplitViewController(stack.mainContext(), this);
    setCentralWidget(m_splitViewController);
    buildToolbar();
    m_progressView = new LabelledProgressView(statusBar());
    statusBar()->addPermanentWidget(m_progressView);
    statusBar()->addWidget(new BackupReminderView(statusBar()));
    buildMenus();
    libraryView()->setDateAddedColumnHidden(false);

    // 1. Known to the application. 2. Scope "All", which runs the first search.
    if (m_host)
        m_host->setLibraryWindowController(this);
    // The stored second-degree flags may be stale (another program wrote the
    // tags, or the library is new); the tag list shows them from the start.
    libraryViewController()->refreshTagActivity();
    chooseScope(allScope);
    // 3. The case list takes the keyboard.
    makeCaseListFirstResponder();
    // 4. The detail side as the user left it.
    setDetailCollapsed(Settings::shared().boolValue(collapseDetailKey));
    // 5. Observers.
    registerObservers();
    // 6. The top of the list.
    if (libraryViewController()->displayedCases().size() > 0)
        libraryView()->casesTableView()->scrollToTop();

    connect(libraryViewController()->casesSelectionModel(), &QItemSelectionModel::selectionChanged, this,
            &LibraryWindowController::showSelectionInDetail);
    connect(libraryViewController(), &LibraryWithTagsViewController::casesReloaded, this,
            &LibraryWindowController::showSelectionInDetail);
    connect(libraryView(), &LibraryWithTagsView::showMediaRequested, this, &LibraryWindowController::showMedia);
    connect(libraryViewController(), &LibraryWithTagsViewController::caseAdded, this, &LibraryWindowController::showNewCase);
    connect(libraryViewController(), &LibraryWithTagsViewController::dicomDropped, this,
            &LibraryWindowController::reviewDroppedDicom);
    InfoViewController *info = m_splitViewController->tabViewController()->infoViewController();
    connect(libraryViewController(), &LibraryWithTagsViewController::detailTagLabelsChanged, info,
            &InfoViewController::showTagLabels);
    // A tag switched on from the detail narrows the tag list by fresh second-degree flags.
    connect(info, &InfoViewController::tagActivityChanged, libraryViewController(),
            &LibraryWithTagsViewController::refreshTagActivity);
    connect(info, &InfoViewController::mediaFieldClicked, this, &LibraryWindowController::showMediaWindow);
    connect(&Settings::shared(), &Settings::valueChanged, this, [this](const QString &key) {
        if (key == teachingModeKey)
            libraryView()->setDateAddedColumnHidden(Settings::shared().boolValue(teachingModeKey));
    });
    showSelectionInDetail();

    if (!restoreGeometry(Settings::shared().dataValue(geometryKey))) {
        const QRect available = screen() ? screen()->availableGeometry() : QRect(0, 0, 1280, 800);
        resize(qMin(1280, available.width() - 40), qMin(800, available.height() - 40));
    }
}

LibraryWindowController::~LibraryWindowController()
{
    // The media and Advanced Find windows show records of the store this
    // window was given.
    m_advancedFindWindowController.reset();
    m_mediaWindowController.reset();
}

LibraryWithTagsView *LibraryWindowController::libraryView() const
{
    return m_splitViewController ? m_splitViewController->libraryView() : nullptr;
}

LibraryWithTagsViewController *LibraryWindowController::libraryViewController() const
{
    LibraryWithTagsView *view = libraryView();
    return view ? view->controller() : nullptr;
}

void LibraryWindowController::buildToolbar()
{
    QToolBar *toolbar = addToolBar(QStringLiteral("Toolbar"));
    toolbar->setObjectName(QStringLiteral("libraryToolbar"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar->setIconSize(QSize(22, 22));

    m_toggleDetailToolbarItem = toolbar->addAction(ThemeIcon::firstOf({"view-split-left-right", "view-dual", "view-right-pane"}),
                                                   QStringLiteral("Hide Detail"), this,
                                                   &LibraryWindowController::toggleSplitView);
    m_toggleDetailToolbarItem->setToolTip(QStringLiteral("Show or hide the case detail"));
    m_toggleTeachingToolbarItem = toolbar->addAction(ThemeIcon::firstOf({"system-users", "user-group-new", "im-user"}),
                                                     QStringLiteral("Teach"), this,
                                                     &LibraryWindowController::toggleTeachingMode);
    m_toggleTeachingToolbarItem->setToolTip(QStringLiteral("Switch between curating and teaching"));
    toolbar->addSeparator();
    m_advancedFindToolbarItem = toolbar->addAction(ThemeIcon::firstOf({"edit-find-replace", "edit-find"}),
                                                   QStringLiteral("Advanced Find"), this, &LibraryWindowController::showAdvancedFind);
    m_advancedFindToolbarItem->setToolTip(QStringLiteral("Find cases by rules over their fields"));
    m_syncMediaToolbarItem = toolbar->addAction(ThemeIcon::firstOf({"network-workgroup", "folder-sync", "view-refresh"}),
                                                QStringLiteral("Sync Media"), this, &LibraryWindowController::showNetworkWindow);
    m_syncMediaToolbarItem->setToolTip(QStringLiteral("Fetch missing media files from a library nearby"));

    auto *spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);
    QStringList titles;
    for (const auto &scope : searchScopesDictionary())
        titles.append(scope.first);
    m_searchField = new SearchField(titles, toolbar);
    toolbar->addWidget(m_searchField);
    connect(m_searchField, &QLineEdit::textChanged, this, &LibraryWindowController::performSearch);
    connect(m_searchField, &SearchField::scopeChosen, this, &LibraryWindowController::limitSearchScope);
    connect(m_searchField, &QLineEdit::returnPressed, this, &LibraryWindowController::makeCaseListFirstResponder);
    // The store reads the texts it searches while the user starts typing.
    connect(m_searchField, &SearchField::focusEntered, this, [this] {
        if (PersistentStore *store = m_stack.persistentStore())
            store->prepareTextIndexInBackground(ManagedObjectModel::ovalisModel().entityIndex(Case::entityName()));
    });
}

void LibraryWindowController::editCommand(const char *slot)
{
    // Cut, Copy, Paste, Delete and Select All go to the focused control; in
    // the case list Copy copies patient identifiers and Delete deletes cases.
    QWidget *focus = QApplication::focusWidget();
    if (focus && focus == libraryView()->casesTableView()) {
        if (qstrcmp(slot, "copy()") == 0)
            libraryViewController()->copy();
        else if (qstrcmp(slot, "del()") == 0)
            libraryViewController()->removeCases();
        return;
    }
    if (focus && focus->metaObject()->indexOfMethod(QMetaObject::normalizedSignature(slot).constData()) >= 0) {
        QByteArray name(slot);
        name.truncate(name.indexOf('('));
        QMetaObject::invokeMethod(focus, name.constData());
    }
}

void LibraryWindowController::buildMenus()
{
    // The application's menus come from its host; the window adds its own
    // commands to them. Without a host (tests) the window makes bare menus.
    const ApplicationHost::ApplicationMenus menus = ApplicationHost::addWindowMenus(m_host, menuBar(), this);
    QMenu *edit = menus.edit;
    QMenu *view = menus.view;

    // Edit: undo through the store, the text commands for the focused
    // control, and Find, ahead of whatever the application put there.
    QAction *firstApplicationEditItem = edit->actions().value(0);
    auto addEditAction = [&](const QString &title, const QKeySequence &key, auto slot) {
        auto *action = new QAction(title, edit);
        action->setShortcut(key);
        connect(action, &QAction::triggered, this, slot);
        edit->insertAction(firstApplicationEditItem, action);
        return action;
    };
    auto addEditSeparator = [&] {
        if (firstApplicationEditItem || !edit->actions().isEmpty())
            edit->insertSeparator(firstApplicationEditItem);
    };
    UndoManager *undoManager = m_stack.mainContext()->undoManager();
    m_undoMenuItem = addEditAction(QStringLiteral("Undo"), QKeySequence::Undo, [undoManager] {
        if (undoManager && undoManager->canUndo())
            undoManager->undo();
    });
    m_redoMenuItem = addEditAction(QStringLiteral("Redo"), QKeySequence(QStringLiteral("Ctrl+Shift+Z")), [undoManager] {
        if (undoManager && undoManager->canRedo())
            undoManager->redo();
    });
    if (undoManager)
        connect(undoManager, &UndoManager::changed, this, &LibraryWindowController::updateMenuTitles);
    addEditSeparator();
    addEditAction(QStringLiteral("Cu&t"), QKeySequence::Cut, [this] { editCommand("cut()"); });
    QAction *copy = addEditAction(QStringLiteral("&Copy"), QKeySequence::Copy, [this] { editCommand("copy()"); });
    addEditAction(QStringLiteral("Copy Case &Lines"), QKeySequence(QStringLiteral("Ctrl+Alt+C")),
                  [this] { libraryViewController()->copyAlternate(); });
    addEditAction(QStringLiteral("&Paste"), QKeySequence::Paste, [this] { editCommand("paste()"); });
    addEditAction(QStringLiteral("&Delete"), QKeySequence(), [this] { editCommand("del()"); });
    addEditAction(QStringLiteral("Select &All"), QKeySequence::SelectAll, [this] { editCommand("selectAll()"); });
    addEditSeparator();
    // Find: the search field, and the Advanced Find window.
    auto *findMenu = new QMenu(QStringLiteral("F&ind"), edit);
    findMenu->addAction(QStringLiteral("&Find"), QKeySequence::Find, this, &LibraryWindowController::find);
    m_showAdvancedFindMenuItem = findMenu->addAction(QStringLiteral("&Advanced Find…"), QKeySequence(QStringLiteral("Ctrl+Shift+F")),
                                                     this, &LibraryWindowController::showAdvancedFind);
    edit->insertMenu(firstApplicationEditItem, findMenu);
    if (firstApplicationEditItem)
        addEditSeparator();
    // Copying from the case list needs a selected case.
    // (Focus also moves while the window's widgets are being destroyed.)
    const QPointer<QTableView> casesTable = libraryView()->casesTableView();
    const QPointer<LibraryWithTagsViewController> library = libraryViewController();
    const auto validateCopy = [casesTable, library, copy] {
        copy->setEnabled(!casesTable || !library || QApplication::focusWidget() != casesTable.data()
                         || library->hasSelectedCases());
    };
    connect(edit, &QMenu::aboutToShow, this, validateCopy);
    connect(qApp, &QApplication::focusChanged, copy, validateCopy);
    connect(libraryViewController()->casesSelectionModel(), &QItemSelectionModel::selectionChanged, copy, validateCopy);

    // File: the case list's own commands, ahead of the application's.
    QMenu *file = menus.file;
    QAction *firstApplicationFileItem = file->actions().value(0);
    auto *newCase = new QAction(QStringLiteral("&New Case"), file);
    newCase->setShortcut(QKeySequence::New);
    connect(newCase, &QAction::triggered, libraryViewController(), &LibraryWithTagsViewController::addCase);
    auto *deleteCases = new QAction(QStringLiteral("&Delete Cases…"), file);
    connect(deleteCases, &QAction::triggered, libraryViewController(), &LibraryWithTagsViewController::removeCases);
    // Deleting needs a selected case.
    const auto validateDelete = [deleteCases, library] { deleteCases->setEnabled(library && library->hasSelectedCases()); };
    connect(libraryViewController()->casesSelectionModel(), &QItemSelectionModel::selectionChanged, deleteCases, validateDelete);
    connect(file, &QMenu::aboutToShow, deleteCases, validateDelete);
    connect(libraryViewController(), &LibraryWithTagsViewController::caseCountChanged, deleteCases, validateDelete);
    validateDelete();
    auto *importFolderItem = new QAction(QStringLiteral("&Import from Folder…"), file);
    connect(importFolderItem, &QAction::triggered, this, &LibraryWindowController::importFolder);
    auto *importDicomItem = new QAction(QStringLiteral("Import &DICOM…"), file);
    connect(importDicomItem, &QAction::triggered, this, &LibraryWindowController::importDicom);
    auto *exportMediaItem = new QAction(QStringLiteral("&Export Media…"), file);
    connect(exportMediaItem, &QAction::triggered, libraryView(), &LibraryWithTagsView::exportMedia);
    connect(file, &QMenu::aboutToShow, exportMediaItem, [exportMediaItem, library] {
        exportMediaItem->setEnabled(library && library->hasSelectedCases());
    });
    auto *exportTeachingItem = new QAction(QStringLiteral("Export for &Teaching…"), file);
    connect(exportTeachingItem, &QAction::triggered, libraryView(), &LibraryWithTagsView::exportForTeaching);
    connect(file, &QMenu::aboutToShow, exportTeachingItem, [exportTeachingItem, library] {
        exportTeachingItem->setEnabled(library && library->hasSelectedCases());
    });
    file->insertActions(firstApplicationFileItem, {newCase, deleteCases});
    file->insertSeparator(firstApplicationFileItem);
    auto *importOvalisOne = new QAction(QStringLiteral("Import Ovalis v1 Documents…"), file);
    connect(importOvalisOne, &QAction::triggered, this, &LibraryWindowController::importOvalisOne);
    auto *findOvalisOne = new QAction(QStringLiteral("Find Ovalis v1 Documents…"), file);
    connect(findOvalisOne, &QAction::triggered, this, &LibraryWindowController::importOvalisOneAutomatically);
    file->insertActions(firstApplicationFileItem,
                        {importFolderItem, importDicomItem, importOvalisOne, findOvalisOne, exportMediaItem, exportTeachingItem});
    if (firstApplicationFileItem)
        file->insertSeparator(firstApplicationFileItem);

    m_toggleSplitViewMenuItem = view->addAction(QStringLiteral("Hide Detail"), this, &LibraryWindowController::toggleSplitView);
    m_toggleSplitViewMenuItem->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+D")));
    m_toggleTeachingModeMenuItem = view->addAction(QStringLiteral("Teaching Mode"), this,
                                                   &LibraryWindowController::toggleTeachingMode);
    m_toggleTeachingModeMenuItem->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+T")));
    view->addSeparator();
    QMenu *scopes = view->addMenu(QStringLiteral("Search In"));
    for (QAction *scope : m_searchField->scopeMenu()->actions())
        scopes->addAction(scope);
    view->addAction(QStringLiteral("Reset Search and Filters"), QKeySequence(QStringLiteral("Ctrl+Alt+R")), this,
                    &LibraryWindowController::reset);

    updateMenuTitles();
}

void LibraryWindowController::importOvalisOne()
{
    m_ovalisOneImportController->importOvalisOne();
}

void LibraryWindowController::importOvalisOneAutomatically()
{
    m_ovalisOneImportController->importOvalisOneAutomatically();
}

void LibraryWindowController::registerObservers()
{
    NotificationCenter &center = NotificationCenter::defaultCenter();
    const auto mainThread = NotificationCenter::Delivery::MainThread;
    m_selectCaseInLibraryNotificationToken = center.addObserver(
        LibraryNotifications::selectCaseInLibrary, nullptr,
        [this](const Notification &notification) {
            const QVariant value = notification.userInfo.value(QStringLiteral("Case"));
            if (value.canConvert<Case *>())
                if (Case *item = value.value<Case *>())
                    selectCaseInLibrary(item);
        },
        mainThread);
    // Requests that carry a text; one whose value is missing or not a text is ignored.
    auto observeText = [&](const QString &name, const QString &key, void (LibraryWindowController::*handler)(const QString &)) {
        return center.addObserver(
            name, nullptr,
            [this, key, handler](const Notification &notification) {
                const QVariant value = notification.userInfo.value(key);
                if (value.typeId() == QMetaType::QString)
                    (this->*handler)(value.toString());
            },
            mainThread);
    };
    m_setFindNotificationToken = observeText(LibraryNotifications::setFind, QStringLiteral("Identifier"),
                                             &LibraryWindowController::setFind);
    m_searchAllNotificationToken = observeText(LibraryNotifications::searchAll, QStringLiteral("SearchText"),
                                               &LibraryWindowController::searchAll);
    m_goNextCaseNotificationToken = center.addObserver(
        LibraryNotifications::goNext, nullptr, [this](const Notification &) { goNext(); }, mainThread);
    m_goPreviousCaseNotificationToken = center.addObserver(
        LibraryNotifications::goPrevious, nullptr, [this](const Notification &) { goPrevious(); }, mainThread);
    m_showMediaNotificationToken = center.addObserver(
        LibraryNotifications::showMedia, nullptr, [this](const Notification &) { showMedia(); }, mainThread);

    ManagedObjectContext *context = m_stack.mainContext();
    const QMetaObject::Connection didSave = connect(context, &ManagedObjectContext::didSave, this, [context] {
        Log::info(LogArea::CoreData, QStringLiteral("Main MOC %1 did save").arg(describeContext(context)));
    });
    m_mocDidSaveNotificationToken = ObserverToken([didSave] { QObject::disconnect(didSave); });
    const QMetaObject::Connection didChange = connect(context, &ManagedObjectContext::objectsDidChange, this, [] {
        NotificationCenter::defaultCenter().post(LibraryNotifications::updatedMedia);
    });
    m_mocDidUpdateNotificationToken = ObserverToken([didChange] { QObject::disconnect(didChange); });
}

QString LibraryWindowController::toggleSplitViewMenuTitle() const
{
    return Settings::shared().boolValue(collapseDetailKey) ? QStringLiteral("Show Detail") : QStringLiteral("Hide Detail");
}

QString LibraryWindowController::toggleTeachingModeMenuTitle() const
{
    return Settings::shared().boolValue(teachingModeKey) ? QStringLiteral("Curating Mode") : QStringLiteral("Teaching Mode");
}

void LibraryWindowController::updateMenuTitles()
{
    if (m_toggleSplitViewMenuItem)
        m_toggleSplitViewMenuItem->setText(toggleSplitViewMenuTitle());
    if (m_toggleTeachingModeMenuItem)
        m_toggleTeachingModeMenuItem->setText(toggleTeachingModeMenuTitle());
    UndoManager *undoManager = m_stack.mainContext()->undoManager();
    if (undoManager && m_undoMenuItem) {
        m_undoMenuItem->setText(undoManager->undoMenuItemTitle());
        m_undoMenuItem->setEnabled(undoManager->canUndo());
        m_redoMenuItem->setText(undoManager->redoMenuItemTitle());
        m_redoMenuItem->setEnabled(undoManager->canRedo());
    }
}

void LibraryWindowController::performSearch(const QString &text)
{
    searchWithText(text);
}

void LibraryWindowController::limitSearchScope(const QString &title)
{
    Log::info(LogArea::UI, QStringLiteral("Limit search scope to ") + title);
    chooseScope(title);
}

void LibraryWindowController::chooseScope(const QString &title)
{
    m_currentSearchScopeKeysArray.clear();
    for (const auto &scope : searchScopesDictionary())
        if (scope.first == title)
            m_currentSearchScopeKeysArray = scope.second;
    const bool highlight = title != allScope;
    Log::info(LogArea::UI, QStringLiteral("Setting searchFieldHighlight to ") + (highlight ? QStringLiteral("ON") : QStringLiteral("OFF")));
    m_searchField->showScope(title, highlight);
    searchWithText(m_searchField->text());
}

void LibraryWindowController::searchWithText(const QString &text)
{
    LibraryWithTagsViewController *library = libraryViewController();
    if (!library) {
        Log::error(LogArea::UI, QStringLiteral("Unable to get library view controller"));
        return;
    }
    if (text.isEmpty()) {
        library->setSearchPredicate(Predicate());
    } else {
        QList<Predicate> terms;
        for (const QString &key : std::as_const(m_currentSearchScopeKeysArray))
            terms.append(Predicate::fromFormat(QStringLiteral("%K contains[cd] %@"), {key, text}));
        library->setSearchPredicate(Predicate::orPredicate(terms));
    }
    library->refreshFilters();
}

void LibraryWindowController::find()
{
    Log::info(LogArea::UI, QStringLiteral("Find"));
    m_searchField->setFocus(Qt::ShortcutFocusReason);
    m_searchField->selectAll();
}

void LibraryWindowController::reset()
{
    // The tag filters are switched off first, so that the one search below
    // already lists every case and the first row is the first case of the
    // whole library. The library hears of the change through "Updated Tag
    // Activity", whose re-query keeps that selection.
    ManagedObjectContext *context = m_stack.mainContext();
    FetchRequest request;
    request.entityName = Tag::entityName();
    for (ManagedObject *object : context->executeFetch(request)) {
        auto *tag = static_cast<Tag *>(object);
        if (tag->active())
            tag->setActive(false);
        if (tag->hasActiveCases())
            tag->setHasActiveCases(false);
    }
    // With no tag active every tag occurs among the listed cases; without this
    // the whole tag list would show as dimmed until the next tag change.
    libraryViewController()->refreshTagActivity();
    {
        // Emptied quietly: choosing "All" searches with the empty text.
        const QSignalBlocker blocker(m_searchField);
        m_searchField->clear();
    }
    chooseScope(allScope);
    selectCaseRow(0);
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedTagActivity);
}

void LibraryWindowController::selectCaseRow(int row)
{
    LibraryWithTagsViewController *library = libraryViewController();
    if (!library || row < 0 || row >= library->displayedCases().size())
        return;
    library->selectCaseRows({row});
}

void LibraryWindowController::makeCaseListFirstResponder()
{
    libraryView()->casesTableView()->setFocus(Qt::OtherFocusReason);
}

void LibraryWindowController::setFind(const QString &identifier)
{
    LibraryWithTagsViewController *library = libraryViewController();
    FetchRequest request;
    request.entityName = Case::entityName();
    request.predicate = Predicate::fromFormat(QStringLiteral("patientID contains[cd] %@"), {identifier});
    const QList<ManagedObject *> found = m_stack.mainContext()->executeFetch(request);
    if (found.size() == 1) {
        auto *item = static_cast<Case *>(found.first());
        if (!library->selectCase(item)) {
            raise();
            activateWindow();
            reset();
            library->selectCase(item);
        }
        makeCaseListFirstResponder();
        return;
    }
    {
        const QSignalBlocker blocker(m_searchField);
        m_searchField->setText(identifier);
    }
    chooseScope(QStringLiteral("Patient Identifier")); // searches with the identifier
    selectCaseRow(0);
    makeCaseListFirstResponder();
}

void LibraryWindowController::selectCaseInLibrary(Case *item)
{
    raise();
    activateWindow();
    reset();
    libraryViewController()->selectCase(item);
}

void LibraryWindowController::showNewCase(Case *item)
{
    LibraryWithTagsViewController *library = libraryViewController();
    if (!library->selectCase(item)) {
        reset();
        library->selectCase(item);
    }
    if (m_splitViewController->isDetailCollapsed())
        setDetailCollapsed(false);
    DetailTabViewController *detail = m_splitViewController->tabViewController();
    detail->selectTab(DetailTabIndex::casesInfo);
    QLineEdit *field = detail->infoViewController()->patientIDField();
    field->setFocus(Qt::OtherFocusReason);
    field->selectAll();
}

void LibraryWindowController::searchAll(const QString &text)
{
    {
        const QSignalBlocker blocker(m_searchField);
        m_searchField->setText(text);
    }
    chooseScope(allScope); // searches with the text
    makeCaseListFirstResponder();
}

void LibraryWindowController::goToRelativeRow(int offset)
{
    LibraryWithTagsViewController *library = libraryViewController();
    const QModelIndexList selected = library->casesSelectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    int first = selected.first().row();
    for (const QModelIndex &index : selected)
        first = qMin(first, index.row());
    const int row = first + offset;
    // At either end of the list the selection stays where it is.
    if (row < 0 || row >= library->displayedCases().size())
        return;
    library->selectCaseRows({row});
}

void LibraryWindowController::goNext()
{
    goToRelativeRow(1);
}

void LibraryWindowController::goPrevious()
{
    goToRelativeRow(-1);
}

void LibraryWindowController::setDetailCollapsed(bool collapsed)
{
    m_splitViewController->setDetailCollapsed(collapsed);
    Settings::shared().setValue(collapseDetailKey, collapsed);
    m_toggleDetailToolbarItem->setText(collapsed ? QStringLiteral("Show Detail") : QStringLiteral("Hide Detail"));
    updateMenuTitles();
}

void LibraryWindowController::toggleSplitView()
{
    setDetailCollapsed(!m_splitViewController->isDetailCollapsed());
}

void LibraryWindowController::toggleTeachingMode()
{
    Log::info(LogArea::UI, QStringLiteral("Toggle teaching mode"));
    const bool teaching = Settings::shared().boolValue(teachingModeKey);
    m_stack.setSuspendAutomaticSaves(!teaching);
    if (teaching) {
        m_toggleTeachingToolbarItem->setText(QStringLiteral("Teach"));
        m_toggleTeachingToolbarItem->setIcon(ThemeIcon::firstOf({"system-users", "user-group-new", "im-user"}));
    } else {
        m_toggleTeachingToolbarItem->setText(QStringLiteral("Curate"));
        m_toggleTeachingToolbarItem->setIcon(ThemeIcon::firstOf({"accessories-dictionary", "x-office-address-book", "folder-documents"}));
    }
    setDetailCollapsed(!teaching);
    libraryViewController()->refreshFilters();
    Settings::shared().setValue(teachingModeKey, !teaching);
    updateMenuTitles();
}

void LibraryWindowController::showSelectionInDetail()
{
    const QList<Case *> selected = libraryViewController()->selectedCases();
    m_splitViewController->tabViewController()->followSelection(selected);
    if (m_mediaWindowController)
        m_mediaWindowController->setCurrentCase(selected.value(0, nullptr));
}

void LibraryWindowController::showMediaWindow(QWidget *sender, Qt::KeyboardModifiers modifiers)
{
    if (qobject_cast<ClickableTextField *>(sender) && !modifiers.testFlag(Qt::ControlModifier)) {
        m_splitViewController->tabViewController()->selectTab(DetailTabIndex::preview);
        return;
    }
    showMedia();
}

void LibraryWindowController::showMedia()
{
    const QList<Case *> selected = libraryViewController()->selectedCases();
    if (selected.size() != 1)
        return;
    CaseHistory::shared().push(selected.first());
    const bool alternate = QGuiApplication::queryKeyboardModifiers().testFlag(Qt::AltModifier);
    if (!m_mediaWindowController) {
        m_mediaWindowController = std::make_unique<MediaWindowController>(m_stack, m_host);
        m_mediaWindowController->setCurrentCase(selected.first());
    }
    m_mediaWindowController->show();
    m_mediaWindowController->raise();
    m_mediaWindowController->activateWindow();
    if (alternate || Settings::shared().boolValue(teachingModeKey))
        m_mediaWindowController->toggleFullScreen();
}

void LibraryWindowController::showAdvancedFind()
{
    if (!m_advancedFindWindowController)
        m_advancedFindWindowController = std::make_unique<AdvancedFindWindowController>(m_stack.mainContext());
    m_advancedFindWindowController->showWindow();
}

MediaTransferView *LibraryWindowController::syncMediaWindowController() const
{
    return m_syncMediaWindowController;
}

void LibraryWindowController::showNetworkWindow()
{
    if (!m_syncMediaWindowController) {
        m_syncMediaWindowController = new MediaTransferView(OvalisMediaTransferViewModel::forLibrary(m_stack));
        m_syncMediaWindowController->setAttribute(Qt::WA_DeleteOnClose);
        m_syncMediaWindowController->setMirrorService(m_mirrorService);
        m_syncMediaWindowController->show();
    }
    m_syncMediaWindowController->raise();
    m_syncMediaWindowController->activateWindow();
}

void LibraryWindowController::showCase(Case *item)
{
    Log::info(LogArea::UI, QStringLiteral("Show case: ") + item->description());
    // Showing media acts on the selection: without the case selected it
    // would open some other case.
    if (libraryViewController()->selectCase(item))
        showMedia();
}

void LibraryWindowController::importFolder()
{
    Log::info(LogArea::UI, QStringLiteral("Import from folder hierarchy"));
    QString folder;
    if (m_importFolderChooser) {
        folder = m_importFolderChooser();
    } else {
        QFileDialog panel(this);
        panel.setFileMode(QFileDialog::Directory);
        panel.setOption(QFileDialog::ShowDirsOnly);
        panel.setLabelText(QFileDialog::Accept, QStringLiteral("Import"));
        if (panel.exec() == QDialog::Accepted && !panel.selectedFiles().isEmpty())
            folder = panel.selectedFiles().first();
    }
    if (folder.isEmpty())
        return;
    Log::info(LogArea::UI, QStringLiteral("Import from ") + folder);
    const QPointer<LibraryWindowController> self(this);
    FolderHierarchyImport::importFolderHierarchy(folder, m_stack.mainContext(), [self, folder](const FolderHierarchyImport::Summary &summary) {
        if (self)
            JobNotice::show(self, folderImportNotice(summary, QFileInfo(folder).fileName()));
    });
}

void LibraryWindowController::reviewDroppedDicom(const QStringList &paths, Case *target)
{
    if (target)
        libraryViewController()->selectCase(target);
    reviewDicom(paths, target != nullptr);
}

void LibraryWindowController::importDicom()
{
    Log::info(LogArea::UI, QStringLiteral("Import DICOM"));
    reviewDicom({});
}

DicomImportDialog *LibraryWindowController::reviewDicom(const QStringList &paths, bool intoSelectedCase)
{
    ObjectID selected;
    QString selectedText;
    if (LibraryWithTagsViewController *library = libraryViewController()) {
        const QList<Case *> cases = library->selectedCases();
        if (cases.size() == 1) {
            // The import's background child finds the case by its permanent identifier.
            if (m_stack.mainContext()->hasChanges())
                m_stack.mainContext()->saveWithParent(true);
            selected = cases.first()->objectID();
            selectedText = cases.first()->summary().isEmpty() ? cases.first()->patientID() : cases.first()->summary();
        }
    }
    auto *dialog = new DicomImportDialog(m_stack.mainContext(), selected, selectedText, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (intoSelectedCase)
        dialog->chooseSelectedCase();
    dialog->addPaths(paths);
    dialog->show();
    return dialog;
}

void LibraryWindowController::setMirrorService(MirrorService *service)
{
    if (m_mirrorStatusView || !service)
        return;
    m_mirrorService = service;
    // At the status bar's right end, after the progress of long work.
    m_mirrorStatusView = new MirrorStatusView(service, statusBar());
    statusBar()->addPermanentWidget(m_mirrorStatusView);
}

void LibraryWindowController::closeEvent(QCloseEvent *event)
{
    Settings::shared().setValue(geometryKey, saveGeometry());
    QMainWindow::closeEvent(event);
}

} // namespace ovalis
