#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "exchange/DicomImport.h"
#include "exchange/DicomScanner.h"
#include "ExchangeFixture.h"
#include "support/DicomTestFiles.h"

namespace ovalis::test {
namespace {

class DicomImportTest : public ExchangeFixture
{
protected:
    void SetUp() override
    {
        ExchangeFixture::SetUp();
        ASSERT_TRUE(m_files.isValid());
        m_head.studyUid = QStringLiteral("1.2.826.0.1.3680043.9.7777.2");
        m_head.studyDate = QStringLiteral("20190101");
        m_head.studyDescription = QStringLiteral("MR head");
        m_head.seriesDescription = QString();
        m_head.modality = QStringLiteral("MR");
        m_head.bodyPart = QStringLiteral("HEAD");
        m_head.sex = QStringLiteral("M");
    }

    // Series 1 of the chest study with three images, series 2 with five, and
    // the head study's series 7 with one.
    void writeStudies()
    {
        for (int n = 1; n <= 3; ++n)
            write(QStringLiteral("chest/1-%1.dcm").arg(n), m_chest.instance(1, n));
        for (int n = 1; n <= 5; ++n) {
            TestDicom image = m_chest.instance(2, n);
            image.seriesDescription = QStringLiteral("Lung window");
            write(QStringLiteral("chest/2-%1.dcm").arg(n), image);
        }
        write(QStringLiteral("head/7-1.dcm"), m_head.instance(7, 1));
    }

    void write(const QString &relative, const TestDicom &image)
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(m_files.filePath(relative)).path()));
        ASSERT_TRUE(image.write(m_files.filePath(relative)));
    }

    DicomImportSummary import(const DicomImportChoices &choices = {}, const QString &folder = QString())
    {
        const DicomScanResult scan = DicomScanner::scan({m_files.filePath(folder)});
        bool done = false;
        DicomImportSummary result;
        DicomImport::importStudies(scan, choices, context(), [&](const DicomImportSummary &summary) {
            result = summary;
            done = true;
        });
        waitFor(done);
        return result;
    }

    const DicomSeriesInfo &series(const DicomScanResult &scan, int number)
    {
        for (const DicomStudyInfo &study : scan.studies)
            for (const DicomSeriesInfo &info : study.series)
                if (info.seriesNumber == number)
                    return info;
        ADD_FAILURE() << "no series " << number;
        static const DicomSeriesInfo none;
        return none;
    }

    // An attribute of each stored file of the case, in media order.
    static QStringList storedAttribute(const Case *item, quint16 group, quint16 element)
    {
        QStringList values;
        for (const Media *media : item->sortedMedia())
            values.append(attribute(media->filePath(), group, element));
        return values;
    }

    int mediaRecordCount()
    {
        int records = 0;
        for (const Case *item : allCases())
            records += int(item->media().size());
        return records;
    }

    QStringList mediaFiles() const
    {
        QStringList files;
        QDirIterator it(libraryPath() + QStringLiteral("/Media"), {QStringLiteral("*.dcm")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files.append(it.next());
        return files;
    }

    QTemporaryDir m_files;
    TestDicom m_chest;
    TestDicom m_head;
};

TEST_F(DicomImportTest, EachStudyBecomesACaseFilledFromItsHeadersWithDeidentifiedImages)
{
    writeStudies();
    const DicomImportSummary summary = import();
    EXPECT_EQ(summary.casesCreated, 2);
    EXPECT_EQ(summary.imagesImported, 9);
    EXPECT_EQ(summary.duplicates, 0);
    EXPECT_TRUE(summary.failed.isEmpty()) << summary.failed.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(context()->hasChanges());

    const QList<Case *> chest = fetchCases(QStringLiteral("summary == %@"), {m_chest.studyDescription});
    ASSERT_EQ(chest.size(), 1);
    const Case *item = chest.first();
    EXPECT_EQ(item->patientID(), m_chest.patientId);
    EXPECT_EQ(item->sex(), int(Sex::female));
    EXPECT_EQ(item->dateOfBirth().date(), QDate(1971, 2, 3));
    EXPECT_EQ(item->dateOfDiagnosis().date(), QDate(2020, 3, 4));
    EXPECT_EQ(item->detail(), QStringLiteral("Axial lung\nLung window"));
    EXPECT_EQ(labelsOf(item), (QStringList{QStringLiteral("CHEST"), QStringLiteral("CT")}));
    const QList<Case *> head = fetchCases(QStringLiteral("summary == %@"), {m_head.studyDescription});
    ASSERT_EQ(head.size(), 1);
    EXPECT_EQ(head.first()->sex(), int(Sex::male));
    EXPECT_EQ(head.first()->detail(), QStringLiteral("MR series 7"));

    // Series then instance order, the files de-identified as <uuid>.dcm.
    EXPECT_EQ(storedAttribute(item, 0x0020, 0x0013),
              (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("1"), QStringLiteral("2"),
                           QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5")}));
    for (const Media *media : item->sortedMedia()) {
        EXPECT_EQ(QFileInfo(media->filePath()).fileName(), media->uuid() + QStringLiteral(".dcm"));
        const QByteArray bytes = readAll(media->filePath());
        ASSERT_FALSE(bytes.isEmpty());
        for (const QString &value : m_chest.identifyingValues())
            EXPECT_FALSE(bytes.contains(value.toLatin1())) << value.toStdString();
    }
    // One study stays one study, one series one series.
    const QStringList studies = storedAttribute(item, 0x0020, 0x000D);
    EXPECT_EQ(QSet<QString>(studies.cbegin(), studies.cend()).size(), 1);
    EXPECT_NE(studies.first(), m_chest.studyUid);
    const QStringList series = storedAttribute(item, 0x0020, 0x000E);
    EXPECT_EQ(series.mid(0, 3), QStringList(3, series[0]));
    EXPECT_EQ(series.mid(3), QStringList(5, series[3]));
    EXPECT_NE(series[0], series[3]);
    EXPECT_NE(storedAttribute(head.first(), 0x0020, 0x000D).first(), studies.first());
    const QList<std::optional<QString>> labels = [&] {
        QList<std::optional<QString>> all;
        for (const Progress &step : progress())
            all.append(step.label);
        return all;
    }();
    EXPECT_TRUE(labels.contains(QStringLiteral("Importing DICOM images…")));
    EXPECT_EQ(progress().back(), (Progress{0, 0, std::nullopt}));
}

TEST_F(DicomImportTest, AReimportAddsNothingUntilItsMediaAreGone)
{
    writeStudies();
    ASSERT_EQ(import().imagesImported, 9);
    const QString study = storedAttribute(fetchCases(QStringLiteral("summary == %@"), {m_chest.studyDescription}).first(), 0x0020, 0x000D).first();
    const DicomImportSummary again = import();
    EXPECT_EQ(again.casesCreated, 0);
    EXPECT_EQ(again.imagesImported, 0);
    EXPECT_EQ(again.duplicates, 9);
    EXPECT_EQ(allCases().size(), 2);
    EXPECT_EQ(mediaFiles().size(), 9);

    // Images of a study added later join the case that holds the rest of it.
    write(QStringLiteral("chest/3-1.dcm"), m_chest.instance(3, 1));
    const DicomImportSummary more = import();
    EXPECT_EQ(more.casesCreated, 0);
    EXPECT_EQ(more.imagesImported, 1);
    EXPECT_EQ(more.duplicates, 9);
    const Case *chestCase = fetchCases(QStringLiteral("summary == %@"), {m_chest.studyDescription}).first();
    EXPECT_EQ(chestCase->media().size(), 9);
    EXPECT_EQ(storedAttribute(chestCase, 0x0020, 0x000D), QStringList(9, study));
    QFile::remove(m_files.filePath(QStringLiteral("chest/3-1.dcm")));

    // Once the chest case is deleted (its media records left without it),
    // its images come back under the same UIDs.
    context()->deleteObject(fetchCases(QStringLiteral("summary == %@"), {m_chest.studyDescription}).first());
    context()->saveWithParent(true);
    const DicomImportSummary back = import();
    EXPECT_EQ(back.casesCreated, 1);
    EXPECT_EQ(back.imagesImported, 8);
    EXPECT_EQ(back.duplicates, 1);  // The head study's image.
    const QList<Case *> chest = fetchCases(QStringLiteral("summary == %@"), {m_chest.studyDescription});
    ASSERT_EQ(chest.size(), 1);
    EXPECT_EQ(storedAttribute(chest.first(), 0x0020, 0x000D), QStringList(8, study));
}

TEST_F(DicomImportTest, ChoicesPickSeriesThinThemAndAddToAnExistingCaseOnlyWhereEmpty)
{
    writeStudies();
    const DicomScanResult scan = DicomScanner::scan({m_files.filePath(QString())});
    Case *existing = context()->insertNew<Case>();
    existing->setSummary(QStringLiteral("Known summary"));
    existing->setSex(Sex::male);
    context()->saveWithParent(true);

    DicomImportChoices choices;
    choices.target = DicomImportChoices::Target::ExistingCase;
    choices.existingCase = existing->objectID();
    choices.series = {series(scan, 2).seriesInstanceUid, series(scan, 7).seriesInstanceUid};
    choices.everyNth.insert(series(scan, 2).seriesInstanceUid, 2);
    choices.fields = DicomImportChoices::PatientID | DicomImportChoices::Sex | DicomImportChoices::Summary | DicomImportChoices::Detail;
    const DicomImportSummary summary = import(choices);
    EXPECT_EQ(summary.casesCreated, 0);
    EXPECT_EQ(summary.imagesImported, 4);
    EXPECT_EQ(allCases().size(), 1);
    EXPECT_EQ(existing->summary(), QStringLiteral("Known summary"));
    EXPECT_EQ(existing->sex(), int(Sex::male));
    // The first study imported fills what was empty; later ones fill nothing more.
    EXPECT_EQ(existing->patientID(), m_head.patientId);
    EXPECT_NE(existing->dateOfDiagnosis().date(), QDate(2019, 1, 1));
    EXPECT_TRUE(existing->tags().isEmpty());
    EXPECT_EQ(existing->detail(), QStringLiteral("MR series 7\nLung window"));
    EXPECT_EQ(storedAttribute(existing, 0x0020, 0x0013),
              (QStringList{QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("3"), QStringLiteral("5")}));

    // By patient identifier: made once with that identifier, then found.
    DicomImportChoices byId;
    byId.target = DicomImportChoices::Target::CaseByPatientId;
    byId.patientId = QStringLiteral("TEACH-1");
    byId.series = {series(scan, 1).seriesInstanceUid};
    const DicomImportSummary made = import(byId);
    EXPECT_EQ(made.casesCreated, 1);
    EXPECT_EQ(made.imagesImported, 3);
    const QList<Case *> teaching = fetchCases(QStringLiteral("patientID == %@"), {byId.patientId});
    ASSERT_EQ(teaching.size(), 1);
    EXPECT_EQ(teaching.first()->summary(), m_chest.studyDescription);
    EXPECT_EQ(labelsOf(teaching.first()), (QStringList{QStringLiteral("CHEST"), QStringLiteral("CT")}));
    byId.series.clear();
    const DicomImportSummary found = import(byId);
    EXPECT_EQ(found.casesCreated, 0);
    EXPECT_EQ(found.imagesImported, 2);
    EXPECT_EQ(found.duplicates, 7);
    EXPECT_EQ(teaching.first()->media().size(), 5);
}

TEST_F(DicomImportTest, CancellingStopsAfterTheImageBeingImportedAndKeepsWhatCameBefore)
{
    writeStudies();
    DicomImportChoices choices;
    choices.cancel = std::make_shared<std::atomic<bool>>(false);
    // Cancelled from the progress of the third image, as a window's button would.
    const ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        LabelledProgressInfo::notificationName, nullptr, [cancel = choices.cancel](const Notification &notification) {
            if (notification.userInfo.value(LabelledProgressInfo::label) == QStringLiteral("Importing DICOM images…")
                && notification.userInfo.value(LabelledProgressInfo::count).toInt() == 3)
                cancel->store(true);
        });
    const DicomImportSummary summary = import(choices);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(summary.imagesImported, 3);
    EXPECT_EQ(mediaFiles().size(), 3);
    EXPECT_FALSE(context()->hasChanges());
    // The head study's image, then the chest study's first two.
    ASSERT_EQ(allCases().size(), 2);
    EXPECT_EQ(mediaRecordCount(), 3);
}

TEST_F(DicomImportTest, ATruncatedFileIsNamedAndTheRestAreImported)
{
    writeStudies();
    const QByteArray whole = readAll(m_files.filePath(QStringLiteral("chest/1-2.dcm")));
    QFile cut(m_files.filePath(QStringLiteral("chest/1-2.dcm")));
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(whole.left(whole.size() - 10));
    cut.close();
    const DicomImportSummary summary = import();
    EXPECT_EQ(summary.imagesImported, 8);
    ASSERT_EQ(summary.failed.size(), 1);
    EXPECT_TRUE(summary.failed.first().startsWith(m_files.filePath(QStringLiteral("chest/1-2.dcm")) + QStringLiteral(": ")));
    EXPECT_EQ(mediaFiles().size(), 8);
    EXPECT_EQ(mediaRecordCount(), 8);
    // Nothing half-written is left beside the stored files.
    QDirIterator it(libraryPath() + QStringLiteral("/Media"), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        EXPECT_TRUE(it.next().endsWith(QStringLiteral(".dcm")));
}

} // namespace
} // namespace ovalis::test
