#pragma once

#include <QByteArray>
#include <QJsonParseError>
#include <QJsonValue>
#include <QString>
#include <optional>

#include "exchange/BackupText.h"

class QIODevice;

namespace ovalis {

// Finds the values of the JSON array a backup file holds, one after the
// other, holding no more of the file's text than one value and a chunk. The
// structure around the values is checked as QJsonDocument checks a whole
// file, and each value is handed out to be parsed by QJsonDocument on its
// own, so that a damaged file fails with the message, and at the offset, that
// parsing it whole gives.
class BackupScanner
{
public:
    // One value of the array, as JSON text that QJsonDocument parses.
    struct Value {
        // The value wrapped in an array of its own, followed by as much of
        // the file's text as the parser looks ahead; without a closing
        // bracket when the file ends inside the value.
        QByteArray json;
        // Where json's first byte stands in the file's text (the offset of
        // the value less one).
        qint64 offset = 0;
        // The value's number in the array, from 1.
        qsizetype number = 0;
    };

    // A value longer than valueLimit bytes fails the file before more of it
    // is read.
    BackupScanner(QIODevice *device, qsizetype chunkSize, qsizetype valueLimit); // Not owned.

    // The next value; nothing at the end of the array, or on a failure
    // (error() then says why). A failure after a value is told only on the
    // call after it, so that a failure inside that value is found first.
    std::optional<Value> next();
    bool failed() const { return !m_error.isEmpty(); }
    QString error() const { return m_error; }
    // Reads again from the start of the file; false when the device cannot go back.
    bool restart();

    // The value, or nothing with the message of the file's failure at it.
    static std::optional<QJsonValue> parse(const Value &value, QString *error);

private:
    enum class State { Start, InArray, AfterArray, Ended };

    // Reads another piece of text, first letting go of what was scanned;
    // false at the end of the file.
    bool fill();
    // Skips white space as the parser does; false at the end of the text.
    bool skipSpace();
    qint64 offset() const { return m_base + m_pos; }
    // Takes the value that starts at the current position; nothing when the
    // file fails there.
    std::optional<Value> takeValue();
    // Checks the separator after a value, keeping a failure for the next call.
    void afterValue();
    void fail(const QString &message);
    void failSyntax(QJsonParseError::ParseError error, qint64 at);

    BackupText m_text;
    qsizetype m_valueLimit;
    // The text not yet let go of, and the offset of its first byte in the file's text.
    QByteArray m_buffer;
    qint64 m_base = 0;
    qsizetype m_pos = 0;
    bool m_textEnded = false;
    State m_state = State::Start;
    qsizetype m_values = 0;
    // The file holds one object rather than an array of them.
    bool m_notAList = false;
    QString m_pendingError;
    QString m_error;
};

} // namespace ovalis
