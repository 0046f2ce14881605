#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>

namespace ovalis::test {

// The bytes of an image file of one colour, as a media file holds them.
inline QByteArray encodedImage(const QSize &size, const QColor &colour, const char *format = "JPEG")
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return data;
}

} // namespace ovalis::test
