#include "support/StoreFixture.h"
#include "util/UndoManager.h"

using namespace ovalis;
using ovalis::test::StoreFixture;

class StoreUndoTest : public StoreFixture
{
protected:
    UndoManager *undo() const { return m_stack->undoManager(); }
    void endTurn() { undo()->closeAutomaticGroup(); }
};

TEST_F(StoreUndoTest, EditsOfOneTurnUndoTogetherAndRedo)
{
    Case *item = newCase(QStringLiteral("U1"), QStringLiteral("first"));
    context()->saveWithParent(true);
    undo()->removeAllActions();

    item->setSummary(QStringLiteral("second"));
    item->setSex(Sex::female);
    endTurn();
    item->setDetail(QStringLiteral("later"));
    endTurn();

    undo()->undo();
    EXPECT_TRUE(item->detail().isNull());
    EXPECT_EQ(item->summary(), QStringLiteral("second"));
    undo()->undo();
    EXPECT_EQ(item->summary(), QStringLiteral("first"));
    EXPECT_EQ(item->sex(), 0);
    EXPECT_FALSE(undo()->canUndo());
    undo()->redo();
    EXPECT_EQ(item->summary(), QStringLiteral("second"));
    EXPECT_EQ(item->sex(), 2);
    undo()->redo();
    EXPECT_EQ(item->detail(), QStringLiteral("later"));
}

TEST_F(StoreUndoTest, UndoingAnInsertRemovesTheRecordAndRedoBringsItBack)
{
    undo()->removeAllActions();
    Case *item = newCase(QStringLiteral("I1"));
    Tag *tag = newTag(QStringLiteral("T"));
    item->addToTags(tag);
    endTurn();
    EXPECT_EQ(fetchCases(QString()).size(), 1);
    undo()->undo();
    EXPECT_TRUE(fetchCases(QString()).isEmpty());
    EXPECT_TRUE(context()->arrayOfObjects(Tag::entityName()).isEmpty());
    undo()->redo();
    const QList<Case *> cases = fetchCases(QStringLiteral("ANY tags.label == %@"), {QStringLiteral("T")});
    ASSERT_EQ(cases.size(), 1);
    EXPECT_EQ(cases.first()->patientID(), QStringLiteral("I1"));
    context()->saveWithParent(true);
    reopen();
    EXPECT_EQ(fetchCases(QStringLiteral("ANY tags.label == %@"), {QStringLiteral("T")}).size(), 1);
}

TEST_F(StoreUndoTest, UndoingADeleteRestoresRelationshipsOnBothSides)
{
    Case *item = newCase(QStringLiteral("D1"));
    Tag *tag = newTag(QStringLiteral("Keep"));
    Media *media = context()->insertNew<Media>();
    item->addToTags(tag);
    item->addToMedia(media);
    context()->saveWithParent(true);
    undo()->removeAllActions();

    context()->deleteObject(item);
    endTurn();
    EXPECT_TRUE(tag->cases().isEmpty());
    EXPECT_EQ(media->itsCase(), nullptr);
    undo()->undo();
    EXPECT_FALSE(item->isDeleted());
    EXPECT_EQ(tag->cases(), QList<Case *>{item});
    EXPECT_EQ(media->itsCase(), item);
    EXPECT_EQ(fetchCases(QStringLiteral("ANY tags.label == %@"), {QStringLiteral("Keep")}), QList<Case *>{item});
    undo()->redo();
    EXPECT_TRUE(item->isDeleted());
    EXPECT_TRUE(fetchCases(QString()).isEmpty());
}

TEST_F(StoreUndoTest, AMediaDeletionUndoesWithItsCaseLinkAfterASave)
{
    Case *item = newCase(QStringLiteral("M1"));
    Media *media = context()->insertNew<Media>();
    item->addToMedia(media);
    context()->saveWithParent(true);
    undo()->removeAllActions();
    const ObjectID mediaId = media->objectID();
    context()->deleteObject(media);
    endTurn();
    context()->saveWithParent(true); // the record is gone from the file
    undo()->undo();
    context()->saveWithParent(true);
    reopen();
    const QList<Case *> cases = fetchCases(QString());
    ASSERT_EQ(cases.size(), 1);
    ASSERT_EQ(cases.first()->media().size(), 1);
    EXPECT_EQ(cases.first()->media().first()->objectID(), mediaId);
}

TEST_F(StoreUndoTest, NothingIsRegisteredWhileRegistrationIsDisabled)
{
    Case *item = newCase(QStringLiteral("N1"));
    endTurn();
    undo()->removeAllActions();
    undo()->disableUndoRegistration();
    item->setSummary(QStringLiteral("quiet"));
    context()->insertNew<Case>();
    undo()->enableUndoRegistration();
    endTurn();
    EXPECT_FALSE(undo()->canUndo());
    // Child work pushed into the main context is not undoable there either.
    auto child = m_stack->newBackgroundContext();
    child->performAndWait([&] {
        child->insertNew<Case>();
        child->saveWithParent(false);
    });
    endTurn();
    EXPECT_FALSE(undo()->canUndo());
}
