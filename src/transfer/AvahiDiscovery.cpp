#include "transfer/AvahiDiscovery.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include "util/Log.h"

namespace ovalis {

namespace {

const QString avahiService = QStringLiteral("org.freedesktop.Avahi");
const QString serverInterface = QStringLiteral("org.freedesktop.Avahi.Server");
const QString groupInterface = QStringLiteral("org.freedesktop.Avahi.EntryGroup");
const QString browserInterface = QStringLiteral("org.freedesktop.Avahi.ServiceBrowser");
constexpr int anyInterface = -1;
constexpr int anyProtocol = -1;
constexpr int ipv4Protocol = 0;
constexpr int groupCollision = 3;
constexpr int groupFailure = 4;

} // namespace

AvahiDiscovery::AvahiDiscovery(QObject *parent)
    : PeerDiscovery(parent)
{
    // TXT records travel as an array of byte arrays ("aay").
    qDBusRegisterMetaType<QByteArrayList>();
}

AvahiDiscovery::~AvahiDiscovery()
{
    unpublish();
    stopBrowsing();
}

QList<QByteArray> AvahiDiscovery::encodeTxt(const DiscoveryInfo &txt)
{
    QList<QByteArray> records;
    for (auto it = txt.cbegin(); it != txt.cend(); ++it)
        records.append(it.key().toUtf8() + '=' + it.value().toUtf8());
    return records;
}

DiscoveryInfo AvahiDiscovery::decodeTxt(const QList<QByteArray> &records)
{
    DiscoveryInfo txt;
    for (const QByteArray &record : records) {
        const qsizetype equals = record.indexOf('=');
        if (equals > 0)
            txt.insert(QString::fromUtf8(record.left(equals)), QString::fromUtf8(record.mid(equals + 1)));
    }
    return txt;
}

bool AvahiDiscovery::checkDaemon()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    QString reason;
    if (!bus.isConnected())
        reason = QStringLiteral("the system bus is not reachable");
    else if (!bus.interface()->isServiceRegistered(avahiService).value())
        reason = QStringLiteral("no Avahi daemon is running");
    if (reason != m_unavailableReason) {
        m_unavailableReason = reason;
        emit availabilityChanged();
    }
    return reason.isEmpty();
}

bool AvahiDiscovery::call(const QString &path, const QString &interface, const QString &method, const QVariantList &arguments,
                          QDBusMessage *reply)
{
    QDBusMessage message = QDBusMessage::createMethodCall(avahiService, path, interface, method);
    message.setArguments(arguments);
    const QDBusMessage answer = QDBusConnection::systemBus().call(message, QDBus::Block, 5000);
    if (reply)
        *reply = answer;
    if (answer.type() == QDBusMessage::ErrorMessage) {
        Log::error(LogArea::Networking, QStringLiteral("Avahi %1 failed: %2").arg(method, answer.errorMessage()));
        return false;
    }
    return true;
}

void AvahiDiscovery::publish(const QString &serviceType, const QString &name, quint16 port, const DiscoveryInfo &txt)
{
    unpublish();
    m_serviceType = serviceType;
    m_name = name;
    m_port = port;
    m_txt = txt;
    m_renames = 0;
    if (!checkDaemon())
        return;
    QDBusMessage reply;
    if (!call(QStringLiteral("/"), serverInterface, QStringLiteral("EntryGroupNew"), {}, &reply))
        return;
    m_group = reply.arguments().value(0).value<QDBusObjectPath>();
    QDBusConnection::systemBus().connect(avahiService, m_group.path(), groupInterface, QStringLiteral("StateChanged"), this,
                                         SLOT(groupStateChanged(int, QString)));
    addService();
}

void AvahiDiscovery::addService()
{
    QVariantList arguments{anyInterface, anyProtocol, 0u, m_name, m_serviceType, QString(), QString(), QVariant::fromValue(m_port),
                           QVariant::fromValue(encodeTxt(m_txt))};
    QDBusMessage reply;
    if (!call(m_group.path(), groupInterface, QStringLiteral("AddService"), arguments, &reply)) {
        // Another program on this machine already has the name (two
        // libraries with as many cases): the daemon says so at once.
        if (reply.errorName().endsWith(QStringLiteral("CollisionError")))
            renameAndRetry();
        return;
    }
    if (call(m_group.path(), groupInterface, QStringLiteral("Commit"), {}))
        Log::info(LogArea::Networking, QStringLiteral("Advertising '%1' as %2 on port %3").arg(m_name, m_serviceType).arg(m_port));
}

void AvahiDiscovery::renameAndRetry()
{
    if (m_renames >= 20)
        return;
    QDBusMessage reply;
    if (!call(QStringLiteral("/"), serverInterface, QStringLiteral("GetAlternativeServiceName"), {m_name}, &reply))
        return;
    ++m_renames;
    m_name = reply.arguments().value(0).toString();
    call(m_group.path(), groupInterface, QStringLiteral("Reset"), {});
    addService();
}

void AvahiDiscovery::groupStateChanged(int state, const QString &error)
{
    if (state == groupCollision) {
        // Another service on the network has the name: take the daemon's
        // variant ("… #2").
        renameAndRetry();
    } else if (state == groupFailure) {
        Log::error(LogArea::Networking, QStringLiteral("Avahi could not advertise '%1': %2").arg(m_name, error));
    }
}

void AvahiDiscovery::unpublish()
{
    if (m_group.path().isEmpty())
        return;
    QDBusConnection::systemBus().disconnect(avahiService, m_group.path(), groupInterface, QStringLiteral("StateChanged"), this,
                                            SLOT(groupStateChanged(int, QString)));
    call(m_group.path(), groupInterface, QStringLiteral("Free"), {});
    m_group = QDBusObjectPath();
}

void AvahiDiscovery::startBrowsing(const QString &serviceType)
{
    stopBrowsing();
    if (!checkDaemon())
        return;
    // A browser made by ServiceBrowserNew reports the services already known
    // at once, before anyone can listen to it; one that is prepared first and
    // started once its signals are connected misses none.
    const QVariantList arguments{anyInterface, ipv4Protocol, serviceType, QString(), 0u};
    QDBusMessage reply;
    const QDBusMessage prepared = QDBusConnection::systemBus().call(
        [&] {
            QDBusMessage message = QDBusMessage::createMethodCall(avahiService, QStringLiteral("/"), serverInterface,
                                                                  QStringLiteral("ServiceBrowserPrepare"));
            message.setArguments(arguments);
            return message;
        }(),
        QDBus::Block, 5000);
    const bool preparedFirst = prepared.type() == QDBusMessage::ReplyMessage;
    if (preparedFirst)
        reply = prepared;
    else if (!call(QStringLiteral("/"), serverInterface, QStringLiteral("ServiceBrowserNew"), arguments, &reply))
        return;
    m_browser = reply.arguments().value(0).value<QDBusObjectPath>();
    QDBusConnection bus = QDBusConnection::systemBus();
    bus.connect(avahiService, m_browser.path(), browserInterface, QStringLiteral("ItemNew"), this,
                SLOT(itemNew(int, int, QString, QString, QString, uint)));
    bus.connect(avahiService, m_browser.path(), browserInterface, QStringLiteral("ItemRemove"), this,
                SLOT(itemRemove(int, int, QString, QString, QString, uint)));
    if (preparedFirst)
        call(m_browser.path(), browserInterface, QStringLiteral("Start"), {});
}

void AvahiDiscovery::stopBrowsing()
{
    if (m_browser.path().isEmpty())
        return;
    QDBusConnection bus = QDBusConnection::systemBus();
    bus.disconnect(avahiService, m_browser.path(), browserInterface, QStringLiteral("ItemNew"), this,
                   SLOT(itemNew(int, int, QString, QString, QString, uint)));
    bus.disconnect(avahiService, m_browser.path(), browserInterface, QStringLiteral("ItemRemove"), this,
                   SLOT(itemRemove(int, int, QString, QString, QString, uint)));
    call(m_browser.path(), browserInterface, QStringLiteral("Free"), {});
    m_browser = QDBusObjectPath();
}

void AvahiDiscovery::itemNew(int interface, int protocol, const QString &name, const QString &type, const QString &domain, uint)
{
    QDBusMessage message = QDBusMessage::createMethodCall(avahiService, QStringLiteral("/"), serverInterface,
                                                          QStringLiteral("ResolveService"));
    message.setArguments({interface, protocol, name, type, domain, ipv4Protocol, 0u});
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(message, 10000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, name] {
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        if (reply.type() == QDBusMessage::ErrorMessage) {
            Log::error(LogArea::Networking, QStringLiteral("Unable to resolve '%1': %2").arg(name, reply.errorMessage()));
            return;
        }
        // (interface, protocol, name, type, domain, host, aprotocol, address, port, txt, flags)
        const QVariantList values = reply.arguments();
        Service service;
        service.name = values.value(2).toString();
        service.host = values.value(7).toString();
        service.port = quint16(values.value(8).toUInt());
        QList<QByteArray> records;
        const QDBusArgument txt = values.value(9).value<QDBusArgument>();
        txt >> records;
        service.txt = decodeTxt(records);
        emit serviceFound(service);
    });
}

void AvahiDiscovery::itemRemove(int, int, const QString &name, const QString &, const QString &, uint)
{
    emit serviceLost(name);
}

} // namespace ovalis
