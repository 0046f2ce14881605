#include "transfer/RemoteMediaLibrary.h"

namespace ovalis {

DeviceType RemoteMediaLibrary::deviceType(const std::optional<DiscoveryInfo> &info)
{
    const QString type = info ? info->value(QStringLiteral("deviceType")) : QString();
    if (type == QLatin1String("Mac"))
        return DeviceType::mac;
    if (type == QLatin1String("iPhone"))
        return DeviceType::iPhone;
    return DeviceType::unknown;
}

QString RemoteMediaLibrary::description() const
{
    static const char *const devices[] = {"unknown", "mac", "iPhone"};
    return QStringLiteral("RemoteMediaLibrary(id: %1, label: \"%2\", device: %3)")
        .arg(id.uniqueID, label, QLatin1String(devices[int(device)]));
}

} // namespace ovalis
