#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "../ExchangeFixture.h"
#include "exchange/ui/DicomImportDialog.h"
#include "store/Case.h"
#include "store/Media.h"
#include "support/DicomTestFiles.h"

namespace ovalis::test {
namespace {

class DicomImportDialogTest : public ExchangeFixture
{
protected:
    void SetUp() override
    {
        ExchangeFixture::SetUp();
        ASSERT_TRUE(m_files.isValid());
        // Series 1: three CT images; series 2: four ultrasound images that say
        // nothing about burned-in text; and a file that is not DICOM.
        for (int n = 1; n <= 3; ++n)
            ASSERT_TRUE(m_study.instance(1, n).write(m_files.filePath(QStringLiteral("ct-%1").arg(n))));
        TestDicom ultrasound = m_study;
        ultrasound.modality = QStringLiteral("US");
        ultrasound.seriesDescription = QStringLiteral("Liver sweep");
        for (int n = 1; n <= 4; ++n)
            ASSERT_TRUE(ultrasound.instance(2, n).write(m_files.filePath(QStringLiteral("us-%1").arg(n))));
        QFile notes(m_files.filePath(QStringLiteral("notes.txt")));
        ASSERT_TRUE(notes.open(QIODevice::WriteOnly) && notes.write("not an image") > 0);
    }

    // The dialog with the folder read.
    std::unique_ptr<DicomImportDialog> reviewed(const ObjectID &selected = {})
    {
        auto dialog = std::make_unique<DicomImportDialog>(context(), selected, QStringLiteral("Existing case"));
        QSignalSpy scanned(dialog.get(), &DicomImportDialog::scanFinished);
        dialog->addPaths({m_files.path()});
        EXPECT_TRUE(dialog->isScanning());
        EXPECT_FALSE(dialog->importButton()->isEnabled());
        EXPECT_TRUE(scanned.wait(30000));
        return dialog;
    }

    // Imports with the dialog's choices and waits for the end.
    static void importWith(DicomImportDialog *dialog)
    {
        QSignalSpy finished(dialog, &DicomImportDialog::importFinished);
        dialog->importButton()->click();
        ASSERT_TRUE(finished.wait(30000));
    }

    static QTreeWidgetItem *series(DicomImportDialog *dialog, int index) { return dialog->seriesTree()->topLevelItem(0)->child(index); }

    TestDicom m_study;
    QTemporaryDir m_files;
};

TEST_F(DicomImportDialogTest, TheReviewShowsTheSeriesAndImportsWhatIsTicked)
{
    const auto dialog = reviewed();
    ASSERT_EQ(dialog->seriesTree()->topLevelItemCount(), 1);
    ASSERT_EQ(dialog->seriesTree()->topLevelItem(0)->childCount(), 2);
    EXPECT_TRUE(series(dialog.get(), 0)->text(5).isEmpty());
    EXPECT_TRUE(series(dialog.get(), 1)->text(5).contains(QStringLiteral("burned-in")));
    EXPECT_TRUE(dialog->statusLabel()->text().contains(QStringLiteral("1 other file passed over")));
    EXPECT_TRUE(dialog->fieldBox(DicomImportChoices::PatientID)->text().contains(m_study.patientId));

    // Nothing ticked, nothing to import.
    series(dialog.get(), 0)->setCheckState(0, Qt::Unchecked);
    series(dialog.get(), 1)->setCheckState(0, Qt::Unchecked);
    EXPECT_FALSE(dialog->importButton()->isEnabled());
    EXPECT_TRUE(allCases().isEmpty());

    // The ultrasound series alone, every second image, without tags.
    series(dialog.get(), 1)->setCheckState(0, Qt::Checked);
    const QString ultrasound = series(dialog.get(), 1)->data(0, Qt::UserRole).toString();
    dialog->setEveryNth(ultrasound, 2);
    dialog->fieldBox(DicomImportChoices::Tags)->setChecked(false);
    const DicomImportChoices choices = dialog->choices();
    EXPECT_EQ(choices.target, DicomImportChoices::Target::CasePerStudy);
    EXPECT_EQ(choices.series, QSet<QString>{ultrasound});
    EXPECT_EQ(choices.everyNth.value(ultrasound), 2);
    EXPECT_FALSE(choices.fields & DicomImportChoices::Tags);
    EXPECT_TRUE(choices.fields & DicomImportChoices::PatientID);

    importWith(dialog.get());
    const QList<Case *> cases = allCases();
    ASSERT_EQ(cases.size(), 1);
    EXPECT_EQ(cases.first()->patientID(), m_study.patientId);
    EXPECT_TRUE(cases.first()->tags().isEmpty());
    EXPECT_EQ(cases.first()->media().size(), 2); // images 1 and 3 of 4
}

TEST_F(DicomImportDialogTest, ADropOnACaseAddsToThatCase)
{
    Case *existing = newCase(QStringLiteral("EXISTING"), QStringLiteral("Existing case"));
    ASSERT_TRUE(context()->save());
    const auto dialog = reviewed(existing->objectID());
    dialog->chooseSelectedCase();
    EXPECT_EQ(dialog->choices().target, DicomImportChoices::Target::ExistingCase);

    importWith(dialog.get());
    const QList<Case *> cases = allCases();
    ASSERT_EQ(cases.size(), 1);
    EXPECT_EQ(cases.first(), existing);
    EXPECT_EQ(existing->patientID(), QStringLiteral("EXISTING"));
    EXPECT_EQ(existing->media().size(), 7);

    // Without a selected case the choice is not offered.
    const auto unselected = reviewed();
    unselected->chooseSelectedCase();
    EXPECT_EQ(unselected->choices().target, DicomImportChoices::Target::CasePerStudy);
}

} // namespace
} // namespace ovalis::test
