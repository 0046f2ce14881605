#pragma once

#include <QObject>
#include <QString>

#include "transfer/PeerID.h"

namespace ovalis {

// Finding peers on the local network and being found: one advertised service
// and one browse for services of the same type. Implemented over the system's
// DNS-SD daemon; tests run without one.
class PeerDiscovery : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // A service as a browse resolved it.
    struct Service {
        QString name;
        QString host;
        quint16 port = 0;
        DiscoveryInfo txt;
    };

    // Advertises a service under the name (or a variant of it when the name is
    // taken), on the port, with the TXT entries.
    virtual void publish(const QString &serviceType, const QString &name, quint16 port, const DiscoveryInfo &txt) = 0;
    virtual void unpublish() = 0;
    virtual void startBrowsing(const QString &serviceType) = 0;
    virtual void stopBrowsing() = 0;
    // Empty while discovery works; otherwise why it does not.
    virtual QString unavailableReason() const = 0;

signals:
    void serviceFound(const ovalis::PeerDiscovery::Service &service);
    void serviceLost(const QString &name);
    void availabilityChanged();
};

} // namespace ovalis
