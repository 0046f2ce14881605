#pragma once

#include <QString>
#include <QVariantMap>

namespace ovalis {

// One posted notification. object identifies the sender and is only compared,
// never dereferenced by the notification center.
struct Notification {
    QString name;
    const void *object = nullptr;
    QVariantMap userInfo;
};

} // namespace ovalis
