#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

class QIODevice;

namespace ovalis {

// The framing inside a peer session's TLS stream: a one-byte type, the
// payload's length as a 32-bit big-endian integer, then the payload.
struct PeerFrame {
    enum class Type : quint8 {
        Hello = 1,         // JSON: "id", "name", "port", "info" (the sender's discovery info), "commitment"
        Invite = 2,        // empty: the sender asks to join the receiver's session
        Accept = 3,        // empty
        Decline = 4,       // empty
        Data = 5,          // a reliable data message
        ResourceBegin = 6, // JSON: "name", "size"
        ResourceChunk = 7, // the next bytes of the resource begun last
        ResourceEnd = 8,   // empty: the resource is complete
        Nonce = 9,         // the random bytes the sender's greeting committed to
    };

    static constexpr int headerSize = 5;
    // Larger frames are refused: they would only serve to exhaust memory.
    static constexpr qint64 maximumPayloadSize = 8 * 1024 * 1024;
    // Until a peer has joined the session it has only greetings, nonces and
    // invitations to send: a stranger cannot make this side hold more.
    static constexpr qint64 maximumPayloadSizeBeforeJoining = 4 * 1024;

    Type type = Type::Data;
    QByteArray payload;

    static QByteArray header(Type type, qint64 payloadSize);
    static QByteArray encode(Type type, const QByteArray &payload = {});
};

// A frame whose payload lies in a reader's buffer: valid until the reader
// is used again.
struct PeerFrameView {
    PeerFrame::Type type = PeerFrame::Type::Data;
    QByteArrayView payload;
};

// Cuts a byte stream into frames. Bytes may arrive in pieces of any size.
class PeerFrameReader
{
public:
    void append(const QByteArray &bytes);
    // Reads from the device no more than the frame begun still lacks, into a
    // buffer kept from frame to frame: a frame's bytes are copied once, and a
    // stream of equal frames allocates nothing after the first.
    void readFrom(QIODevice *device);
    // The next complete frame; nothing when more bytes are needed or the
    // stream is broken (failed() then tells why).
    std::optional<PeerFrame> next();
    // The same without copying the payload.
    std::optional<PeerFrameView> nextView();
    bool failed() const { return !m_error.isEmpty(); }
    // Frames announcing more are a broken stream (PeerFrame::maximumPayloadSize by default).
    void setMaximumPayloadSize(qint64 size) { m_maximumPayloadSize = size; }
    QString error() const { return m_error; }
    qint64 bufferedBytes() const { return m_buffer.size() - m_offset; }

private:
    // The size of the frame at the read position once its header is in, else the header's.
    qint64 wantedBytes() const;

    QByteArray m_buffer;
    qsizetype m_offset = 0;
    QString m_error;
    qint64 m_maximumPayloadSize = PeerFrame::maximumPayloadSize;
};

} // namespace ovalis
