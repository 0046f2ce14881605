#pragma once

#include <QList>
#include <QPair>
#include <QUrl>

#include "transfer/MultiPeerManager.h"
#include "transfer/PeerDiscovery.h"

namespace ovalis::test {

// A peer manager that sends nothing and records what it was asked to do.
class RecordingMultiPeerManager : public MultiPeerManager
{
public:
    RecordingMultiPeerManager()
        : MultiPeerManager(QStringLiteral("Recording"), QStringLiteral("ovalis-peer"))
    {
        setDiscovery(nullptr);
    }

    void startAdvertising() override { calls.append(QStringLiteral("startAdvertising")); }
    void stopAdvertising() override { calls.append(QStringLiteral("stopAdvertising")); }
    void startBrowsing() override
    {
        browsing = true;
        calls.append(QStringLiteral("startBrowsing"));
    }
    void stopBrowsing() override
    {
        browsing = false;
        calls.append(QStringLiteral("stopBrowsing"));
    }
    void invite(const PeerID &peer, int timeoutSeconds) override
    {
        calls.append(QStringLiteral("invite %1 %2").arg(peer.displayName).arg(timeoutSeconds));
    }
    void connectToAddress(const QString &host, quint16 port, int timeoutSeconds) override
    {
        calls.append(QStringLiteral("connectToAddress %1:%2 %3").arg(host).arg(port).arg(timeoutSeconds));
    }
    void disconnect() override { calls.append(QStringLiteral("disconnect")); }
    void sendData(const QByteArray &data) override { sentData.append(data); }
    void sendFile(const QUrl &url, const QString &name) override { sentFiles.append({url, name}); }

    bool isBrowsing() const override { return browsing; }

    bool browsing = false;
    QStringList calls;
    QList<QByteArray> sentData;
    QList<QPair<QUrl, QString>> sentFiles;
};

} // namespace ovalis::test
