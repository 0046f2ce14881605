#pragma once

#include <QString>
#include <QStringList>

namespace ovalis {

// ovalis-cli export-media: see its --help.
int runExportMedia(const QString &library, const QStringList &arguments);
// ovalis-cli export-teaching: see its --help.
int runExportTeaching(const QString &library, const QStringList &arguments);

} // namespace ovalis
