#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QCalendarWidget>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "library/LibraryWithTagsViewController.h"
#include "library/TypedDate.h"
#include "library/ValueTransformer.h"
#include "library/ui/InfoViewController.h"
#include "library/ui/OptionalDateEdit.h"
#include "library/ui/TagTokenField.h"
#include "store/LibraryNotifications.h"
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
    // Emptying a date field removes the date.
    QLineEdit *born = m_info->dateOfBirthField()->lineEdit();
    born->setFocus();
    born->selectAll();
    keySlowly(born, Qt::Key_Backspace);
    keySlowly(born, Qt::Key_Return);
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
    // Shown from its beginning, so a summary longer than the field reads from the start.
    EXPECT_EQ(m_info->summaryField()->cursorPosition(), 0);
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

// The date fields in the C locale, which shows dates as "12 Mar 1980".
class InfoViewDateTypingTest : public InfoViewControllerTest
{
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale::c());
        InfoViewControllerTest::SetUp();
    }

    void TearDown() override
    {
        InfoViewControllerTest::TearDown();
        QLocale::setDefault(m_previousLocale);
    }

    // Clicks into the field from another one as a person does, types the
    // text and ends with the key.
    void typeDate(OptionalDateEdit *field, const QString &text, Qt::Key end = Qt::Key_Return)
    {
        m_info->patientIDField()->setFocus();
        QCoreApplication::processEvents();
        QLineEdit *line = field->lineEdit();
        QTest::mouseClick(line, Qt::LeftButton, Qt::NoModifier, line->rect().center());
        QCoreApplication::processEvents();
        typeSlowly(line, text);
        keySlowly(line, end);
    }

    QDate born() const { return m_case->dateOfBirth().toLocalTime().date(); }
    QDate diagnosed() const { return m_case->dateOfDiagnosis().toLocalTime().date(); }

    const QLocale m_previousLocale;
};

TEST_F(InfoViewDateTypingTest, DatesTypedIntoTheFieldsAreTheDatesStoredAndOthersAreRefused)
{
    OptionalDateEdit *bornField = m_info->dateOfBirthField();
    OptionalDateEdit *diagnosedField = m_info->dateOfDiagnosisField();
    QLineEdit *bornText = bornField->lineEdit();
    EXPECT_EQ(bornText->text(), QStringLiteral("12 Mar 1961"));
    const QColor normalText = bornText->palette().color(QPalette::Text);

    // Clicking into a filled field and typing replaces its date; the time of day stays.
    typeDate(bornField, QStringLiteral("25 Mar 1990"));
    EXPECT_EQ(born(), QDate(1990, 3, 25));
    EXPECT_EQ(m_case->dateOfBirth().toLocalTime().time(), QTime(9, 30));
    EXPECT_EQ(bornText->text(), QStringLiteral("25 Mar 1990"));
    typeDate(bornField, QStringLiteral("12 Mar 1980"));
    EXPECT_EQ(born(), QDate(1980, 3, 12));
    typeDate(diagnosedField, QStringLiteral("15 3 2024"));
    EXPECT_EQ(diagnosed(), QDate(2024, 3, 15));
    EXPECT_EQ(diagnosedField->lineEdit()->text(), QStringLiteral("15 Mar 2024"));
    typeDate(diagnosedField, QStringLiteral("3 Jan 2020"));
    EXPECT_EQ(diagnosed(), QDate(2020, 1, 3));
    // Year first, or day and month by number; leaving the field reads it too.
    typeDate(diagnosedField, QStringLiteral("2021-05-04"), Qt::Key_Tab);
    EXPECT_EQ(diagnosed(), QDate(2021, 5, 4));
    typeDate(bornField, QStringLiteral("1/2/1981"));
    EXPECT_EQ(born(), QDate(1981, 2, 1));
    EXPECT_EQ(m_info->ageField()->text(), m_case->ageString());

    // No date: refused in red, the case keeps its date.
    const QDateTime kept = m_case->dateOfBirth();
    typeDate(bornField, QStringLiteral("31/4/1981"));
    EXPECT_TRUE(bornField->isRefused());
    EXPECT_EQ(m_case->dateOfBirth(), kept);
    EXPECT_EQ(bornText->text(), QStringLiteral("31/4/1981"));
    EXPECT_EQ(bornText->palette().color(QPalette::Text), ValueTransformer::systemRed());
    EXPECT_TRUE(bornText->toolTip().startsWith(QStringLiteral("Not a date."))) << bornText->toolTip().toStdString();
    // An edit elsewhere leaves the refused text to be mended; Escape shows the date kept.
    typeSlowly(m_info->summaryField(), QStringLiteral("!"));
    EXPECT_TRUE(bornField->isRefused());
    EXPECT_EQ(bornText->text(), QStringLiteral("31/4/1981"));
    bornText->setFocus();
    keySlowly(bornText, Qt::Key_Escape);
    EXPECT_FALSE(bornField->isRefused());
    EXPECT_EQ(bornText->text(), QStringLiteral("1 Feb 1981"));
    EXPECT_EQ(bornText->palette().color(QPalette::Text), normalText);
    // Mended text is taken.
    typeDate(bornField, QStringLiteral("Mar 12"));
    EXPECT_TRUE(bornField->isRefused());
    typeSlowly(bornText, QStringLiteral(" 1980"));
    EXPECT_FALSE(bornField->isRefused());
    keySlowly(bornText, Qt::Key_Return);
    EXPECT_EQ(born(), QDate(1980, 3, 12));
    EXPECT_EQ(m_case->dateOfBirth(), QDateTime(QDate(1980, 3, 12), QTime(9, 30)));

    // Emptied, the date goes.
    bornText->setFocus();
    bornText->selectAll();
    keySlowly(bornText, Qt::Key_Delete);
    keySlowly(bornText, Qt::Key_Return);
    EXPECT_FALSE(m_case->dateOfBirth().isValid());
    EXPECT_FALSE(bornField->date().isValid());
}

TEST_F(InfoViewDateTypingTest, ABirthInTheFutureOrADiagnosisBeforeBirthIsFlagged)
{
    OptionalDateEdit *bornField = m_info->dateOfBirthField();
    OptionalDateEdit *diagnosedField = m_info->dateOfDiagnosisField();
    EXPECT_TRUE(bornField->warning().isEmpty());
    EXPECT_TRUE(diagnosedField->warning().isEmpty());

    const QDate nextYear = QDate::currentDate().addYears(1);
    typeDate(bornField, TypedDate::displayText(nextYear));
    EXPECT_EQ(born(), nextYear);
    EXPECT_FALSE(bornField->warning().isEmpty());
    EXPECT_EQ(bornField->lineEdit()->toolTip(), bornField->warning());
    EXPECT_FALSE(diagnosedField->warning().isEmpty()); // 2021 is before that birth

    typeDate(bornField, QStringLiteral("1 Jan 2000"));
    EXPECT_TRUE(bornField->warning().isEmpty());
    EXPECT_TRUE(diagnosedField->warning().isEmpty());
    typeDate(diagnosedField, QStringLiteral("31 Dec 1999"));
    EXPECT_EQ(diagnosed(), QDate(1999, 12, 31));
    EXPECT_FALSE(diagnosedField->warning().isEmpty());
    // From the calendar, too.
    emit diagnosedField->calendar()->activated(QDate(2000, 1, 1));
    EXPECT_EQ(diagnosed(), QDate(2000, 1, 1));
    EXPECT_TRUE(diagnosedField->warning().isEmpty());

    // Another case's dates are flagged for that case.
    Case *other = newCase(QStringLiteral("ABC1234"));
    other->setDateOfBirth(QDateTime(QDate(2010, 1, 1), QTime(0, 0)));
    other->setDateOfDiagnosis(QDateTime(QDate(2009, 1, 1), QTime(0, 0)));
    m_info->setRepresentedObject(other);
    EXPECT_EQ(diagnosedField->lineEdit()->text(), QStringLiteral("1 Jan 2009"));
    EXPECT_FALSE(diagnosedField->warning().isEmpty());
}

} // namespace
} // namespace ovalis::test
