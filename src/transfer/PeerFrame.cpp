#include "transfer/PeerFrame.h"

#include <QtEndian>

namespace ovalis {

QByteArray PeerFrame::header(Type type, qint64 payloadSize)
{
    QByteArray bytes(headerSize, Qt::Uninitialized);
    bytes[0] = char(type);
    qToBigEndian<quint32>(quint32(payloadSize), bytes.data() + 1);
    return bytes;
}

QByteArray PeerFrame::encode(Type type, const QByteArray &payload)
{
    QByteArray bytes = header(type, payload.size());
    bytes.append(payload);
    return bytes;
}

void PeerFrameReader::append(const QByteArray &bytes)
{
    if (failed())
        return;
    // Drop what was read once it is the larger part of the buffer, so that
    // reading stays linear however the bytes are cut.
    if (m_offset > 0 && m_offset >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_offset);
        m_offset = 0;
    }
    m_buffer.append(bytes);
}

std::optional<PeerFrame> PeerFrameReader::next()
{
    if (failed() || bufferedBytes() < PeerFrame::headerSize)
        return std::nullopt;
    const char *start = m_buffer.constData() + m_offset;
    const auto type = quint8(start[0]);
    const quint32 length = qFromBigEndian<quint32>(start + 1);
    if (type < quint8(PeerFrame::Type::Hello) || type > quint8(PeerFrame::Type::ResourceEnd)) {
        m_error = QStringLiteral("unknown frame type %1").arg(type);
        return std::nullopt;
    }
    if (length > PeerFrame::maximumPayloadSize) {
        m_error = QStringLiteral("frame of %1 bytes is too large").arg(length);
        return std::nullopt;
    }
    if (bufferedBytes() < PeerFrame::headerSize + qint64(length))
        return std::nullopt;
    PeerFrame frame{PeerFrame::Type(type), m_buffer.mid(m_offset + PeerFrame::headerSize, length)};
    m_offset += PeerFrame::headerSize + length;
    if (m_offset == m_buffer.size()) {
        m_buffer.clear();
        m_offset = 0;
    }
    return frame;
}

} // namespace ovalis
