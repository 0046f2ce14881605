#include "store/LibraryMaintenance.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSet>
#include <QUrl>
#include <filesystem>
#include <functional>


#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/MediaDirectoryScan.h"
#include "store/MediaFileStore.h"
#include "store/MediaWriteError.h"
#include "store/PersistentStore.h"
#include "store/Tag.h"
#include "util/Log.h"

namespace ovalis {

namespace {

void log(const QString &message) { Log::info(LogArea::CoreData, message); }
void logError(const QString &message) { Log::error(LogArea::CoreData, message); }
QString urlText(const QString &path) { return QUrl::fromLocalFile(path).toString(); }

} // namespace

LibraryMaintenance::LibraryMaintenance(ManagedObjectContext *context)
    : m_context(context)
{
}

QString LibraryMaintenance::mediaDirectory() const
{
    return m_context->stack() ? m_context->stack()->mediaDirectory() : QString();
}

void LibraryMaintenance::deleteOrphanedMedia()
{
    deleteOrphanedRecords();
    deleteOrphanedFiles();
    deleteEmptyMediaFolders();
}

void LibraryMaintenance::scanMediaDirectory()
{
    m_scan = std::make_shared<MediaDirectoryScan>(MediaDirectoryScan::of(mediaDirectory()));
}

void LibraryMaintenance::deleteOrphanedRecords()
{
    log(QStringLiteral("Find Media where itsCase == nil"));
    const QList<ManagedObject *> orphans =
        m_context->arrayOfObjects(Media::entityName(), Predicate::fromFormat(QStringLiteral("itsCase == nil")));
    log(QStringLiteral("Media with nil itsCase count: %1").arg(orphans.size()));
    for (ManagedObject *media : orphans)
        m_context->deleteObject(media);
}

bool LibraryMaintenance::deleteOrphanedFiles()
{
    log(QStringLiteral("Delete media files with no Media object"));
    // One fetch of every uuid. When it fails nothing is deleted: an empty
    // answer would otherwise condemn every file of the library.
    QString error;
    FetchRequest request;
    request.entityName = Media::entityName();
    const QList<ManagedObject *> records = m_context->executeFetch(request, &error);
    if (!error.isEmpty()) {
        logError(QStringLiteral("Unable to fetch Media objects - no media files deleted: ") + error);
        return false;
    }
    QSet<QString> uuids;
    uuids.reserve(records.size());
    for (ManagedObject *record : records) {
        const QString uuid = static_cast<Media *>(record)->uuid();
        if (!uuid.isNull())
            uuids.insert(uuid);
    }
    const QString directory = mediaDirectory();
    if (directory.isEmpty())
        return true;
    // The folders are walked once for this step and the next.
    scanMediaDirectory();
    QStringList files;
    files.reserve(qsizetype(m_scan->files.size()));
    for (const std::string &file : m_scan->files)
        files.append(QString::fromStdString(file));
    for (const QString &path : std::as_const(files)) {
        const QFileInfo info(path);
        const QString name = info.fileName();
        const int dot = int(name.lastIndexOf(QLatin1Char('.')));
        const QString uuid = dot > 0 ? name.left(dot) : name;
        if (uuids.contains(uuid))
            continue;
        log(QStringLiteral("No Media object - delete ") + urlText(path));
        QString failure;
        QFile file(path);
        MediaWriteError folderError;
        if (!file.remove())
            failure = file.errorString();
        else if (!MediaFileStore::deleteEmptyFolders(QUrl::fromLocalFile(path), &folderError))
            failure = folderError.message();
        if (!failure.isEmpty())
            logError(QStringLiteral("Failed to delete %1 [%2]").arg(urlText(path), failure));
    }
    return true;
}

void LibraryMaintenance::deleteEmptyMediaFolders()
{
    log(QStringLiteral("Delete Media folders with no content"));
    const QString directory = mediaDirectory();
    if (directory.isEmpty() || !QFileInfo(directory).isDir())
        return;
    // The walk of the file step, when it just ran, tells which folders were
    // empty; a folder emptied since then went with the file that left it.
    if (!m_scan)
        scanMediaDirectory();
    QStringList empty;
    for (const std::string &folder : m_scan->emptyFolders) {
        const QString path = QString::fromStdString(folder);
        if (QDir(path).exists()
            && QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).isEmpty())
            empty.append(path);
    }
    m_scan.reset();
    log(QStringLiteral("Empty sub folders: %1").arg(empty.size()));
    for (const QString &folder : std::as_const(empty)) {
        if (!QFileInfo::exists(folder))
            continue; // removed with an earlier one
        MediaWriteError failure;
        if (!MediaFileStore::deleteEmptyFolders(QUrl::fromLocalFile(folder + QStringLiteral("/Ignore.file")), &failure))
            logError(QStringLiteral("Unable to recursively delete folder at %1 [%2]").arg(urlText(folder), failure.message()));
    }
}

void LibraryMaintenance::logCoreDataCount()
{
    log(QStringLiteral("Cases: %1").arg(m_context->arrayOfObjects(Case::entityName()).size()));
    log(QStringLiteral("Media: %1").arg(m_context->arrayOfObjects(Media::entityName()).size()));
    log(QStringLiteral("Tags: %1").arg(m_context->arrayOfObjects(Tag::entityName()).size()));
}

void LibraryMaintenance::logTags()
{
    const QList<ManagedObject *> tags =
        m_context->arrayOfObjects(Tag::entityName(), Predicate(), {{QStringLiteral("label"), true}});
    for (ManagedObject *object : tags) {
        auto *tag = static_cast<Tag *>(object);
        const QString label = tag->label();
        // One substitution: a label holding "%1" must not take the count.
        log(QStringLiteral("%1 %2 %3 - %4")
                .arg(label.isNull() ? QStringLiteral("?") : label,
                     tag->active() ? QStringLiteral("\u2764\uFE0F") : QString(),
                     tag->hasActiveCases() ? QStringLiteral("\U0001F7E2") : QString(),
                     QString::number(tag->casesTaggedWithThisAndActiveTags().size())));
    }
}

void LibraryMaintenance::correctDateAdded()
{
    const QLocale locale;
    auto shortDate = [&](const QDateTime &date) { return locale.toString(date.toLocalTime().date(), QLocale::ShortFormat); };
    for (ManagedObject *object : m_context->arrayOfObjects(Case::entityName())) {
        auto *item = static_cast<Case *>(object);
        const QDateTime diagnosis = item->dateOfDiagnosis();
        const QDateTime added = item->dateAdded();
        if (!diagnosis.isValid() || !added.isValid()) {
            log(QStringLiteral("Missing dates: ") + item->description());
            continue;
        }
        if (diagnosis.msecsTo(added) > 31536000LL * 1000) {
            log(QStringLiteral("Correcting dates - Diagnosed: %1 | Added: %2").arg(shortDate(diagnosis), shortDate(added)));
            item->setDateAdded(diagnosis);
        }
    }
}

void LibraryMaintenance::deleteAllData()
{
    for (const QString &entity : {Case::entityName(), Tag::entityName(), Media::entityName()})
        for (ManagedObject *object : m_context->arrayOfObjects(entity))
            if (!object->isDeleted())
                m_context->deleteObject(object);
}

void LibraryMaintenance::resetCloudKitHistory()
{
    m_context->saveWithParent(true);
    log(QStringLiteral("Purge all history"));
    QString error;
    if (m_context->persistentStore()->deleteHistory(QDateTime::currentDateTimeUtc().addMSecs(1), &error))
        logError(QStringLiteral("Successfully purged all history"));
    else
        logError(QStringLiteral("Could not purge history: ") + error);
    m_context->saveWithParent(true);
}

} // namespace ovalis
