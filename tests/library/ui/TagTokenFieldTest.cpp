#include <QLineEdit>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "library/ui/TagTokenField.h"

namespace ovalis::test {
namespace {

class TagTokenFieldTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_field.resize(300, 40);
        m_field.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_field));
        m_field.activateWindow();
        m_field.lineEdit()->setFocus();
    }

    QLineEdit *edit() { return m_field.lineEdit(); }

    TagTokenField m_field;
};

TEST_F(TagTokenFieldTest, ReturnAndTabMakeTokensOfTypedLabelsWithSpacesOnceEach)
{
    QSignalSpy added(&m_field, &TagTokenField::tokenAdded);
    QTest::keyClicks(edit(), QStringLiteral("  left lower lobe "));
    QTest::keyClick(edit(), Qt::Key_Return);
    QTest::keyClicks(edit(), QStringLiteral("chest"));
    QTest::keyClick(edit(), Qt::Key_Tab);
    EXPECT_TRUE(edit()->hasFocus()); // Tab ended the token, not the editing
    QTest::keyClicks(edit(), QStringLiteral("chest"));
    QTest::keyClick(edit(), Qt::Key_Enter);
    QTest::keyClick(edit(), Qt::Key_Return); // nothing typed: no token

    EXPECT_EQ(m_field.tokens(), (QStringList{"left lower lobe", "chest"}));
    EXPECT_EQ(added.size(), 2);
    EXPECT_TRUE(edit()->text().isEmpty());
}

TEST_F(TagTokenFieldTest, BackspaceDeletesTextThenRemovesTheLastTokenOrTheClickedOne)
{
    m_field.setTokens({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    QSignalSpy removed(&m_field, &TagTokenField::tokenRemoved);
    QSignalSpy backspaces(&m_field, &TagTokenField::backwardDeletePressed);
    QSignalSpy edited(&m_field, &TagTokenField::textEdited);
    QTest::keyClicks(edit(), QStringLiteral("xy"));
    QTest::keyClick(edit(), Qt::Key_Backspace);
    EXPECT_EQ(edit()->text(), QStringLiteral("x"));
    EXPECT_EQ(m_field.tokens().size(), 3);
    QTest::keyClick(edit(), Qt::Key_Backspace);
    QTest::keyClick(edit(), Qt::Key_Backspace);
    EXPECT_EQ(m_field.tokens(), (QStringList{"a", "b"}));
    EXPECT_EQ(backspaces.size(), 3);
    EXPECT_EQ(edited.size(), 4); // two letters typed, two deleted

    QTest::mouseClick(&m_field, Qt::LeftButton, {}, m_field.tokenRect(0).center());
    EXPECT_EQ(m_field.selectedToken(), 0);
    QTest::keyClick(edit(), Qt::Key_Delete);
    EXPECT_EQ(m_field.tokens(), QStringList{"b"});
    ASSERT_EQ(removed.size(), 2);
    EXPECT_EQ(removed[0][0].toString(), QStringLiteral("c"));
    EXPECT_EQ(removed[1][0].toString(), QStringLiteral("a"));
}

TEST_F(TagTokenFieldTest, TheCompletionListIsSteeredFromTheTypingAndReturnTakesTheSelectedOne)
{
    QTest::keyClicks(edit(), QStringLiteral("ch"));
    m_field.showCompletions({QStringLiteral("chest"), QStringLiteral("chondroma")}, false);
    ASSERT_TRUE(m_field.completionsVisible());
    EXPECT_EQ(m_field.selectedCompletion(), -1);
    EXPECT_TRUE(edit()->hasFocus());
    QTest::keyClick(edit(), Qt::Key_Up);
    EXPECT_EQ(m_field.selectedCompletion(), 1);
    QTest::keyClick(edit(), Qt::Key_Down);
    EXPECT_EQ(m_field.selectedCompletion(), 1);
    QTest::keyClick(edit(), Qt::Key_Return);
    EXPECT_EQ(m_field.tokens(), QStringList{"chondroma"});
    EXPECT_FALSE(m_field.completionsVisible());

    QTest::keyClicks(edit(), QStringLiteral("ch"));
    m_field.showCompletions({QStringLiteral("chest")}, true);
    QTest::keyClick(edit(), Qt::Key_Escape);
    EXPECT_FALSE(m_field.completionsVisible());
    QTest::keyClick(edit(), Qt::Key_Return); // the typed text, not the hidden completion
    EXPECT_EQ(m_field.tokens(), (QStringList{"chondroma", "ch"}));

    m_field.showCompletions({}, true);
    EXPECT_FALSE(m_field.completionsVisible());
    m_field.setEnabled(false);
    m_field.showCompletions({QStringLiteral("chest")}, true);
    EXPECT_FALSE(m_field.completionsVisible());
}

TEST_F(TagTokenFieldTest, LeavingTheFieldMakesATokenOfLeftoverTextAndEndsEditing)
{
    QLineEdit elsewhere;
    elsewhere.show();
    QSignalSpy ended(&m_field, &TagTokenField::editingFinished);
    QTest::keyClicks(edit(), QStringLiteral("spine "));
    m_field.showCompletions({QStringLiteral("spinal cord")}, true);
    QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(edit(), &focusOut);
    EXPECT_EQ(m_field.tokens(), QStringList{"spine"});
    EXPECT_EQ(ended.size(), 1);

    // A chip's menu taking the focus does not end the editing.
    QFocusEvent toMenu(QEvent::FocusOut, Qt::PopupFocusReason);
    QCoreApplication::sendEvent(edit(), &toMenu);
    EXPECT_EQ(ended.size(), 1);
}

TEST_F(TagTokenFieldTest, ChipsWrapWithinTheWidthWithoutOverlapping)
{
    QStringList labels;
    for (int i = 0; i < 12; ++i)
        labels.append(QStringLiteral("label number %1").arg(i));
    labels.append(QStringLiteral("a label far too long to fit on one line of the field, however wide it is"));
    m_field.setTokens(labels);
    const int height = m_field.heightForWidth(m_field.width());
    m_field.resize(m_field.width(), height);
    QList<QRect> rects;
    for (int i = 0; i < labels.size(); ++i)
        rects.append(m_field.tokenRect(i));
    rects.append(edit()->geometry());
    for (int i = 0; i < rects.size(); ++i) {
        EXPECT_TRUE(m_field.rect().contains(rects[i])) << i;
        for (int j = i + 1; j < rects.size(); ++j)
            EXPECT_FALSE(rects[i].intersects(rects[j])) << i << " and " << j;
    }
    EXPECT_GT(height, 4 * m_field.tokenRect(0).height());
}

} // namespace
} // namespace ovalis::test
