#include <QTimeZone>
#include <gtest/gtest.h>
#include <random>

#include "support/ZoneScope.h"
#include "util/LocalDate.h"

using namespace ovalis;

using ovalis::test::ZoneScope;

TEST(LocalDateTest, AgreesWithTheFullConversionAcrossDaylightSavingChanges)
{
    for (const QByteArray zone : {QByteArray("Pacific/Auckland"), QByteArray("America/New_York"), QByteArray("Australia/Lord_Howe"),
                                  QByteArray("UTC"), QByteArray("Asia/Kolkata")}) {
        ZoneScope scope(zone);
        std::mt19937_64 random(7);
        // Random instants over a century, and every quarter hour around two changes in 2024.
        std::vector<qint64> instants;
        for (int i = 0; i < 3000; ++i)
            instants.push_back(std::uniform_int_distribution<qint64>(-1'500'000'000'000LL, 2'500'000'000'000LL)(random));
        for (const qint64 around : {1712412000000LL, 1730554200000LL, 1711846800000LL})
            for (qint64 ms = around - 86400000; ms < around + 86400000; ms += 15 * 60 * 1000)
                instants.push_back(ms);
        for (const qint64 ms : instants) {
            const QDateTime instant = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
            ASSERT_EQ(LocalDate::of(instant), instant.toLocalTime().date()) << zone.constData() << " " << ms;
        }
    }
    EXPECT_FALSE(LocalDate::of(QDateTime()).isValid());
}
