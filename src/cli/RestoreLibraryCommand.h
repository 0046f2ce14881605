#pragma once

#include <QString>
#include <QStringList>

namespace ovalis {

// ovalis-cli restore-library: see its --help.
int runRestoreLibrary(const QString &library, const QStringList &arguments);

} // namespace ovalis
