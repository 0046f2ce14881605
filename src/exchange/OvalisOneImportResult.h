#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

namespace ovalis {

// What one run of the version-1 import did.
struct OvalisOneImportResult {
    // The documents whose conditions were imported, in order.
    QStringList importedDocuments;
    // Documents that opened but whose conditions could not be read.
    QStringList skippedDocuments;
    // The document that could not be opened and ended the run, with the
    // reason; empty when every document opened.
    QString failedDocument;
    QString failureReason;
    // The version-1 model could not be loaded: nothing was imported.
    bool modelMissing = false;

    int conditions = 0;
    int cases = 0;
    int media = 0;
    int tagsCreated = 0;

    bool succeeded() const { return !modelMissing && failedDocument.isEmpty(); }
    // For telling the user why a run stopped: the document that could not
    // be opened (or the missing model), and the reason with the documents
    // imported before it. Empty when the run went through.
    QString failureMessage() const;
    QString failureDetails() const;
};

} // namespace ovalis

Q_DECLARE_METATYPE(ovalis::OvalisOneImportResult)
