#include "library/LibraryQuery.h"
#include "support/InLocale.h"
#include "support/StoreFixture.h"

using namespace ovalis;

class LibraryQueryTest : public ovalis::test::StoreFixture
{
};

TEST_F(LibraryQueryTest, EqualAgesOrderByIdentifierIgnoringCaseInEitherDirection)
{
    QList<Case *> cases;
    const QList<std::pair<QString, int>> ages{{QStringLiteral("smith"), 40}, {QStringLiteral("Beta"), 40},
                                              {QStringLiteral("alpha"), 40}, {QStringLiteral("Old"), 70},
                                              {QString(), 40},               {QStringLiteral("Young"), 3}};
    for (const auto &[id, years] : ages) {
        cases.append(newCase(id));
        cases.last()->setDateOfBirth(QDateTime(QDate(2000, 1, 1), QTime(0, 0), Qt::UTC));
        cases.last()->setDateOfDiagnosis(QDateTime(QDate(2000 + years, 1, 1), QTime(0, 0), Qt::UTC));
    }
    const auto ids = [](const QList<Case *> &sorted) {
        QStringList result;
        for (const Case *item : sorted)
            result << (item->patientID().isNull() ? QStringLiteral("-") : item->patientID());
        return result.join(QLatin1Char(' '));
    };
    for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::English, QLocale::NewZealand)}) {
        ovalis::test::inLocale(locale, [&] {
            SCOPED_TRACE(locale.name().toStdString());
            LibraryQuery::sortByAge(cases, true);
            EXPECT_EQ(ids(cases), QStringLiteral("Young - alpha Beta smith Old"));
            LibraryQuery::sortByAge(cases, false);
            EXPECT_EQ(ids(cases), QStringLiteral("Old - alpha Beta smith Young"));
        });
    }
}
