#pragma once

#include <QList>
#include <QString>
#include <future>
#include <optional>

#include "exchange/BackupScanner.h"
#include "exchange/EncodedCase.h"

class QIODevice;

namespace ovalis {

// Reads the case records of a backup file (see BackupFile) in two passes,
// neither holding the file's text, its parse tree or all of its records: a
// check of the whole file that keeps nothing but the number of records, then
// the records in batches. A restore makes nothing until the check has passed,
// so that a refused file changes nothing.
class BackupReader
{
public:
    // A record whose text is longer than this refuses the file before it is read further.
    static constexpr qsizetype defaultRecordLimit = 16 * 1024 * 1024;
    static constexpr qsizetype defaultChunkSize = 1024 * 1024;

    // device is open for reading at its start, and can seek back to it. Not owned.
    explicit BackupReader(QIODevice *device, qsizetype recordLimit = defaultRecordLimit, qsizetype chunkSize = defaultChunkSize);

    // Reads and checks the whole file: false with the message of its failure
    // (the first in the file for a record). UTF-8, or UTF-16 with a byte-order
    // mark; any missing required key or wrongly typed value fails the whole
    // file, with a message naming the record.
    bool check(QString *error);
    // The number of records the check found.
    qsizetype count() const { return m_count; }

    // After a check that passed: the next records in file order, at most
    // size of them (fewer when they are long); empty after the last. Nothing
    // when the file no longer reads as it did when checked, error saying so.
    // While the caller uses a batch, the next one (of the same size) is read
    // on another thread.
    std::optional<QList<EncodedCase>> nextBatch(qsizetype size, QString *error);

private:
    // The next records; nothing when the file changed since the check.
    std::optional<QList<EncodedCase>> readBatch(qsizetype size);
    std::optional<QList<EncodedCase>> changed(QString *error) const;

    BackupScanner m_scanner;
    qsizetype m_count = 0;
    bool m_checked = false;
    bool m_reading = false;
    qsizetype m_read = 0;
    // The batch being read ahead; let go of (and waited for) first.
    std::future<std::optional<QList<EncodedCase>>> m_following;
};

} // namespace ovalis
