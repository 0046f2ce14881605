#include "app/AppDelegate.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>
#include <algorithm>
#include <csignal>

#include "app/AboutController.h"
#include "app/MirrorPasswordStore.h"
#include "app/SettingsWindowController.h"
#include "app/UpdateWindowController.h"
#include "exchange/ui/BackupCommands.h"
#include "exchange/ui/OvalisOneImportController.h"
#include "library/CaseHistory.h"
#include "library/ValueTransformer.h"
#include "library/ui/LibraryWindowController.h"
#include "media/DicomRenderer.h"
#include "media/ExternalEditor.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/LibraryMaintenance.h"
#include "store/ManagedObjectContext.h"
#include "transfer/MirrorService.h"
#include "util/Log.h"
#include "util/Settings.h"
#include "util/TerminationSignalNotifier.h"
#include "util/UndoManager.h"
#include "util/UpdateChecker.h"

namespace ovalis {

namespace {

AppDelegate *theInstance = nullptr;

const QString supportAddress = QStringLiteral("support@ovalis.example");
const QString userGuideFileName = QStringLiteral("User Guide.pdf");
const QString disableCloudSyncingKey = QStringLiteral("Disable_Cloud_Syncing");

// The characters a URL path may hold besides letters, digits and "-._~".
const QByteArray urlPathAllowed("!$&'()*+,=:@/");

// This build's number, or an empty string when the build sets none.
QString buildNumber()
{
#ifdef OVALIS_BUILD_NUMBER
    return QStringLiteral(OVALIS_BUILD_NUMBER);
#else
    return QString();
#endif
}

QString orUnknown(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("?") : text;
}

// A visible window a person can see and use: menus and tool tips do not count,
// and neither does a minimised window.
bool hasVisibleWindow()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.cbegin(), windows.cend(), [](const QWidget *window) {
        const Qt::WindowType type = window->windowType();
        return window->isVisible() && !window->isMinimized() && type != Qt::Popup && type != Qt::ToolTip;
    });
}

// Opens a URL with the desktop. The desktop's opener reports success as soon
// as it has started, even when nothing can show the file, so a local file is
// first matched against the installed applications' types.
bool openWithDesktop(const QString &url)
{
    const QUrl target(url);
    if (target.isLocalFile()
        && ExternalEditor::applicationsFor(target.toLocalFile(), ExternalEditor::defaultApplicationDirectories()).isEmpty()) {
        Log::error(LogArea::UI, QStringLiteral("No installed application opens ") + target.toLocalFile());
        return false;
    }
    return QDesktopServices::openUrl(target);
}

} // namespace

AppDelegate::AppDelegate(CoreDataStack &stack, QObject *parent)
    : QObject(parent)
    , m_stack(stack)
    , m_mirrorPasswordStore(MirrorPasswordStore::keychain())
    , m_resourceFolders(defaultResourceFolders())
{
    theInstance = this;
    Settings::registerApplicationDefaults();
    ValueTransformer::registerStandardTransformers();
    connect(&Settings::shared(), &Settings::valueChanged, this, [this](const QString &key) {
        if (key != disableCloudSyncingKey || !m_mirrorService)
            return;
        if (cloudSyncingDisabled())
            m_mirrorService->stop();
        else
            startMirror();
    });

    m_saveAction = newAction(tr("&Save"), &AppDelegate::saveMOC);
    m_saveAction->setShortcut(QKeySequence::Save);
    m_settingsAction = newAction(tr("Se&ttings…"), &AppDelegate::showSettings);
    m_settingsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    m_helpAction = newAction(tr("&User Guide"), &AppDelegate::showHelp);
    m_helpAction->setShortcut(QKeySequence::HelpContents);
    m_supportEmailAction = newAction(tr("Send Support &Email…"), &AppDelegate::sendSupportEmail);
    m_quitAction = newAction(tr("&Quit"), &AppDelegate::quit);
    m_quitAction->setShortcut(QKeySequence::Quit);
    m_libraryWindowAction = newAction(tr("&Library"), &AppDelegate::showCasesDatabaseWindow);
    m_aboutAction = newAction(tr("&About Ovalis"), &AppDelegate::showAbout);
    m_checkForUpdatesAction = newAction(tr("Check for Up&dates…"), &AppDelegate::checkForUpdates);
    m_backupCommands = new BackupCommands(stack, [this] { return dialogParent(); }, this);
    m_backupLibraryAction = new QAction(tr("Back Up &Library…"), this);
    connect(m_backupLibraryAction, &QAction::triggered, m_backupCommands, &BackupCommands::backUpLibrary);
    m_restoreLibraryAction = new QAction(tr("Restore L&ibrary…"), this);
    connect(m_restoreLibraryAction, &QAction::triggered, m_backupCommands, &BackupCommands::restoreLibrary);
    m_cancelLibraryJobAction = new QAction(tr("&Cancel Library Backup"), this);
    m_cancelLibraryJobAction->setEnabled(false);
    connect(m_cancelLibraryJobAction, &QAction::triggered, m_backupCommands, &BackupCommands::cancelLibraryJob);
    connect(m_backupCommands, &BackupCommands::libraryJobRunningChanged, this, [this](bool running) {
        m_cancelLibraryJobAction->setEnabled(running);
        m_backupLibraryAction->setEnabled(!running);
        m_restoreLibraryAction->setEnabled(!running);
        m_backupAction->setEnabled(!running);
        m_restoreAction->setEnabled(!running);
    });
    m_backupAction = new QAction(tr("&Back Up Records (JSON)…"), this);
    connect(m_backupAction, &QAction::triggered, m_backupCommands, &BackupCommands::exportDatabase);
    m_restoreAction = new QAction(tr("&Restore from Backup…"), this);
    connect(m_restoreAction, &QAction::triggered, m_backupCommands, &BackupCommands::importBackup);

    m_debuggingActions = {
        newAction(tr("Delete Orphaned Media"), &AppDelegate::deleteOrphanedMedia),
        newAction(tr("Log Record Counts"), &AppDelegate::logCoreDataCount),
        newAction(tr("Log Tags"), &AppDelegate::logTags),
        newAction(tr("Correct Date Added"), &AppDelegate::correctDateAdded),
        newAction(tr("Reset Sync History"), &AppDelegate::resetCloudKitHistory),
        newAction(tr("Delete All Data…"), &AppDelegate::deleteAllData),
    };

    m_errorPresenter = [this](const QString &error) {
        QMessageBox box(QMessageBox::Critical, QString(), tr("The library could not be saved."), QMessageBox::Ok,
                        dialogParent());
        box.setInformativeText(error);
        box.exec();
        return false;
    };
    m_quitQuestion = [this] {
        QMessageBox box(QMessageBox::Warning, QString(),
                        tr("Could not save changes while quitting. Quit anyway?", "Quit without saves error question message"),
                        QMessageBox::NoButton, dialogParent());
        box.setInformativeText(tr("Quitting now will lose any changes you have made since the last successful save",
                                  "Quit without saves error question info"));
        QPushButton *quitAnyway = box.addButton(tr("Quit anyway", "Quit anyway button title"), QMessageBox::DestructiveRole);
        QPushButton *cancel = box.addButton(tr("Cancel", "Cancel button title"), QMessageBox::RejectRole);
        box.setDefaultButton(quitAnyway);
        box.setEscapeButton(cancel);
        box.exec();
        return box.clickedButton() == cancel ? QuitAnswer::Cancel : QuitAnswer::QuitAnyway;
    };
    m_urlOpener = openWithDesktop;
    m_restoreConfirmation = [this](const QString &fileName) {
        QMessageBox box(QMessageBox::Question, QString(), tr("Restore the cases of “%1” into the library?").arg(fileName),
                        QMessageBox::NoButton, dialogParent());
        box.setInformativeText(tr("The backup's cases are added to the cases already in the library."));
        QPushButton *restore = box.addButton(tr("Restore"), QMessageBox::AcceptRole);
        box.setDefaultButton(restore);
        box.addButton(QMessageBox::Cancel);
        box.exec();
        return box.clickedButton() == restore;
    };
    m_openFailurePresenter = [this](const QString &message) {
        QMessageBox::warning(dialogParent(), QString(), message);
    };
    m_deleteAllConfirmation = [this] {
        QMessageBox box(QMessageBox::Warning, QString(), tr("Delete every case, tag and media file in the library?"),
                        QMessageBox::NoButton, dialogParent());
        box.setInformativeText(tr("The deletion is saved at once and cannot be undone."));
        QPushButton *deleteAll = box.addButton(tr("Delete All Data"), QMessageBox::DestructiveRole);
        box.setDefaultButton(box.addButton(QMessageBox::Cancel));
        box.exec();
        return box.clickedButton() == deleteAll;
    };
}

AppDelegate::~AppDelegate()
{
    // The mirror's thread reads the library: it ends while the stack is there.
    delete m_mirrorService;
    if (theInstance == this)
        theInstance = nullptr;
}

AppDelegate *AppDelegate::instance()
{
    return theInstance;
}

QAction *AppDelegate::newAction(const QString &text, void (AppDelegate::*slot)())
{
    auto *action = new QAction(text, this);
    connect(action, &QAction::triggered, this, slot);
    return action;
}

void AppDelegate::setShowDebuggingMenu(bool show)
{
    if (show == m_showDebuggingMenu)
        return;
    m_showDebuggingMenu = show;
    emit showDebuggingMenuChanged(show);
}

AppDelegate::TerminateReply AppDelegate::applicationShouldTerminate()
{
    // The main context holds no editors of its own: the windows hand each
    // edit to their records as it is made, so there is nothing to commit here.
    ManagedObjectContext *context = m_stack.mainContext();
    if (!context || !context->hasChanges())
        return TerminateReply::TerminateNow;
    QString error;
    if (context->save(&error))
        return TerminateReply::TerminateNow;
    Log::error(LogArea::CoreData, QStringLiteral("Failed to save context: ") + error);
    if (m_errorPresenter(error))
        return TerminateReply::TerminateCancel;
    return m_quitQuestion() == QuitAnswer::Cancel ? TerminateReply::TerminateCancel : TerminateReply::TerminateNow;
}

void AppDelegate::applicationWillTerminate()
{
    if (ManagedObjectContext *context = m_stack.mainContext())
        context->saveWithParent(true);
    // The library closes: no step can be undone any more, and the copies of
    // media files the steps kept go with them.
    if (UndoManager *undo = m_stack.undoManager())
        undo->removeAllActions();
}

void AppDelegate::applicationWillResignActive()
{
    if (ManagedObjectContext *context = m_stack.mainContext())
        context->saveWithParent(true);
}

bool AppDelegate::applicationShouldHandleReopen()
{
    if (!hasVisibleWindow())
        showCasesDatabaseWindow();
    return true;
}

void AppDelegate::observeApplication(QGuiApplication *application)
{
    application->setQuitOnLastWindowClosed(false);
    connect(application, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationInactive)
            applicationWillResignActive();
        else if (state == Qt::ApplicationActive)
            m_stack.mergeChangesFromOtherProcesses();
    });
    // The mirror stops before the last save, so that its thread is gone
    // before the library closes; what was not sent waits for the next start.
    connect(application, &QCoreApplication::aboutToQuit, this, [this] {
        if (m_mirrorService)
            m_mirrorService->stop();
    });
    connect(application, &QCoreApplication::aboutToQuit, this, &AppDelegate::applicationWillTerminate);
    connect(application, &QGuiApplication::lastWindowClosed, this, &AppDelegate::quit);
    // A logout or shutdown asks the session's applications to keep their
    // data, then ends them with SIGTERM: both save.
#ifndef QT_NO_SESSIONMANAGER
    connect(application, &QGuiApplication::commitDataRequest, this, &AppDelegate::applicationWillTerminate);
#endif
    auto *terminationSignals = new TerminationSignalNotifier(this);
    connect(terminationSignals, &TerminationSignalNotifier::terminationRequested, this, &AppDelegate::terminateOnSignal);
}

void AppDelegate::terminateOnSignal(int signalNumber)
{
    // Nobody is there to answer a question at a logout: the library is saved
    // as Quit saves it, a failure is logged, and the application ends.
    Log::info(LogArea::TearDown, QStringLiteral("Received %1; saving and quitting")
                                     .arg(signalNumber == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM")));
    m_quitting = true;
    int exitCode = 0;
    if (ManagedObjectContext *context = m_stack.mainContext()) {
        QString error;
        if (!context->save(&error)) {
            Log::error(LogArea::CoreData, QStringLiteral("Failed to save context: ") + error);
            exitCode = 1;
        }
    }
    QCoreApplication::exit(exitCode);
}

QString AppDelegate::historyTitle(const Case *item)
{
    // A case without identifier goes by its summary's first line; the age
    // and sex follow only when there is one of them to show.
    QString name = item->patientID().trimmed();
    if (name.isEmpty())
        name = item->summary().section(u'\n', 0, 0).trimmed();
    if (name.size() > 60)
        name = name.left(59) + QStringLiteral("…");
    if (name.isEmpty())
        name = tr("No identifier");
    QStringList details;
    for (const QString &part : {item->ageString().trimmed(), item->abbreviatedSex().trimmed()})
        if (!part.isEmpty())
            details.append(part);
    return details.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, details.join(u' '));
}

QMenu *AppDelegate::createHistoryMenu(QWidget *parent)
{
    auto *menu = new QMenu(tr("Hi&story"), parent);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { menuNeedsUpdate(menu); });
    menuNeedsUpdate(menu);
    return menu;
}

void AppDelegate::menuNeedsUpdate(QMenu *menu)
{
    menu->clear();
    CaseHistory &history = CaseHistory::shared();
    history.removeDeletedCases();
    const QList<Case *> cases = history.cases();
    if (cases.isEmpty()) {
        menu->addAction(tr("No Items"))->setEnabled(false);
        return;
    }
    // Newest first; each item opens the entry at its position.
    for (int position = int(cases.size()) - 1; position >= 0; --position) {
        const Case *item = cases[position];
        const QString title = historyTitle(item);
        QAction *action = menu->addAction(QString(title).replace(QLatin1Char('&'), QStringLiteral("&&")));
        action->setData(position);
        connect(action, &QAction::triggered, this, [this, position] { openHistoricalCase(position); });
    }
    menu->addSeparator();
    menu->addAction(tr("Clear All"), this, &AppDelegate::clearHistoricalCases);
}

void AppDelegate::openHistoricalCase(int position)
{
    Case *item = CaseHistory::shared().at(position);
    auto *window = qobject_cast<LibraryWindowController *>(m_libraryWindowController.data());
    if (!item || !window)
        return;
    window->reset();
    window->showCase(item);
}

void AppDelegate::clearHistoricalCases()
{
    CaseHistory::shared().clear();
}

QMenu *AppDelegate::createDebuggingMenu(QWidget *parent)
{
    auto *menu = new QMenu(tr("&Debug"), parent);
    for (QAction *action : std::as_const(m_debuggingActions)) {
        if (action == m_debuggingActions.constLast())
            menu->addSeparator();
        menu->addAction(action);
    }
    menu->menuAction()->setVisible(m_showDebuggingMenu);
    connect(this, &AppDelegate::showDebuggingMenuChanged, menu, [menu](bool show) { menu->menuAction()->setVisible(show); });
    return menu;
}

AppDelegate::ApplicationMenus AppDelegate::addApplicationMenus(QMenuBar *menuBar)
{
    ApplicationMenus menus{};
    menus.file = menuBar->addMenu(tr("&File"));
    menus.file->addAction(m_saveAction);
    menus.file->addSeparator();
    menus.file->addAction(m_backupLibraryAction);
    menus.file->addAction(m_restoreLibraryAction);
    menus.file->addAction(m_cancelLibraryJobAction);
    menus.file->addSeparator();
    menus.file->addAction(m_backupAction);
    menus.file->addAction(m_restoreAction);
    menus.file->addSeparator();
    menus.file->addAction(m_quitAction);

    menus.edit = menuBar->addMenu(tr("&Edit"));
    menus.edit->addAction(m_settingsAction);

    menus.view = menuBar->addMenu(tr("&View"));
    menus.view->menuAction()->setVisible(false);
    menus.view->installEventFilter(this);

    menus.history = createHistoryMenu(menuBar);
    menuBar->addMenu(menus.history);

    menus.window = menuBar->addMenu(tr("&Window"));
    menus.window->addAction(m_libraryWindowAction);

    menus.debug = createDebuggingMenu(menuBar);
    menuBar->addMenu(menus.debug);

    menus.help = menuBar->addMenu(tr("&Help"));
    menus.help->addAction(m_helpAction);
    menus.help->addAction(m_supportEmailAction);
    menus.help->addSeparator();
    menus.help->addAction(m_checkForUpdatesAction);
    menus.help->addAction(m_aboutAction);
    return menus;
}

bool AppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    // The View menu stays out of the menu bar while it has nothing to offer.
    if (event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionRemoved) {
        if (auto *menu = qobject_cast<QMenu *>(watched))
            menu->menuAction()->setVisible(!menu->actions().isEmpty());
    }
    return QObject::eventFilter(watched, event);
}

void AppDelegate::setErrorPresenter(std::function<bool(const QString &)> presenter)
{
    m_errorPresenter = std::move(presenter);
}

void AppDelegate::setQuitQuestion(std::function<QuitAnswer()> question)
{
    m_quitQuestion = std::move(question);
}

void AppDelegate::setUrlOpener(std::function<bool(const QString &)> opener)
{
    m_urlOpener = std::move(opener);
}

void AppDelegate::setDeleteAllConfirmation(std::function<bool()> confirmation)
{
    m_deleteAllConfirmation = std::move(confirmation);
}

QWidget *AppDelegate::dialogParent() const
{
    if (m_libraryWindowController && m_libraryWindowController->isVisible())
        return m_libraryWindowController;
    return nullptr;
}

void AppDelegate::showCasesDatabaseWindow()
{
    Log::info(LogArea::UI, QStringLiteral("Show cases DB"));
    QMainWindow *window = m_libraryWindowController;
    if (!window)
        return;
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

void AppDelegate::saveMOC()
{
    if (ManagedObjectContext *context = m_stack.mainContext())
        context->saveWithParent(true);
}

void AppDelegate::showSettings()
{
    Log::info(LogArea::UI, QStringLiteral("Show settings"));
    if (!m_settingsWindowController)
        m_settingsWindowController = new SettingsWindowController(*this, this);
    m_settingsWindowController->showWindow();
}

MirrorService *AppDelegate::mirrorService()
{
    if (!m_mirrorService)
        m_mirrorService = new MirrorService(&m_stack, this);
    return m_mirrorService;
}

void AppDelegate::setMirrorPasswordStore(std::unique_ptr<MirrorPasswordStore> store)
{
    m_mirrorPasswordStore = std::move(store);
}

bool AppDelegate::cloudSyncingDisabled()
{
    return Settings::shared().boolValue(disableCloudSyncingKey);
}

void AppDelegate::startMirror()
{
    MirrorService *service = mirrorService();
    const QString server = service->server();
    if (cloudSyncingDisabled() || server.isEmpty() || service->isRunning())
        return;
    m_mirrorPasswordStore->read(server, service, [this, service, server](const QString &password) {
        // The answer may come after syncing was turned off or the server changed.
        if (cloudSyncingDisabled() || service->server() != server || service->isRunning())
            return;
        service->setPassword(password);
        service->start();
    });
}

void AppDelegate::restartMirror()
{
    MirrorService *service = mirrorService();
    service->stop();
    if (!cloudSyncingDisabled() && !service->server().isEmpty())
        service->start();
}

QStringList AppDelegate::defaultResourceFolders()
{
    const QString programFolder = QCoreApplication::applicationDirPath();
    QStringList folders{QDir::cleanPath(programFolder + QStringLiteral("/../share/ovalis"))};
    for (const QString &data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        folders.append(QDir::cleanPath(data + QStringLiteral("/ovalis")));
    folders.append(programFolder + QStringLiteral("/resources"));
    folders.removeDuplicates();
    return folders;
}

QString AppDelegate::userGuidePath()
{
    return userGuidePath(defaultResourceFolders());
}

QString AppDelegate::userGuidePath(const QStringList &resourceFolders)
{
    for (const QString &folder : resourceFolders) {
        const QDir dir(folder);
        for (const QString &candidate : {dir.filePath(QStringLiteral("PDF/") + userGuideFileName), dir.filePath(userGuideFileName)}) {
            if (QFileInfo(candidate).isFile())
                return candidate;
        }
    }
    return QString();
}

void AppDelegate::showHelp()
{
    Log::info(LogArea::UI, QStringLiteral("Show help"));
    const QString path = userGuidePath(m_resourceFolders);
    if (path.isEmpty()) {
        Log::error(LogArea::UI, QStringLiteral("Unable to locate bundled help document"));
        return;
    }
    const QString url = QUrl::fromLocalFile(path).toString();
    if (!m_urlOpener(url)) {
        Log::error(LogArea::UI, QStringLiteral("Unable to open ") + url);
        m_openFailurePresenter(tr("The user guide “%1” could not be opened. Install a PDF viewer, or open the file "
                                  "from your file manager.")
                                   .arg(QDir::toNativeSeparators(path)));
    }
}

void AppDelegate::showAbout()
{
    if (!m_aboutController)
        m_aboutController = new AboutController(dialogParent());
    m_aboutController->showWindow();
}

namespace {

// Folders and DICOM files (told by their content, or a DICOMDIR) open in the DICOM import's review.
bool isDicomToOpen(const QFileInfo &info)
{
    if (info.isDir() || info.fileName() == QLatin1String("DICOMDIR"))
        return true;
    QFile file(info.absoluteFilePath());
    return file.open(QIODevice::ReadOnly) && DicomRenderer::isDicomData(file.read(132));
}

} // namespace

void AppDelegate::openFiles(const QStringList &paths)
{
    showCasesDatabaseWindow();
    QStringList documents;
    QStringList dicom;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        const QString suffix = info.suffix().toLower();
        Log::info(LogArea::UI, QStringLiteral("Open file ") + info.absoluteFilePath());
        if (isDicomToOpen(info)) {
            dicom.append(info.absoluteFilePath());
        } else if (suffix == QLatin1String("ovalis")) {
            documents.append(info.absoluteFilePath());
        } else if (suffix == QLatin1String("json")) {
            if (m_restoreConfirmation(info.fileName()))
                m_backupCommands->restoreBackupFile(info.absoluteFilePath());
        } else {
            Log::error(LogArea::UI, QStringLiteral("Unable to open ") + info.absoluteFilePath());
            m_openFailurePresenter(tr("Ovalis cannot open “%1”. It opens JSON backups, version 1 documents (.ovalis) "
                                      "and DICOM files and folders.")
                                       .arg(info.fileName()));
        }
    }
    auto *window = qobject_cast<LibraryWindowController *>(m_libraryWindowController.data());
    if (!documents.isEmpty() && window)
        window->ovalisOneImportController()->importDocuments(documents);
    if (!dicom.isEmpty() && window)
        window->reviewDicom(dicom);
}

void AppDelegate::setRestoreConfirmation(std::function<bool(const QString &)> confirmation)
{
    m_restoreConfirmation = std::move(confirmation);
}

void AppDelegate::setOpenFailurePresenter(std::function<void(const QString &)> presenter)
{
    m_openFailurePresenter = std::move(presenter);
}

AboutController *AppDelegate::aboutController() const
{
    return m_aboutController;
}

void AppDelegate::checkForUpdates()
{
    // The keys that force a channel are read as the check starts.
    const Qt::KeyboardModifiers keys = QGuiApplication::queryKeyboardModifiers();
    const UpdateDelegate::Modifiers modifiers{.control = keys.testFlag(Qt::ControlModifier), .alt = keys.testFlag(Qt::AltModifier)};
    if (!m_updateWindowController) {
        auto *checker = new UpdateChecker(buildNumber(), QCoreApplication::applicationVersion(), this);
        m_updateWindowController = new UpdateWindowController(checker, dialogParent());
    }
    m_updateWindowController->show();
    m_updateWindowController->raise();
    m_updateWindowController->checkForUpdates(UpdateChecker::configuredFeedUrl(), modifiers);
}

QString AppDelegate::supportEmailLink()
{
    const QString subject = QStringLiteral("%1 v%2 (%3) support request")
                                .arg(orUnknown(QGuiApplication::applicationDisplayName()),
                                     orUnknown(QCoreApplication::applicationVersion()), orUnknown(buildNumber()));
    const QString link = QStringLiteral("mailto:%1?subject=%2")
                             .arg(supportAddress, QString::fromLatin1(QUrl::toPercentEncoding(subject, urlPathAllowed)));
    return QUrl(link, QUrl::StrictMode).isValid() ? link : QString();
}

void AppDelegate::sendSupportEmail()
{
    const QString link = supportEmailLink();
    if (link.isEmpty())
        return;
    Log::info(LogArea::UI, QStringLiteral("Send support email ") + link);
    m_urlOpener(link);
}

void AppDelegate::quit()
{
    // Closing the last window while the decision's own dialogs are up, or a
    // second Quit, must not start another decision.
    if (m_quitting)
        return;
    m_quitting = true;
    if (applicationShouldTerminate() == TerminateReply::TerminateCancel) {
        m_quitting = false;
        applicationShouldHandleReopen();
        return;
    }
    // The event loop ends and aboutToQuit brings the will-terminate save.
    QCoreApplication::exit(0);
}

void AppDelegate::runMaintenance(void (LibraryMaintenance::*operation)())
{
    ManagedObjectContext *context = m_stack.mainContext();
    if (!context)
        return;
    LibraryMaintenance maintenance(context);
    (maintenance.*operation)();
    context->saveWithParent(true);
}

void AppDelegate::deleteOrphanedMedia()
{
    runMaintenance(&LibraryMaintenance::deleteOrphanedMedia);
}

void AppDelegate::logCoreDataCount()
{
    runMaintenance(&LibraryMaintenance::logCoreDataCount);
}

void AppDelegate::logTags()
{
    runMaintenance(&LibraryMaintenance::logTags);
}

void AppDelegate::correctDateAdded()
{
    runMaintenance(&LibraryMaintenance::correctDateAdded);
}

void AppDelegate::deleteAllData()
{
    if (m_deleteAllConfirmation())
        runMaintenance(&LibraryMaintenance::deleteAllData);
}

void AppDelegate::resetCloudKitHistory()
{
    runMaintenance(&LibraryMaintenance::resetCloudKitHistory);
}

} // namespace ovalis
