#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

#include "store/ObjectID.h"

namespace ovalis {

class Case;
class ManagedObjectContext;

// Moves library data in and out: the backup file at url (export and
// restore), and the media files of chosen cases into the folder at url.
// Holds nothing but its url; long runs post "Update Labelled Progress".
class JSONImporter
{
public:
    struct ExportResult {
        int casesWritten = 0;
        // Stopped by the progress; the file at url is as it was.
        bool cancelled = false;
        QString error; // empty when the file was written
    };
    // Told how many cases of total have been read; false stops the export.
    using ExportProgress = std::function<bool(qint64 done, qint64 total)>;
    struct RestoreSummary {
        int casesRead = 0;
        int mediaRecords = 0;
        // Media whose identifier the library or an earlier record already
        // used: they were given fresh uuids, and copies of the files found.
        int mediaRenamed = 0;
        int mediaFilesCopied = 0;
        int tagsCreated = 0;
        // Why nothing was restored; empty when the file was read. For a file
        // changed between the check and the reading of its records, why the
        // restore stopped after casesRead.
        QString error;
        bool unsaved = false; // the store refused the last save of restored cases
    };
    struct MediaExportSummary {
        int casesExported = 0;
        int filesCopied = 0;
        // Cases none of whose media files are in the library.
        int casesWithoutFiles = 0;
        // Folders and files that could not be written: path and reason.
        QStringList failures;
    };

    explicit JSONImporter(const QUrl &url);
    QUrl url() const { return m_url; }

    // Writes every case of context to url, replacing any file there only once
    // the new one is complete. On context's thread (the main thread for the
    // main context). Logs a failure and answers it. progress hears of each
    // batch of cases read; a stop leaves the file at url as it was.
    ExportResult exportDatabase(ManagedObjectContext *context, const ExportProgress &progress = {}) const;
    // The same through reader, a private-queue context of its own over the
    // store file, on reader's thread; returns when the file is written.
    ExportResult exportDatabaseOnQueue(ManagedObjectContext *reader, const ExportProgress &progress = {}) const;
    // By date added (none first), then by patient identifier (none as empty).
    static QList<Case *> exportOrder(QList<Case *> cases);

    // Reads and checks the whole file off the main thread; a file that
    // cannot be read or fails the format changes nothing, and finished gets
    // the reason in its error. Otherwise saves context, then reads the
    // records again 500 at a time and adds one new case per record on a
    // private child of context, saving every 500 records and at the end. Returns at once (call it on context's thread,
    // the main thread); finished runs on the main thread at the end.
    void importBackup(ManagedObjectContext *context, std::function<void(const RestoreSummary &)> finished = {}) const;

    // Copies the media files of the cases into folders below url named by
    // patient identifier and date of diagnosis, on a private child of parent
    // (called on parent's thread); finished runs on the main thread.
    void exportMedia(const QList<ObjectID> &cases, ManagedObjectContext *parent,
                     std::function<void(const MediaExportSummary &)> finished = {}) const;
    // A patient identifier as a folder name that stays inside the folder it
    // is made in and is not hidden: "/" becomes "-", and so do leading dots.
    // Empty for an empty identifier.
    static QString folderName(const QString &patientID);

private:
    QUrl m_url;
};

} // namespace ovalis
