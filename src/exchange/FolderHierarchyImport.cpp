#include "exchange/FolderHierarchyImport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QRegularExpression>
#include <algorithm>
#include <memory>

#include "exchange/LabelledProgressInfo.h"
#include "exchange/MainThread.h"
#include "exchange/MediaCopyQueue.h"
#include "exchange/TagsByLabel.h"
#include "store/Case.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/MediaFileStore.h"
#include "store/MediaTypes.h"
#include "store/SharedBackgroundContext.h"
#include "store/Tag.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/SerialQueue.h"

namespace ovalis {

namespace {

constexpr int saveInterval = 100;

QString lastComponent(const QString &path)
{
    return QFileInfo(path).fileName();
}

QString parentFolder(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// Images and movies; documents are not taken from folders, and DICOM files
// only through the DICOM import, which takes the patient's identity out of them.
bool isAcceptedMediaFile(const QString &fileName)
{
    const std::optional<MediaType> type = MediaTypes::typeForExtension(MediaTypes::extensionOf(fileName));
    return type && *type != MediaType::PDF && *type != MediaType::DICOM;
}

QString detailFor(const QString &caseFolder, const QString &root)
{
    const qsizetype at = caseFolder.indexOf(root);
    if (caseFolder == root || at < 0)
        return caseFolder;
    const qsizetype separator = root.endsWith(QLatin1Char('/')) ? 0 : 1;
    return caseFolder.mid(at + root.size() + separator);
}

void attachTags(Case *item, const QString &nameFolder, const QString &root, TagsByLabel &tags)
{
    const QString rootName = lastComponent(root);
    if (rootName.isEmpty())
        return;
    QString folder = nameFolder;
    QString lastLabel;
    while (lastLabel != rootName && folder.contains(root)) {
        lastLabel = lastComponent(folder);
        tags.attach(item, lastLabel);
        if (folder == QLatin1String("/"))
            break;
        folder = parentFolder(folder);
    }
}

// The accepted media files below caseFolder in path order; the other visible
// files go to skipped.
QStringList mediaFiles(const QString &caseFolder, QStringList &skipped)
{
    QStringList files;
    QDirIterator it(caseFolder, QDir::Files | QDir::NoDotAndDotDot | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isSymLink()) {
            skipped.append(path + QStringLiteral(": a symbolic link"));
            continue;
        }
        if (!info.isFile())
            continue;
        if (isAcceptedMediaFile(info.fileName()))
            files.append(path);
        else
            skipped.append(path + QStringLiteral(": not an accepted image or movie type"));
    }
    std::sort(files.begin(), files.end(), FolderHierarchyImport::pathLess);
    return files;
}

void skipMedia(const QString &path, const QString &error, FolderHierarchyImport::Summary &summary)
{
    Log::error(LogArea::Importing,
               QStringLiteral("Unable to import media at URL: ") + path + QStringLiteral(" (") + error + QLatin1Char(')'));
    summary.skippedFiles.append(path + QStringLiteral(": ") + error);
}

// The case's records are made here; its files are copied on the queue's threads.
void importCase(ManagedObjectContext *context, const QString &caseFolder, const QString &root, TagsByLabel &tags,
                MediaCopyQueue &copies, FolderHierarchyImport::Summary &summary)
{
    auto *item = context->insertNew<Case>();
    const QString nameFolder =
        FolderHierarchyImport::stripTrailingFolders(caseFolder, {FolderHierarchyImport::caseNumberPattern()}, root);
    item->setSummary(lastComponent(nameFolder));
    item->setDetail(detailFor(caseFolder, root));
    item->setDateModified(QDateTime());
    attachTags(item, nameFolder, root, tags);
    for (const QString &path : mediaFiles(caseFolder, summary.skippedFiles)) {
        Media *media = item->addMediaRecord(lastComponent(path));
        const std::optional<QUrl> destination = media ? media->fileURL() : std::nullopt;
        if (destination) {
            copies.copy(media, path, *destination);
            ++summary.mediaCopied;
        } else {
            if (media)
                context->deleteObject(media);
            skipMedia(path, QStringLiteral("the library has no media folder"), summary);
        }
        if (!item->dateModified().isValid()) {
            const QDateTime modified = QFileInfo(path).lastModified();
            if (modified.isValid())
                item->setDateModified(modified);
        }
    }
    ++summary.casesImported;
}

// The media files are copied without waiting for the disk. Once per batch
// the copies are waited for (a record whose file could not be copied goes),
// and flushed, before the records that point at them are saved. On the way,
// the main context's save is queued, not waited for.
void saveAfterFlushingMedia(ManagedObjectContext *context, MediaCopyQueue &copies, FolderHierarchyImport::Summary &summary,
                            bool waitForParent)
{
    for (const MediaCopyQueue::Failure &failure : copies.finish()) {
        skipMedia(failure.source, failure.error, summary);
        --summary.mediaCopied;
        context->deleteObject(failure.media);
    }
    NotificationCenter::defaultCenter().post(QStringLiteral("Updated Media"));
    const QUrl mediaDirectory = context->stack() ? MediaFileStore::mediaDirectoryURL(*context->stack()) : QUrl();
    MediaWriteError error;
    if (!mediaDirectory.isEmpty() && !MediaFileStore::flushToDisk(mediaDirectory, &error))
        Log::error(LogArea::Filing, QStringLiteral("Unable to flush the media files to disk: ") + error.message());
    if (waitForParent)
        context->saveWithParent(true);
    else
        context->saveWithParentLater();
}

void importCases(const QStringList &caseFolders, const QString &root, ManagedObjectContext *mainContext,
                 const std::function<void(const FolderHierarchyImport::Summary &)> &finished)
{
    Log::info(LogArea::Importing, QStringLiteral("Will import %1 from %2").arg(caseFolders.size()).arg(root));
    mainContext->saveWithParent(true);
    // The records are written on the import's own thread and reach the window
    // in short slices, so that it never waits for a save.
    std::shared_ptr<ManagedObjectContext> child = SharedBackgroundContext::writerFor(mainContext);
    ManagedObjectContext *context = child.get();
    context->perform([context, keepAlive = child, caseFolders, root, finished] {
        FolderHierarchyImport::Summary summary;
        summary.caseFolders = int(caseFolders.size());
        TagsByLabel tags(context);
        MediaCopyQueue copies;
        const int total = int(caseFolders.size());
        for (int counter = 1; counter <= total; ++counter) {
            importCase(context, caseFolders[counter - 1], root, tags, copies, summary);
            LabelledProgressInfo::post(counter, total, QStringLiteral("Importing…"));
            if (counter % saveInterval == 0)
                saveAfterFlushingMedia(context, copies, summary, false);
        }
        LabelledProgressInfo::post(100, 100, QStringLiteral("Fixing tags…"));
        // Only tags made by this run: a tag the user already had stays.
        for (Tag *tag : tags.createdTags())
            if (FolderHierarchyImport::matches(FolderHierarchyImport::caseTagPattern(), tag->label()))
                context->deleteObject(tag);
        saveAfterFlushingMedia(context, copies, summary, true);
        context->waitForQueuedParentWork();
        LabelledProgressInfo::postEnd();
        if (finished)
            runOnMainThread([finished, summary] { finished(summary); });
    });
}

} // namespace

const QStringList &FolderHierarchyImport::viewFolderPatterns()
{
    static const QStringList patterns{
        QStringLiteral("_[0-9]"),          QStringLiteral("(?i)^day [0-9]"), QStringLiteral("^POD [0-9]"),
        QStringLiteral("^AXR$"),           QStringLiteral("(?i)^ax.{0,4}$"), QStringLiteral("(?i)^cor.{0,4}$"),
        QStringLiteral("(?i)^sag.{0,4}$"), QStringLiteral("(?i)^CT"),        QStringLiteral("(?i)^CXR"),
        QStringLiteral("(?i)^DMSA"),       QStringLiteral("(?i)^LGI"),       QStringLiteral("(?i)^MIBG"),
        QStringLiteral("(?i)^MRI?"),       QStringLiteral("(?i)^UGI"),       QStringLiteral("(?i)^US"),
        QStringLiteral("(?i)^VCUG"),       QStringLiteral("(?i)^WBMRI"),     QStringLiteral("(?i)^XR"),
        QStringLiteral("(?i)^fluoroscopy"), QStringLiteral("(?i)^radiograph"), QStringLiteral("(?i)^ultrasound"),
        QStringLiteral("(?i)^photo"),
    };
    return patterns;
}

QString FolderHierarchyImport::caseNumberPattern()
{
    return QStringLiteral("(?i)^case [0-9]+$");
}

QString FolderHierarchyImport::caseTagPattern()
{
    return QStringLiteral("(?i)^case");
}

bool FolderHierarchyImport::matches(const QString &pattern, const QString &name)
{
    // Compiled once per pattern and shared by the import's threads.
    static QMutex mutex;
    static QHash<QString, QRegularExpression> compiled;
    QRegularExpression expression;
    {
        QMutexLocker locker(&mutex);
        auto it = compiled.find(pattern);
        if (it == compiled.end())
            it = compiled.insert(pattern, QRegularExpression(pattern));
        expression = *it;
    }
    return expression.isValid() && expression.match(name).hasMatch();
}

QStringList FolderHierarchyImport::leafFolders(const QString &folder)
{
    const QFileInfoList subfolders =
        QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    if (subfolders.isEmpty())
        return {folder};
    QStringList leaves;
    for (const QFileInfo &subfolder : subfolders)
        leaves += leafFolders(subfolder.filePath());
    return leaves;
}

QString FolderHierarchyImport::stripTrailingFolders(const QString &path, const QStringList &patterns, const QString &root)
{
    QString result = path;
    const auto anyMatches = [&](const QString &name) {
        return std::any_of(patterns.cbegin(), patterns.cend(), [&](const QString &pattern) { return matches(pattern, name); });
    };
    while (result != root && result != QLatin1String("/") && anyMatches(lastComponent(result)))
        result = parentFolder(result);
    return result;
}

bool FolderHierarchyImport::pathLess(const QString &a, const QString &b)
{
    const QList<uint> left = a.normalized(QString::NormalizationForm_C).toUcs4();
    const QList<uint> right = b.normalized(QString::NormalizationForm_C).toUcs4();
    return std::lexicographical_compare(left.cbegin(), left.cend(), right.cbegin(), right.cend());
}

QStringList FolderHierarchyImport::caseFolders(const QString &root)
{
    QStringList folders;
    for (const QString &leaf : leafFolders(root)) {
        const QDir dir(leaf);
        if (!dir.isReadable() || dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).isEmpty())
            continue;
        folders.append(stripTrailingFolders(leaf, viewFolderPatterns(), root));
    }
    std::sort(folders.begin(), folders.end(), pathLess);
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    return folders;
}

void FolderHierarchyImport::importFolderHierarchy(const QString &rootFolder, ManagedObjectContext *mainContext,
                                                  std::function<void(const Summary &)> finished)
{
    const QString root = QDir::cleanPath(QFileInfo(rootFolder).absoluteFilePath());
    Log::info(LogArea::Filing, QStringLiteral("Import from ") + root);
    LabelledProgressInfo::post(1, 100, QStringLiteral("Preparing…"));
    // The queue is let go of on the main thread: its destructor waits for its work.
    std::shared_ptr<SerialQueue> queue(new SerialQueue(QStringLiteral("Import")), [](SerialQueue *done) {
        runOnMainThread([done] { delete done; });
    });
    queue->async([queue, root, mainContext, finished] {
        const QStringList folders = caseFolders(root);
        runOnMainThread([folders, root, mainContext, finished] { importCases(folders, root, mainContext, finished); });
    });
}

} // namespace ovalis
