#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QStringDecoder>

class QIODevice;

namespace ovalis {

// The text of a backup file as UTF-8, read from its device a chunk at a
// time: UTF-8 (a byte-order mark left out) as it is, or UTF-16 with a
// byte-order mark converted. Half of a UTF-16 surrogate pair, which UTF-8
// cannot carry, becomes the JSON escape it stands for, so that the record
// checks refuse it and name the record. A pair split between two chunks is
// kept whole.
class BackupText
{
public:
    BackupText(QIODevice *device, qsizetype chunkSize); // Not owned.

    // The next piece of text, at most a chunk's worth of bytes converted;
    // empty at the end of the file or on a failure.
    QByteArray read();
    // Whether the file is UTF-16 that cannot be converted.
    bool failed() const { return m_failed; }
    // Reads again from the start of the file; false when the device cannot go back.
    bool restart();

private:
    enum class Encoding { Unknown, Utf8, Utf16LittleEndian, Utf16BigEndian };

    // The next chunk's text, which can be empty before the end.
    QByteArray readChunk();
    QByteArray utf8FromUtf16(const QByteArray &bytes);

    QIODevice *m_device;
    qsizetype m_chunkSize;
    Encoding m_encoding = Encoding::Unknown;
    QStringDecoder m_decoder;
    // The UTF-16 bytes read, whose parity tells whether one was left over.
    qint64 m_utf16Bytes = 0;
    // A high surrogate at the end of a chunk waits for the next one.
    QChar m_heldSurrogate;
    bool m_ended = false;
    bool m_failed = false;
};

} // namespace ovalis
