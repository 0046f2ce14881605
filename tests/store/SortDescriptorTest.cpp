#include <random>

#include "store/SortDescriptor.h"
#include "support/InLocale.h"
#include "support/StoreFixture.h"

using namespace ovalis;
using ovalis::test::inLocale;
using ovalis::test::StoreFixture;

// sortObjects prepares each object's keys once; compareObjects reads them per
// pair. Both must give the one order, ties broken by creation.
class SortDescriptorTest : public StoreFixture
{
protected:
    std::mt19937 random{777};
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }

    QList<ManagedObject *> randomCases(int count)
    {
        const QStringList texts{QStringLiteral("Smith"), QStringLiteral("smith"), QStringLiteral("Émile"),
                                QStringLiteral("emile"), QStringLiteral("zeta"), QStringLiteral(""), QString()};
        QList<ManagedObject *> cases;
        for (int i = 0; i < count; ++i) {
            Case *item = newCase(texts[pick(int(texts.size()))], texts[pick(int(texts.size()))]);
            item->setSex(pick(4));
            // Few distinct dates, so that many keys tie; some absent.
            const int day = pick(6);
            item->setDateAdded(day == 0 ? QDateTime() : QDateTime(QDate(2020, 1, day), QTime(8, 0), Qt::UTC));
            if (pick(2) == 0)
                item->setDateOfBirth(QDateTime(QDate(1950 + pick(3), 1, 1), QTime(0, 0), Qt::UTC));
            cases.append(item);
        }
        return cases;
    }
};

TEST_F(SortDescriptorTest, SortedOrderAgreesWithPairwiseComparison)
{
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
    QList<ManagedObject *> objects = randomCases(150);
    // Another entity in the same list: its attributes sit at other indexes.
    for (int i = 0; i < 5; ++i)
        objects.insert(pick(int(objects.size())), newTag(QStringLiteral("tag %1").arg(i)));
    // Qt's collation keys differ from QCollator::compare in the C locale.
    for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::English, QLocale::NewZealand)}) {
        inLocale(locale, [&] {
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

TEST_F(SortDescriptorTest, LocalizedKeysIgnoreCaseInEveryLocale)
{
    for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::English, QLocale::NewZealand)}) {
        inLocale(locale, [&] {
            SCOPED_TRACE(locale.name().toStdString());
            const LocalizedSortKey lower(QStringLiteral("emile")), upper(QStringLiteral("Smith")), same(QStringLiteral("EMILE"));
            EXPECT_LT(lower.compare(upper), 0);
            EXPECT_GT(upper.compare(lower), 0);
            EXPECT_EQ(lower.compare(same), 0);
            EXPECT_LT(LocalizedSortKey(QString()).compare(lower), 0);
        });
    }
}

TEST_F(SortDescriptorTest, AbsentValuesComeFirstAscendingAndLastDescending)
{
    Case *dated = newCase(QStringLiteral("A"));
    dated->setDateAdded(QDateTime(QDate(2021, 5, 1), QTime(0, 0), Qt::UTC));
    Case *undated = newCase(QStringLiteral("B"));
    undated->setDateAdded(QDateTime());
    Case *earlier = newCase(QStringLiteral("C"));
    earlier->setDateAdded(QDateTime(QDate(2021, 4, 1), QTime(0, 0), Qt::UTC));
    QList<ManagedObject *> objects{dated, undated, earlier};
    sortObjects(objects, {{QStringLiteral("dateAdded"), true}});
    EXPECT_EQ(objects, (QList<ManagedObject *>{undated, earlier, dated}));
    sortObjects(objects, {{QStringLiteral("dateAdded"), false}});
    EXPECT_EQ(objects, (QList<ManagedObject *>{dated, earlier, undated}));
}
