#include "library/LibraryQuery.h"
#include "support/InLocale.h"
#include "support/StoreFixture.h"

using namespace ovalis;
using ovalis::test::inLocale;
using ovalis::test::StoreFixture;

class LibraryQueryTest : public StoreFixture
{
protected:
    Case *caseAged(const QString &id, int years)
    {
        Case *item = newCase(id);
        item->setDateOfBirth(QDateTime(QDate(2000, 1, 1), QTime(0, 0), Qt::UTC));
        item->setDateOfDiagnosis(QDateTime(QDate(2000 + years, 1, 1), QTime(0, 0), Qt::UTC));
        return item;
    }

    static QStringList ids(const QList<Case *> &cases)
    {
        QStringList result;
        for (const Case *item : cases)
            result << (item->patientID().isNull() ? QStringLiteral("-") : item->patientID());
        return result;
    }
};

TEST_F(LibraryQueryTest, EqualAgesOrderByIdentifierIgnoringCaseInEitherDirection)
{
    const QList<Case *> cases{caseAged(QStringLiteral("smith"), 40), caseAged(QStringLiteral("Beta"), 40),
                              caseAged(QStringLiteral("alpha"), 40), caseAged(QStringLiteral("Old"), 70),
                              caseAged(QString(), 40), caseAged(QStringLiteral("Young"), 3)};
    for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::English, QLocale::NewZealand)}) {
        inLocale(locale, [&] {
            SCOPED_TRACE(locale.name().toStdString());
            QList<Case *> sorted = cases;
            LibraryQuery::sortByAge(sorted, true);
            EXPECT_EQ(ids(sorted), (QStringList{QStringLiteral("Young"), QStringLiteral("-"), QStringLiteral("alpha"),
                                                QStringLiteral("Beta"), QStringLiteral("smith"), QStringLiteral("Old")}));
            LibraryQuery::sortByAge(sorted, false);
            EXPECT_EQ(ids(sorted), (QStringList{QStringLiteral("Old"), QStringLiteral("-"), QStringLiteral("alpha"),
                                                QStringLiteral("Beta"), QStringLiteral("smith"), QStringLiteral("Young")}));
        });
    }
}
