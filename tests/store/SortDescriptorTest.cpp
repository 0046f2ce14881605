#include <random>

#include "store/SortDescriptor.h"
#include "support/InLocale.h"
#include "support/StoreFixture.h"

using namespace ovalis;

// sortObjects prepares each object's keys once, compareObjects reads them per
// pair: both give one order, ties broken by creation, in the C locale (where
// Qt's collation keys order by case) as in others.
class SortDescriptorTest : public ovalis::test::StoreFixture
{
};

TEST_F(SortDescriptorTest, SortedOrderAgreesWithPairwiseComparison)
{
    std::mt19937 random(777);
    const auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    const QStringList texts{QStringLiteral("Smith"), QStringLiteral("smith"), QStringLiteral("Émile"),
                            QStringLiteral("emile"), QStringLiteral("zeta"), QStringLiteral(""), QString()};
    QList<ManagedObject *> objects;
    for (int i = 0; i < 150; ++i) {
        Case *item = newCase(texts[pick(int(texts.size()))], texts[pick(int(texts.size()))]);
        item->setSex(pick(4));
        // Few distinct dates, so that many keys tie; some absent.
        const int day = pick(6);
        item->setDateAdded(day == 0 ? QDateTime() : QDateTime(QDate(2020, 1, day), QTime(8, 0), Qt::UTC));
        if (pick(2) == 0)
            item->setDateOfBirth(QDateTime(QDate(1950 + pick(3), 1, 1), QTime(0, 0), Qt::UTC));
        objects.append(item);
    }
    // Another entity in the same list: its attributes sit at other indexes.
    for (int i = 0; i < 5; ++i)
        objects.insert(pick(int(objects.size())), newTag(QStringLiteral("tag %1").arg(i)));

    using C = SortDescriptor::Comparator;
    const QList<QList<SortDescriptor>> orders{
        {{QStringLiteral("dateAdded"), false}},
        {{QStringLiteral("summary"), true, C::CaseInsensitive}, {QStringLiteral("dateAdded"), true}},
        {{QStringLiteral("patientID"), false, C::LocalizedCaseInsensitive}},
        {{QStringLiteral("sex"), true}, {QStringLiteral("summary"), false, C::Plain}},
        // A derived key is read through value(), not as a stored attribute.
        {{QStringLiteral("ageString"), true}, {QStringLiteral("patientID"), true}},
        {},
    };
    for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::English, QLocale::NewZealand)}) {
        ovalis::test::inLocale(locale, [&] {
            for (const QList<SortDescriptor> &descriptors : orders) {
                SCOPED_TRACE(locale.name().toStdString() + " " + describeSortDescriptors(descriptors).toStdString());
                QList<ManagedObject *> sorted = objects;
                std::shuffle(sorted.begin(), sorted.end(), random);
                sortObjects(sorted, descriptors);
                ASSERT_EQ(sorted.size(), objects.size());
                for (qsizetype i = 1; i < sorted.size(); ++i)
                    ASSERT_LT(compareObjects(sorted[i - 1], sorted[i], descriptors), 0) << "at " << i;
            }
        });
    }
}
