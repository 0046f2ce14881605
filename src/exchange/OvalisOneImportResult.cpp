#include "exchange/OvalisOneImportResult.h"

#include <QFileInfo>

namespace ovalis {

namespace {

QString quotedName(const QString &path)
{
    return QStringLiteral("“%1”").arg(QFileInfo(path).fileName());
}

} // namespace

QString OvalisOneImportResult::failureMessage() const
{
    if (modelMissing)
        return QStringLiteral("The version-1 data model could not be loaded, so nothing was imported.");
    if (failedDocument.isEmpty())
        return QString();
    return QStringLiteral("The document %1 could not be opened.").arg(quotedName(failedDocument));
}

QString OvalisOneImportResult::failureDetails() const
{
    if (failedDocument.isEmpty())
        return QString();
    QString details = failureReason;
    if (!details.isEmpty())
        details += QStringLiteral("\n\n");
    QStringList names;
    for (const QString &path : importedDocuments)
        names.append(quotedName(path));
    details += names.isEmpty() ? QStringLiteral("No document was imported before it.")
                               : QStringLiteral("Imported before it: %1.").arg(names.join(QStringLiteral(", ")));
    details += QStringLiteral(" The import stopped there: documents after it were not imported.");
    return details;
}

} // namespace ovalis
