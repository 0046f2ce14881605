#pragma once

#include <QDateTime>
#include <QImage>
#include <QUrl>
#include <optional>

#include "store/ManagedObject.h"
#include "store/MediaWriteError.h"

namespace ovalis {

class Case;

// One image, movie or PDF file of a case. Its file lives in the media
// directory under a path cut from its uuid.
class Media : public ManagedObject
{
public:
    enum Attribute { Uuid, FileName, OrderIndex, CreationDate };
    enum Relationship { ItsCase };

    Media(const EntityDescription &entity, int entityIndex);
    static QString entityName() { return QStringLiteral("Media"); }

    QString uuid() const { return stringAttribute(Uuid); }
    void setUuid(const QString &value) { setAttribute(Uuid, value); }
    QString fileName() const { return stringAttribute(FileName); }
    void setFileName(const QString &value) { setAttribute(FileName, value); }
    int orderIndex() const { return attribute(OrderIndex).toInt(); }
    void setOrderIndex(int value) { setAttribute(OrderIndex, value); }
    QDateTime creationDate() const { return dateAttribute(CreationDate); }
    void setCreationDate(const QDateTime &value) { setAttribute(CreationDate, value); }

    Case *itsCase() const;
    void setItsCase(Case *owner);

    // The file's location, computed and never stored: media directory /
    // uuidDirectoryPath(uuid) / uuid.extension, the extension being that of
    // fileName. Nothing without a uuid in the 8-4-4-4-12 form, a fileName or
    // a context on a library.
    std::optional<QUrl> fileURL() const;
    // The local path of fileURL; empty without one.
    QString filePath() const;
    // Whether the file is there; logs when there is no fileURL.
    bool fileExists() const;
    std::optional<QUrl> existingFileURL() const;
    // The file read whole into memory and decoded (a PDF as its first page on
    // white); a null image when it is missing, unreadable or not an image.
    QImage image() const;

    // Replaces the file by a JPEG of the image at the uuid-named .jpg, and
    // fileName with that name. The old file is removed first.
    bool overwriteImage(const QImage &image, MediaWriteError *error = nullptr);
    // Exchanges the file at current with backup so that the backup's content
    // becomes this record's file (with the backup's extension). Answers where
    // the previous content now is: the backup URL with current's extension.
    std::optional<QUrl> restoreFromBackup(const QUrl &current, const QUrl &backup, MediaWriteError *error = nullptr);
    // Copies the file to folder/NNNNN.extension, NNNNN being index + 1;
    // failures are logged, described in failure when given, and answered
    // false. A record without a file in the library answers false alone.
    bool exportFile(const QUrl &folder, int index, QString *failure = nullptr) const;
    // Schedules the removal of the file (and its emptied folders) on the
    // file-deletion queue when the file exists.
    void deleteFile();

    QString description() const override;
    QVariant derivedValue(const QString &key) const override;

protected:
    void awakeFromInsert() override;
    void prepareForDeletion() override;

private:
    // Moves the file of a record being deleted out of the library and
    // registers putting it back, so that the undo of the deletion restores
    // both; false when the deletion is not recorded for undo.
    bool setFileAsideForUndo();

    friend class Case;
    // Set on a record whose file was never written by it, so that deleting
    // the record leaves whatever is at its path alone.
    bool m_keepsFileOnDeletion = false;
};

} // namespace ovalis
