#pragma once

#include <QString>
#include <QStringList>

namespace ovalis {

// ovalis-cli sync [--server CONNINFO] [--once | --watch] [--media | --no-media]:
// keeps the library mirrored on a PostgreSQL server.
int runSync(const QString &library, const QStringList &arguments);
// ovalis-cli sync-status: what waits to go up and what the server has that is not here.
int runSyncStatus(const QString &library, const QStringList &arguments);

} // namespace ovalis
