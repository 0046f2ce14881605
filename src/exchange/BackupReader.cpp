#include "exchange/BackupReader.h"

#include <QThread>
#include <algorithm>
#include <deque>
#include <future>
#include <vector>

namespace ovalis {

namespace {

// A batch ends early once its records' text reaches this, so that a batch
// of long records stays small.
constexpr qsizetype batchTextLimit = 32 * 1024 * 1024;

// The values a thread checks at a time.
constexpr size_t valuesPerRun = 256;

// The first failures of a run of values: of its text, and of its records.
struct RunCheck {
    QString syntaxError;
    QString recordError;
};

RunCheck checkRun(const std::vector<BackupScanner::Value> &values)
{
    RunCheck result;
    for (const BackupScanner::Value &value : values) {
        const std::optional<QJsonValue> json = BackupScanner::parse(value, &result.syntaxError);
        if (!json)
            break;
        if (result.recordError.isEmpty())
            EncodedCase::fromJson(*json, value.number, &result.recordError);
    }
    return result;
}

} // namespace

BackupReader::BackupReader(QIODevice *device, qsizetype recordLimit, qsizetype chunkSize)
    : m_scanner(device, chunkSize, recordLimit)
{
}

bool BackupReader::check(QString *error)
{
    if (m_following.valid())
        m_following.wait();
    m_following = {};
    m_count = 0;
    m_checked = false;
    m_reading = false;
    // The values are found on this thread and checked a run at a time on
    // others, a few runs at once. The runs are taken in file order: a
    // damaged file fails where the damage is, even after a bad record, and
    // the first bad record is told only once the whole file has been read.
    const size_t runsAtOnce = size_t(std::max(2, QThread::idealThreadCount()));
    std::deque<std::future<RunCheck>> pending;
    RunCheck first;
    const auto take = [&](size_t leave) {
        while (pending.size() > leave) {
            const RunCheck run = pending.front().get();
            pending.pop_front();
            if (first.syntaxError.isEmpty())
                first.syntaxError = run.syntaxError;
            if (first.recordError.isEmpty())
                first.recordError = run.recordError;
        }
    };
    std::vector<BackupScanner::Value> run;
    while (first.syntaxError.isEmpty()) {
        std::optional<BackupScanner::Value> value = m_scanner.next();
        if (value) {
            ++m_count;
            run.push_back(std::move(*value));
        }
        if (!value && pending.empty()) {
            // A small file is checked on this thread alone.
            pending.push_back(std::async(std::launch::deferred, checkRun, std::move(run)));
        } else if (!run.empty() && (!value || run.size() == valuesPerRun)) {
            pending.push_back(std::async(std::launch::async, checkRun, std::move(run)));
            run = {};
            take(runsAtOnce);
        }
        if (!value)
            break;
    }
    take(0);
    if (first.syntaxError.isEmpty() && m_scanner.failed())
        first.syntaxError = m_scanner.error();
    if (!first.syntaxError.isEmpty() || !first.recordError.isEmpty()) {
        *error = first.syntaxError.isEmpty() ? first.recordError : first.syntaxError;
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
    std::optional<QList<EncodedCase>> batch = m_following.valid() ? m_following.get() : readBatch(size);
    if (!batch)
        return changed(error);
    // The batch after it is read on another thread while this one is used.
    if (!batch->isEmpty() && m_read < m_count)
        m_following = std::async(std::launch::async, [this, size] { return readBatch(size); });
    return batch;
}

std::optional<QList<EncodedCase>> BackupReader::readBatch(qsizetype size)
{
    QList<EncodedCase> batch;
    qsizetype text = 0;
    while (batch.size() < size && text < batchTextLimit) {
        const std::optional<BackupScanner::Value> value = m_scanner.next();
        if (!value) {
            if (m_scanner.failed() || m_read != m_count)
                return std::nullopt;
            break;
        }
        if (++m_read > m_count)
            return std::nullopt;
        text += value->json.size();
        QString ignored;
        const std::optional<QJsonValue> json = BackupScanner::parse(*value, &ignored);
        std::optional<EncodedCase> record = json ? EncodedCase::fromJson(*json, value->number, &ignored) : std::nullopt;
        if (!record)
            return std::nullopt;
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
