#include <gtest/gtest.h>

#include "library/LibraryNotifications.h"
#include "library/LibraryViewFixture.h"
#include "library/Randomiser.h"
#include "util/NotificationCenter.h"

namespace ovalis::test {
namespace {

class RandomCaseTest : public LibraryViewFixture
{
protected:
    void SetUp() override
    {
        LibraryViewFixture::SetUp();
        controller().setRandomiser(&m_randomiser);
    }

    Case *caseWithMedia(const QString &patientID)
    {
        Case *item = newCase(patientID);
        Media *media = context()->insertNew<Media>();
        media->setFileName(QStringLiteral("image.jpg"));
        media->setItsCase(item);
        return item;
    }

    void postRandomCase()
    {
        NotificationCenter::defaultCenter().post(LibraryNotifications::selectRandomCase);
        settle();
    }

    Randomiser m_randomiser;
};

TEST_F(RandomCaseTest, EachListedCaseWithMediaIsSelectedOnceAndThenNothingHappens)
{
    const QList<Case *> withMedia = {caseWithMedia(QStringLiteral("ABC1001")), caseWithMedia(QStringLiteral("ABC1002")),
                                     caseWithMedia(QStringLiteral("ABC1003"))};
    newCase(QStringLiteral("ABC1004"));
    caseWithMedia(QStringLiteral("XYZ1005"));
    load();
    search(QStringLiteral("ABC"));
    controller().viewWillAppear();
    QList<int> scrolled;
    QObject::connect(&controller(), &LibraryWithTagsViewController::scrollToCaseRowRequested,
            [&scrolled](int row) { scrolled << row; });
    select(controller().displayedCases());

    QSet<Case *> picked;
    for (int i = 0; i < 3; ++i) {
        postRandomCase();
        const QList<Case *> selected = controller().selectedCases();
        ASSERT_EQ(selected.size(), 1);
        picked.insert(selected.first());
        EXPECT_EQ(scrolled.last(), controller().rowOfCase(selected.first()));
    }
    EXPECT_EQ(picked, QSet<Case *>(withMedia.cbegin(), withMedia.cend()));

    const QList<Case *> lastPicked = controller().selectedCases();
    postRandomCase();
    EXPECT_EQ(controller().selectedCases(), lastPicked);

    // The case filtered out of the list comes up once it is listed.
    search(QString());
    postRandomCase();
    EXPECT_EQ(selectedIDs(), QStringList{QStringLiteral("XYZ1005")});
}

TEST_F(RandomCaseTest, CasesWithoutMediaAreNeverPickedAndOnlyAShownViewListens)
{
    newCase(QStringLiteral("ABC1001"));
    newCase(QStringLiteral("ABC1002"));
    load();
    controller().viewWillAppear();
    postRandomCase();
    EXPECT_TRUE(controller().selectedCases().isEmpty());
    EXPECT_TRUE(m_randomiser.shownCases().isEmpty());

    Case *later = caseWithMedia(QStringLiteral("ABC1003"));
    settle();
    controller().viewDidDisappear();
    postRandomCase();
    EXPECT_TRUE(controller().selectedCases().isEmpty());
    controller().viewWillAppear();
    postRandomCase();
    EXPECT_EQ(controller().selectedCases(), QList<Case *>{later});
}

} // namespace
} // namespace ovalis::test
