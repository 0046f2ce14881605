#include "app/AboutDelegate.h"

namespace ovalis {

QStringList AboutDelegate::thirdParties()
{
    return {
        QStringLiteral("[Qt](https://www.qt.io/)"),
        QStringLiteral("[SQLite](https://www.sqlite.org/)"),
        QStringLiteral("[libplist](https://libimobiledevice.org/)"),
        QStringLiteral("[FFmpeg](https://ffmpeg.org/)"),
        QStringLiteral("[Avahi](https://avahi.org/)"),
        QStringLiteral("[OpenSSL](https://www.openssl.org/)"),
    };
}

QString AboutDelegate::websiteURL()
{
#ifdef OVALIS_WEBSITE_URL
    return QStringLiteral(OVALIS_WEBSITE_URL);
#else
    return QStringLiteral("https://ovalis.example");
#endif
}

} // namespace ovalis
