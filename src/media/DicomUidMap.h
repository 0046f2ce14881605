#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <memory>

struct sqlite3;

namespace ovalis {

// The library's record of the identifiers its DICOM files were given: each
// original UID has one replacement, made once and kept forever, so that the
// images of one study stay one study however many times and in however many
// runs they are imported. Also remembers, per original SOP Instance UID, the
// uuid of the media record made from it, so that an image already in the
// library is recognised. Kept in "DICOM UIDs.sqlite" beside the library's
// store. Thread-safe.
class DicomUidMap
{
public:
    // Opens (or creates) the map in the library directory; see isOpen().
    explicit DicomUidMap(const QString &libraryDirectory);
    ~DicomUidMap();
    DicomUidMap(const DicomUidMap &) = delete;
    DicomUidMap &operator=(const DicomUidMap &) = delete;

    // The map of a library shared by everyone who asks while one is alive.
    static std::shared_ptr<DicomUidMap> forLibrary(const QString &libraryDirectory);
    static QString fileName() { return QStringLiteral("DICOM UIDs.sqlite"); }

    bool isOpen() const { return m_db != nullptr; }
    QString errorString() const;

    // The replacement of an original UID, made and stored on first request;
    // empty when it could not be stored (see errorString()) or uid is empty.
    QString replacement(const QString &uid);
    // "2.25." followed by a random UUID read as one unsigned decimal integer.
    static QString newUid();
    // Standard UIDs (SOP classes, transfer syntaxes, coding schemes) that
    // identify no one and are never replaced.
    static bool isWellKnown(const QString &uid);

    // The media record made from the image whose original SOP Instance UID is
    // given; empty when none was remembered.
    QString mediaUuid(const QString &sopInstanceUid) const;
    bool rememberMedia(const QString &sopInstanceUid, const QString &mediaUuid);

private:
    bool exec(const char *sql);
    void setError();

    mutable QMutex m_mutex;
    sqlite3 *m_db = nullptr;
    QString m_error;
    QHash<QString, QString> m_cache;
};

} // namespace ovalis
