#pragma once

#include <QString>
#include <QStringList>

namespace ovalis {

// ovalis-cli export-backup: see its --help.
int runExportBackup(const QString &library, const QStringList &arguments);

} // namespace ovalis
