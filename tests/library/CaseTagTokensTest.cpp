#include <gtest/gtest.h>

#include "library/CaseTagTokens.h"
#include "library/LibraryWithTagsViewController.h"
#include "store/LibraryNotifications.h"
#include "support/StoreFixture.h"
#include "util/NotificationCenter.h"

namespace ovalis::test {
namespace {

class CaseTagTokensTest : public StoreFixture
{
protected:
    // A tag carried by count new cases.
    Tag *tagOnCases(const QString &label, int count)
    {
        Tag *tag = newTag(label);
        for (int i = 0; i < count; ++i)
            newCase(QStringLiteral("%1-%2").arg(label).arg(i))->addToTags(tag);
        return tag;
    }

    QList<Tag *> tagsLabelled(const QString &label)
    {
        QList<Tag *> tags;
        for (ManagedObject *object :
             context()->arrayOfObjects(Tag::entityName(), Predicate::fromFormat(QStringLiteral("label == %@"), {label})))
            tags.append(static_cast<Tag *>(object));
        return tags;
    }
};

TEST_F(CaseTagTokensTest, CompletionsBeginWithTwoLettersInAnyCaseMostUsedFirstWithoutTokensPresent)
{
    tagOnCases(QStringLiteral("chest"), 1);
    tagOnCases(QStringLiteral("Chest"), 3);
    tagOnCases(QStringLiteral("chondroma"), 3);
    tagOnCases(QStringLiteral("Chéri"), 2);
    tagOnCases(QStringLiteral("cholangitis"), 0);
    tagOnCases(QStringLiteral("CHOLESTEATOMA"), 2);
    tagOnCases(QStringLiteral("abdomen"), 5);
    tagOnCases(QStringLiteral("bronchus"), 4); // contains "ch", does not begin with it
    newTag(QString());
    Case *shown = newCase(QStringLiteral("ZAC5361"));

    EXPECT_TRUE(CaseTagTokens::completions(shown, QStringLiteral("c"), {}).isEmpty());
    EXPECT_TRUE(CaseTagTokens::completions(nullptr, QStringLiteral("ch"), {}).isEmpty());

    // Most used first; equally used tags in plain string order (capitals first).
    EXPECT_EQ(CaseTagTokens::completions(shown, QStringLiteral("cH"), {}),
              (QStringList{"Chest", "chondroma", "CHOLESTEATOMA", "Chéri", "chest", "cholangitis"}));
    // Labels already on the case are not offered again; letter case counts there.
    EXPECT_EQ(CaseTagTokens::completions(shown, QStringLiteral("che"), {QStringLiteral("Chest"), QStringLiteral("CHERI")}),
              (QStringList{"Chéri", "chest"}));
    EXPECT_EQ(CaseTagTokens::completions(shown, QStringLiteral("CHOL"), {}), (QStringList{"CHOLESTEATOMA", "cholangitis"}));
}

TEST_F(CaseTagTokensTest, SynchronisingComparesLabelsExactlyKeepsLeftTagsAndSavesNothing)
{
    Tag *chest = newTag(QStringLiteral("chest"));
    Tag *spine = newTag(QStringLiteral("spine"));
    Tag *knee = newTag(QStringLiteral("knee"));
    Case *item = newCase(QStringLiteral("ZAC5361"));
    item->addToTags(chest);
    item->addToTags(spine);
    context()->saveWithParent(false);

    int updatedTag = 0;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        LibraryNotifications::updatedTag, nullptr, [&](const Notification &) { ++updatedTag; });
    CaseTagTokens::synchroniseTags(item, {QStringLiteral("chest"), QStringLiteral("Spine"), QStringLiteral("knee"),
                                          QStringLiteral("new label")});

    EXPECT_EQ(LibraryWithTagsViewController::tagLabelsSorted(item), (QStringList{"Spine", "chest", "knee", "new label"}));
    // The case left "spine", which stays; "Spine" and "new label" are new tags.
    EXPECT_TRUE(spine->cases().isEmpty());
    EXPECT_FALSE(spine->isDeleted());
    EXPECT_EQ(tagsLabelled(QStringLiteral("spine")), QList<Tag *>{spine});
    ASSERT_EQ(tagsLabelled(QStringLiteral("Spine")).size(), 1);
    EXPECT_NE(tagsLabelled(QStringLiteral("Spine")).first(), spine);
    EXPECT_EQ(knee->cases(), QList<Case *>{item});
    EXPECT_EQ(tagsLabelled(QStringLiteral("new label")).size(), 1);
    EXPECT_EQ(context()->countOfObjects(Tag::entityName()), 5);
    EXPECT_EQ(updatedTag, 2);
    EXPECT_TRUE(context()->hasChanges());
    EXPECT_EQ(openSecondStack()->mainContext()->countOfObjects(Tag::entityName()), 3);

    // Nothing to do when the tokens are the case's labels.
    context()->saveWithParent(false);
    CaseTagTokens::synchroniseTags(item, LibraryWithTagsViewController::tagLabelsSorted(item));
    EXPECT_FALSE(context()->hasChanges());
}

TEST_F(CaseTagTokensTest, ATokenJoinsTheFirstTagOfItsLabelAndLeavesTheDuplicateTheCaseCarries)
{
    Tag *first = newTag(QStringLiteral("dup"));
    Tag *second = newTag(QStringLiteral("dup"));
    context()->saveWithParent(false);
    Case *carriesSecond = newCase(QStringLiteral("A"));
    carriesSecond->addToTags(second);
    Case *untagged = newCase(QStringLiteral("B"));

    CaseTagTokens::synchroniseTags(untagged, {QStringLiteral("dup")});
    EXPECT_EQ(CaseTagTokens::firstTagWithLabel(context(), QStringLiteral("dup")), first);
    EXPECT_EQ(first->cases(), QList<Case *>{untagged});

    CaseTagTokens::synchroniseTags(carriesSecond, {});
    EXPECT_TRUE(carriesSecond->tags().isEmpty());
    EXPECT_EQ(first->cases(), QList<Case *>{untagged});

    // Tokens left over from a case deleted meanwhile do not bring it back.
    context()->deleteObject(untagged);
    CaseTagTokens::synchroniseTags(untagged, {QStringLiteral("dup")});
    EXPECT_TRUE(first->cases().isEmpty());
}

TEST_F(CaseTagTokensTest, ActivatingATagByLabelSetsOnlyThatTag)
{
    Tag *chest = newTag(QStringLiteral("chest"));
    Tag *spine = newTag(QStringLiteral("spine"));
    EXPECT_FALSE(CaseTagTokens::activateTag(context(), QStringLiteral("Chest")));
    EXPECT_FALSE(chest->active());
    EXPECT_TRUE(CaseTagTokens::activateTag(context(), QStringLiteral("chest")));
    EXPECT_TRUE(chest->active());
    EXPECT_FALSE(spine->active());
    EXPECT_FALSE(CaseTagTokens::activateTag(nullptr, QStringLiteral("spine")));
}

} // namespace
} // namespace ovalis::test
