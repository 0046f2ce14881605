#include "transfer/KeepAwakeActivity.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <unistd.h>

#include "util/Log.h"

namespace ovalis {

KeepAwakeActivity::KeepAwakeActivity(const QString &reason)
    : m_reason(reason)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                                                          QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    message.setArguments({QStringLiteral("idle"), QStringLiteral("Ovalis"), reason, QStringLiteral("block")});
    const QDBusMessage reply = bus.call(message, QDBus::Block, 2000);
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

} // namespace ovalis
