#include <QCoreApplication>
#include <gtest/gtest.h>

#include "library/TypingUndoCoalescer.h"
#include "support/StoreFixture.h"
#include "util/UndoManager.h"

namespace ovalis::test {
namespace {

class TypingUndoCoalescerTest : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        m_case = newCase(QStringLiteral("ZAC5361"), QStringLiteral("Before"));
        context()->saveWithParent(false);
        undoManager()->removeAllActions();
    }

    UndoManager *undoManager() const { return context()->undoManager(); }

    // Each keystroke arrives in an event-loop turn of its own.
    void type(int attribute, const QString &start, const QString &typed)
    {
        QString text = start;
        for (QChar c : typed) {
            text += c;
            m_typing.write(m_case, attribute, text);
            QCoreApplication::processEvents();
        }
    }

    int undoSteps()
    {
        int steps = 0;
        while (undoManager()->canUndo()) {
            undoManager()->undo();
            ++steps;
        }
        return steps;
    }

    TypingUndoCoalescer m_typing;
    Case *m_case = nullptr;
};

TEST_F(TypingUndoCoalescerTest, ABurstIsOneStepThatUndoesToTheValueBeforeAndRedoesToTheLast)
{
    ASSERT_NE(undoManager(), nullptr);
    type(Case::Summary, QStringLiteral("Before"), QStringLiteral(" and after"));
    EXPECT_TRUE(m_typing.isInBurst());
    EXPECT_EQ(m_case->summary(), QStringLiteral("Before and after"));

    undoManager()->undo();
    EXPECT_EQ(m_case->summary(), QStringLiteral("Before"));
    EXPECT_FALSE(undoManager()->canUndo());
    EXPECT_FALSE(m_typing.isInBurst());
    undoManager()->redo();
    EXPECT_EQ(m_case->summary(), QStringLiteral("Before and after"));

    // Typing after an undo starts a step of its own.
    undoManager()->undo();
    type(Case::Summary, QStringLiteral("Before"), QStringLiteral("!"));
    undoManager()->undo();
    EXPECT_EQ(m_case->summary(), QStringLiteral("Before"));
}

TEST_F(TypingUndoCoalescerTest, AnotherFieldOrAnEndedBurstStartsANewStepAndNoChangeStartsNone)
{
    type(Case::Summary, QStringLiteral("Before"), QStringLiteral("12"));
    type(Case::Detail, QString(), QStringLiteral("ab"));
    type(Case::Detail, QStringLiteral("ab"), QStringLiteral("c"));
    m_typing.endBurst();
    // A write that changes nothing leaves the next one to open a step.
    m_typing.write(m_case, Case::Detail, QStringLiteral("abc"));
    EXPECT_FALSE(m_typing.isInBurst());
    type(Case::Detail, QStringLiteral("abc"), QStringLiteral("d"));
    // An emptied field writes an absent value.
    m_typing.write(m_case, Case::PatientID, QVariant());
    EXPECT_TRUE(m_case->patientID().isNull());

    EXPECT_EQ(undoSteps(), 4);
    EXPECT_EQ(m_case->summary(), QStringLiteral("Before"));
    EXPECT_TRUE(m_case->detail().isNull());
    EXPECT_EQ(m_case->patientID(), QStringLiteral("ZAC5361"));
}

} // namespace
} // namespace ovalis::test
