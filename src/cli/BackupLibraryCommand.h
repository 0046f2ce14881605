#pragma once

#include <QString>
#include <QStringList>

namespace ovalis {

// ovalis-cli backup-library: see its --help.
int runBackupLibrary(const QString &library, const QStringList &arguments);

} // namespace ovalis
