#include "store/MediaUuid.h"

#include <QRandomGenerator>
#include <array>
#include <random>

namespace ovalis {

namespace {

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
}

} // namespace

bool MediaUuid::isValid(QStringView text)
{
    if (text.size() != 36)
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != QLatin1Char('-') : !isHexDigit(text[i]))
            return false;
    }
    return true;
}

std::optional<QString> MediaUuid::canonical(QStringView text)
{
    if (!isValid(text))
        return std::nullopt;
    return text.toString().toUpper();
}

QString MediaUuid::generate()
{
    // A restore or an import makes hundreds of thousands: one generator per
    // thread, seeded with 256 bits from the system's random source, instead
    // of a system call for each. Version 4, variant 1, as QUuid makes them.
    thread_local std::mt19937_64 generator = [] {
        std::array<quint32, 8> seed;
        QRandomGenerator::system()->fillRange(seed.data(), seed.size());
        std::seed_seq sequence(seed.cbegin(), seed.cend());
        return std::mt19937_64(sequence);
    }();
    std::array<quint8, 16> bytes;
    for (int half = 0; half < 2; ++half) {
        const quint64 bits = generator();
        for (int i = 0; i < 8; ++i)
            bytes[half * 8 + i] = quint8(bits >> (8 * i));
    }
    bytes[6] = quint8((bytes[6] & 0x0F) | 0x40);
    bytes[8] = quint8((bytes[8] & 0x3F) | 0x80);
    static constexpr char digits[] = "0123456789ABCDEF";
    QString text(36, Qt::Uninitialized);
    QChar *out = text.data();
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            *out++ = QLatin1Char('-');
        *out++ = QLatin1Char(digits[bytes[i] >> 4]);
        *out++ = QLatin1Char(digits[bytes[i] & 0x0F]);
    }
    return text;
}

} // namespace ovalis
