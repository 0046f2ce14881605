#include "exchange/DicomImport.h"

#include <QDir>
#include <QFileInfo>
#include <memory>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include "exchange/CalendarDateText.h"
#include "exchange/LabelledProgressInfo.h"
#include "exchange/MainThread.h"
#include "exchange/TagsByLabel.h"
#include "media/DicomDeidentifier.h"
#include "media/DicomUidMap.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/MediaFileStore.h"
#include "store/Predicate.h"
#include "store/SharedBackgroundContext.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"

namespace ovalis {

namespace {

constexpr int saveInterval = 100;

using Field = DicomImportChoices::Field;

QDateTime dayOf(const QDate &date)
{
    return date.isValid() ? CalendarDateText::parse(date.toString(Qt::ISODate)) : QDateTime();
}

std::optional<Sex> sexOf(const QString &code)
{
    if (code.compare(QLatin1String("M"), Qt::CaseInsensitive) == 0)
        return Sex::male;
    if (code.compare(QLatin1String("F"), Qt::CaseInsensitive) == 0)
        return Sex::female;
    return std::nullopt;
}

// A case the run puts images into, and which of its fields the headers may
// still fill: the scalar fields once, the detail and tags all run long.
struct Target {
    ObjectID id;
    int fillable = 0;
};

class Run
{
public:
    Run(ManagedObjectContext *context, const DicomImportChoices &choices)
        : m_context(context)
        , m_choices(choices)
        , m_tags(context)
        , m_map(DicomUidMap::forLibrary(context->stack() ? context->stack()->libraryDirectory() : QString()))
        , m_deidentifier(m_map)
        , m_mediaDirectory(context->stack() ? MediaFileStore::mediaDirectoryURL(*context->stack()) : QUrl())
    {
    }

    DicomImportSummary import(const DicomScanResult &scan)
    {
        int total = 0;
        for (const DicomStudyInfo &study : scan.studies)
            for (const DicomSeriesInfo &series : study.series)
                total += int(DicomImport::chosenFiles(series, m_choices).size());
        if (!m_map->isOpen()) {
            m_summary.failed.append(QStringLiteral("DICOM UID map: ") + m_map->errorString());
            return m_summary;
        }
        if (m_choices.target == DicomImportChoices::Target::CasePerStudy)
            for (const DicomStudyInfo &study : scan.studies)
                findCaseOfStudy(study);
        int counter = 0;
        for (const DicomStudyInfo &study : scan.studies) {
            for (const DicomSeriesInfo &series : study.series) {
                bool seriesTouched = false;
                for (const QString &path : DicomImport::chosenFiles(series, m_choices)) {
                    if (m_choices.cancel && m_choices.cancel->load()) {
                        m_summary.cancelled = true;
                        save(true);
                        return m_summary;
                    }
                    importImage(path, study, series, seriesTouched);
                    LabelledProgressInfo::post(++counter, total, QStringLiteral("Importing DICOM images…"));
                    if (counter % saveInterval == 0)
                        save(false);
                }
            }
        }
        save(true);
        return m_summary;
    }

private:
    void fail(const QString &path, const QString &reason)
    {
        Log::error(LogArea::Importing, QStringLiteral("Unable to import DICOM file ") + path + QStringLiteral(" (") + reason + QLatin1Char(')'));
        m_summary.failed.append(path + QStringLiteral(": ") + reason);
    }

    // A study some of whose images are in the library already: the rest join
    // the case that holds them rather than a new one.
    void findCaseOfStudy(const DicomStudyInfo &study)
    {
        for (const DicomSeriesInfo &series : study.series) {
            for (const QString &sop : series.sopInstanceUids) {
                Media *media = mediaInLibrary(m_map->mediaUuid(sop));
                if (!media)
                    continue;
                Target target;
                target.id = media->itsCase()->objectID();
                target.fillable = m_choices.fields & emptyFields(media->itsCase());
                m_targets.insert(study.studyInstanceUid, target);
                return;
            }
        }
    }

    bool mediaStillInLibrary(const QString &uuid) { return mediaInLibrary(uuid) != nullptr; }

    Media *mediaInLibrary(const QString &uuid)
    {
        if (uuid.isEmpty())
            return nullptr;
        // A record left without its case (the case was deleted) is no longer
        // in the library as far as anyone can see.
        auto *found = static_cast<Media *>(
            m_context->object(Media::entityName(), Predicate::fromFormat(QStringLiteral("uuid == %@"), {uuid})));
        return found && !found->isDeleted() && found->itsCase() && !found->itsCase()->isDeleted() ? found : nullptr;
    }

    void importImage(const QString &path, const DicomStudyInfo &study, const DicomSeriesInfo &series, bool &seriesTouched)
    {
        DcmFileFormat file;
        QString error;
        if (!DicomDeidentifier::load(file, path, &error))
            return fail(path, error);
        OFString sop;
        file.getDataset()->findAndGetOFString(DCM_SOPInstanceUID, sop);
        const QString original = QString::fromLatin1(sop.c_str()).trimmed();
        if (original.isEmpty())
            return fail(path, QStringLiteral("no SOP Instance UID"));
        if (mediaStillInLibrary(m_map->mediaUuid(original))) {
            ++m_summary.duplicates;
            return;
        }
        Case *item = caseFor(study);
        if (!item)
            return fail(path, QStringLiteral("the case to add to is no longer in the library"));
        Media *media = item->addMediaRecord(QStringLiteral("Series %1 image %2.dcm").arg(series.seriesNumber).arg(item->media().size() + 1));
        const std::optional<QUrl> url = media ? media->fileURL() : std::nullopt;
        if (!url) {
            if (media)
                m_context->deleteObject(media);
            return fail(path, QStringLiteral("the library has no media folder"));
        }
        MediaWriteError folderError;
        if (!MediaFileStore::createDirectory(MediaFileStore::folderURL(*url), &folderError)) {
            m_context->deleteObject(media);
            return fail(path, folderError.message());
        }
        if (!m_deidentifier.deidentify(file, &error) || !DicomDeidentifier::save(file, url->toLocalFile(), &error)) {
            m_context->deleteObject(media);
            return fail(path, error);
        }
        m_map->rememberMedia(original, media->uuid());
        ++m_summary.imagesImported;
        if (!seriesTouched) {
            seriesTouched = true;
            describeSeries(item, series);
        }
    }

    // The case the study's images go into; made, found or filled on first use.
    Case *caseFor(const DicomStudyInfo &study)
    {
        const QString key = m_choices.target == DicomImportChoices::Target::CasePerStudy ? study.studyInstanceUid : QString();
        auto target = m_targets.find(key);
        if (target == m_targets.end()) {
            Target made;
            Case *item = nullptr;
            if (m_choices.target == DicomImportChoices::Target::ExistingCase) {
                item = existingCase(m_choices.existingCase);
            } else if (m_choices.target == DicomImportChoices::Target::CaseByPatientId) {
                item = static_cast<Case *>(m_context->object(
                    Case::entityName(), Predicate::fromFormat(QStringLiteral("patientID == %@"), {m_choices.patientId})));
                if (item && item->isDeleted())
                    item = nullptr;
            }
            if (item) {
                made.fillable = m_choices.fields & emptyFields(item);
            } else if (m_choices.target != DicomImportChoices::Target::ExistingCase) {
                item = m_context->insertNew<Case>();
                made.fillable = m_choices.fields;
                if (m_choices.target == DicomImportChoices::Target::CaseByPatientId) {
                    item->setPatientID(m_choices.patientId);
                    made.fillable &= ~Field::PatientID;
                }
                ++m_summary.casesCreated;
            }
            if (!item)
                return nullptr;
            made.id = item->objectID();
            target = m_targets.insert(key, made);
        }
        m_currentKey = key;
        Case *item = existingCase(target->id);
        if (item && !m_filledFrom.contains(study.studyInstanceUid + QLatin1Char('\n') + key)) {
            m_filledFrom.insert(study.studyInstanceUid + QLatin1Char('\n') + key);
            fill(item, study, *target);
        }
        return item;
    }

    Case *existingCase(const ObjectID &id)
    {
        ManagedObject *object = id.isNull() ? nullptr : m_context->existingObject(id);
        return object && !object->isDeleted() && object->entityName() == Case::entityName() ? static_cast<Case *>(object)
                                                                                            : nullptr;
    }

    static int emptyFields(const Case *item)
    {
        int empty = 0;
        if (item->patientID().isEmpty())
            empty |= Field::PatientID;
        if (item->sex() == int(Sex::unknown))
            empty |= Field::Sex;
        if (!item->dateOfBirth().isValid())
            empty |= Field::DateOfBirth;
        if (!item->dateOfDiagnosis().isValid())
            empty |= Field::DateOfDiagnosis;
        if (item->summary().isEmpty())
            empty |= Field::Summary;
        if (item->detail().isEmpty())
            empty |= Field::Detail;
        if (item->tags().isEmpty())
            empty |= Field::Tags;
        return empty;
    }

    // The scalar fields the study has a value for, each filled once.
    static void fill(Case *item, const DicomStudyInfo &study, Target &target)
    {
        const auto take = [&](Field field, bool present) {
            const bool taken = (target.fillable & field) && present;
            if (taken)
                target.fillable &= ~field;
            return taken;
        };
        if (take(Field::PatientID, !study.patientId.isEmpty()))
            item->setPatientID(study.patientId);
        if (const std::optional<Sex> sex = sexOf(study.sex); take(Field::Sex, sex.has_value()))
            item->setSex(*sex);
        if (take(Field::DateOfBirth, study.birthDate.isValid()))
            item->setDateOfBirth(dayOf(study.birthDate));
        if (take(Field::DateOfDiagnosis, study.studyDate.isValid()))
            item->setDateOfDiagnosis(dayOf(study.studyDate));
        if (take(Field::Summary, !study.studyDescription.isEmpty()))
            item->setSummary(study.studyDescription);
    }

    void describeSeries(Case *item, const DicomSeriesInfo &series)
    {
        const Target *owner = &*m_targets.constFind(m_currentKey);
        if (owner->fillable & Field::Detail) {
            const QString detail = item->detail();
            item->setDetail(detail.isEmpty() ? DicomImport::detailLine(series)
                                             : detail + QLatin1Char('\n') + DicomImport::detailLine(series));
        }
        if (owner->fillable & Field::Tags) {
            for (const QString &label : {series.modality, series.bodyPartExamined})
                if (!label.isEmpty())
                    m_tags.attach(item, label);
        }
    }

    // The files are written without waiting for the disk; once per batch
    // they are flushed before the records that point at them are saved.
    void save(bool waitForParent)
    {
        NotificationCenter::defaultCenter().post(QStringLiteral("Updated Media"));
        MediaWriteError error;
        if (m_summary.imagesImported > 0 && !MediaFileStore::flushToDisk(m_mediaDirectory, &error))
            Log::error(LogArea::Filing, QStringLiteral("Unable to flush the media files to disk: ") + error.message());
        if (waitForParent)
            m_context->saveWithParent(true);
        else
            m_context->saveWithParentLater();
    }

    ManagedObjectContext *m_context;
    DicomImportChoices m_choices;
    TagsByLabel m_tags;
    std::shared_ptr<DicomUidMap> m_map;
    DicomDeidentifier m_deidentifier;
    QUrl m_mediaDirectory;
    DicomImportSummary m_summary;
    QHash<QString, Target> m_targets;
    QSet<QString> m_filledFrom;
    QString m_currentKey;
};

} // namespace

QStringList DicomImport::chosenFiles(const DicomSeriesInfo &series, const DicomImportChoices &choices)
{
    if (!choices.series.isEmpty() && !choices.series.contains(series.seriesInstanceUid))
        return {};
    const int step = std::max(1, choices.everyNth.value(series.seriesInstanceUid, 1));
    QStringList files;
    for (qsizetype n = 0; n < series.files.size(); n += step)
        files.append(series.files[n]);
    return files;
}

QString DicomImport::detailLine(const DicomSeriesInfo &series)
{
    if (!series.seriesDescription.isEmpty())
        return series.seriesDescription;
    const QString modality = series.modality.isEmpty() ? QStringLiteral("Series") : series.modality + QStringLiteral(" series");
    return modality + QLatin1Char(' ') + QString::number(series.seriesNumber);
}

void DicomImport::importStudies(const DicomScanResult &scan, const DicomImportChoices &choices, ManagedObjectContext *mainContext,
                                std::function<void(const DicomImportSummary &)> finished)
{
    Log::info(LogArea::Importing, QStringLiteral("Will import %1 DICOM images").arg(scan.imageCount()));
    LabelledProgressInfo::post(1, 100, QStringLiteral("Preparing…"));
    mainContext->saveWithParent(true);
    std::shared_ptr<ManagedObjectContext> child = SharedBackgroundContext::writerFor(mainContext);
    ManagedObjectContext *context = child.get();
    context->perform([context, keepAlive = child, scan, choices, finished] {
        Run run(context, choices);
        const DicomImportSummary summary = run.import(scan);
        context->waitForQueuedParentWork();
        LabelledProgressInfo::postEnd();
        if (finished)
            runOnMainThread([finished, summary] { finished(summary); });
    });
}

} // namespace ovalis
