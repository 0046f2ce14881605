#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QtEndian>

namespace ovalis::test {

// A Motion-JPEG AVI of `frames` frames of size × size pixels at 10 frames
// per second, each a different grey: enough for a movie player to play.
inline QByteArray tinyMovie(int size = 32, int frames = 5)
{
    auto u32 = [](quint32 value) {
        QByteArray bytes(4, 0);
        qToLittleEndian(value, bytes.data());
        return bytes;
    };
    auto u16 = [](quint16 value) {
        QByteArray bytes(2, 0);
        qToLittleEndian(value, bytes.data());
        return bytes;
    };
    auto chunk = [&](const char *id, const QByteArray &data) {
        QByteArray bytes = QByteArray(id, 4) + u32(data.size()) + data;
        if (data.size() % 2)
            bytes.append('\0');
        return bytes;
    };
    auto list = [&](const char *type, const QByteArray &data) { return chunk("LIST", QByteArray(type, 4) + data); };

    QList<QByteArray> jpegs;
    quint32 largest = 0;
    for (int i = 0; i < frames; ++i) {
        QImage image(size, size, QImage::Format_RGB32);
        image.fill(QColor(40 * i % 256, 128, 200));
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPEG");
        jpegs.append(jpeg);
        largest = std::max<quint32>(largest, jpeg.size());
    }

    const QByteArray mainHeader = u32(100000) + u32(largest * 10) + u32(0) + u32(0x10) + u32(frames) + u32(0) + u32(1)
        + u32(largest) + u32(size) + u32(size) + QByteArray(16, 0);
    const QByteArray streamHeader = QByteArray("vidsMJPG", 8) + u32(0) + u16(0) + u16(0) + u32(0) + u32(1) + u32(10)
        + u32(0) + u32(frames) + u32(largest) + u32(0xffffffff) + u32(0) + u16(0) + u16(0) + u16(size) + u16(size);
    const QByteArray format = u32(40) + u32(size) + u32(size) + u16(1) + u16(24) + QByteArray("MJPG", 4)
        + u32(size * size * 3) + QByteArray(16, 0);
    const QByteArray headers =
        list("hdrl", chunk("avih", mainHeader) + list("strl", chunk("strh", streamHeader) + chunk("strf", format)));

    QByteArray movie;
    QByteArray index;
    quint32 offset = 4; // from the "movi" type
    for (const QByteArray &jpeg : jpegs) {
        const QByteArray frame = chunk("00dc", jpeg);
        index += QByteArray("00dc", 4) + u32(0x10) + u32(offset) + u32(jpeg.size());
        movie += frame;
        offset += frame.size();
    }
    const QByteArray body = QByteArray("AVI ", 4) + headers + list("movi", movie) + chunk("idx1", index);
    return chunk("RIFF", body);
}

} // namespace ovalis::test
