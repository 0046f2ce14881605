#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <csignal>
#include <unistd.h>

#include "app/AppDelegate.h"
#include "app/SettingsWindowController.h"
#include "app/UpdateWindowController.h"
#include "exchange/BackupReminder.h"
#include "exchange/ui/BackupCommands.h"
#include "exchange/ui/DicomImportDialog.h"
#include "library/ui/LibraryWindowController.h"
#include "store/PersistentStore.h"
#include "support/DicomTestFiles.h"
#include "support/LocalHttpsServer.h"
#include "store/UndoFileFolder.h"
#include "support/StoreFixture.h"
#include "util/Log.h"
#include "util/UndoManager.h"

namespace ovalis::test {
namespace {

using TerminateReply = AppDelegate::TerminateReply;
using QuitAnswer = AppDelegate::QuitAnswer;

class AppDelegateTest : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        m_delegate = std::make_unique<AppDelegate>(*m_stack);
        m_delegate->setErrorPresenter([this](const QString &error) {
            m_asked << QStringLiteral("error: ") + error;
            return m_errorResolved;
        });
        m_delegate->setQuitQuestion([this] {
            m_asked << QStringLiteral("quit anyway?");
            return m_answer;
        });
        m_delegate->setUrlOpener([this](const QString &url) {
            m_opened << url;
            return true;
        });
        m_delegate->setDeleteAllConfirmation([this] { return m_confirmDeleteAll; });
    }

    void TearDown() override
    {
        m_delegate.reset();
        StoreFixture::TearDown();
    }

    void failSaves(const QString &message) { m_stack->persistentStore()->setSaveFailureForTesting(message); }
    int savedCases() { return openSecondStack()->mainContext()->countOfObjects(Case::entityName()); }

    static QAction *actionTitled(QMenu *menu, const QString &title)
    {
        for (QAction *action : menu->actions())
            if (action->text() == title)
                return action;
        return nullptr;
    }

    std::unique_ptr<AppDelegate> m_delegate;
    QStringList m_asked;
    QStringList m_opened;
    bool m_errorResolved = false;
    bool m_confirmDeleteAll = false;
    QuitAnswer m_answer = QuitAnswer::Cancel;
};

TEST_F(AppDelegateTest, QuitDecisionAsksOnlyWhenTheSaveFails)
{
    EXPECT_EQ(m_delegate->applicationShouldTerminate(), TerminateReply::TerminateNow);
    newCase(QStringLiteral("A1"));
    EXPECT_EQ(m_delegate->applicationShouldTerminate(), TerminateReply::TerminateNow);
    EXPECT_TRUE(m_asked.isEmpty());
    EXPECT_EQ(savedCases(), 1);

    newCase(QStringLiteral("B2"));
    failSaves(QStringLiteral("disk full"));
    EXPECT_EQ(m_delegate->applicationShouldTerminate(), TerminateReply::TerminateCancel);
    EXPECT_EQ(m_asked, QStringList({QStringLiteral("error: disk full"), QStringLiteral("quit anyway?")}));
    EXPECT_TRUE(context()->hasChanges());

    m_asked.clear();
    m_answer = QuitAnswer::QuitAnyway;
    EXPECT_EQ(m_delegate->applicationShouldTerminate(), TerminateReply::TerminateNow);
    EXPECT_EQ(m_asked, QStringList({QStringLiteral("error: disk full"), QStringLiteral("quit anyway?")}));

    // An error the presentation resolved cancels without the question.
    m_asked.clear();
    m_errorResolved = true;
    EXPECT_EQ(m_delegate->applicationShouldTerminate(), TerminateReply::TerminateCancel);
    EXPECT_EQ(m_asked, QStringList({QStringLiteral("error: disk full")}));

    // The refused saves lost nothing.
    failSaves(QString());
    EXPECT_EQ(m_delegate->applicationShouldTerminate(), TerminateReply::TerminateNow);
    EXPECT_EQ(savedCases(), 2);
}

TEST_F(AppDelegateTest, QuitEndsTheEventLoopOnlyWhenDecidedAndSavesOnceMoreOnTheWayOut)
{
    m_delegate->observeApplication(qApp);
    QMainWindow library;
    m_delegate->setLibraryWindowController(&library);
    library.show();
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    safety.start(10000);

    // Closing the last window asks to quit; cancelled, the loop goes on and
    // the library window comes back. The loop ends on a later turn only if
    // the quit did not end it at once.
    newCase(QStringLiteral("A1"));
    failSaves(QStringLiteral("disk full"));
    m_delegate->setQuitQuestion([this] {
        m_asked << QStringLiteral("quit anyway?");
        QTimer::singleShot(0, [] { QCoreApplication::exit(7); });
        return QuitAnswer::Cancel;
    });
    QTimer::singleShot(0, &library, &QWidget::close);
    EXPECT_EQ(QCoreApplication::exec(), 7);
    EXPECT_EQ(m_asked, QStringList({QStringLiteral("error: disk full"), QStringLiteral("quit anyway?")}));
    EXPECT_TRUE(library.isVisible());
    EXPECT_TRUE(context()->hasChanges());

    failSaves(QString());
    LogCapture capture;
    QTimer::singleShot(0, m_delegate.get(), &AppDelegate::quit);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_EQ(capture.count(QStringLiteral("Save MOC, asking parent true")), 1);
    EXPECT_EQ(savedCases(), 1);
}

TEST_F(AppDelegateTest, TerminationSignalsSaveTheUnsavedEditsWithoutAskingAndEndTheLoop)
{
    m_delegate->observeApplication(qApp);
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    safety.start(20000);

    // A logout sends SIGTERM while an edit and a new case are unsaved.
    Case *edited = newCase(QStringLiteral("SIG1"), QStringLiteral("as first saved"));
    context()->saveWithParent(true);
    edited->setSummary(QStringLiteral("edited just before the logout"));
    newCase(QStringLiteral("SIG2"));
    LogCapture capture;
    QTimer::singleShot(0, [] { ::kill(::getpid(), SIGTERM); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(capture.contains(QStringLiteral("Received SIGTERM; saving and quitting")));
    EXPECT_FALSE(context()->hasChanges());
    QProcess cli;
    cli.start(QStringLiteral(OVALIS_BUILD_DIR "/ovalis-cli"),
              {QStringLiteral("--library"), libraryPath(), QStringLiteral("show"), QStringLiteral("SIG1")});
    ASSERT_TRUE(cli.waitForFinished(60000));
    EXPECT_EQ(cli.exitCode(), 0);
    EXPECT_TRUE(cli.readAllStandardOutput().contains("edited just before the logout"));
    EXPECT_EQ(savedCases(), 2);

    // Ctrl+C in a terminal ends the same way; a save that fails is logged,
    // asks nothing and ends with a failing exit code.
    newCase(QStringLiteral("SIG3"));
    failSaves(QStringLiteral("disk full"));
    capture.clear();
    QTimer::singleShot(0, [] { ::kill(::getpid(), SIGINT); });
    EXPECT_EQ(QCoreApplication::exec(), 1);
    EXPECT_TRUE(capture.contains(QStringLiteral("Received SIGINT; saving and quitting")));
    EXPECT_TRUE(capture.contains(QStringLiteral("Failed to save context: disk full")));
    EXPECT_TRUE(m_asked.isEmpty());
}

TEST_F(AppDelegateTest, TheApplicationEndsNormallyOnSigterm)
{
    // The real program, in a home and temporary folder of its own.
    QTemporaryDir home;
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral("tmp")));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("TMPDIR"), home.filePath(QStringLiteral("tmp")));
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "JOURNAL_STREAM"})
        environment.remove(QString::fromLatin1(variable));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QString program = QStringLiteral(OVALIS_BUILD_DIR "/ovalis");
    QProcess application;
    application.setProcessEnvironment(environment);
    application.start(program, {});
    ASSERT_TRUE(application.waitForStarted());
    auto stopApplication = qScopeGuard([&] {
        if (application.state() != QProcess::NotRunning) {
            application.kill();
            application.waitForFinished();
        }
    });

    // A second launch asks the first to show its window; the first logs that
    // from its event loop, so its handlers are in place by then.
    const QDir temporary(home.filePath(QStringLiteral("tmp")));
    auto listening = [&] {
        for (const QString &name : temporary.entryList({QStringLiteral("ovalis-*")}, QDir::System | QDir::Files))
            if (!name.endsWith(QStringLiteral(".lock")))
                return true;
        return false;
    };
    QByteArray errors;
    for (int i = 0; i < 600 && !listening() && application.state() == QProcess::Running; ++i) {
        application.waitForReadyRead(100);
        errors += application.readAllStandardError();
    }
    ASSERT_TRUE(listening()) << errors.toStdString();
    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(program, {});
    ASSERT_TRUE(second.waitForFinished(60000));
    ASSERT_TRUE(second.readAllStandardError().contains("already running"));
    for (int i = 0; i < 600 && !errors.contains("Show cases DB") && application.state() == QProcess::Running; ++i) {
        application.waitForReadyRead(100);
        errors += application.readAllStandardError();
    }
    ASSERT_TRUE(errors.contains("Show cases DB")) << errors.toStdString();

    ::kill(pid_t(application.processId()), SIGTERM);
    ASSERT_TRUE(application.waitForFinished(60000));
    errors += application.readAllStandardError();
    EXPECT_EQ(application.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(application.exitCode(), 0) << errors.toStdString();
    EXPECT_TRUE(errors.contains("Received SIGTERM; saving and quitting")) << errors.toStdString();
}

TEST_F(AppDelegateTest, DeactivationSaves)
{
    m_delegate->observeApplication(qApp);
    newCase(QStringLiteral("A1"));
    emit qApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_FALSE(context()->hasChanges());
    EXPECT_EQ(savedCases(), 1);
}

TEST_F(AppDelegateTest, QuittingLetsGoOfTheFilesKeptForUndo)
{
    Case *item = newCase(QStringLiteral("A1"));
    Media *media = item->addMedia("image", QStringLiteral("a.jpg"));
    ASSERT_NE(media, nullptr);
    const QString path = media->filePath();
    context()->saveWithParent(true);
    UndoManager *undo = m_stack->undoManager();
    undo->removeAllActions();
    item->removeMedia({media});
    const auto keptFiles = [this] {
        return QDir(m_stack->undoFiles().path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    };
    ASSERT_EQ(keptFiles().size(), 1); // the deleted media's file, kept for Undo

    m_delegate->applicationWillTerminate();
    EXPECT_FALSE(undo->canUndo());
    EXPECT_TRUE(keptFiles().isEmpty());
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(openSecondStack()->mainContext()->countOfObjects(Media::entityName()), 0);
}

TEST_F(AppDelegateTest, ReopenShowsTheLibraryWindowOnlyWhenNoWindowIsVisible)
{
    QMainWindow library;
    m_delegate->setLibraryWindowController(&library);
    LogCapture capture;
    EXPECT_TRUE(m_delegate->applicationShouldHandleReopen());
    EXPECT_TRUE(library.isVisible());
    EXPECT_EQ(capture.count(QStringLiteral("Show cases DB")), 1);

    EXPECT_TRUE(m_delegate->applicationShouldHandleReopen());
    EXPECT_EQ(capture.count(QStringLiteral("Show cases DB")), 1);

    library.showMinimized();
    EXPECT_TRUE(m_delegate->applicationShouldHandleReopen());
    EXPECT_FALSE(library.isMinimized());

    library.hide();
    m_delegate->setLibraryWindowController(nullptr);
    EXPECT_TRUE(m_delegate->applicationShouldHandleReopen());
    EXPECT_FALSE(library.isVisible());
}

TEST_F(AppDelegateTest, SupportEmailLinkCarriesTheEncodedSubject)
{
    const QString displayName = QGuiApplication::applicationDisplayName();
    const QString version = QCoreApplication::applicationVersion();
    const auto restore = qScopeGuard([&] {
        QGuiApplication::setApplicationDisplayName(displayName);
        QCoreApplication::setApplicationVersion(version);
    });
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Ovalis? Test"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.1 beta"));
#ifdef OVALIS_BUILD_NUMBER
    const QString build = QString::fromLatin1(QUrl::toPercentEncoding(QStringLiteral(OVALIS_BUILD_NUMBER)));
#else
    const QString build = QStringLiteral("%3F");
#endif

    const QString link = AppDelegate::supportEmailLink();
    EXPECT_EQ(link, QStringLiteral("mailto:support@ovalis.example?subject=Ovalis%3F%20Test%20v2.1%20beta%20(") + build
                        + QStringLiteral(")%20support%20request"));
    EXPECT_EQ(QUrl(link).query(QUrl::FullyDecoded),
              QStringLiteral("subject=Ovalis? Test v2.1 beta (") + QUrl::fromPercentEncoding(build.toLatin1())
                  + QStringLiteral(") support request"));

    QCoreApplication::setApplicationVersion(QString());
    EXPECT_TRUE(AppDelegate::supportEmailLink().contains(QStringLiteral("%20v%3F%20(")));

    LogCapture capture;
    m_delegate->sendSupportEmail();
    EXPECT_EQ(m_opened, QStringList({AppDelegate::supportEmailLink()}));
    EXPECT_TRUE(capture.contains(QStringLiteral("Send support email ") + m_opened.value(0)));
}

TEST_F(AppDelegateTest, HelpOpensTheFirstBundledGuideOrOnlyLogsItsAbsence)
{
    QTemporaryDir resources;
    const QString installed = resources.filePath(QStringLiteral("share/ovalis"));
    const QString buildTree = resources.filePath(QStringLiteral("build/resources"));
    m_delegate->setResourceFolders({installed, buildTree});
    auto addGuide = [](const QString &folder) {
        QDir().mkpath(folder);
        QFile file(folder + QStringLiteral("/User Guide.pdf"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("%PDF-1.4\n");
        return file.fileName();
    };

    LogCapture capture;
    m_delegate->showHelp();
    EXPECT_TRUE(capture.contains(QStringLiteral("Show help")));
    EXPECT_TRUE(capture.contains(QStringLiteral("Unable to locate bundled help document"), LogLevel::Error));
    EXPECT_TRUE(m_opened.isEmpty());

    capture.clear();
    // Each guide added takes precedence over the ones before it.
    for (const QString &folder : {buildTree, installed, installed + QStringLiteral("/PDF")}) {
        const QString guide = addGuide(folder);
        m_delegate->showHelp();
        ASSERT_FALSE(m_opened.isEmpty());
        EXPECT_EQ(QUrl(m_opened.last()).toLocalFile().toStdString(), guide.toStdString());
    }
    EXPECT_EQ(m_opened.size(), 3);
    EXPECT_FALSE(capture.contains(QStringLiteral("Unable to locate bundled help document")));
}

TEST_F(AppDelegateTest, HelpThatTheDesktopCannotOpenIsReportedByName)
{
    QTemporaryDir resources;
    const QString guide = resources.filePath(QStringLiteral("User Guide.pdf"));
    QFile file(guide);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    m_delegate->setResourceFolders({resources.path()});
    QStringList alerts;
    m_delegate->setOpenFailurePresenter([&](const QString &message) { alerts << message; });

    // Opened: no alert. Refused (no PDF viewer): one alert naming the file.
    m_delegate->showHelp();
    EXPECT_TRUE(alerts.isEmpty());
    m_delegate->setUrlOpener([this](const QString &url) {
        m_opened << url;
        return false;
    });
    LogCapture capture;
    m_delegate->showHelp();
    EXPECT_EQ(m_opened.size(), 2);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_TRUE(alerts.first().contains(QDir::toNativeSeparators(guide))) << alerts.first().toStdString();
    EXPECT_TRUE(capture.contains(QStringLiteral("Unable to open ") + m_opened.last(), LogLevel::Error));
}

TEST_F(AppDelegateTest, UpdateCheckComparesThisBuildsNumberNotItsShortVersion)
{
#ifdef OVALIS_BUILD_NUMBER
    const QString build = QStringLiteral(OVALIS_BUILD_NUMBER);
#else
    const QString build;
#endif
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0.0"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Ovalis"));
    LocalHttpsServer server;
    ASSERT_TRUE(server.listen());
    const QSslConfiguration previous = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = previous;
    trusting.addCaCertificate(server.certificate().certificate);
    QSslConfiguration::setDefaultConfiguration(trusting);
    const auto restore = qScopeGuard([&] { QSslConfiguration::setDefaultConfiguration(previous); });
    // Same build under a much higher short version, and a later build under a lower one.
    const auto feed = [&](const QString &version, const QString &shortVersion) {
        return QStringLiteral("<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
                              "<item><sparkle:version>%1</sparkle:version><sparkle:shortVersionString>%2</sparkle:shortVersionString>"
                              "<enclosure url=\"%3\" length=\"1\"/></item></channel></rss>")
            .arg(version, shortVersion, server.url(QStringLiteral("/Ovalis.tar.gz")))
            .toUtf8();
    };
    server.route("/same.xml", {200, feed(build.isEmpty() ? QStringLiteral("1") : build, QStringLiteral("99.0")), {}});
    server.route("/later.xml", {200, feed(build + QStringLiteral(".1"), QStringLiteral("0.1")), {}});

    const auto checkAt = [&](const QString &feedPath) {
        Settings::shared().setValue(QStringLiteral("UpdateFeedURL"), server.url(feedPath));
        m_delegate->checkForUpdates();
        UpdateWindowController *window = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets())
            window = window ? window : qobject_cast<UpdateWindowController *>(top);
        EXPECT_NE(window, nullptr);
        if (!window)
            return QString();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->message().startsWith(QStringLiteral("Checking")); }, 10000));
        return window->message();
    };
    if (build.isEmpty()) {
        // A build without a number cannot tell whether anything is newer.
        EXPECT_EQ(checkAt(QStringLiteral("/same.xml")), QStringLiteral("Could not check for updates."));
    } else {
        EXPECT_EQ(checkAt(QStringLiteral("/same.xml")), QStringLiteral("You're up to date."));
        EXPECT_EQ(checkAt(QStringLiteral("/later.xml")), QStringLiteral("Ovalis 0.1 is available."));
    }
    for (QWidget *top : QApplication::topLevelWidgets())
        if (qobject_cast<UpdateWindowController *>(top))
            delete top;
}

TEST_F(AppDelegateTest, MenusShowTheDebuggingCommandsOnlyWhileAskedAndTheySave)
{
    QMainWindow window;
    const AppDelegate::ApplicationMenus menus = m_delegate->addApplicationMenus(window.menuBar());
    auto visibleTitles = [&window] {
        QStringList titles;
        for (QAction *action : window.menuBar()->actions())
            if (action->isVisible())
                titles << action->text().remove(u'&');
        return titles;
    };
    EXPECT_EQ(visibleTitles(), QStringList({"File", "Edit", "History", "Window", "Help"}));

    QSignalSpy changes(m_delegate.get(), &AppDelegate::showDebuggingMenuChanged);
    m_delegate->setShowDebuggingMenu(true);
    m_delegate->setShowDebuggingMenu(true);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(visibleTitles(), QStringList({"File", "Edit", "History", "Window", "Debug", "Help"}));
    QMenu *later = m_delegate->createDebuggingMenu(&window);
    EXPECT_TRUE(later->menuAction()->isVisible());
    m_delegate->setShowDebuggingMenu(false);
    EXPECT_FALSE(later->menuAction()->isVisible());
    EXPECT_EQ(visibleTitles(), QStringList({"File", "Edit", "History", "Window", "Help"}));

    // The View menu appears once a window puts something into it.
    QAction *teaching = menus.view->addAction(QStringLiteral("Teaching Mode"));
    EXPECT_EQ(visibleTitles(), QStringList({"File", "Edit", "View", "History", "Window", "Help"}));
    menus.view->removeAction(teaching);
    EXPECT_EQ(visibleTitles(), QStringList({"File", "Edit", "History", "Window", "Help"}));

    newCase(QStringLiteral("A1"));
    newCase(QStringLiteral("B2"));
    LogCapture capture;
    actionTitled(menus.debug, QStringLiteral("Log Record Counts"))->trigger();
    EXPECT_TRUE(capture.contains(QStringLiteral("Cases: 2")));
    EXPECT_EQ(savedCases(), 2);

    QAction *deleteAll = actionTitled(menus.debug, QStringLiteral("Delete All Data…"));
    deleteAll->trigger();
    EXPECT_EQ(context()->countOfObjects(Case::entityName()), 2);
    m_confirmDeleteAll = true;
    deleteAll->trigger();
    EXPECT_EQ(savedCases(), 0);
}

TEST_F(AppDelegateTest, SettingsWindowIsMadeOnceAndItsBoxesEditTheSettings)
{
    LogCapture capture;
    m_delegate->showSettings();
    SettingsWindowController *controller = m_delegate->settingsWindowController();
    ASSERT_NE(controller, nullptr);
    EXPECT_TRUE(controller->window()->isVisible());
    controller->window()->close();
    m_delegate->showSettings();
    EXPECT_EQ(m_delegate->settingsWindowController(), controller);
    EXPECT_TRUE(controller->window()->isVisible());
    EXPECT_EQ(capture.count(QStringLiteral("Show settings")), 2);

    QCheckBox *nhis = controller->recogniseNHIsCheckBox();
    QCheckBox *cloud = controller->disableCloudSyncingCheckBox();
    QCheckBox *debugging = controller->showDebuggingMenuCheckBox();
    EXPECT_TRUE(nhis->isChecked());
    EXPECT_FALSE(cloud->isChecked());
    EXPECT_FALSE(debugging->isChecked());

    nhis->click();
    cloud->click();
    debugging->click();
    EXPECT_FALSE(Settings::shared().boolValue(QStringLiteral("Recognise_NZ_NHIs")));
    EXPECT_TRUE(Settings::shared().boolValue(QStringLiteral("Disable_Cloud_Syncing")));
    EXPECT_TRUE(m_delegate->showDebuggingMenu());

    // Changes made elsewhere show in the boxes.
    Settings::shared().remove(QStringLiteral("Recognise_NZ_NHIs"));
    m_delegate->setShowDebuggingMenu(false);
    EXPECT_TRUE(nhis->isChecked());
    EXPECT_FALSE(debugging->isChecked());

    // The backup reminder is off until its box is ticked; the days follow the spin box.
    QCheckBox *reminder = controller->backupReminderCheckBox();
    QSpinBox *days = controller->backupReminderDaysBox();
    EXPECT_FALSE(reminder->isChecked());
    EXPECT_FALSE(days->isEnabled());
    EXPECT_EQ(BackupReminder::intervalDays(), 0);
    reminder->click();
    EXPECT_TRUE(days->isEnabled());
    EXPECT_EQ(BackupReminder::intervalDays(), days->value());
    days->setValue(14);
    EXPECT_EQ(BackupReminder::intervalDays(), 14);
    reminder->click();
    EXPECT_EQ(BackupReminder::intervalDays(), 0);
    BackupReminder::setIntervalDays(9);
    EXPECT_TRUE(reminder->isChecked());
    EXPECT_EQ(days->value(), 9);
}

TEST_F(AppDelegateTest, BackupFilesGivenToTheApplicationAreRestoredOnlyWhenConfirmed)
{
    newCase(QStringLiteral("ABC1234"));
    context()->saveWithParent(true);
    const QString backup = m_directory.filePath(QStringLiteral("Ovalis-DB-20261207.json"));
    BackupCommands *commands = m_delegate->backupCommands();
    commands->setBackupLocationChooser([&](const QString &) { return backup; });
    commands->setAlertPresenter([this](const QString &message, const QString &) { m_asked << message; });
    commands->exportDatabase();
    ASSERT_TRUE(QTest::qWaitFor([commands] { return !commands->isRunningLibraryJob(); }, 60000));
    ASSERT_TRUE(QFile::exists(backup));

    QStringList confirmations;
    bool confirm = false;
    m_delegate->setRestoreConfirmation([&](const QString &fileName) {
        confirmations << fileName;
        return confirm;
    });
    QStringList failures;
    m_delegate->setOpenFailurePresenter([&](const QString &message) { failures << message; });

    // Declined: nothing is read. Then agreed: the backup's case is added.
    m_delegate->openFiles({backup});
    EXPECT_EQ(confirmations, QStringList{QStringLiteral("Ovalis-DB-20261207.json")});
    EXPECT_EQ(fetchCases(QString()).size(), 1);
    confirm = true;
    QSignalSpy restored(commands, &BackupCommands::restoreFinished);
    m_delegate->openFiles({backup});
    ASSERT_TRUE(restored.wait(60000));
    EXPECT_EQ(fetchCases(QString()).size(), 2);

    // Other files are refused by name, without asking to restore them.
    m_delegate->openFiles({m_directory.filePath(QStringLiteral("notes.txt"))});
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures.first().contains(QStringLiteral("“notes.txt”")));
    EXPECT_EQ(confirmations.size(), 2);
    EXPECT_TRUE(m_asked.isEmpty());

    // A DICOM file, told by its content whatever its name, opens in the DICOM import's review.
    LibraryWindowController window(*m_stack, m_delegate.get());
    const QString dicom = m_directory.filePath(QStringLiteral("IM0001"));
    ASSERT_TRUE(TestDicom().write(dicom));
    m_delegate->openFiles({dicom});
    EXPECT_EQ(failures.size(), 1);
    DicomImportDialog *review = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *dialog = qobject_cast<DicomImportDialog *>(widget); dialog && dialog->isVisible())
            review = dialog;
    ASSERT_NE(review, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([review] { return !review->isScanning(); }, 30000));
    EXPECT_EQ(review->scanResult().imageCount(), 1);
    review->close();
}

} // namespace
} // namespace ovalis::test
