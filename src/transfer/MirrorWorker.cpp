#include "MirrorWorker.h"

#include <QSocketNotifier>

#include "util/Log.h"
#include "util/ThreadPriority.h"

namespace ovalis {

MirrorWorker::MirrorWorker(CoreDataStack *stack)
    : m_mirror(stack)
{
}

void MirrorWorker::run(bool requested, bool media, bool allFiles, const QString &password, const QString &machine,
                       std::atomic_bool *cancel)
{
    if (!m_opened) {
        QString error;
        m_opened = m_mirror.open(&error);
        if (!m_opened) {
            LibraryMirror::Report report;
            report.error = error;
            emit done(report, requested);
            return;
        }
        lowerCurrentThreadPriority();
    }
    if (password != m_password || machine != m_mirror.machineName() || m_mirror.server() != m_server) {
        m_mirror.disconnect();
        stopListening();
    }
    m_password = password;
    m_server = m_mirror.server();
    m_mirror.setPassword(password);
    m_mirror.setMachineName(machine);
    const LibraryMirror::Report report =
        m_mirror.sync(media, [this](const LibraryMirror::Progress &progress) { emit progressed(progress); }, cancel, allFiles);
    if (report.offline)
        stopListening();
    else if (report.ok)
        listen();
    emit done(report, requested);
}

void MirrorWorker::finish()
{
    stopListening();
    m_mirror.disconnect();
}

void MirrorWorker::stopListening()
{
    delete m_notifier;
    m_notifier = nullptr;
    m_listener.close();
}

void MirrorWorker::listen()
{
    if (m_listener.isConnected() && m_notifier)
        return;
    stopListening();
    const QString channel = m_mirror.channel();
    QString error;
    if (channel.isEmpty() || !m_listener.connect(m_server, m_password, 10, &error)
        || !m_listener.execScript(QStringLiteral("LISTEN ") + PostgresConnection::quoteIdentifier(channel), &error)) {
        Log::error(LogArea::Networking, QStringLiteral("Mirror: cannot listen for other machines' changes: ") + error);
        m_listener.close();
        return;
    }
    m_notifier = new QSocketNotifier(m_listener.socket(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        const QStringList senders = m_listener.takeNotifications();
        if (m_listener.isBad()) {
            // The server went away: the next sync finds out for how long.
            m_notifier->deleteLater();
            m_notifier = nullptr;
            m_listener.close();
            emit notified();
            return;
        }
        for (const QString &sender : senders)
            if (sender != m_mirror.sender()) {
                emit notified();
                return;
            }
    });
}

} // namespace ovalis
