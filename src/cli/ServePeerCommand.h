#pragma once

#include <QString>
#include <QStringList>

namespace ovalis {

// ovalis-cli serve-peer [--port P] [--accept-from-any]: a peer without a
// window that advertises the library and answers requests for its media
// files until it is stopped.
int runServePeer(const QString &library, const QStringList &arguments);

} // namespace ovalis
