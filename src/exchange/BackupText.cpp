#include "exchange/BackupText.h"

#include <QIODevice>

namespace ovalis {

namespace {

// Written as the JSON escape it stands for, a lone surrogate reaches the
// record checks. The escape is written twice, so that one of them stays lone
// even beside an escaped half that would pair with it, or behind a backslash
// that would take its own.
void escapeLoneSurrogates(QString &text)
{
    if (text.isValidUtf16())
        return;
    QString escaped;
    escaped.reserve(text.size() + 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const bool paired = (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
                            || (c.isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate());
        if (c.isSurrogate() && !paired)
            escaped += QStringLiteral("\\u%1\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            escaped += c;
    }
    text = std::move(escaped);
}

bool startsWith(const QByteArray &bytes, std::initializer_list<unsigned char> prefix)
{
    if (bytes.size() < qsizetype(prefix.size()))
        return false;
    qsizetype i = 0;
    for (unsigned char byte : prefix)
        if (static_cast<unsigned char>(bytes[i++]) != byte)
            return false;
    return true;
}

} // namespace

BackupText::BackupText(QIODevice *device, qsizetype chunkSize)
    : m_device(device)
    , m_chunkSize(std::max<qsizetype>(chunkSize, 1))
{
}

bool BackupText::restart()
{
    if (!m_device->seek(0))
        return false;
    m_encoding = Encoding::Unknown;
    m_decoder = QStringDecoder();
    m_utf16Bytes = 0;
    m_heldSurrogate = QChar();
    m_ended = false;
    m_failed = false;
    return true;
}

QByteArray BackupText::read()
{
    while (!m_ended) {
        QByteArray text = readChunk();
        if (!text.isEmpty())
            return text;
    }
    return {};
}

QByteArray BackupText::readChunk()
{
    QByteArray bytes = m_device->read(m_chunkSize);
    if (m_encoding == Encoding::Unknown) {
        // The byte-order mark is told from the first three bytes.
        while (bytes.size() < 3) {
            const QByteArray more = m_device->read(3 - bytes.size());
            if (more.isEmpty())
                break;
            bytes += more;
        }
        if (startsWith(bytes, {0xFF, 0xFE}) || startsWith(bytes, {0xFE, 0xFF})) {
            m_encoding = startsWith(bytes, {0xFF, 0xFE}) ? Encoding::Utf16LittleEndian : Encoding::Utf16BigEndian;
            m_decoder = QStringDecoder(m_encoding == Encoding::Utf16LittleEndian ? QStringConverter::Utf16LE
                                                                                 : QStringConverter::Utf16BE);
            bytes.remove(0, 2);
        } else {
            m_encoding = Encoding::Utf8;
            if (startsWith(bytes, {0xEF, 0xBB, 0xBF}))
                bytes.remove(0, 3);
        }
        if (bytes.isEmpty())
            bytes = m_device->read(m_chunkSize);
    }
    if (bytes.isEmpty())
        m_ended = true;
    if (m_encoding == Encoding::Utf8)
        return bytes;
    return utf8FromUtf16(bytes);
}

QByteArray BackupText::utf8FromUtf16(const QByteArray &bytes)
{
    m_utf16Bytes += bytes.size();
    QString text = m_decoder.decode(bytes);
    if (m_decoder.hasError()) {
        m_failed = true;
        m_ended = true;
        return {};
    }
    if (!m_heldSurrogate.isNull()) {
        text.prepend(m_heldSurrogate);
        m_heldSurrogate = QChar();
    }
    if (!m_ended && !text.isEmpty() && text.back().isHighSurrogate()) {
        m_heldSurrogate = text.back();
        text.chop(1);
    }
    // A byte left over at the end stands for the replacement character, as
    // it does when the whole file is converted at once, unless it is the
    // only one.
    if (m_ended && m_utf16Bytes % 2 != 0 && m_utf16Bytes > 1)
        text += QChar(QChar::ReplacementCharacter);
    escapeLoneSurrogates(text);
    return std::move(text).toUtf8();
}

} // namespace ovalis
