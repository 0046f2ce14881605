#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcuid.h>

#include "exchange/DicomScanner.h"
#include "support/DicomTestFiles.h"

namespace ovalis::test {
namespace {

class DicomScannerTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }

    QString path(const QString &relative) const { return m_folder.filePath(relative); }

    QString write(const QString &relative, const TestDicom &image)
    {
        EXPECT_TRUE(QDir().mkpath(QFileInfo(path(relative)).path()));
        EXPECT_TRUE(image.write(path(relative)));
        return path(relative);
    }

    QString writeText(const QString &relative, const QByteArray &data)
    {
        EXPECT_TRUE(QDir().mkpath(QFileInfo(path(relative)).path()));
        QFile file(path(relative));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return path(relative);
    }

    // A DICOMDIR in the folder referring to the file IDs given.
    QString writeDicomDir(const QString &relative, const QStringList &fileIds)
    {
        DcmFileFormat format;
        DcmDataset &data = *format.getDataset();
        for (int n = 0; n < fileIds.size(); ++n) {
            DcmItem *record = nullptr;
            EXPECT_TRUE(data.findOrCreateSequenceItem(DCM_DirectoryRecordSequence, record, -2).good());
            record->putAndInsertString(DCM_DirectoryRecordType, "IMAGE");
            record->putAndInsertString(DCM_ReferencedFileID, fileIds[n].toLatin1().constData());
        }
        format.getMetaInfo()->putAndInsertString(DCM_MediaStorageSOPClassUID, UID_MediaStorageDirectoryStorage);
        EXPECT_TRUE(format.saveFile(OFFilename(QFile::encodeName(path(relative)).constData()), EXS_LittleEndianExplicit,
                                    EET_ExplicitLength, EGL_recalcGL, EPD_noChange, 0, 0, EWM_updateMeta)
                        .good());
        return path(relative);
    }

    QTemporaryDir m_folder;
};

TEST_F(DicomScannerTest, FoldersAreSortedIntoStudiesAndSeriesByTheirHeaders)
{
    TestDicom chest;
    TestDicom head;
    head.studyUid = QStringLiteral("1.2.826.0.1.3680043.9.7777.2");
    head.studyDate = QStringLiteral("20190101");
    head.studyDescription = QStringLiteral("MR head");
    head.modality = QStringLiteral("MR");
    // Series 2 before series 1 on disk, instances out of order in their names.
    const QString lung10 = write(QStringLiteral("in/a/z.dcm"), chest.instance(2, 10));
    const QString lung2 = write(QStringLiteral("in/a/y.dcm"), chest.instance(2, 2));
    const QString mediastinum = write(QStringLiteral("in/b/x.dcm"), chest.instance(1, 1));
    const QString brain = write(QStringLiteral("in/c/head"), head.instance(5, 1));
    // The preamble decides, not the name.
    const QString named = write(QStringLiteral("in/c/notes.txt"), chest.instance(1, 3));
    const QString fake = writeText(QStringLiteral("in/fake.dcm"), QByteArray(200, 'x'));
    write(QStringLiteral("in/.hidden/hidden.dcm"), chest.instance(1, 7));
    write(QStringLiteral("outside/linked.dcm"), chest.instance(1, 8));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("outside")), path(QStringLiteral("in/link"))));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("outside/linked.dcm")), path(QStringLiteral("in/linked.dcm"))));
    const QString waveform = path(QStringLiteral("in/waveform.dcm"));
    ASSERT_TRUE(QFile::copy(pydicomSample(QStringLiteral("waveform_ecg.dcm")), waveform));

    QList<std::pair<int, int>> calls;
    const DicomScanResult result = DicomScanner::scan({path(QStringLiteral("in"))}, [&](int done, int total) {
        calls.append({done, total});
        return true;
    });
    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(result.notDicom, QStringList{fake});
    EXPECT_TRUE(result.unreadable.isEmpty()) << result.unreadable.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(result.notImages.size(), 1);
    EXPECT_TRUE(result.notImages.first().startsWith(waveform + QStringLiteral(": ")));
    ASSERT_FALSE(calls.isEmpty());
    EXPECT_EQ(calls.last(), std::make_pair(7, 7));
    EXPECT_EQ(result.imageCount(), 5);

    ASSERT_EQ(result.studies.size(), 2);
    // The older study first.
    const DicomStudyInfo &first = result.studies[0];
    EXPECT_EQ(first.studyInstanceUid, head.studyUid);
    EXPECT_EQ(first.studyDate, QDate(2019, 1, 1));
    ASSERT_EQ(first.series.size(), 1);
    EXPECT_EQ(first.series[0].modality, QStringLiteral("MR"));
    EXPECT_EQ(first.series[0].files, QStringList{brain});

    const DicomStudyInfo &second = result.studies[1];
    EXPECT_EQ(second.patientId, chest.patientId);
    EXPECT_EQ(second.patientName, chest.patientName);
    EXPECT_EQ(second.sex, QStringLiteral("F"));
    EXPECT_EQ(second.birthDate, QDate(1971, 2, 3));
    EXPECT_EQ(second.studyDate, QDate(2020, 3, 4));
    EXPECT_EQ(second.studyDescription, chest.studyDescription);
    ASSERT_EQ(second.series.size(), 2);
    EXPECT_EQ(second.series[0].seriesNumber, 1);
    EXPECT_EQ(second.series[0].files, (QStringList{mediastinum, named}));
    EXPECT_EQ(second.series[1].seriesNumber, 2);
    EXPECT_EQ(second.series[1].files, (QStringList{lung2, lung10}));
    EXPECT_EQ(second.series[1].bodyPartExamined, QStringLiteral("CHEST"));
    EXPECT_EQ(second.series[1].seriesDate, QDate(2020, 3, 4));
    EXPECT_EQ(second.series[1].burnedInAnnotation, QString());
}

TEST_F(DicomScannerTest, BurnedInTextIsFearedWhenSaidOrUnsaidOnUltrasoundAndSecondaryCapture)
{
    DicomSeriesInfo series;
    series.modality = QStringLiteral("CT");
    EXPECT_FALSE(series.mayCarryBurnedInText());
    series.burnedInAnnotation = QStringLiteral("YES");
    EXPECT_TRUE(series.mayCarryBurnedInText());
    series.modality = QStringLiteral("US");
    series.burnedInAnnotation = QStringLiteral("NO");
    EXPECT_FALSE(series.mayCarryBurnedInText());
    series.burnedInAnnotation.clear();
    EXPECT_TRUE(series.mayCarryBurnedInText());
    series.modality = QStringLiteral("OT");
    EXPECT_FALSE(series.mayCarryBurnedInText());
    // An OT image of the secondary capture class, as the scan sees it.
    const DicomScanResult sc = DicomScanner::scan({pydicomSample(QStringLiteral("SC_rgb_rle.dcm"))});
    ASSERT_EQ(sc.studies.size(), 1);
    ASSERT_EQ(sc.studies[0].series.size(), 1);
    EXPECT_TRUE(sc.studies[0].series[0].secondaryCapture);
    EXPECT_TRUE(sc.studies[0].series[0].mayCarryBurnedInText());
}

TEST_F(DicomScannerTest, ADicomDirBringsItsStudiesAndNothingOutsideItsFolder)
{
    // The sample DICOMDIR: every study and image its records name.
    const QString sample = pydicomSample(QStringLiteral("dicomdirtests/DICOMDIR"));
    DcmFileFormat format;
    ASSERT_TRUE(format.loadFile(OFFilename(QFile::encodeName(sample).constData())).good());
    DcmSequenceOfItems *records = nullptr;
    ASSERT_TRUE(format.getDataset()->findAndGetSequence(DCM_DirectoryRecordSequence, records).good());
    QSet<QString> studies;
    int images = 0;
    for (unsigned long n = 0; n < records->card(); ++n) {
        OFString type, uid;
        records->getItem(n)->findAndGetOFString(DCM_DirectoryRecordType, type);
        if (type == "STUDY" && records->getItem(n)->findAndGetOFString(DCM_StudyInstanceUID, uid).good())
            studies.insert(QString::fromLatin1(uid.c_str()));
        images += type == "IMAGE" ? 1 : 0;
    }
    ASSERT_GT(studies.size(), 1);
    const DicomScanResult result = DicomScanner::scan({sample});
    QSet<QString> found;
    for (const DicomStudyInfo &study : result.studies)
        found.insert(study.studyInstanceUid);
    EXPECT_EQ(found, studies);
    EXPECT_EQ(result.imageCount(), images);
    EXPECT_TRUE(result.unreadable.isEmpty()) << result.unreadable.join(QLatin1Char('\n')).toStdString();

    // References that climb out of the folder, or through a link out of it, are left out.
    TestDicom image;
    write(QStringLiteral("secret.dcm"), image.instance(1, 1));
    write(QStringLiteral("cd/IMAGES/IM1"), image.instance(1, 2));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("secret.dcm")), path(QStringLiteral("cd/IMAGES/IM2"))));
    const QString dicomDir = writeDicomDir(QStringLiteral("cd/DICOMDIR"),
                                           {QStringLiteral("IMAGES\\IM1"), QStringLiteral("..\\secret.dcm"),
                                            QStringLiteral("IMAGES\\IM2"), QStringLiteral("images\\im1")});
    EXPECT_EQ(DicomScanner::filesOfDicomDir(dicomDir), (QStringList{path(QStringLiteral("cd/IMAGES/IM1")), path(QStringLiteral("cd/IMAGES/IM1"))}));
    const DicomScanResult own = DicomScanner::scan({dicomDir});
    EXPECT_EQ(own.imageCount(), 1);
    // Under another name it is told by its content.
    ASSERT_TRUE(QFile::rename(dicomDir, path(QStringLiteral("cd/INDEX"))));
    const DicomScanResult renamed = DicomScanner::scan({path(QStringLiteral("cd/INDEX"))});
    EXPECT_EQ(renamed.imageCount(), 1);
    EXPECT_TRUE(renamed.notImages.isEmpty());
}

TEST_F(DicomScannerTest, ProgressCanCancelWithAPartialResult)
{
    TestDicom image;
    for (int n = 1; n <= 4; ++n)
        write(QStringLiteral("in/%1.dcm").arg(n), image.instance(1, n));
    const DicomScanResult result = DicomScanner::scan({path(QStringLiteral("in"))}, [](int done, int) { return done < 2; });
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.imageCount(), 2);
    EXPECT_TRUE(DicomScanner::isDicomFile(path(QStringLiteral("in/1.dcm"))));
    EXPECT_FALSE(DicomScanner::isDicomFile(path(QStringLiteral("in"))));
}

} // namespace
} // namespace ovalis::test
