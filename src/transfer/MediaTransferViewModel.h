#pragma once

#include <QList>
#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>

#include "transfer/MissingMediaManager.h"
#include "transfer/MultiPeerManager.h"
#include "transfer/MultiPeerManagerDelegate.h"
#include "transfer/RemoteMediaLibrary.h"

namespace ovalis {

class KeepAwakeActivity;

// The Sync Media window's model: the nearby libraries, the connection's
// state, the status line and the transfer's progress, driven by the user's
// commands and the peer manager's events (it is the manager's delegate).
// Every change of the published state (remoteLibraries to sentMedia) is
// announced by changed(). Lives on the main thread.
class MediaTransferViewModel : public QObject, public MultiPeerManagerDelegate
{
    Q_OBJECT

public:
    // Makes its own peer manager when none is given.
    MediaTransferViewModel(const QString &name, const QString &serviceType, std::unique_ptr<MissingMediaManager> missingMediaManager,
                           std::unique_ptr<MultiPeerManager> multiPeerManager = nullptr, QObject *parent = nullptr);
    ~MediaTransferViewModel() override;

    const QList<RemoteMediaLibrary> &remoteLibraries() const { return m_remoteLibraries; }
    ConnectionStatus connectionStatus() const { return m_connectionStatus; }
    QString statusString() const { return m_statusString; }
    float fractionTransferred() const { return m_fractionTransferred; }
    const std::optional<RemoteMediaLibrary> &connectedRemote() const { return m_connectedRemote; }
    bool sentMedia() const { return m_sentMedia; }
    MultiPeerManager *multiPeerManager() const { return m_multiPeerManager.get(); }
    MissingMediaManager *missingMediaManager() const { return m_missingMediaManager.get(); }
    // The inhibitor that makes a suspend wait for files being received:
    // held from the first file of a transfer run until the run ends.
    const KeepAwakeActivity *energyActivityToken() const { return m_energyActivityToken.get(); }

    bool isConnected(const RemoteMediaLibrary &remote) const;

    // How long the share symbol stays after the last file sent, and the
    // finished line before the missing count shows again (3 s and 2 s).
    void setDelays(int sentMediaResetMilliseconds, int finishedStatusMilliseconds);

public slots:
    void start();
    void stop();
    void connectRemote(const ovalis::RemoteMediaLibrary &remote);
    // The direct path, for networks where discovery does not reach the peer.
    void connectToAddress(const QString &host, quint16 port);
    void disconnectRemote();
    void transfer();
    void stopTransfer();
    // Counts the missing media again, after files came another way (from
    // the mirror's server); not while a transfer works through the list.
    void recountMissingMedia();

signals:
    void changed();

protected:
    // Called when a transfer run ends.
    virtual void mediaUpdated();

public:
    // MultiPeerManagerDelegate
    std::optional<DiscoveryInfo> discoveryInfo() override;
    void foundPeer(MultiPeerManager *manager, const PeerID &peer, const std::optional<DiscoveryInfo> &info) override;
    void lostPeer(MultiPeerManager *manager, const PeerID &peer) override;
    void peerConnecting(const PeerID &peer) override;
    void peerConnected(const PeerID &peer) override;
    void peerDisconnected(const PeerID &peer) override;
    void didFinishSendingFile(MultiPeerManager *manager) override;
    void didReceiveData(MultiPeerManager *manager, const QByteArray &data) override;
    void didStartReceivingResource(MultiPeerManager *manager, const QString &name, qint64 expectedBytes) override;
    void didFinishReceivingResource(MultiPeerManager *manager, const QString &name, const QUrl &location) override;

private:
    // Files asked for at a time: while one streams, the next requests are
    // already with the peer, so no round trip separates two files. A peer
    // queues the files it is asked for and answers in order.
    static constexpr int maximumOutstandingRequests = 3;

    // Tops the requests up to the maximum; finishes the run once the
    // worklist is empty and every request has been answered.
    void requestFiles();
    // A request was answered, with a file stored or a not-available reply.
    void requestAnswered();
    void updateStatusLine();
    void resetSentMedia();
    void setStatus(ConnectionStatus status);
    void setStatusString(const QString &text);

    QList<RemoteMediaLibrary> m_remoteLibraries;
    ConnectionStatus m_connectionStatus = ConnectionStatus::standby;
    QString m_statusString;
    float m_fractionTransferred = 0;
    std::optional<RemoteMediaLibrary> m_connectedRemote;
    // The peer connected, kept when a lost peer takes connectedRemote away.
    std::optional<PeerID> m_sessionPeer;
    bool m_sentMedia = false;
    int m_outstandingRequests = 0;
    std::unique_ptr<MultiPeerManager> m_multiPeerManager;
    QTimer m_resetSentMediaTask;
    QTimer m_finishedStatusTask;
    std::unique_ptr<MissingMediaManager> m_missingMediaManager;
    std::unique_ptr<KeepAwakeActivity> m_energyActivityToken;
};

} // namespace ovalis
