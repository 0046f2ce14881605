#include "MirrorService.h"

#include "transfer/MirrorWorker.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QPointer>
#include <QThread>

#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "transfer/PostgresConnection.h"
#include "util/Log.h"
#include "util/ThreadPriority.h"

namespace ovalis {

MirrorService::MirrorService(CoreDataStack *stack, QObject *parent)
    : QObject(parent)
    , m_stack(stack)
    , m_machine(LibraryMirror::defaultMachineName())
{
    qRegisterMetaType<LibraryMirror::Report>("ovalis::LibraryMirror::Report");
    qRegisterMetaType<LibraryMirror::Progress>("ovalis::LibraryMirror::Progress");
    QString error;
    if (!m_settings.open(stack->libraryDirectory(), &error))
        Log::error(LogArea::Networking, QStringLiteral("Mirror settings cannot be read: ") + error);
    m_lastSync = QDateTime::fromString(m_settings.value(QStringLiteral("lastSync")), Qt::ISODate);
    m_lastResult = m_settings.value(QStringLiteral("lastResult"));
    m_saveTimer.setSingleShot(true);
    connect(&m_saveTimer, &QTimer::timeout, this, [this] { scheduleSync(false); });
    // Offline or not, a look every two minutes catches saves made by other
    // writers of this library and a server that came back.
    m_retryTimer.setInterval(120000);
    connect(&m_retryTimer, &QTimer::timeout, this, [this] { scheduleSync(false); });
}

MirrorService::~MirrorService()
{
    stop();
}

void MirrorService::setPassword(const QString &password)
{
    m_password = password;
}

void MirrorService::setMachineName(const QString &name)
{
    m_machine = name;
}

void MirrorService::setMediaOverride(std::optional<bool> media)
{
    m_mediaOverride = media;
}

void MirrorService::start()
{
    if (m_running)
        return;
    m_running = true;
    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("Mirror"));
    m_worker = new MirrorWorker(m_stack);
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &MirrorWorker::progressed, this, &MirrorService::reportProgress, Qt::QueuedConnection);
    connect(m_worker, &MirrorWorker::done, this, &MirrorService::finished, Qt::QueuedConnection);
    connect(m_worker, &MirrorWorker::notified, this, [this] { scheduleSync(false); }, Qt::QueuedConnection);
    connect(m_stack->mainContext(), &ManagedObjectContext::didSave, this, [this] { m_saveTimer.start(300); });
    m_thread->start();
    m_retryTimer.start();
    scheduleSync(false);
}

void MirrorService::stop()
{
    if (!m_running)
        return;
    m_running = false;
    m_cancel = true;
    m_saveTimer.stop();
    m_retryTimer.stop();
    disconnect(m_stack->mainContext(), nullptr, this, nullptr);
    MirrorWorker *worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker] { worker->finish(); }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    m_worker = nullptr;
    m_inFlight = false;
    m_again = false;
    m_cancel = false;
    setState(State::Off, QString());
}

void MirrorService::syncNow()
{
    if (!m_running) {
        start();
        m_againRequested = true;
        m_again = true;
        return;
    }
    scheduleSync(true);
}

void MirrorService::fetchMissingFiles()
{
    m_allFiles = true;
    syncNow();
}

void MirrorService::countMissingFiles(const std::function<void(qint64, const QString &)> &done)
{
    CoreDataStack *stack = m_stack;
    const QString password = m_password;
    QPointer<MirrorService> self(this);
    QThread *thread = QThread::create([stack, password, done, self] {
        LibraryMirror mirror(stack);
        mirror.setPassword(password);
        LibraryMirror::Status status;
        QString error;
        const bool ok = mirror.open(&error) && mirror.status(&status, &error);
        mirror.disconnect();
        QMetaObject::invokeMethod(QCoreApplication::instance(), [done, ok, status, error, self] {
            if (self)
                done(ok ? status.missingFiles : -1, error);
        }, Qt::QueuedConnection);
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void MirrorService::cancel()
{
    if (m_inFlight)
        m_cancel = true;
}

void MirrorService::scheduleSync(bool requested)
{
    if (!m_running)
        return;
    if (server().isEmpty()) {
        setState(State::Off, QString());
        return;
    }
    if (m_inFlight) {
        m_again = true;
        m_againRequested |= requested;
        return;
    }
    m_inFlight = true;
    m_cancel = false;
    setState(State::Syncing, QString());
    const bool allFiles = m_allFiles && requested;
    if (allFiles)
        m_allFiles = false;
    const bool media = allFiles || m_mediaOverride.value_or(keepsMediaOnServer());
    MirrorWorker *worker = m_worker;
    const QString password = m_password;
    const QString machine = m_machine;
    std::atomic_bool *cancel = &m_cancel;
    QMetaObject::invokeMethod(worker, [=] { worker->run(requested, media, allFiles, password, machine, cancel); },
                              Qt::QueuedConnection);
}

void MirrorService::reportProgress(const LibraryMirror::Progress &progress)
{
    setState(State::Syncing, progress.total > 0 ? QStringLiteral("%1 %2 of %3").arg(progress.phase).arg(progress.done).arg(progress.total)
                                                : progress.phase);
}

void MirrorService::finished(const LibraryMirror::Report &report, bool requested)
{
    m_inFlight = false;
    m_lastSync = QDateTime::currentDateTimeUtc();
    m_lastResult = report.ok ? QStringLiteral("ok") : report.cancelled ? QStringLiteral("cancelled") : report.error;
    if (report.ok)
        setState(State::Synced, QString());
    else if (report.cancelled)
        setState(State::Synced, QStringLiteral("cancelled"));
    else if (report.offline)
        setState(State::Offline, report.error);
    else
        setState(State::Failed, report.error);
    emit syncFinished(report, requested);
    if (m_again && m_running) {
        const bool again = m_againRequested;
        m_again = false;
        m_againRequested = false;
        scheduleSync(again);
    }
}

void MirrorService::setState(State state, const QString &text)
{
    if (state == m_state && text == m_text)
        return;
    m_state = state;
    m_text = text;
    emit stateChanged();
}

QString MirrorService::stateText() const
{
    switch (m_state) {
    case State::Off: return tr("Off");
    case State::Synced: return tr("Synced");
    case State::Syncing: return m_text.isEmpty() ? tr("Syncing") : tr("Syncing: %1").arg(m_text);
    case State::Offline: return tr("Offline");
    case State::Failed: return tr("Error: %1").arg(m_text);
    }
    return QString();
}

void MirrorService::testConnection(const std::function<void(bool, const QString &)> &done)
{
    const QString conninfo = server();
    const QString password = m_password;
    QPointer<MirrorService> self(this);
    QThread *thread = QThread::create([conninfo, password, done, self] {
        MirrorServer server;
        QString error;
        bool ok = !conninfo.isEmpty() && server.connect(conninfo, password, &error);
        QString message;
        if (conninfo.isEmpty()) {
            message = QStringLiteral("No server is set.");
        } else if (!ok) {
            message = QStringLiteral("Could not connect to the server: ") + error;
        } else {
            QStringList ids;
            ok = server.libraryIds(&ids, &error);
            message = ok ? (ids.isEmpty() ? QStringLiteral("Connected. The server holds no library yet; the first sync sends this one.")
                                          : QStringLiteral("Connected. The server holds %1 libraries.").arg(ids.size()))
                         : QStringLiteral("Connected, but the server cannot be read: ") + error;
            if (ids.size() == 1)
                message = QStringLiteral("Connected. The server holds one library.");
        }
        QMetaObject::invokeMethod(QCoreApplication::instance(), [done, ok, message, self] {
            if (self)
                done(ok, message);
        }, Qt::QueuedConnection);
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

bool MirrorService::waitUntilIdle(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (m_inFlight || m_saveTimer.isActive() || m_again) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

} // namespace ovalis

