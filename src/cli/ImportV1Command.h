#pragma once

#include <QString>
#include <QStringList>

namespace ovalis {

// ovalis-cli import-v1 FILE...: imports version-1 documents into the
// library, reporting progress on stderr and a summary on stdout. Answers the
// process's exit code: 0 when every document was imported, 1 when one could
// not be opened (named on stderr; those before it stay imported), 2 when
// the library could not be opened.
int runImportV1(const QString &library, const QStringList &arguments);

} // namespace ovalis
