#include "exchange/BackupReader.h"

namespace ovalis {

namespace {

// A batch ends early once its records' text reaches this, so that a batch
// of long records stays small.
constexpr qsizetype batchTextLimit = 32 * 1024 * 1024;

} // namespace

BackupReader::BackupReader(QIODevice *device, qsizetype recordLimit, qsizetype chunkSize)
    : m_scanner(device, chunkSize, recordLimit)
{
}

bool BackupReader::check(QString *error)
{
    m_count = 0;
    m_checked = false;
    m_reading = false;
    // A damaged file fails where the damage is, even after a bad record: the
    // first bad record is told only once the whole file has been read.
    QString recordError;
    while (const std::optional<BackupScanner::Value> value = m_scanner.next()) {
        ++m_count;
        const std::optional<QJsonValue> json = BackupScanner::parse(*value, error);
        if (!json)
            return false;
        if (recordError.isEmpty())
            EncodedCase::fromJson(*json, value->number, &recordError);
    }
    if (m_scanner.failed()) {
        *error = m_scanner.error();
        return false;
    }
    if (!recordError.isEmpty()) {
        *error = recordError;
        return false;
    }
    m_checked = true;
    return true;
}

std::optional<QList<EncodedCase>> BackupReader::nextBatch(qsizetype size, QString *error)
{
    if (!m_checked)
        return changed(error);
    if (!m_reading) {
        if (!m_scanner.restart()) {
            *error = m_scanner.error();
            return std::nullopt;
        }
        m_reading = true;
        m_read = 0;
    }
    QList<EncodedCase> batch;
    qsizetype text = 0;
    while (batch.size() < size && text < batchTextLimit) {
        const std::optional<BackupScanner::Value> value = m_scanner.next();
        if (!value) {
            if (m_scanner.failed() || m_read != m_count)
                return changed(error);
            break;
        }
        if (++m_read > m_count)
            return changed(error);
        text += value->json.size();
        QString ignored;
        const std::optional<QJsonValue> json = BackupScanner::parse(*value, &ignored);
        std::optional<EncodedCase> record = json ? EncodedCase::fromJson(*json, value->number, &ignored) : std::nullopt;
        if (!record)
            return changed(error);
        batch.append(std::move(*record));
    }
    return batch;
}

std::optional<QList<EncodedCase>> BackupReader::changed(QString *error) const
{
    *error = m_checked ? QStringLiteral("The file changed while it was read") : QStringLiteral("The file was not checked");
    return std::nullopt;
}

} // namespace ovalis
