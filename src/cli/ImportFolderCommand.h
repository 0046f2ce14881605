#pragma once

#include <QString>
#include <QStringList>

namespace ovalis {

// ovalis-cli import-folder: see its --help.
int runImportFolder(const QString &library, const QStringList &arguments);

} // namespace ovalis
