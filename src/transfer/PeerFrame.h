#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace ovalis {

// The framing inside a peer session's TLS stream: a one-byte type, the
// payload's length as a 32-bit big-endian integer, then the payload.
struct PeerFrame {
    enum class Type : quint8 {
        Hello = 1,         // JSON: "id", "name", "info" (the sender's discovery info)
        Invite = 2,        // empty: the sender asks to join the receiver's session
        Accept = 3,        // empty
        Decline = 4,       // empty
        Data = 5,          // a reliable data message
        ResourceBegin = 6, // JSON: "name", "size"
        ResourceChunk = 7, // the next bytes of the resource begun last
        ResourceEnd = 8,   // empty: the resource is complete
    };

    static constexpr int headerSize = 5;
    // Larger frames are refused: they would only serve to exhaust memory.
    static constexpr qint64 maximumPayloadSize = 8 * 1024 * 1024;

    Type type = Type::Data;
    QByteArray payload;

    static QByteArray header(Type type, qint64 payloadSize);
    static QByteArray encode(Type type, const QByteArray &payload = {});
};

// Cuts a byte stream into frames. Bytes may arrive in pieces of any size.
class PeerFrameReader
{
public:
    void append(const QByteArray &bytes);
    // The next complete frame; nothing when more bytes are needed or the
    // stream is broken (failed() then tells why).
    std::optional<PeerFrame> next();
    bool failed() const { return !m_error.isEmpty(); }
    QString error() const { return m_error; }
    qint64 bufferedBytes() const { return m_buffer.size() - m_offset; }

private:
    QByteArray m_buffer;
    qsizetype m_offset = 0;
    QString m_error;
};

} // namespace ovalis
