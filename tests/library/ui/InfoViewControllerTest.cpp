#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "library/LibraryNotifications.h"
#include "library/LibraryWithTagsViewController.h"
#include "library/ui/InfoViewController.h"
#include "library/ui/OptionalDateEdit.h"
#include "library/ui/TagTokenField.h"
#include "support/StoreFixture.h"
#include "util/NotificationCenter.h"
#include "util/UndoManager.h"

namespace ovalis::test {
namespace {

class InfoViewControllerTest : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        m_case = newCase(QStringLiteral("ZAC5361"), QStringLiteral("Pneumothorax"));
        m_case->setSex(Sex::female);
        m_case->setDateOfBirth(QDateTime(QDate(1961, 3, 12), QTime(9, 30)));
        m_case->setDateOfDiagnosis(QDateTime(QDate(2021, 5, 4), QTime(14, 0)));
        context()->saveWithParent(false);
        context()->undoManager()->removeAllActions();

        m_info = std::make_unique<InfoViewController>();
        m_info->resize(360, 640);
        m_info->show();
        m_info->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_info.get()));
        m_info->setNumberOfSelectedCases(1);
        m_info->setRepresentedObject(m_case);
    }

    void TearDown() override
    {
        m_info.reset();
        StoreFixture::TearDown();
    }

    // One keystroke per event-loop turn, as a person types.
    static void typeSlowly(QWidget *widget, const QString &text)
    {
        widget->setFocus();
        for (QChar c : text) {
            QTest::keyClicks(widget, QString(c));
            QCoreApplication::processEvents();
        }
    }

    static void keySlowly(QWidget *widget, Qt::Key key)
    {
        QTest::keyClick(widget, key);
        QCoreApplication::processEvents();
    }

    QStringList caseState() const
    {
        return {m_case->patientID(), QString::number(m_case->sex()), m_case->dateOfBirth().toString(Qt::ISODate),
                m_case->dateOfDiagnosis().toString(Qt::ISODate), m_case->summary(), m_case->detail(),
                LibraryWithTagsViewController::tagLabelsSorted(m_case).join(QLatin1Char('|'))};
    }

    int countPosts(const QString &name, const std::function<void()> &work)
    {
        int posts = 0;
        ObserverToken token = NotificationCenter::defaultCenter().addObserver(name, nullptr, [&](const Notification &) { ++posts; });
        work();
        return posts;
    }

    std::unique_ptr<InfoViewController> m_info;
    Case *m_case = nullptr;
};

TEST_F(InfoViewControllerTest, EditsGoStraightIntoTheCaseAndEachBurstUndoesAsOneStep)
{
    const QStringList before = caseState();
    EXPECT_EQ(m_info->summaryField()->text(), QStringLiteral("Pneumothorax"));
    EXPECT_EQ(m_info->ageField()->text(), m_case->ageString());

    m_info->summaryField()->end(false);
    int detailPosts = countPosts(LibraryNotifications::updatedCaseDetail, [&] {
        typeSlowly(m_info->summaryField(), QStringLiteral(", left"));
        EXPECT_EQ(m_case->summary(), QStringLiteral("Pneumothorax, left"));
        typeSlowly(m_info->detailField(), QStringLiteral("Apical"));
        keySlowly(m_info->detailField(), Qt::Key_Return);
        typeSlowly(m_info->detailField(), QStringLiteral("bulla"));
    });
    EXPECT_EQ(m_case->detail(), QStringLiteral("Apical\nbulla"));
    EXPECT_EQ(detailPosts, 18);

    m_info->sexField()->setFocus();
    keySlowly(m_info->sexField(), Qt::Key_Up);
    EXPECT_EQ(m_case->sex(), int(Sex::male));
    m_info->dateOfBirthField()->presenceBox()->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(m_case->dateOfBirth().isValid());
    EXPECT_EQ(m_info->ageField()->text(), QStringLiteral("—"));
    // An invalid identifier shows in red.
    m_info->patientIDField()->setFocus();
    m_info->patientIDField()->end(false);
    keySlowly(m_info->patientIDField(), Qt::Key_Backspace);
    typeSlowly(m_info->patientIDField(), QStringLiteral("2"));
    EXPECT_EQ(m_case->patientID(), QStringLiteral("ZAC5362"));
    EXPECT_NE(m_info->patientIDField()->palette().color(QPalette::Text), m_info->palette().color(QPalette::Text));
    m_info->summaryField()->setFocus();
    QCoreApplication::processEvents();

    UndoManager *undoManager = context()->undoManager();
    int steps = 0;
    while (undoManager->canUndo()) {
        undoManager->undo();
        ++steps;
    }
    EXPECT_EQ(steps, 5); // summary, detail, sex, date of birth, identifier
    EXPECT_EQ(caseState(), before);
    EXPECT_EQ(m_info->summaryField()->text(), QStringLiteral("Pneumothorax"));
    EXPECT_TRUE(m_info->detailField()->toPlainText().isEmpty());
    EXPECT_EQ(m_info->dateOfBirthField()->date(), QDate(1961, 3, 12));
    EXPECT_EQ(m_info->sexField()->currentData().toInt(), int(Sex::female));
    EXPECT_EQ(m_info->patientIDField()->palette().color(QPalette::Text), m_info->palette().color(QPalette::Text));
}

TEST_F(InfoViewControllerTest, TheFieldsFollowTheCaseWhenItChangesUnderneath)
{
    Tag *chest = newTag(QStringLiteral("chest"));
    m_case->setSummary(QStringLiteral("Changed elsewhere"));
    m_case->setDateOfDiagnosis(QDateTime());
    chest->addToCases(m_case);
    EXPECT_EQ(m_info->summaryField()->text(), QStringLiteral("Changed elsewhere"));
    EXPECT_FALSE(m_info->dateOfDiagnosisField()->date().isValid());
    EXPECT_EQ(m_info->tokenField()->tokens(), QStringList{"chest"});
    // The field's own undo writes through as well.
    m_info->summaryField()->setFocus();
    QTest::keyClicks(m_info->summaryField(), QStringLiteral("!"));
    QTest::keyClick(m_info->summaryField(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(m_case->summary(), QStringLiteral("Changed elsewhere"));

    // Another case: its values, and the old one no longer drives the fields.
    Case *other = newCase(QStringLiteral("ABC1234"), QStringLiteral("Other"));
    m_info->setRepresentedObject(other);
    EXPECT_EQ(m_info->patientIDField()->text(), QStringLiteral("ABC1234"));
    EXPECT_TRUE(m_info->tokenField()->tokens().isEmpty());
    m_case->setSummary(QStringLiteral("Not shown"));
    EXPECT_EQ(m_info->summaryField()->text(), QStringLiteral("Other"));
    m_info->setRepresentedObject(nullptr);
    EXPECT_TRUE(m_info->summaryField()->text().isEmpty());
}

TEST_F(InfoViewControllerTest, SearchAllTopsTheTextMenusWhileTextIsSelected)
{
    m_info->detailField()->setPlainText(QStringLiteral("Apical\nbulla rupture"));
    QList<QVariantMap> searches;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        LibraryNotifications::searchAll, nullptr, [&](const Notification &n) { searches.append(n.userInfo); });

    std::unique_ptr<QMenu> plain(m_info->textMenu(m_info->summaryField()));
    ASSERT_TRUE(plain);
    EXPECT_NE(plain->actions().value(0)->text(), QStringLiteral("Search All"));

    m_info->summaryField()->setSelection(0, 5);
    std::unique_ptr<QMenu> summaryMenu(m_info->textMenu(m_info->summaryField()));
    ASSERT_GE(summaryMenu->actions().size(), 3);
    EXPECT_EQ(summaryMenu->actions()[0]->text(), QStringLiteral("Search All"));
    EXPECT_TRUE(summaryMenu->actions()[1]->isSeparator());
    EXPECT_FALSE(summaryMenu->actions()[2]->isSeparator());
    summaryMenu->actions()[0]->trigger();

    QTextCursor cursor = m_info->detailField()->textCursor();
    cursor.setPosition(3);
    cursor.setPosition(12, QTextCursor::KeepAnchor);
    m_info->detailField()->setTextCursor(cursor);
    std::unique_ptr<QMenu> detailMenu(m_info->textMenu(m_info->detailField()));
    EXPECT_EQ(detailMenu->actions()[0]->text(), QStringLiteral("Search All"));
    detailMenu->actions()[0]->trigger();

    ASSERT_EQ(searches.size(), 2);
    EXPECT_EQ(searches[0].value(QStringLiteral("SearchText")).toString(), QStringLiteral("Pneum"));
    EXPECT_EQ(searches[1].value(QStringLiteral("SearchText")).toString(), QStringLiteral("cal\nbulla"));
}

TEST_F(InfoViewControllerTest, TypedTagsCompleteAfterTwoLettersPreselectLateAndSynchroniseTheCase)
{
    Tag *chest = newTag(QStringLiteral("chest"));
    Tag *chondroma = newTag(QStringLiteral("Chondroma"));
    newTag(QStringLiteral("cholangitis"));
    chest->addToCases(m_case);
    chest->addToCases(newCase(QStringLiteral("P1")));
    chondroma->addToCases(newCase(QStringLiteral("P2")));
    TagTokenField *field = m_info->tokenField();
    QLineEdit *typing = field->lineEdit();

    typeSlowly(typing, QStringLiteral("c"));
    EXPECT_FALSE(field->completionsVisible());
    typeSlowly(typing, QStringLiteral("h"));
    EXPECT_EQ(m_info->autoSelectFirstSuggestion(), TokenAutoSelectStatus::Standby2);
    EXPECT_EQ(field->completions(), (QStringList{"Chondroma", "cholangitis"}));
    EXPECT_EQ(field->selectedCompletion(), -1);
    typeSlowly(typing, QStringLiteral("o"));
    EXPECT_EQ(m_info->autoSelectFirstSuggestion(), TokenAutoSelectStatus::Active);
    EXPECT_EQ(field->selectedCompletion(), 0);
    keySlowly(typing, Qt::Key_Backspace);
    EXPECT_EQ(m_info->autoSelectFirstSuggestion(), TokenAutoSelectStatus::Standby1);
    EXPECT_EQ(field->selectedCompletion(), -1);
    typeSlowly(typing, QStringLiteral("on"));
    EXPECT_EQ(field->completions(), QStringList{"Chondroma"});
    EXPECT_EQ(field->selectedCompletion(), 0);
    keySlowly(typing, Qt::Key_Return);
    EXPECT_EQ(LibraryWithTagsViewController::tagLabelsSorted(m_case), (QStringList{"Chondroma", "chest"}));
    EXPECT_EQ(chondroma->cases().size(), 2);

    // A new label makes a tag, which tells the tag list.
    const int updatedTag = countPosts(LibraryNotifications::updatedTag, [&] {
        typeSlowly(typing, QStringLiteral("CHEST"));
        keySlowly(typing, Qt::Key_Tab);
    });
    EXPECT_EQ(updatedTag, 1);
    EXPECT_EQ(field->tokens(), (QStringList{"CHEST", "Chondroma", "chest"}));
    EXPECT_EQ(context()->countOfObjects(Tag::entityName()), 4);

    // Backspace removes the last token; the tag stays without the case.
    keySlowly(typing, Qt::Key_Backspace);
    EXPECT_EQ(LibraryWithTagsViewController::tagLabelsSorted(m_case), (QStringList{"CHEST", "Chondroma"}));
    EXPECT_EQ(chest->cases().size(), 1);
    EXPECT_FALSE(chest->isDeleted());
}

TEST_F(InfoViewControllerTest, FilterToTagSwitchesTheTagOnAndAsksForARequery)
{
    Tag *chest = newTag(QStringLiteral("chest"));
    chest->addToCases(m_case);
    QSignalSpy changed(m_info.get(), &InfoViewController::tagActivityChanged);

    std::unique_ptr<QMenu> unknown(m_info->tokenMenu(QStringLiteral("gone"), nullptr));
    EXPECT_EQ(countPosts(LibraryNotifications::updatedTagActivity, [&] { unknown->actions()[0]->trigger(); }), 0);

    std::unique_ptr<QMenu> menu(m_info->tokenMenu(QStringLiteral("chest"), nullptr));
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("Filter to chest"));
    EXPECT_EQ(countPosts(LibraryNotifications::updatedTagActivity, [&] { menu->actions()[0]->trigger(); }), 1);
    EXPECT_TRUE(chest->active());
    EXPECT_EQ(changed.size(), 1);
}

} // namespace
} // namespace ovalis::test
