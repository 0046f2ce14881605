#include <QSet>
#include <gtest/gtest.h>

#include "library/LibraryViewFixture.h"
#include "library/Randomiser.h"
#include "store/LibraryNotifications.h"
#include "util/NotificationCenter.h"

namespace ovalis::test {
namespace {

// Answers the given draws in turn, counting those taken.
struct ScriptedSource {
    QList<quint32> draws;
    int taken = 0;
    quint32 operator()() { return draws.at(taken++); }
};

TEST(RandomiserIndexTest, BiasedDrawsAreRejectedAndTheRestMapEvenly)
{
    // 2^32 = 3 * 1431655765 + 1: a draw of 0 would favour index 0.
    ScriptedSource source{{0, 0, 7}};
    EXPECT_EQ(Randomiser::uniformIndex(3, std::ref(source)), 1u);
    EXPECT_EQ(source.taken, 3);

    QList<int> hits(5, 0);
    for (quint32 draw = 1; draw < 1 + 5 * 40; ++draw) // 2^32 mod 5 = 1
        ++hits[int(Randomiser::uniformIndex(5, [draw] { return draw; }))];
    EXPECT_EQ(hits, QList<int>(5, 40));
}

class RandomiserTest : public LibraryViewFixture
{
protected:
    Case *caseWithMedia(const QString &patientID)
    {
        Case *item = newCase(patientID);
        context()->insertNew<Media>()->setItsCase(item);
        return item;
    }

    void postRandomCase()
    {
        NotificationCenter::defaultCenter().post(LibraryNotifications::selectRandomCase);
        settle();
    }
};

TEST_F(RandomiserTest, EachDistinctCandidateIsAnsweredOnceThenNothing)
{
    Case *a = newCase(QStringLiteral("A"));
    Case *b = newCase(QStringLiteral("B"));
    Case *c = newCase(QStringLiteral("C"));
    // Duplicates count once: index 1 of the distinct candidates a, b is b.
    ScriptedSource source{{1, 0, 0}};
    Randomiser randomiser(std::ref(source));
    EXPECT_EQ(randomiser.randomCase({a, a, b}), b);
    EXPECT_EQ(randomiser.randomCase({a, b, c}), a);
    EXPECT_EQ(randomiser.randomCase({c, a, b}), c);
    EXPECT_EQ(randomiser.randomCase({a, b, c}), nullptr);
    EXPECT_EQ(source.taken, 3);
    EXPECT_EQ(randomiser.shownCases(), (QList<Case *>{b, a, c}));
}

TEST_F(RandomiserTest, TheShownLibraryViewSelectsEachListedCaseWithMediaOnce)
{
    Randomiser randomiser;
    controller().setRandomiser(&randomiser);
    const QList<Case *> withMedia = {caseWithMedia(QStringLiteral("ABC1001")), caseWithMedia(QStringLiteral("ABC1002")),
                                     caseWithMedia(QStringLiteral("ABC1003"))};
    newCase(QStringLiteral("ABC1004"));
    Case *filteredOut = caseWithMedia(QStringLiteral("XYZ1005"));
    load();
    search(QStringLiteral("ABC"));
    postRandomCase();
    EXPECT_TRUE(randomiser.shownCases().isEmpty()); // not observing before it appears

    controller().viewWillAppear();
    select(controller().displayedCases());
    QSet<Case *> picked;
    for (int i = 0; i < 4; ++i) {
        postRandomCase();
        const QList<Case *> selected = controller().selectedCases();
        ASSERT_EQ(selected.size(), 1);
        picked.insert(selected.first());
    }
    // The fourth found nothing left and changed nothing.
    EXPECT_EQ(picked, QSet<Case *>(withMedia.cbegin(), withMedia.cend()));
    EXPECT_EQ(randomiser.shownCases().size(), 3);

    search(QString());
    postRandomCase();
    EXPECT_EQ(controller().selectedCases(), QList<Case *>{filteredOut});
}

} // namespace
} // namespace ovalis::test
