#include "transfer/KeepAwakeActivity.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <unistd.h>

#include "util/Log.h"

namespace ovalis {

KeepAwakeActivity::KeepAwakeActivity(const QString &what, const QString &mode, const QString &reason)
    : m_request(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                                               QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit")))
{
    m_request.setArguments({what, QStringLiteral("Ovalis"), reason, mode});
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    const QDBusMessage reply = bus.call(m_request, QDBus::Block, 2000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        Log::debug(LogArea::Multipeer, QStringLiteral("No inhibitor lock for '%1': %2").arg(reason, reply.errorMessage()));
        return;
    }
    const auto descriptor = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
    if (descriptor.isValid())
        m_descriptor = ::dup(descriptor.fileDescriptor());
}

KeepAwakeActivity::~KeepAwakeActivity()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

QString KeepAwakeActivity::what() const
{
    return m_request.arguments().value(0).toString();
}

QString KeepAwakeActivity::reason() const
{
    return m_request.arguments().value(2).toString();
}

QString KeepAwakeActivity::mode() const
{
    return m_request.arguments().value(3).toString();
}

} // namespace ovalis
