#include "exchange/OvalisOneImporter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QSet>
#include <QUrl>
#include <algorithm>
#include <memory>
#include <utility>

#include "exchange/LabelledProgressInfo.h"
#include "exchange/OvalisOneDocument.h"
#include "exchange/OvalisOneTagTables.h"
#include "library/CaseTagTokens.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/SharedBackgroundContext.h"
#include "store/Tag.h"
#include "util/KeyedArchive.h"
#include "util/Log.h"

namespace ovalis {

namespace {

constexpr int conditionsPerSave = 500;
const QString untitled = QStringLiteral("Untitled");

void log(const QString &message)
{
    Log::info(LogArea::Importing, message);
}

// Stable, absent values first, as the store sorts them.
template<class Key>
void sortBy(QVector<OvalisOneObject> &objects, Key key)
{
    std::stable_sort(objects.begin(), objects.end(), [&](const OvalisOneObject &a, const OvalisOneObject &b) {
        const auto left = key(a);
        const auto right = key(b);
        return right && (!left || *left < *right);
    });
}

} // namespace

OvalisOneImporter::OvalisOneImporter(ManagedObjectContext *context, const OvalisOneModel &model)
    : m_context(context)
    , m_model(model)
{
}

void OvalisOneImporter::importDocuments(ManagedObjectContext *mainContext, const QStringList &paths,
                                        std::function<void(const OvalisOneImportResult &)> completion,
                                        const OvalisOneModel *model)
{
    const auto finish = [completion](const OvalisOneImportResult &result) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [completion, result] {
                if (completion)
                    completion(result);
            },
            Qt::QueuedConnection);
    };
    log(QStringLiteral("Importing %1").arg(paths.size()));
    if (!mainContext || !mainContext->stack())
        return;
    mainContext->saveWithParent(true);
    if (!model) {
        Log::error(LogArea::Importing, QStringLiteral("Unable to load the model ") + QLatin1String(OvalisOneModel::modelName));
        OvalisOneImportResult result;
        result.modelMissing = true;
        finish(result);
        return;
    }
    const std::shared_ptr<ManagedObjectContext> child = SharedBackgroundContext::writerFor(mainContext);
    ManagedObjectContext *context = child.get();
    context->perform([context, keepAlive = child, paths, model, finish] {
        OvalisOneImporter importer(context, *model);
        importer.importDocuments(paths);
        context->waitForQueuedParentWork();
        finish(importer.result());
    });
}

bool OvalisOneImporter::importDocuments(const QStringList &paths)
{
    for (const QString &path : paths) {
        log(QStringLiteral("Import ") + path);
        QString reason;
        std::unique_ptr<OvalisOneDocument> document = OvalisOneDocument::open(path, m_model, &reason);
        if (!document) {
            Log::info(LogArea::CoreData, QStringLiteral("Unable to add persistent store at ") + QUrl::fromLocalFile(path).toString());
            Log::error(LogArea::Importing, QStringLiteral("Unable to open ") + path + QStringLiteral(": ") + reason);
            m_result.failedDocument = path;
            m_result.failureReason = reason;
            return false;
        }
        importConditions(*document, QFileInfo(path).completeBaseName());
    }
    return true;
}

void OvalisOneImporter::importConditions(OvalisOneDocument &document, const QString &documentName)
{
    log(QStringLiteral("Import from Ovalis1"));
    QString error;
    const std::optional<QVector<OvalisOneObject>> conditions = document.fetchAll(QStringLiteral("Condition"), &error);
    if (!conditions) {
        Log::error(LogArea::Importing, QStringLiteral("Failed to fetch conditions"));
        m_result.skippedDocuments.append(document.path());
        return;
    }
    const int total = int(conditions->size());
    const QString progressLabel = QStringLiteral("Importing ") + documentName;
    for (int i = 1; i <= total; ++i) {
        LabelledProgressInfo::post(i, total, progressLabel);
        Case *item = m_context->insertNew<Case>();
        ++m_result.cases;
        attachTag(item, documentName);
        importCondition(document, conditions->at(i - 1), item);
        if (i % conditionsPerSave == 0)
            m_context->saveWithParent(true);
    }
    m_result.conditions += total;
    m_result.importedDocuments.append(document.path());
    log(QStringLiteral("Imported %1").arg(total));
    m_context->saveWithParent(true);
    LabelledProgressInfo::postEnd();
}

void OvalisOneImporter::importCondition(OvalisOneDocument &document, const OvalisOneObject &condition, Case *item)
{
    if (const auto summary = condition.text(QStringLiteral("conditionDescription")))
        item->setSummary(*summary);
    if (const auto onset = condition.date(QStringLiteral("dateOfOnset"))) {
        item->setDateOfDiagnosis(*onset);
        item->setDateAdded(*onset);
    }
    attachTag(item, OvalisOneTagTables::regions(), condition, QStringLiteral("conditionRegion"));
    attachTag(item, OvalisOneTagTables::systems(), condition, QStringLiteral("system"));
    attachTag(item, OvalisOneTagTables::pathologies(), condition, QStringLiteral("pathology"));

    QVector<OvalisOneObject> studies = document.related(condition, QStringLiteral("studies"));
    sortBy(studies, [](const OvalisOneObject &study) { return study.date(QStringLiteral("dateOfStudy")); });
    QStringList descriptions;
    for (const OvalisOneObject &study : std::as_const(studies)) {
        if (const auto description = study.text(QStringLiteral("studyDescription")))
            descriptions.append(*description);
        attachTag(item, OvalisOneTagTables::regions(), study, QStringLiteral("studyRegion"));
        attachTag(item, OvalisOneTagTables::modalities(), study, QStringLiteral("modality"));
        addMedia(document, item, document.related(study, QStringLiteral("images")), QStringLiteral("imageData"), true);
        addMedia(document, item, document.related(study, QStringLiteral("files")), QStringLiteral("fileData"), false);
    }
    if (!descriptions.isEmpty())
        item->setDetail(descriptions.join(QLatin1Char(' ')));

    importPatient(document, condition, item);

    for (const OvalisOneObject &album : document.related(condition, QStringLiteral("albums")))
        if (const auto label = album.text(QStringLiteral("label")))
            attachTag(item, *label);
}

void OvalisOneImporter::importPatient(OvalisOneDocument &document, const OvalisOneObject &condition, Case *item)
{
    const QVector<OvalisOneObject> patients = document.related(condition, QStringLiteral("patient"));
    if (patients.isEmpty())
        return;
    const OvalisOneObject &patient = patients.first();
    if (const auto identifier = patient.text(QStringLiteral("identifier")))
        item->setPatientID(*identifier);
    if (const auto birth = patient.date(QStringLiteral("dateOfBirth")))
        item->setDateOfBirth(*birth);
    if (const auto gender = patient.integer(QStringLiteral("gender"))) {
        // A value no sex has would be shown blank and written to a backup
        // as a sex no restore accepts.
        const std::optional<Sex> sex = std::in_range<int>(*gender) ? sexFromRawValue(int(*gender)) : std::nullopt;
        if (!sex)
            Log::error(LogArea::Importing, QStringLiteral("Unknown sex value %1 for %2: imported as unknown")
                                               .arg(*gender)
                                               .arg(item->description()));
        item->setSex(int(sex.value_or(Sex::unknown)));
    }

    QSet<qint64> seen;
    QSet<QString> identifiers;
    for (const QString &relationship : {QStringLiteral("linkedToPatients"), QStringLiteral("linkedFromPatients")}) {
        for (const OvalisOneObject &linked : document.related(patient, relationship)) {
            if (seen.contains(linked.primaryKey))
                continue;
            seen.insert(linked.primaryKey);
            if (const auto identifier = linked.text(QStringLiteral("identifier"))) {
                log(QStringLiteral("Got linked patient: ") + *identifier);
                identifiers.insert(*identifier);
            }
        }
    }
    // Linked patients without identifiers give nothing to refer to.
    if (identifiers.isEmpty())
        return;
    QStringList sorted = identifiers.values();
    sorted.sort();
    const QString see = QStringLiteral("See %1").arg(sorted.join(QStringLiteral(", ")));
    const QString detail = item->detail();
    item->setDetail(detail.isEmpty() ? see : detail + QChar(0x000D) + see);
}

void OvalisOneImporter::addMedia(OvalisOneDocument &document, Case *item, QVector<OvalisOneObject> objects,
                                 const QString &dataAttribute, bool archived)
{
    sortBy(objects, [](const OvalisOneObject &object) { return object.integer(QStringLiteral("order")); });
    for (const OvalisOneObject &object : std::as_const(objects)) {
        const QString fileName = object.text(QStringLiteral("fileName")).value_or(untitled);
        std::optional<QByteArray> data = document.data(object, dataAttribute);
        if (data && archived) {
            QString error;
            const std::optional<QVariant> root = KeyedArchive::unarchive(*data, &error);
            data = root && root->typeId() == QMetaType::QByteArray ? std::optional<QByteArray>(root->toByteArray()) : std::nullopt;
        }
        if (!data) {
            Log::error(LogArea::Importing, QStringLiteral("Unable to read %1 of %2 in %3").arg(dataAttribute, fileName, item->description()));
            continue;
        }
        if (item->addMedia(*data, fileName))
            ++m_result.media;
    }
}

Tag *OvalisOneImporter::tagWithLabel(const QString &label)
{
    if (Tag *known = m_tags.value(label))
        if (!known->isDeleted())
            return known;
    Tag *tag = CaseTagTokens::firstTagWithLabel(m_context, label);
    if (!tag) {
        tag = m_context->insertNew<Tag>();
        tag->setLabel(label);
        ++m_result.tagsCreated;
    }
    m_tags.insert(label, tag);
    return tag;
}

void OvalisOneImporter::attachTag(Case *item, const QString &label)
{
    tagWithLabel(label)->addToCases(item);
}

void OvalisOneImporter::attachTag(Case *item, const QStringList &table, const OvalisOneObject &object, const QString &attribute)
{
    if (const auto number = object.integer(attribute))
        if (const auto label = OvalisOneTagTables::label(table, *number))
            attachTag(item, *label);
}

} // namespace ovalis
