#include <QComboBox>
#include <QDateTimeEdit>
#include <QIntValidator>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include "find/AdvancedFindRuleSnapshot.h"
#include "find/ui/AdvancedFindRuleRowView.h"
#include "find/ui/AdvancedFindRuleRowViewDelegate.h"
#include "find/ui/AdvancedFindTagComboBox.h"
#include "find/ui/UserActions.h"

namespace ovalis::test {
namespace {

using Field = AdvancedFindField;
using Op = AdvancedFindOperator;
using Kind = AdvancedFindValueControl;

class RecordingDelegate : public AdvancedFindRuleRowViewDelegate
{
public:
    void addRuleRow(AdvancedFindRuleRowView *after) override { added.append(after); }
    void removeRuleRow(AdvancedFindRuleRowView *row) override { removed.append(row); }
    QList<AdvancedFindRuleRowView *> added;
    QList<AdvancedFindRuleRowView *> removed;
};

QStringList itemTitles(const QComboBox *popUp)
{
    QStringList titles;
    for (int i = 0; i < popUp->count(); ++i)
        titles << (popUp->itemData(i).isValid() ? popUp->itemText(i) : QStringLiteral("---"));
    return titles;
}

std::unique_ptr<AdvancedFindRuleRowView> makeRow(const AdvancedFindRule &rule = {},
                                                 const QStringList &labels = {})
{
    return std::make_unique<AdvancedFindRuleRowView>(std::make_shared<AdvancedFindRule>(rule), labels);
}

TEST(AdvancedFindRuleRowViewTest, ShowsTheFieldsInGroupsAndTheFieldsOperators)
{
    auto row = makeRow();
    EXPECT_EQ(itemTitles(row->fieldPopUp()),
              (QStringList{"Summary", "Detail", "Patient ID", "---", "Date Added", "Date Modified", "Date of Birth",
                           "Date of Diagnosis", "---", "Sex", "---", "Has Media", "Has Tags", "---", "Tag"}));
    EXPECT_EQ(row->fieldPopUp()->itemData(row->fieldPopUp()->findText("Tag")).toInt(), 10);
    EXPECT_EQ(itemTitles(row->operatorPopUp()), (QStringList{"contains", "does not contain", "is", "begins with",
                                                             "ends with", "is empty", "is not empty"}));
    EXPECT_EQ(row->operatorPopUp()->currentText(), QStringLiteral("contains"));
    EXPECT_EQ(row->valueControlKind(), Kind::textField);
    EXPECT_EQ(static_cast<QLineEdit *>(row->valueControl())->placeholderText(), QStringLiteral("Value"));
    EXPECT_EQ(row->removeButton()->accessibleName(), QStringLiteral("Remove rule"));
    EXPECT_EQ(row->addButton()->accessibleName(), QStringLiteral("Add rule"));

    RecordingDelegate delegate;
    row->setDelegate(&delegate);
    QTest::mouseClick(row->addButton(), Qt::LeftButton);
    QTest::mouseClick(row->removeButton(), Qt::LeftButton);
    EXPECT_EQ(delegate.added, QList<AdvancedFindRuleRowView *>{row.get()});
    EXPECT_EQ(delegate.removed, QList<AdvancedFindRuleRowView *>{row.get()});
}

TEST(AdvancedFindRuleRowViewTest, AFieldOfAnotherGroupResetsTheOperatorAndValueOneOfTheSameGroupKeepsThem)
{
    auto row = makeRow({Field::summary, Op::beginsWith, AdvancedFindRule::makeStringValue("lung")});
    row->show();
    // Typed but not yet searched: the text stays when the field changes within its group.
    static_cast<QLineEdit *>(row->valueControl())->setText(QStringLiteral("liver"));

    choose(row->fieldPopUp(), int(Field::detail));
    EXPECT_EQ(row->rule()->field, Field::detail);
    EXPECT_EQ(row->rule()->ruleOperator, Op::beginsWith);
    EXPECT_EQ(row->operatorPopUp()->currentText(), QStringLiteral("begins with"));
    ASSERT_EQ(row->valueControlKind(), Kind::textField);
    EXPECT_EQ(static_cast<QLineEdit *>(row->valueControl())->text(), QStringLiteral("liver"));
    EXPECT_EQ(row->rule()->stringValue(), QStringLiteral("liver"));
    EXPECT_EQ(row->focusWidget(), row->valueControl());

    choose(row->fieldPopUp(), int(Field::dateAdded));
    EXPECT_EQ(row->rule()->ruleOperator, Op::isBefore);
    EXPECT_FALSE(row->rule()->value.isValid());
    EXPECT_EQ(itemTitles(row->operatorPopUp()),
              (QStringList{"is before", "is after", "is on", "is in the last N days"}));
    EXPECT_EQ(row->operatorPopUp()->currentText(), QStringLiteral("is before"));
    ASSERT_EQ(row->valueControlKind(), Kind::datePicker);
    EXPECT_EQ(static_cast<QDateTimeEdit *>(row->valueControl())->date(), QDate::currentDate());

    choose(row->fieldPopUp(), int(Field::hasMedia));
    EXPECT_EQ(row->operatorPopUp()->currentText(), QStringLiteral("is true"));
    EXPECT_EQ(row->valueControlKind(), Kind::none);
    EXPECT_EQ(row->valueControl(), nullptr);
    row->copyValueIntoRule();
    EXPECT_FALSE(row->rule()->value.isValid());
}

TEST(AdvancedFindRuleRowViewTest, AnOperatorNeedingTheSameControlKeepsItAndItsContents)
{
    const QDateTime picked(QDate(2024, 3, 5), QTime(17, 45));
    auto row = makeRow({Field::dateOfBirth, Op::isBefore, AdvancedFindRule::makeDateValue(picked)});
    row->show();
    QWidget *picker = row->valueControl();
    ASSERT_EQ(static_cast<QDateTimeEdit *>(picker)->dateTime(), picked);
    static_cast<QDateTimeEdit *>(picker)->setDate(QDate(2023, 1, 9));

    choose(row->operatorPopUp(), int(Op::isOn));
    EXPECT_EQ(row->rule()->ruleOperator, Op::isOn);
    EXPECT_EQ(row->valueControl(), picker);
    row->copyValueIntoRule();
    // The picker keeps the time of day it was given.
    EXPECT_EQ(row->rule()->dateValue(), QDateTime(QDate(2023, 1, 9), QTime(17, 45)));

    choose(row->operatorPopUp(), int(Op::isInTheLastNDays));
    ASSERT_EQ(row->valueControlKind(), Kind::daysField);
    auto *days = static_cast<QLineEdit *>(row->valueControl());
    EXPECT_EQ(days->placeholderText(), QStringLiteral("Days"));
    EXPECT_EQ(row->focusWidget(), days);
    // Whole numbers from 1.
    int position = 0;
    QString text = QStringLiteral("0");
    EXPECT_NE(days->validator()->validate(text, position), QValidator::Acceptable);
    text = QStringLiteral("2.5");
    EXPECT_EQ(days->validator()->validate(text, position), QValidator::Invalid);
    // An empty field reads as no days at all.
    row->copyValueIntoRule();
    EXPECT_EQ(row->rule()->dayCountValue(), 0);
    QTest::keyClicks(days, QStringLiteral("30"));
    row->copyValueIntoRule();
    EXPECT_EQ(row->rule()->dayCountValue(), 30);

    // Text operators that take a value share the text field; the empty tests take none.
    auto textRow = makeRow({Field::patientID, Op::contains});
    QWidget *field = textRow->valueControl();
    static_cast<QLineEdit *>(field)->setText(QStringLiteral("ABC"));
    choose(textRow->operatorPopUp(), int(Op::endsWith));
    EXPECT_EQ(textRow->valueControl(), field);
    EXPECT_EQ(static_cast<QLineEdit *>(field)->text(), QStringLiteral("ABC"));
    choose(textRow->operatorPopUp(), int(Op::isEmpty));
    EXPECT_EQ(textRow->valueControl(), nullptr);
}

TEST(AdvancedFindRuleRowViewTest, EachControlShowsTheSnapshotsValueAndReadsItBackTyped)
{
    const QStringList labels{QStringLiteral("Chest"), QStringLiteral("CT"), QStringLiteral("CT chest")};
    auto row = makeRow({}, labels);

    AdvancedFindRuleSnapshot sex;
    sex.fieldIndex = int(Field::sex);
    sex.operatorRawValue = int(Op::sexIsNot);
    sex.sexValue = 2;
    row->applySnapshot(sex);
    EXPECT_EQ(row->fieldPopUp()->currentText(), QStringLiteral("Sex"));
    EXPECT_EQ(row->operatorPopUp()->currentText(), QStringLiteral("is not"));
    ASSERT_EQ(row->valueControlKind(), Kind::sexPopUp);
    auto *sexPopUp = static_cast<QComboBox *>(row->valueControl());
    EXPECT_EQ(itemTitles(sexPopUp), (QStringList{"Unknown", "Male", "Female", "Non-binary"}));
    EXPECT_EQ(sexPopUp->currentText(), QStringLiteral("Female"));
    sexPopUp->setCurrentIndex(3);
    row->copyValueIntoRule();
    EXPECT_EQ(row->rule()->value.typeId(), QMetaType::Short);
    EXPECT_EQ(row->rule()->sexValue(), 3);
    sexPopUp->setCurrentIndex(-1);
    row->copyValueIntoRule();
    EXPECT_EQ(row->rule()->sexValue(), 0);

    AdvancedFindRuleSnapshot tag;
    tag.fieldIndex = int(Field::tag);
    tag.operatorRawValue = int(Op::doesNotContainTag);
    tag.stringValue = QStringLiteral("CT chest");
    row->applySnapshot(tag);
    ASSERT_EQ(row->valueControlKind(), Kind::tagComboBox);
    auto *tags = static_cast<QComboBox *>(row->valueControl());
    EXPECT_TRUE(tags->isEditable());
    EXPECT_EQ(tags->count(), 3);
    EXPECT_EQ(tags->currentText(), QStringLiteral("CT chest"));
    EXPECT_EQ(tags->lineEdit()->placeholderText(), QStringLiteral("Tag"));

    AdvancedFindRuleSnapshot days;
    days.fieldIndex = int(Field::dateModified);
    days.operatorRawValue = int(Op::isInTheLastNDays);
    days.integerValue = 14;
    row->applySnapshot(days);
    EXPECT_EQ(static_cast<QLineEdit *>(row->valueControl())->text(), QStringLiteral("14"));

    // A snapshot the field cannot take falls back to the field's first operator.
    AdvancedFindRuleSnapshot mismatched;
    mismatched.fieldIndex = int(Field::hasTags);
    mismatched.operatorRawValue = int(Op::contains);
    row->applySnapshot(mismatched);
    EXPECT_EQ(row->operatorPopUp()->currentText(), QStringLiteral("is true"));
    EXPECT_EQ(row->valueControlKind(), Kind::none);
}

TEST(AdvancedFindRuleRowViewTest, TheTagBoxProposesTheFirstLabelBeginningWithTheTypedText)
{
    // Sorted as the window loads them.
    AdvancedFindTagComboBox box({QStringLiteral("Chest"), QStringLiteral("CT"), QStringLiteral("CT chest"),
                                 QStringLiteral("Échographie"), QStringLiteral("Spine")});
    box.show();
    QLineEdit *edit = box.lineEdit();

    QTest::keyClicks(edit, QStringLiteral("c"));
    EXPECT_EQ(edit->text(), QStringLiteral("Chest"));
    EXPECT_EQ(edit->selectedText(), QStringLiteral("hest"));
    // Typing over the proposal narrows it.
    QTest::keyClicks(edit, QStringLiteral("t "));
    EXPECT_EQ(edit->text(), QStringLiteral("CT chest"));
    EXPECT_EQ(edit->selectedText(), QStringLiteral("chest"));
    // Deleting the proposal does not bring it back.
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), QStringLiteral("CT "));
    // Accents and case are ignored; nothing matches, nothing is proposed.
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("ech"));
    EXPECT_EQ(edit->text(), QStringLiteral("Échographie"));
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("x"));
    EXPECT_EQ(edit->text(), QStringLiteral("x"));
    // Return does not add the text to the list.
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(box.count(), 5);
}

} // namespace
} // namespace ovalis::test
