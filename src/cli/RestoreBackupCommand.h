#pragma once

#include <QString>
#include <QStringList>

namespace ovalis {

// ovalis-cli restore-backup: see its --help.
int runRestoreBackup(const QString &library, const QStringList &arguments);

} // namespace ovalis
