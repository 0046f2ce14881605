#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

#include "exchange/OvalisOneImportResult.h"
#include "exchange/OvalisOneModel.h"
#include "exchange/OvalisOneObject.h"

namespace ovalis {

class Case;
class ManagedObjectContext;
class OvalisOneDocument;
class Tag;

// Turns every condition of version-1 documents into a new case: tags for
// the document, region, system, pathology, study modalities and albums,
// summary, dates, detail from the study descriptions and linked patients,
// patient data, and the studies' images and files as media. Nothing is
// matched against the library: importing a document twice gives its cases
// twice (the tags are shared by label).
class OvalisOneImporter
{
public:
    // Works in context (not owned), on the context's thread.
    OvalisOneImporter(ManagedObjectContext *context, const OvalisOneModel &model);

    // Call on the main thread. Saves the main context with its parent, then
    // imports the documents in order on a private child of it and saves with
    // the parent after each document (and every 500 conditions). A document
    // that cannot be opened ends the run; the ones before it stay imported.
    // Progress goes out as "Update Labelled Progress". completion runs on
    // the main thread when the run is over. Without a model nothing happens
    // but the completion.
    static void importDocuments(ManagedObjectContext *mainContext, const QStringList &paths,
                                std::function<void(const OvalisOneImportResult &)> completion = {},
                                const OvalisOneModel *model = OvalisOneModel::load(QLatin1String(OvalisOneModel::modelName)));

    // The run itself, on the context's thread: false when a document could
    // not be opened.
    bool importDocuments(const QStringList &paths);
    // One opened document's conditions, saved with the parent at the end.
    void importConditions(OvalisOneDocument &document, const QString &documentName);

    const OvalisOneImportResult &result() const { return m_result; }

private:
    // The first tag with exactly this label, else a new one.
    Tag *tagWithLabel(const QString &label);
    void attachTag(Case *item, const QString &label);
    void attachTag(Case *item, const QStringList &table, const OvalisOneObject &object, const QString &attribute);
    void importCondition(OvalisOneDocument &document, const OvalisOneObject &condition, Case *item);
    void importPatient(OvalisOneDocument &document, const OvalisOneObject &condition, Case *item);
    void addMedia(OvalisOneDocument &document, Case *item, QVector<OvalisOneObject> objects, const QString &dataAttribute,
                  bool archived);

    ManagedObjectContext *m_context; // Not owned.
    const OvalisOneModel &m_model;
    QHash<QString, Tag *> m_tags; // Not owned: objects of m_context.
    OvalisOneImportResult m_result;
};

} // namespace ovalis
