#pragma once

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QUrl>
#include <optional>

#include "store/ManagedObject.h"
#include "store/MergedMediaUndoRecord.h"
#include "store/Sex.h"
#include "store/StyledText.h"

namespace ovalis {

class Media;
class Tag;

// One patient's teaching case.
class Case : public ManagedObject
{
public:
    enum Attribute { PatientID, SexAttribute, DateOfBirth, DateOfDiagnosis, DateAdded, DateModified, Summary, Detail, Uuid };
    enum Relationship { MediaRelationship, TagsRelationship };

    Case(const EntityDescription &entity, int entityIndex);
    static QString entityName() { return QStringLiteral("Case"); }

    QString patientID() const { return stringAttribute(PatientID); } // null when absent
    void setPatientID(const QString &value) { setAttribute(PatientID, value); }
    int sex() const { return attribute(SexAttribute).toInt(); }
    void setSex(int rawValue) { setAttribute(SexAttribute, rawValue); }
    void setSex(Sex sex) { setSex(int(sex)); }
    QDateTime dateOfBirth() const { return dateAttribute(DateOfBirth); }
    void setDateOfBirth(const QDateTime &value) { setAttribute(DateOfBirth, value); }
    QDateTime dateOfDiagnosis() const { return dateAttribute(DateOfDiagnosis); }
    void setDateOfDiagnosis(const QDateTime &value) { setAttribute(DateOfDiagnosis, value); }
    QDateTime dateAdded() const { return dateAttribute(DateAdded); }
    void setDateAdded(const QDateTime &value) { setAttribute(DateAdded, value); }
    QDateTime dateModified() const { return dateAttribute(DateModified); }
    void setDateModified(const QDateTime &value) { setAttribute(DateModified, value); }
    // The same case on every machine of a mirrored library; made when the case is.
    QString uuid() const { return stringAttribute(Uuid); }
    void setUuid(const QString &value) { setAttribute(Uuid, value); }
    QString summary() const { return stringAttribute(Summary); }
    void setSummary(const QString &value) { setAttribute(Summary, value); }
    QString detail() const { return stringAttribute(Detail); }
    void setDetail(const QString &value) { setAttribute(Detail, value); }

    QList<Media *> media() const;
    void addToMedia(Media *media);
    void removeFromMedia(Media *media);
    QList<Tag *> tags() const;
    void addToTags(Tag *tag);
    void removeFromTags(Tag *tag);

    // Derived values.
    double age() const; // seconds from birth to diagnosis; 0 without both dates
    QString ageString() const;
    QString abbreviatedSex() const;
    QString sexString() const;
    QString abbreviatedAgeAndSexString() const;
    QString tagList() const;
    bool hasMedia() const;
    // True while NHI recognition is off; else whether patientID holds a valid NHI.
    bool patientIDisValid() const;
    // The NHIs in summary, then in detail, as written; empty while recognition is off.
    QStringList recognisedNHIs() const;
    // Other cases of the patient, a recognised NHI, or a web or paper link in detail.
    bool hasLinks() const;
    // The links pane's list (see CaseLinks::linksList).
    StyledText urlsAttributedString() const;
    QString description() const override;

    // The media ordered by orderIndex (stable for equal indexes).
    QList<Media *> sortedMedia() const;
    void rationaliseOrderIndexes();
    // Every case whose patientID contains this one's (ignoring case and
    // diacritics), this case included; this case alone without an identifier or context.
    QList<Case *> casesForThisPatient();

    // Media files. On the thread of the case's context.
    // Adds a media record for the data, written atomically to its file;
    // posts "Updated Media" once the file is there. The record (nullptr
    // without a context) stays even when the file could not be written.
    Media *addMedia(const QByteArray &data, const QString &fileName);
    // A new media record for the file name, numbered after the case's other
    // media, whose file the caller writes (imports of many files copy them on
    // threads of their own); nullptr without a context.
    Media *addMediaRecord(const QString &fileName);
    // A copy of the media record and its file in this case, under the given
    // uuid (a fresh one when null); nullptr, without a record, on failure.
    Media *duplicateMedia(const Media *media, int orderIndex, const QString &uuid = QString());
    // Deletes the media records (each deletion schedules its file's
    // removal), renumbers the rest 0, 1, 2, ... and posts "Updated Media".
    void removeMedia(const QList<Media *> &list);
    // Copies the files in sortedMedia order as 00001, 00002, ... into folder,
    // or into folder-XXXXXXXX when folder already exists. Answers the folder
    // written to; nothing when it could not be created. Each folder or file
    // that could not be written is added to failures, when given, as its
    // path and the reason.
    std::optional<QUrl> exportMediaFiles(const QUrl &folder, QStringList *failures = nullptr) const;

    // Merging another case into this one. The other case is left as it is.
    // Links the other case's patient by naming its patientID in this case's
    // detail (appended on a line of its own); nothing when the other case
    // has no patientID or the detail already names it.
    void linkPatient(const Case *other);
    // Adds the other case's tags to this case's (the tags are shared).
    void mergeTags(const Case *other);
    // Appends the other case's summary and detail to this case's, each after
    // a blank line when this case's text is not empty.
    void mergeDescriptions(const Case *other);
    // Copies the other case's media and their files to the end of this
    // case's media, in order. The copies are not registered with the store's
    // undo: one undo action removes them with their files, and its redo
    // brings them back under the same uuids. Main thread; needs a context
    // with an undo manager.
    void mergeMedia(const Case *other);
    // The undo and redo of mergeMedia; each registers the other.
    void removeMergedMedia(const QList<MergedMediaUndoRecord> &records);
    void restoreMergedMedia(const QList<MergedMediaUndoRecord> &records);

    QStringList keysAffectedBy(const QString &storedKey) const override;
    QVariant derivedValue(const QString &key) const override;

protected:
    void awakeFromInsert() override;
    void willSave() override;

private:
    // Registers an undo action that finds this case again by its identifier
    // (the object itself may be gone by the time it runs).
    void registerMergedMediaUndo(void (Case::*step)(const QList<MergedMediaUndoRecord> &),
                                 const QList<MergedMediaUndoRecord> &records);
};

} // namespace ovalis

// Carried in notifications' user info ("Case").
Q_DECLARE_METATYPE(ovalis::Case *)
