#include "transfer/PeerFrame.h"

#include <QIODevice>
#include <QtEndian>

namespace ovalis {

namespace {

bool isKnownType(quint8 type)
{
    return type >= quint8(PeerFrame::Type::Hello) && type <= quint8(PeerFrame::Type::Nonce);
}

} // namespace

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

void PeerFrameReader::readFrom(QIODevice *device)
{
    if (failed())
        return;
    if (m_offset == m_buffer.size()) {
        // Keeps the capacity for the next frame.
        m_buffer.resize(0);
        m_offset = 0;
    }
    for (;;) {
        const qint64 missing = wantedBytes() - bufferedBytes();
        if (missing <= 0)
            return;
        const qsizetype size = m_buffer.size();
        m_buffer.resize(size + missing);
        const qint64 read = device->read(m_buffer.data() + size, missing);
        m_buffer.resize(size + qMax<qint64>(read, 0));
        if (read < missing)
            return;
    }
}

qint64 PeerFrameReader::wantedBytes() const
{
    if (bufferedBytes() < PeerFrame::headerSize)
        return PeerFrame::headerSize;
    const char *start = m_buffer.constData() + m_offset;
    const quint32 length = qFromBigEndian<quint32>(start + 1);
    // A header nextView() refuses is not followed any further.
    if (!isKnownType(quint8(start[0])) || length > m_maximumPayloadSize)
        return PeerFrame::headerSize;
    return PeerFrame::headerSize + qint64(length);
}

std::optional<PeerFrame> PeerFrameReader::next()
{
    const std::optional<PeerFrameView> view = nextView();
    if (!view)
        return std::nullopt;
    return PeerFrame{view->type, view->payload.toByteArray()};
}

std::optional<PeerFrameView> PeerFrameReader::nextView()
{
    if (failed() || bufferedBytes() < PeerFrame::headerSize)
        return std::nullopt;
    const char *start = m_buffer.constData() + m_offset;
    const auto type = quint8(start[0]);
    const quint32 length = qFromBigEndian<quint32>(start + 1);
    if (!isKnownType(type)) {
        m_error = QStringLiteral("unknown frame type %1").arg(type);
        return std::nullopt;
    }
    if (length > m_maximumPayloadSize) {
        m_error = QStringLiteral("frame of %1 bytes is too large").arg(length);
        return std::nullopt;
    }
    if (bufferedBytes() < PeerFrame::headerSize + qint64(length))
        return std::nullopt;
    const PeerFrameView frame{PeerFrame::Type(type), QByteArrayView(start + PeerFrame::headerSize, length)};
    m_offset += PeerFrame::headerSize + length;
    return frame;
}

} // namespace ovalis
