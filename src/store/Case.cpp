#include "store/Case.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QUuid>
#include <algorithm>

#include "store/AgeFormatter.h"
#include "store/CaseLinks.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/MediaFileStore.h"
#include "store/MediaUuid.h"
#include "store/NHI.h"
#include "store/Tag.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/UndoManager.h"

namespace ovalis {

namespace {

QString orNil(const QString &text)
{
    return text.isNull() ? QStringLiteral("nil") : text;
}

// Mine followed by theirs, after a blank line when mine is not empty.
QString appendedText(const QString &mine, const QString &theirs)
{
    return mine.isEmpty() ? theirs : mine + QStringLiteral("\n\n") + theirs;
}

// The media record the identifier names in the context, unless it has been deleted.
Media *liveMedia(ManagedObjectContext *context, const ObjectID &id)
{
    ManagedObject *object = context->existingObject(id);
    if (!object || object->isDeleted() || object->entityName() != Media::entityName())
        return nullptr;
    return static_cast<Media *>(object);
}

// The undo manager of the object's context, if it has both.
UndoManager *undoManagerOf(const ManagedObject *object)
{
    ManagedObjectContext *context = object->managedObjectContext();
    return context ? context->undoManager() : nullptr;
}

MergedMediaUndoRecord recordOfCopy(const Media *source, const Media *copy)
{
    return {source->objectID(), copy->objectID(), copy->uuid(), copy->fileName(), copy->orderIndex()};
}

} // namespace

Case::Case(const EntityDescription &entity, int entityIndex)
    : ManagedObject(entity, entityIndex)
{
}

QList<Media *> Case::media() const
{
    return toManyAs<Media>(MediaRelationship);
}

void Case::addToMedia(Media *media) { addToMany(MediaRelationship, media); }
void Case::removeFromMedia(Media *media) { removeFromMany(MediaRelationship, media); }

QList<Tag *> Case::tags() const
{
    return toManyAs<Tag>(TagsRelationship);
}

void Case::addToTags(Tag *tag) { addToMany(TagsRelationship, tag); }
void Case::removeFromTags(Tag *tag) { removeFromMany(TagsRelationship, tag); }

double Case::age() const
{
    const QDateTime birth = dateOfBirth();
    const QDateTime diagnosis = dateOfDiagnosis();
    if (!birth.isValid() || !diagnosis.isValid())
        return 0;
    return double(birth.msecsTo(diagnosis)) / 1000.0;
}

QString Case::ageString() const
{
    const QDateTime birth = dateOfBirth();
    const QDateTime diagnosis = dateOfDiagnosis();
    if (!birth.isValid() || !diagnosis.isValid())
        return QString(QLatin1String(""));
    const QString text = AgeFormatter::shared().string(birth, diagnosis);
    return text.isEmpty() ? QStringLiteral("?") : text;
}

QString Case::abbreviatedSex() const { return ovalis::abbreviatedSex(sex()); }
QString Case::sexString() const { return ovalis::sexString(sex()); }

QString Case::abbreviatedAgeAndSexString() const
{
    const QString ageText = ageString();
    return ageText + (ageText.isEmpty() ? QString() : QStringLiteral(" ")) + abbreviatedSex();
}

QString Case::tagList() const
{
    QStringList labels;
    for (const Tag *tag : tags()) {
        const QString label = tag->label();
        if (!label.isNull())
            labels.append(label.normalized(QString::NormalizationForm_C));
    }
    std::sort(labels.begin(), labels.end());
    return labels.join(QStringLiteral(" | "));
}

bool Case::hasMedia() const
{
    return !toMany(MediaRelationship).isEmpty();
}

bool Case::patientIDisValid() const
{
    if (!recognisesNHIs())
        return true;
    const std::optional<QString> nhi = normalisedNHI(patientID());
    return nhi && !nhi->isEmpty();
}

QStringList Case::recognisedNHIs() const
{
    if (!recognisesNHIs())
        return {};
    return ovalis::recognisedNHIs(summary()) + ovalis::recognisedNHIs(detail());
}

bool Case::hasLinks() const
{
    // Looking up the patient's other cases fetches; it does not change this case.
    if (const_cast<Case *>(this)->casesForThisPatient().size() > 1)
        return true;
    if (!recognisedNHIs().isEmpty())
        return true;
    return CaseLinks::detailHasLinks(detail());
}

StyledText Case::urlsAttributedString() const
{
    const QString id = patientID();
    const qsizetype patientCases = id.isNull() ? 0 : const_cast<Case *>(this)->casesForThisPatient().size();
    return CaseLinks::linksList(id, patientCases, recognisedNHIs(), detail());
}

QString Case::description() const
{
    const QString id = patientID();
    const QString text = summary();
    return QStringLiteral("%1 (%2 %3) '%4' [%5]")
        .arg(id.isNull() ? QStringLiteral("?") : id, ageString(), abbreviatedSex(),
             text.isNull() ? QStringLiteral("?") : text, tagList());
}

QList<Media *> Case::sortedMedia() const
{
    QList<Media *> result = media();
    std::stable_sort(result.begin(), result.end(),
                     [](const Media *a, const Media *b) { return a->orderIndex() < b->orderIndex(); });
    return result;
}

void Case::rationaliseOrderIndexes()
{
    const QList<Media *> ordered = sortedMedia();
    Log::info(LogArea::CoreData, QStringLiteral("Rationalising %1 media order indexes for: %2").arg(ordered.size()).arg(description()));
    for (int i = 0; i < ordered.size(); ++i)
        ordered[i]->setOrderIndex(i);
}

QList<Case *> Case::casesForThisPatient()
{
    const QString id = patientID();
    ManagedObjectContext *context = managedObjectContext();
    if (id.isEmpty() || !context)
        return {this};
    QList<Case *> result;
    const QList<ManagedObject *> objects = context->arrayOfObjects(
        entityName(), Predicate::fromFormat(QStringLiteral("patientID contains[cd] %@"), {id}));
    for (ManagedObject *object : objects)
        result.append(static_cast<Case *>(object));
    return result;
}

Media *Case::addMediaRecord(const QString &fileName)
{
    ManagedObjectContext *context = managedObjectContext();
    if (!context)
        return nullptr;
    rationaliseOrderIndexes();
    const int count = int(media().size());
    Media *added = context->insertNew<Media>();
    added->setOrderIndex(count);
    added->setFileName(fileName);
    added->setItsCase(this);
    return added;
}

Media *Case::addMedia(const QByteArray &data, const QString &fileName)
{
    Media *added = addMediaRecord(fileName);
    if (!added)
        return nullptr;
    const std::optional<QUrl> url = added->fileURL();
    if (!url) {
        Log::error(LogArea::Filing, QStringLiteral("Unable to get url for new media"));
        return added;
    }
    if (!MediaFileStore::createDirectory(MediaFileStore::folderURL(*url)) || !MediaFileStore::writeDataAtomically(data, *url)) {
        Log::info(LogArea::Filing, QStringLiteral("Unable to write data for ") + fileName);
        return added;
    }
    NotificationCenter::defaultCenter().post(QStringLiteral("Updated Media"));
    return added;
}

Media *Case::duplicateMedia(const Media *media, int orderIndex, const QString &uuid)
{
    ManagedObjectContext *context = managedObjectContext();
    if (!media || !media->fileExists()) {
        Log::info(LogArea::Filing, QStringLiteral("Unable to find media file to duplicate: ") + description());
        return nullptr;
    }
    if (!context)
        return nullptr;
    const QUrl source = *media->fileURL();
    Media *copy = context->insertNew<Media>();
    if (!uuid.isNull())
        copy->setUuid(uuid);
    copy->setFileName(media->fileName());
    copy->setOrderIndex(orderIndex);
    copy->setItsCase(this);
    // Whatever is at the copy's path on failure was not written by it.
    const std::optional<QUrl> destination = copy->fileURL();
    if (!destination) {
        Log::info(LogArea::Filing, QStringLiteral("Failed to duplicate: ") + copy->description());
        copy->m_keepsFileOnDeletion = true;
        context->deleteObject(copy);
        return nullptr;
    }
    MediaWriteError error;
    if (!MediaFileStore::createDirectory(MediaFileStore::folderURL(*destination), &error)
        || !MediaFileStore::copyItem(source, *destination, &error)) {
        Log::error(LogArea::Filing, QStringLiteral("Error duplicating URL: ") + source.toString(QUrl::FullyEncoded)
                                        + QLatin1Char(' ') + error.message());
        copy->m_keepsFileOnDeletion = true;
        context->deleteObject(copy);
        return nullptr;
    }
    return copy;
}

void Case::removeMedia(const QList<Media *> &list)
{
    Log::info(LogArea::CoreData, QStringLiteral("Case delete %1 media").arg(list.size()));
    ManagedObjectContext *context = managedObjectContext();
    if (!context) {
        Log::error(LogArea::CoreData, QStringLiteral("Unable to get managedObjectContext"));
        return;
    }
    for (Media *item : list) {
        context->deleteObject(item);
        Log::info(LogArea::CoreData, QStringLiteral("Deleted media, case now has %1 media").arg(media().size()));
    }
    rationaliseOrderIndexes();
    NotificationCenter::defaultCenter().post(QStringLiteral("Updated Media"));
}

std::optional<QUrl> Case::exportMediaFiles(const QUrl &folder, QStringList *failures) const
{
    QUrl target = QUrl::fromLocalFile(QDir::cleanPath(folder.toLocalFile()));
    if (MediaFileStore::directoryExists(target)) {
        const QString group = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().section(QLatin1Char('-'), 0, 0);
        target = QUrl::fromLocalFile(target.toLocalFile() + QLatin1Char('-') + group);
    }
    MediaWriteError error;
    if (!MediaFileStore::createDirectory(target, &error)) {
        Log::error(LogArea::Filing, QStringLiteral("Unable to create directory at ") + target.toLocalFile() + QStringLiteral(" [")
                                        + error.message() + QLatin1Char(']'));
        if (failures)
            failures->append(target.toLocalFile() + QStringLiteral(": ") + error.message());
        return std::nullopt;
    }
    const QList<Media *> ordered = sortedMedia();
    for (int i = 0; i < ordered.size(); ++i) {
        QString failure;
        if (!ordered[i]->exportFile(target, i, &failure) && failures && !failure.isEmpty())
            failures->append(failure);
    }
    return target;
}

void Case::linkPatient(const Case *other)
{
    const QString otherID = other->patientID();
    Log::info(LogArea::CoreData, QStringLiteral("Link ") + orNil(patientID()) + QStringLiteral(" to ") + orNil(otherID));
    // An empty identifier would be "contained" in any detail.
    if (otherID.isEmpty()) {
        Log::info(LogArea::CoreData, QStringLiteral("No destination patientID - exiting"));
        return;
    }
    const QString text = detail();
    if (text.isEmpty()) {
        setDetail(otherID);
        return;
    }
    if (text.contains(otherID)) {
        Log::info(LogArea::CoreData, QStringLiteral("Already linked"));
        return;
    }
    setDetail(text + QChar(0x000D) + otherID);
}

void Case::mergeTags(const Case *other)
{
    Log::info(LogArea::CoreData,
              QStringLiteral("Add tags\nfrom\t%") + other->description() + QStringLiteral("\nto\t\t") + description());
    for (Tag *tag : other->tags())
        addToTags(tag);
}

void Case::mergeDescriptions(const Case *other)
{
    Log::info(LogArea::CoreData,
              QStringLiteral("Merge descriptions\nfrom\t") + other->description() + QStringLiteral("\nto\t\t") + description());
    // An empty text adds nothing, not even the blank line.
    if (!other->summary().isEmpty())
        setSummary(appendedText(summary(), other->summary()));
    if (!other->detail().isEmpty())
        setDetail(appendedText(detail(), other->detail()));
}

void Case::mergeMedia(const Case *other)
{
    Log::info(LogArea::CoreData,
              QStringLiteral("Add media\nfrom\t") + other->description() + QStringLiteral("\nto\t\t") + description());
    UndoManager *undoManager = undoManagerOf(this);
    if (!undoManager || !other->hasMedia())
        return;
    ManagedObjectContext *context = managedObjectContext();
    const QList<Media *> list = other->sortedMedia();
    const int base = int(media().size());
    QList<MergedMediaUndoRecord> records;
    // The copies are undone by removeMergedMedia, which also removes their files.
    undoManager->disableUndoRegistration();
    for (int i = 0; i < list.size(); ++i) {
        Media *copy = duplicateMedia(list[i], base + i);
        if (!copy)
            continue;
        if (copy->uuid().isEmpty() || copy->fileName().isEmpty()) {
            context->deleteObject(copy);
            continue;
        }
        records.append(recordOfCopy(list[i], copy));
    }
    undoManager->enableUndoRegistration();
    if (records.isEmpty())
        return;
    registerMergedMediaUndo(&Case::removeMergedMedia, records);
    NotificationCenter::defaultCenter().post(QStringLiteral("Updated Media"));
}

void Case::removeMergedMedia(const QList<MergedMediaUndoRecord> &records)
{
    UndoManager *undoManager = undoManagerOf(this);
    if (!undoManager)
        return;
    ManagedObjectContext *context = managedObjectContext();
    undoManager->disableUndoRegistration();
    for (const MergedMediaUndoRecord &record : records) {
        Media *copy = liveMedia(context, record.copiedMediaObjectID);
        if (!copy)
            continue;
        // The file goes now rather than on the deletion queue, so that a redo
        // can copy the original to the same path straight away.
        const std::optional<QUrl> url = copy->fileURL();
        if (url && QFileInfo::exists(url->toLocalFile())) {
            MediaWriteError error;
            if (!MediaFileStore::removeItem(*url, &error) || !MediaFileStore::deleteEmptyFolders(*url, &error))
                Log::error(LogArea::Filing, QStringLiteral("Unable to remove merged media at ") + url->toLocalFile()
                                                + QStringLiteral(": ") + error.message());
        }
        context->deleteObject(copy);
    }
    rationaliseOrderIndexes();
    undoManager->enableUndoRegistration();
    registerMergedMediaUndo(&Case::restoreMergedMedia, records);
    NotificationCenter::defaultCenter().post(QStringLiteral("Updated Media"));
}

void Case::restoreMergedMedia(const QList<MergedMediaUndoRecord> &records)
{
    UndoManager *undoManager = undoManagerOf(this);
    if (!undoManager)
        return;
    ManagedObjectContext *context = managedObjectContext();
    QList<MergedMediaUndoRecord> ordered = records;
    std::stable_sort(ordered.begin(), ordered.end(), [](const MergedMediaUndoRecord &a, const MergedMediaUndoRecord &b) {
        return a.copiedMediaOrderIndex < b.copiedMediaOrderIndex;
    });
    QList<MergedMediaUndoRecord> remade;
    undoManager->disableUndoRegistration();
    for (const MergedMediaUndoRecord &record : std::as_const(ordered)) {
        Media *source = liveMedia(context, record.sourceMediaObjectID);
        if (!source)
            continue;
        if (Media *copy = duplicateMedia(source, record.copiedMediaOrderIndex, record.copiedMediaUUID))
            remade.append(recordOfCopy(source, copy));
    }
    rationaliseOrderIndexes();
    undoManager->enableUndoRegistration();
    if (remade.isEmpty())
        return;
    registerMergedMediaUndo(&Case::removeMergedMedia, remade);
    NotificationCenter::defaultCenter().post(QStringLiteral("Updated Media"));
}

void Case::registerMergedMediaUndo(void (Case::*step)(const QList<MergedMediaUndoRecord> &),
                                   const QList<MergedMediaUndoRecord> &records)
{
    const QPointer<ManagedObjectContext> guard(managedObjectContext());
    const ObjectID id = objectID();
    undoManagerOf(this)->registerUndo([guard, id, step, records] {
        ManagedObject *object = guard ? guard->existingObject(id) : nullptr;
        if (object && !object->isDeleted() && object->entityName() == Case::entityName())
            (static_cast<Case *>(object)->*step)(records);
    });
}

QStringList Case::keysAffectedBy(const QString &storedKey) const
{
    static const QHash<QString, QStringList> affected = {
        {QStringLiteral("dateOfBirth"), {QStringLiteral("age"), QStringLiteral("ageString"), QStringLiteral("abbreviatedAgeAndSexString")}},
        {QStringLiteral("dateOfDiagnosis"), {QStringLiteral("age"), QStringLiteral("ageString"), QStringLiteral("abbreviatedAgeAndSexString")}},
        {QStringLiteral("sex"), {QStringLiteral("abbreviatedSex"), QStringLiteral("abbreviatedAgeAndSexString"), QStringLiteral("sexString")}},
        {QStringLiteral("summary"), {QStringLiteral("urlsAttributedString"), QStringLiteral("hasLinks"), QStringLiteral("recognisedNHIs")}},
        {QStringLiteral("detail"), {QStringLiteral("urlsAttributedString"), QStringLiteral("hasLinks"), QStringLiteral("recognisedNHIs")}},
        {QStringLiteral("tags"), {QStringLiteral("tagList")}},
        {QStringLiteral("patientID"), {QStringLiteral("patientIDisValid")}},
        {QStringLiteral("media"), {QStringLiteral("hasMedia")}},
    };
    return affected.value(storedKey);
}

QVariant Case::derivedValue(const QString &key) const
{
    if (key == QLatin1String("age")) return age();
    if (key == QLatin1String("ageString")) return ageString();
    if (key == QLatin1String("abbreviatedSex")) return abbreviatedSex();
    if (key == QLatin1String("sexString")) return sexString();
    if (key == QLatin1String("abbreviatedAgeAndSexString")) return abbreviatedAgeAndSexString();
    if (key == QLatin1String("tagList")) return tagList();
    if (key == QLatin1String("hasMedia")) return hasMedia();
    if (key == QLatin1String("hasLinks")) return hasLinks();
    if (key == QLatin1String("patientIDisValid")) return patientIDisValid();
    if (key == QLatin1String("recognisedNHIs")) return recognisedNHIs();
    if (key == QLatin1String("urlsAttributedString")) return QVariant::fromValue(urlsAttributedString());
    if (key == QLatin1String("description")) return description();
    return {};
}

void Case::awakeFromInsert()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    setDateOfDiagnosis(now);
    setDateAdded(now);
    setSex(Sex::unknown);
    setUuid(MediaUuid::generate());
}

void Case::willSave()
{
    if (dateAdded().isValid())
        return;
    Log::info(LogArea::CoreData, QStringLiteral("Case dateAdded is nil - set to now (") + description());
    setPrimitiveAttribute(DateAdded, QDateTime::currentDateTimeUtc());
}

} // namespace ovalis
