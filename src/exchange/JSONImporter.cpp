#include "exchange/JSONImporter.h"

#include <QDir>
#include <QHash>
#include <QFile>
#include <QSaveFile>
#include <QThreadPool>
#include <QUuid>
#include <algorithm>
#include <chrono>
#include <deque>
#include <future>
#include <fcntl.h>
#include <limits>

#include "exchange/BackupReader.h"
#include "exchange/CalendarDateText.h"
#include "exchange/CaseRelations.h"
#include "exchange/EncodedCase.h"
#include "exchange/LabelledProgressInfo.h"
#include "exchange/MainThread.h"
#include "exchange/RestoredMediaIdentifiers.h"
#include "exchange/TagsByLabel.h"
#include "store/Case.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/SharedBackgroundContext.h"
#include "store/Tag.h"
#include "util/LocalDate.h"
#include "util/Log.h"

namespace ovalis {

namespace {

constexpr int progressInterval = 50;
constexpr int saveInterval = 500;
constexpr qsizetype exportBatchSize = 2000;

QString uuidGroup()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().section(QLatin1Char('-'), 0, 0);
}

// Fills a new case from its record.
void fillCase(Case *item, const EncodedCase &record, TagsByLabel &tags, RestoredMediaIdentifiers &identifiers,
              JSONImporter::RestoreSummary &summary)
{
    static const QDate ignoredDateAdded(2021, 1, 20);
    item->setPatientID(record.restoredPatientID());
    if (const std::optional<int> sex = record.sexValue())
        item->setSex(*sex);
    // A record without a date leaves it without one, rather than with the
    // insertion time a new case starts with.
    item->setDateOfBirth(record.dateOfBirth ? CalendarDateText::parse(*record.dateOfBirth) : QDateTime());
    item->setDateOfDiagnosis(record.dateOfDiagnosis ? CalendarDateText::parse(*record.dateOfDiagnosis) : QDateTime());
    // Backups of one old version gave every case this date added.
    const QDateTime added = record.dateAdded ? CalendarDateText::parse(*record.dateAdded) : QDateTime();
    item->setDateAdded(added.isValid() && LocalDate::of(added) != ignoredDateAdded ? added : item->dateOfDiagnosis());
    item->setSummary(record.summary.value_or(QString()));
    item->setDetail(record.detail.value_or(QString()));
    for (const QString &label : record.tagLabels()) {
        Log::info(LogArea::Importing, QStringLiteral("Tag ") + record.patientIdentifier + QStringLiteral(" with '") + label
                                          + QLatin1Char('\''));
        const qsizetype before = tags.createdCount();
        tags.attach(item, label);
        summary.tagsCreated += int(tags.createdCount() - before);
    }
    if (!record.media)
        return;
    ManagedObjectContext *context = item->managedObjectContext();
    // The file lists the media in display order; numbering them so keeps it.
    int orderIndex = 0;
    for (const EncodedMedia &encoded : *record.media) {
        auto *media = context->insertNew<Media>();
        media->setItsCase(item);
        media->setOrderIndex(orderIndex++);
        media->setFileName(encoded.filename.value_or(QString()));
        identifiers.assign(media, encoded.identifier);
        if (encoded.dateOfCreation)
            media->setCreationDate(CalendarDateText::parse(*encoded.dateOfCreation));
        ++summary.mediaRecords;
    }
}

// Writes the text as the backup file's UTF-16, and has the kernel start
// writing it out, so that the flush when the file is committed has little
// left to wait for.
bool writeText(QSaveFile &file, const QString &text)
{
    bool written = false;
    if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        const qint64 size = text.size() * qint64(sizeof(char16_t));
        written = file.write(reinterpret_cast<const char *>(text.utf16()), size) == size;
    } else {
        const QByteArray bytes = BackupFile::fileBytes(text);
        written = file.write(bytes) == bytes.size();
    }
    if (written && file.flush() && file.handle() >= 0)
        ::sync_file_range(file.handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
    return written;
}

std::future<QString> encodeOnThreadPool(QList<EncodedCase> batch, bool first)
{
    auto task = std::make_shared<std::packaged_task<QString()>>(
        [batch = std::move(batch), first] { return BackupFile::casesText(batch, first); });
    std::future<QString> text = task->get_future();
    QThreadPool::globalInstance()->start([task] { (*task)(); });
    return text;
}

// Whether at least one of the case's media files is in the library.
bool hasPresentFile(const Case *item)
{
    for (const Media *media : item->sortedMedia()) {
        if (media->fileName().isEmpty() || media->uuid().isEmpty()) {
            Log::info(LogArea::Filing, QStringLiteral("Unable to create URL: ") + media->description());
            continue;
        }
        if (media->fileExists())
            return true;
    }
    return false;
}

} // namespace

JSONImporter::JSONImporter(const QUrl &url)
    : m_url(url)
{
}

QList<Case *> JSONImporter::exportOrder(QList<Case *> cases)
{
    struct Keyed {
        qint64 added;
        QString patientID;
        Case *item;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(cases.size());
    for (Case *item : cases) {
        const QDateTime added = item->dateAdded();
        keyed.push_back({added.isValid() ? added.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min(),
                         item->patientID(), item});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed &a, const Keyed &b) {
        if (a.added != b.added)
            return a.added < b.added;
        return a.patientID < b.patientID;
    });
    for (qsizetype i = 0; i < cases.size(); ++i)
        cases[i] = keyed[size_t(i)].item;
    return cases;
}

JSONImporter::ExportResult JSONImporter::exportDatabase(ManagedObjectContext *context, const ExportProgress &progress) const
{
    Log::info(LogArea::Filing, QStringLiteral("Export to ") + m_url.toString(QUrl::FullyEncoded));
    ExportResult result;
    FetchRequest request{Case::entityName()};
    request.unordered = true;
    QString fetchError;
    const QList<ManagedObject *> objects = context->executeFetch(request, &fetchError);
    if (!fetchError.isEmpty()) {
        result.error = QStringLiteral("The library could not be read: ") + fetchError;
    } else {
        QList<Case *> cases;
        cases.reserve(objects.size());
        for (ManagedObject *object : objects)
            cases.append(static_cast<Case *>(object));
        const CaseRelations relations = CaseRelations::gather(context);
        QSaveFile file(m_url.toLocalFile());
        if (!file.open(QIODevice::WriteOnly) || !writeText(file, BackupFile::opening())) {
            result.error = file.errorString();
        } else {
            // The records are read from the context on this thread, batch by
            // batch, while earlier batches are encoded on the thread pool and
            // written in order as they are done.
            const QList<Case *> ordered = exportOrder(cases);
            std::deque<std::future<QString>> pending;
            bool written = true;
            const auto writeFinished = [&](bool wait) {
                while (written && !pending.empty()
                       && (wait || pending.front().wait_for(std::chrono::seconds(0)) == std::future_status::ready)) {
                    written = writeText(file, pending.front().get());
                    pending.pop_front();
                }
            };
            for (qsizetype start = 0; start < ordered.size() && written; start += exportBatchSize) {
                QList<EncodedCase> batch;
                batch.reserve(std::min(exportBatchSize, ordered.size() - start));
                for (qsizetype i = start; i < ordered.size() && i < start + exportBatchSize; ++i)
                    batch.append(relations.encoded(ordered[i]));
                pending.push_back(encodeOnThreadPool(std::move(batch), start == 0));
                writeFinished(false);
                const qint64 read = std::min(start + exportBatchSize, ordered.size());
                if (progress && !progress(read, ordered.size())) {
                    result.cancelled = true;
                    break;
                }
            }
            writeFinished(true);
            if (result.cancelled)
                Log::info(LogArea::Filing, QStringLiteral("Export cancelled"));
            else if (!written || !writeText(file, BackupFile::closing(ordered.isEmpty())) || !file.commit())
                result.error = file.errorString();
            else
                result.casesWritten = int(ordered.size());
        }
    }
    if (!result.error.isEmpty())
        Log::error(LogArea::Filing, QStringLiteral("Failed to export database summary: ") + result.error);
    return result;
}

JSONImporter::ExportResult JSONImporter::exportDatabaseOnQueue(ManagedObjectContext *reader, const ExportProgress &progress) const
{
    ExportResult result;
    reader->performAndWait([&] { result = exportDatabase(reader, progress); });
    return result;
}

void JSONImporter::importBackup(ManagedObjectContext *context, std::function<void(const RestoreSummary &)> finished) const
{
    Log::info(LogArea::Importing, QStringLiteral("Import from ") + m_url.toString(QUrl::FullyEncoded));
    LabelledProgressInfo::post(1, 100, QStringLiteral("Preparing…"));
    // The records are written on the restore's own thread and reach the
    // window in short slices, so that it never waits for a save.
    std::shared_ptr<ManagedObjectContext> child = SharedBackgroundContext::writerFor(context);
    ManagedObjectContext *childContext = child.get();
    const auto report = [finished](const RestoreSummary &summary) {
        if (finished)
            runOnMainThread([finished, summary] { finished(summary); });
    };
    // The file is read and checked on the child's thread, so the window
    // stays responsive; a bad file changes nothing. The records are then
    // read again and made a batch at a time, so that neither the file nor
    // all of its records are held at once.
    childContext->perform([context, childContext, keepAlive = child, path = m_url.toLocalFile(), report] {
        RestoreSummary summary;
        QFile file(path);
        BackupReader reader(&file);
        if (!file.open(QIODevice::ReadOnly))
            summary.error = file.errorString();
        else
            reader.check(&summary.error);
        if (!summary.error.isEmpty()) {
            Log::error(LogArea::Importing, QStringLiteral("Failed to import from JSON: ") + summary.error);
            LabelledProgressInfo::postEnd();
            report(summary);
            return;
        }
        Log::info(LogArea::Importing, QStringLiteral("Backup contains %1 cases").arg(reader.count()));
        Log::info(LogArea::Importing, QStringLiteral("Import from backup"));
        // Edits waiting in the main context reach the file before the first
        // restored case does.
        context->performAndWait([context] { context->saveWithParent(true); });

        TagsByLabel tags(childContext);
        RestoredMediaIdentifiers identifiers(childContext);
        const int total = int(reader.count());
        int i = 0;
        for (;;) {
            const std::optional<QList<EncodedCase>> batch = reader.nextBatch(saveInterval, &summary.error);
            if (!batch || batch->isEmpty())
                break;
            QSet<QString> batchLabels;
            for (const EncodedCase &record : *batch)
                for (const QString &label : record.tagLabels())
                    batchLabels.insert(label);
            tags.prepare(batchLabels);
            for (const EncodedCase &record : *batch) {
                ++i;
                Log::info(LogArea::Importing, QStringLiteral("Import ") + record.patientIdentifier);
                fillCase(childContext->insertNew<Case>(), record, tags, identifiers, summary);
                ++summary.casesRead;
                if (i % progressInterval == 0)
                    LabelledProgressInfo::post(i, total, QStringLiteral("Importing…"));
                if (i % saveInterval == 0) {
                    childContext->saveWithParentLater();
                    // The saved records live on in the store and in the window:
                    // the restore keeps none of them.
                    if (!childContext->hasChanges())
                        childContext->reset();
                }
            }
        }
        // Only a file changed while it was read fails here; what was made of
        // it is kept and said.
        if (!summary.error.isEmpty())
            Log::error(LogArea::Importing, QStringLiteral("Failed to import from JSON: ") + summary.error);
        summary.mediaRenamed = identifiers.renamed();
        summary.mediaFilesCopied = identifiers.filesCopied();
        childContext->saveWithParent(true);
        summary.unsaved = childContext->hasChanges();
        childContext->waitForQueuedParentWork();
        LabelledProgressInfo::postEnd();
        report(summary);
    });
}

QString JSONImporter::folderName(const QString &patientID)
{
    QString name = patientID;
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    name.replace(QChar(0), QLatin1Char('-'));
    for (qsizetype i = 0; i < name.size() && name[i] == QLatin1Char('.'); ++i)
        name[i] = QLatin1Char('-');
    return name;
}

void JSONImporter::exportMedia(const QList<ObjectID> &cases, ManagedObjectContext *parent,
                               std::function<void(const MediaExportSummary &)> finished) const
{
    std::shared_ptr<ManagedObjectContext> child = SharedBackgroundContext::childOf(parent);
    ManagedObjectContext *childContext = child.get();
    const QString destination = QDir::cleanPath(m_url.toLocalFile());
    childContext->perform([childContext, keepAlive = child, cases, destination, finished] {
        Log::info(LogArea::Filing, QStringLiteral("Export media to ") + destination);
        LabelledProgressInfo::post(0, 1, QStringLiteral("Preparing…"));
        MediaExportSummary summary;
        QList<Case *> selected;
        for (const ObjectID &id : cases) {
            ManagedObject *object = childContext->existingObject(id);
            auto *item = dynamic_cast<Case *>(object);
            if (!item)
                continue;
            if (hasPresentFile(item))
                selected.append(item);
            else
                ++summary.casesWithoutFiles;
        }
        const int total = int(selected.size());
        for (int i = 1; i <= total; ++i) {
            const Case *item = selected[i - 1];
            LabelledProgressInfo::post(i, total, QStringLiteral("Exporting…"));
            QString first = folderName(item->patientID());
            if (first.isEmpty())
                first = uuidGroup();
            QString second = CalendarDateText::format(item->dateOfDiagnosis());
            if (second.isEmpty())
                second = uuidGroup();
            const QString path = destination + QLatin1Char('/') + first + QLatin1Char('/') + second;
            Log::info(LogArea::Filing, QStringLiteral("Export case media to ") + path);
            if (const std::optional<QUrl> folder = item->exportMediaFiles(QUrl::fromLocalFile(path), &summary.failures)) {
                ++summary.casesExported;
                summary.filesCopied += int(QDir(folder->toLocalFile()).entryList(QDir::Files | QDir::Hidden).size());
            }
        }
        LabelledProgressInfo::postEnd();
        if (finished)
            runOnMainThread([finished, summary] { finished(summary); });
    });
}

} // namespace ovalis
