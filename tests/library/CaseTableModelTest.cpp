#include <QAbstractItemModelTester>
#include <QLocale>
#include <QSignalSpy>
#include <QTimeZone>

#include "LibraryViewFixture.h"
#include "library/ValueTransformer.h"
#include "store/LibraryGenerator.h"
#include "util/LocalDate.h"

using namespace ovalis;
using ovalis::test::LibraryViewFixture;

class CaseTableModelTest : public LibraryViewFixture
{
};

TEST_F(CaseTableModelTest, ColumnsShowTheCaseWithTransformedColoursAndFirstLines)
{
    Tag *knee = newTag(QStringLiteral("Knee"));
    Tag *acl = newTag(QStringLiteral("ACL"));
    const QDateTime diagnosis(QDate(2022, 4, 5), QTime(10, 0), QTimeZone::utc());
    Case *valid = taggedCase(LibraryGenerator::validNHI(1), {knee, acl}, QStringLiteral("ACL tear\nSecond line of the summary"));
    valid->setSex(Sex::female);
    valid->setDateOfBirth(diagnosis.addYears(-30));
    valid->setDateOfDiagnosis(diagnosis);
    Case *invalid = newCase(QStringLiteral("ZZZ0000"), QStringLiteral("\nstarts with a line feed"));
    load(CaseTableModel::sortDescriptorsFor(CaseTableModel::PatientIDColumn, Qt::AscendingOrder));
    CaseTableModel *model = controller().casesModel();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::Fatal);

    const int validRow = model->rowOfObject(valid);
    const int invalidRow = model->rowOfObject(invalid);
    const auto text = [&](int row, int column, int role = Qt::DisplayRole) { return model->data(model->index(row, column), role); };
    EXPECT_EQ(text(validRow, CaseTableModel::PatientIDColumn).toString(), valid->patientID());
    EXPECT_EQ(text(validRow, CaseTableModel::AgeSexColumn).toString(), valid->abbreviatedAgeAndSexString());
    EXPECT_TRUE(text(validRow, CaseTableModel::AgeSexColumn).toString().endsWith(QStringLiteral("F")));
    EXPECT_EQ(text(validRow, CaseTableModel::SummaryColumn).toString(), QStringLiteral("ACL tear"));
    EXPECT_EQ(text(validRow, CaseTableModel::SummaryColumn, Qt::ToolTipRole).toString(), valid->summary());
    EXPECT_EQ(text(validRow, CaseTableModel::TagsColumn).toString(), QStringLiteral("ACL | Knee"));
    EXPECT_EQ(text(validRow, CaseTableModel::DateOfDiagnosisColumn).toString(),
              QLocale().toString(LocalDate::of(diagnosis), QLocale::ShortFormat));
    EXPECT_EQ(text(validRow, CaseTableModel::DateAddedColumn).toString(),
              QLocale().toString(LocalDate::of(valid->dateAdded()), QLocale::ShortFormat));
    EXPECT_EQ(text(invalidRow, CaseTableModel::SummaryColumn).toString(), QString());

    // An identifier that is no valid NHI is red while NHIs are recognised.
    EXPECT_EQ(text(invalidRow, CaseTableModel::PatientIDColumn, Qt::ForegroundRole).value<QColor>(), ValueTransformer::systemRed());
    EXPECT_EQ(text(validRow, CaseTableModel::PatientIDColumn, Qt::ForegroundRole).value<QColor>(), ValueTransformer::labelColor());
    Settings::shared().setValue(QStringLiteral("Recognise_NZ_NHIs"), false);
    EXPECT_EQ(text(invalidRow, CaseTableModel::PatientIDColumn, Qt::ForegroundRole).value<QColor>(), ValueTransformer::labelColor());

    EXPECT_EQ(model->headerData(CaseTableModel::DateAddedColumn, Qt::Horizontal).toString(), QStringLiteral("Date Added"));
    EXPECT_EQ(CaseTableModel::identifierForColumn(CaseTableModel::DateAddedColumn), QStringLiteral("Date Added"));
}

TEST_F(CaseTableModelTest, SortingAColumnAsksTheControllerWhichReordersTheList)
{
    const QDateTime diagnosis(QDate(2022, 4, 5), QTime(10, 0), QTimeZone::utc());
    Case *old = newCase(QStringLiteral("b"), QStringLiteral("Zebra"));
    old->setDateOfDiagnosis(diagnosis);
    old->setDateOfBirth(diagnosis.addYears(-80));
    Case *young = newCase(QStringLiteral("C"), QStringLiteral("apple"));
    young->setDateOfDiagnosis(diagnosis);
    young->setDateOfBirth(diagnosis.addYears(-8));
    newCase(QStringLiteral("a"), QStringLiteral("Mango"));
    load();
    CaseTableModel *model = controller().casesModel();
    QSignalSpy requests(model, &CaseTableModel::sortRequested);

    model->sort(CaseTableModel::SummaryColumn, Qt::AscendingOrder);
    ASSERT_EQ(requests.count(), 1);
    EXPECT_EQ(controller().caseSortDescriptors().first().key, QStringLiteral("summary"));
    EXPECT_EQ(displayedIDs(), (QStringList{QStringLiteral("C"), QStringLiteral("a"), QStringLiteral("b")}));

    model->sort(CaseTableModel::AgeSexColumn, Qt::DescendingOrder);
    EXPECT_TRUE(controller().usesAgeOrder());
    EXPECT_EQ(displayedIDs(), (QStringList{QStringLiteral("b"), QStringLiteral("C"), QStringLiteral("a")}));

    model->sort(CaseTableModel::PatientIDColumn, Qt::DescendingOrder);
    EXPECT_EQ(displayedIDs(), (QStringList{QStringLiteral("C"), QStringLiteral("b"), QStringLiteral("a")}));

    // The tag list column has no order of its own.
    requests.clear();
    model->sort(CaseTableModel::TagsColumn, Qt::AscendingOrder);
    EXPECT_TRUE(requests.isEmpty());
    EXPECT_TRUE(CaseTableModel::sortDescriptorsFor(CaseTableModel::TagsColumn, Qt::AscendingOrder).isEmpty());
    EXPECT_EQ(CaseTableModel::sortKeyForColumn(CaseTableModel::DateAddedColumn), QStringLiteral("dateAdded"));
}
