#include "transfer/MediaTransferViewModel.h"

#include <QPointer>

#include "transfer/KeepAwakeActivity.h"
#include "transfer/MissingMediaManager.h"
#include "transfer/MultiPeerManager.h"
#include "util/Log.h"

namespace ovalis {

namespace {

QString describe(const std::optional<DiscoveryInfo> &info)
{
    if (!info)
        return QStringLiteral("?");
    QStringList pairs;
    for (auto it = info->cbegin(); it != info->cend(); ++it)
        pairs.append(QStringLiteral("\"%1\": \"%2\"").arg(it.key(), it.value()));
    return QLatin1Char('[') + (pairs.isEmpty() ? QStringLiteral(":") : pairs.join(QStringLiteral(", "))) + QLatin1Char(']');
}

} // namespace

MediaTransferViewModel::MediaTransferViewModel(const QString &name, const QString &serviceType,
                                               std::unique_ptr<MissingMediaManager> missingMediaManager,
                                               std::unique_ptr<MultiPeerManager> multiPeerManager, QObject *parent)
    : QObject(parent)
    , m_statusString(QStringLiteral("Checking for missing media…"))
    , m_multiPeerManager(multiPeerManager ? std::move(multiPeerManager) : std::make_unique<MultiPeerManager>(name, serviceType))
    , m_missingMediaManager(std::move(missingMediaManager))
{
    m_multiPeerManager->setDelegate(this);
    // Received files are moved into the media directory: written beside it,
    // the move is a rename.
    if (m_missingMediaManager->baseDirectoryURL())
        m_multiPeerManager->setResourceDirectory(m_missingMediaManager->baseDirectoryURL()->toLocalFile());
    m_resetSentMediaTask.setSingleShot(true);
    m_resetSentMediaTask.setInterval(3000);
    QObject::connect(&m_resetSentMediaTask, &QTimer::timeout, this, [this] {
        Log::info(LogArea::UI, QStringLiteral("Set sentMedia to false"));
        m_sentMedia = false;
        emit changed();
        resetSentMedia();
    });
    m_finishedStatusTask.setSingleShot(true);
    m_finishedStatusTask.setInterval(2000);
    QObject::connect(&m_finishedStatusTask, &QTimer::timeout, this, &MediaTransferViewModel::updateStatusLine);
}

MediaTransferViewModel::~MediaTransferViewModel()
{
    m_multiPeerManager->setDelegate(nullptr);
}

void MediaTransferViewModel::setDelays(int sentMediaResetMilliseconds, int finishedStatusMilliseconds)
{
    m_resetSentMediaTask.setInterval(sentMediaResetMilliseconds);
    m_finishedStatusTask.setInterval(finishedStatusMilliseconds);
}

bool MediaTransferViewModel::isConnected(const RemoteMediaLibrary &remote) const
{
    return (m_connectionStatus == ConnectionStatus::connected || m_connectionStatus == ConnectionStatus::transferring)
        && m_connectedRemote == remote;
}

void MediaTransferViewModel::setStatus(ConnectionStatus status)
{
    m_connectionStatus = status;
    emit changed();
}

void MediaTransferViewModel::setStatusString(const QString &text)
{
    m_statusString = text;
    emit changed();
}

void MediaTransferViewModel::updateStatusLine()
{
    // Files asked for and not yet answered are still missing.
    const int count = m_missingMediaManager->missingCount() + m_outstandingRequests;
    setStatusString(QStringLiteral("Missing %1 media %2").arg(count).arg(count == 1 ? QStringLiteral("item") : QStringLiteral("items")));
}

void MediaTransferViewModel::start()
{
    Log::info(LogArea::UI, QStringLiteral("Start multipeer"));
    QPointer<MediaTransferViewModel> self(this);
    m_missingMediaManager->refreshMissingMedia([self] {
        if (!self)
            return;
        Log::info(LogArea::UI, QStringLiteral("MediaTransferViewModel update display for %1 missing media")
                                   .arg(self->m_missingMediaManager->missingCount()));
        self->updateStatusLine();
        self->m_multiPeerManager->startAdvertising();
        self->m_multiPeerManager->startBrowsing();
    });
}

void MediaTransferViewModel::stop()
{
    Log::info(LogArea::UI, QStringLiteral("Stop multipeer"));
    m_multiPeerManager->disconnect();
    m_multiPeerManager->stopBrowsing();
    m_multiPeerManager->stopAdvertising();
}

void MediaTransferViewModel::connectRemote(const RemoteMediaLibrary &remote)
{
    if (m_connectionStatus != ConnectionStatus::standby)
        return;
    Log::info(LogArea::Multipeer, QStringLiteral("Connect to %1").arg(remote.description()));
    if (m_multiPeerManager->isBrowsing())
        m_multiPeerManager->invite(remote.id, 30);
    setStatus(ConnectionStatus::connecting);
}

void MediaTransferViewModel::connectToAddress(const QString &host, quint16 port)
{
    if (m_connectionStatus != ConnectionStatus::standby)
        return;
    Log::info(LogArea::Multipeer, QStringLiteral("Connect to address %1 port %2").arg(host).arg(port));
    m_multiPeerManager->connectToAddress(host, port, 30);
    setStatus(ConnectionStatus::connecting);
}

void MediaTransferViewModel::disconnectRemote()
{
    if (m_connectionStatus == ConnectionStatus::standby)
        return;
    Log::info(LogArea::UI, QStringLiteral("Disconnect"));
    m_multiPeerManager->disconnect();
}

void MediaTransferViewModel::transfer()
{
    if (m_connectionStatus != ConnectionStatus::connected)
        return;
    Log::info(LogArea::UI, QStringLiteral("Transfer"));
    m_connectionStatus = ConnectionStatus::transferring;
    m_statusString = QStringLiteral("Transferring files");
    m_outstandingRequests = 0;
    m_fractionTransferred = m_missingMediaManager->fractionComplete();
    emit changed();
    requestFiles();
}

void MediaTransferViewModel::stopTransfer()
{
    if (m_connectionStatus != ConnectionStatus::transferring)
        return;
    Log::info(LogArea::UI, QStringLiteral("Stop transfer"));
    m_energyActivityToken.reset();
    setStatus(ConnectionStatus::connected);
    updateStatusLine();
    // The scan counts the files still on their way among the missing ones.
    m_outstandingRequests = 0;
    recountMissingMedia();
}

void MediaTransferViewModel::recountMissingMedia()
{
    if (m_connectionStatus == ConnectionStatus::transferring)
        return;
    QPointer<MediaTransferViewModel> self(this);
    m_missingMediaManager->refreshMissingMedia([self] {
        if (self)
            self->updateStatusLine();
    });
}

void MediaTransferViewModel::requestFiles()
{
    if (m_connectionStatus != ConnectionStatus::transferring)
        return;
    // The worklist is not refreshed while requests are outstanding: the scan
    // would list the files still on their way again.
    while (m_outstandingRequests < maximumOutstandingRequests && m_missingMediaManager->missingCount() > 0) {
        const std::optional<QByteArray> request = m_missingMediaManager->nextRequestData();
        if (!request)
            continue;
        ++m_outstandingRequests;
        m_multiPeerManager->sendData(*request);
    }
    if (m_outstandingRequests > 0) {
        // The file streaming now is not counted as remaining.
        setStatusString(QStringLiteral("%1 of %2 remaining")
                            .arg(m_missingMediaManager->missingCount() + m_outstandingRequests - 1)
                            .arg(m_missingMediaManager->initialNumberOfMissingFiles()));
        return;
    }
    // Every file was asked for: the bar ends full even when a not-available
    // reply (which does not move it) was the last answer.
    m_fractionTransferred = m_missingMediaManager->fractionComplete();
    m_missingMediaManager->nextRequestData(); // logs the end of the worklist and refreshes it
    m_connectionStatus = ConnectionStatus::connected;
    m_energyActivityToken.reset();
    setStatusString(QStringLiteral("Finished transferring"));
    mediaUpdated();
    m_finishedStatusTask.start();
}

void MediaTransferViewModel::requestAnswered()
{
    m_outstandingRequests = qMax(0, m_outstandingRequests - 1);
}

void MediaTransferViewModel::mediaUpdated()
{
}

void MediaTransferViewModel::resetSentMedia()
{
    m_resetSentMediaTask.stop();
    if (m_sentMedia)
        m_resetSentMediaTask.start();
}

std::optional<DiscoveryInfo> MediaTransferViewModel::discoveryInfo()
{
    return DiscoveryInfo{{QStringLiteral("deviceType"), QStringLiteral("Mac")}};
}

void MediaTransferViewModel::foundPeer(MultiPeerManager *, const PeerID &peer, const std::optional<DiscoveryInfo> &info)
{
    Log::info(LogArea::UI, QStringLiteral("Browser found peer: %1 with discoveryInfo: %2").arg(peer.displayName, describe(info)));
    m_remoteLibraries.removeIf([&peer](const RemoteMediaLibrary &remote) { return remote.id == peer; });
    m_remoteLibraries.append({peer, peer.displayName, RemoteMediaLibrary::deviceType(info)});
    emit changed();
}

void MediaTransferViewModel::lostPeer(MultiPeerManager *, const PeerID &peer)
{
    Log::info(LogArea::UI, QStringLiteral("Browser lost peer: %1").arg(peer.displayName));
    m_remoteLibraries.removeIf([&peer](const RemoteMediaLibrary &remote) { return remote.id == peer; });
    if (m_connectedRemote && m_connectedRemote->id == peer)
        m_connectedRemote.reset();
    emit changed();
}

void MediaTransferViewModel::peerConnecting(const PeerID &peer)
{
    Log::info(LogArea::UI, QStringLiteral("MPC is connecting to: %1").arg(peer.displayName));
}

void MediaTransferViewModel::peerConnected(const PeerID &peer)
{
    Log::info(LogArea::UI, QStringLiteral("MPC did connect to: %1").arg(peer.displayName));
    // The window follows one connection; another peer joining (a second
    // invitation accepted) does not take it over, nor end a transfer.
    if (m_sessionPeer)
        return;
    QList<RemoteMediaLibrary> matching;
    for (const RemoteMediaLibrary &remote : std::as_const(m_remoteLibraries)) {
        if (remote.id == peer)
            matching.append(remote);
    }
    if (matching.size() != 1)
        return;
    m_connectedRemote = matching.first();
    m_sessionPeer = peer;
    m_connectionStatus = ConnectionStatus::connected;
    emit changed();
}

void MediaTransferViewModel::peerDisconnected(const PeerID &peer)
{
    Log::info(LogArea::UI, QStringLiteral("Peer disconnected from: %1").arg(peer.displayName));
    // Only the connected peer's leaving ends the connection (and a transfer);
    // before there is one, any failed attempt returns to standby.
    if (m_sessionPeer && *m_sessionPeer != peer)
        return;
    m_sessionPeer.reset();
    m_connectedRemote.reset();
    m_connectionStatus = ConnectionStatus::standby;
    m_outstandingRequests = 0;
    m_energyActivityToken.reset();
    updateStatusLine();
}

void MediaTransferViewModel::didFinishSendingFile(MultiPeerManager *)
{
    Log::info(LogArea::UI, QStringLiteral("Set sentMedia to true"));
    m_sentMedia = true;
    emit changed();
    resetSentMedia();
}

void MediaTransferViewModel::didReceiveData(MultiPeerManager *manager, const QByteArray &data)
{
    QPointer<MediaTransferViewModel> self(this);
    m_missingMediaManager->handleReceivedData(data, manager, [self] {
        if (!self)
            return;
        self->requestAnswered();
        self->requestFiles();
    });
}

void MediaTransferViewModel::didStartReceivingResource(MultiPeerManager *, const QString &name, qint64)
{
    Log::info(LogArea::UI, QStringLiteral("didStartReceivingResource: %1").arg(name));
    // A suspend waits a few seconds for the file being written; the screen
    // may still lock and the machine still idle into sleep. Files of a run
    // arrive back to back, so the lock is kept until the run ends.
    if (m_connectionStatus == ConnectionStatus::transferring && !m_energyActivityToken)
        m_energyActivityToken = std::make_unique<KeepAwakeActivity>(QStringLiteral("sleep"), QStringLiteral("delay"),
                                                                    QStringLiteral("Receiving media files"));
}

void MediaTransferViewModel::didFinishReceivingResource(MultiPeerManager *, const QString &name, const QUrl &location)
{
    Log::info(LogArea::UI, QStringLiteral("Received resource named: %1 at %2").arg(name, location.toString(QUrl::FullyEncoded)));
    QPointer<MediaTransferViewModel> self(this);
    m_missingMediaManager->storeReceivedFile(name, location, [self] {
        if (!self)
            return;
        self->requestAnswered();
        self->m_fractionTransferred = self->m_missingMediaManager->fractionComplete(self->m_outstandingRequests);
        emit self->changed();
        self->requestFiles();
    });
}

} // namespace ovalis
