#pragma once

#include <QByteArray>
#include <ctime>

#include "util/LocalDate.h"

namespace ovalis::test {

// Runs the checks under a time zone of the test's choosing.
class ZoneScope
{
public:
    explicit ZoneScope(const QByteArray &zone)
        : m_previous(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
        LocalDate::forgetZone();
    }
    ~ZoneScope()
    {
        if (m_previous.isEmpty())
            qunsetenv("TZ");
        else
            qputenv("TZ", m_previous);
        tzset();
        LocalDate::forgetZone();
    }
    ZoneScope(const ZoneScope &) = delete;
    ZoneScope &operator=(const ZoneScope &) = delete;

private:
    QByteArray m_previous;
};

} // namespace ovalis::test
