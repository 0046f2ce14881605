#pragma once

#include <QString>
#include <QStringList>

namespace ovalis {

// ovalis-cli import-dicom: see its --help. verbose is the global option,
// which also lists the files passed over.
int runImportDicom(const QString &library, const QStringList &arguments, bool verbose);

} // namespace ovalis
