#pragma once

#include <QDBusObjectPath>
#include <QHash>

#include "transfer/PeerDiscovery.h"

class QDBusMessage;

namespace ovalis {

// DNS-SD through the system's Avahi daemon, spoken to over its D-Bus
// interface on the system bus, so that its events arrive in Qt's event loop.
// Without a reachable daemon every call does nothing and unavailableReason()
// says why.
class AvahiDiscovery : public PeerDiscovery
{
    Q_OBJECT

public:
    explicit AvahiDiscovery(QObject *parent = nullptr);
    ~AvahiDiscovery() override;

    void publish(const QString &serviceType, const QString &name, quint16 port, const DiscoveryInfo &txt) override;
    void unpublish() override;
    void startBrowsing(const QString &serviceType) override;
    void stopBrowsing() override;
    QString unavailableReason() const override { return m_unavailableReason; }

    // TXT records as DNS-SD carries them: "key=value" strings.
    static QList<QByteArray> encodeTxt(const DiscoveryInfo &txt);
    static DiscoveryInfo decodeTxt(const QList<QByteArray> &records);

private slots:
    void itemNew(int interface, int protocol, const QString &name, const QString &type, const QString &domain, uint flags);
    void itemRemove(int interface, int protocol, const QString &name, const QString &type, const QString &domain, uint flags);
    void groupStateChanged(int state, const QString &error);

private:
    bool checkDaemon();
    bool call(const QString &path, const QString &interface, const QString &method, const QVariantList &arguments,
              QDBusMessage *reply = nullptr);
    void addService();
    void renameAndRetry();

    QString m_unavailableReason;
    QDBusObjectPath m_group;
    QDBusObjectPath m_browser;
    QString m_serviceType;
    QString m_name;
    quint16 m_port = 0;
    DiscoveryInfo m_txt;
    int m_renames = 0;
};

} // namespace ovalis
