#pragma once

#include <QString>
#include <QStringList>

namespace ovalis {

// ovalis-cli fetch-missing [--peer HOST:PORT] [--wait SECONDS]: fetches the
// library's missing media files from a peer found nearby or given by address.
int runFetchMissing(const QString &library, const QStringList &arguments);

} // namespace ovalis
