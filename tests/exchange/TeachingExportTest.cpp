#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcfilefo.h>

#include "ExchangeFixture.h"
#include "exchange/DicomImport.h"
#include "exchange/DicomScanner.h"
#include "exchange/TeachingExport.h"
#include "store/Case.h"
#include "store/Media.h"
#include "store/Sex.h"
#include "store/Tag.h"
#include "support/DicomTestFiles.h"

namespace ovalis::test {
namespace {

class TeachingExportTest : public ExchangeFixture
{
protected:
    void SetUp() override
    {
        ExchangeFixture::SetUp();
        ASSERT_TRUE(m_files.isValid() && m_export.isValid());
    }

    // The chest study's two images, imported (and so de-identified) as one new case.
    Case *importedCase()
    {
        for (int n = 1; n <= 2; ++n)
            EXPECT_TRUE(m_chest.instance(1, n).write(m_files.filePath(QStringLiteral("%1.dcm").arg(n))));
        bool done = false;
        DicomImport::importStudies(DicomScanner::scan({m_files.path()}), {}, context(), [&](const DicomImportSummary &) { done = true; });
        waitFor(done);
        const QList<Case *> cases = fetchCases(QStringLiteral("summary == %@"), {m_chest.studyDescription});
        return cases.size() == 1 ? cases.first() : nullptr;
    }

    // Every file below the export folder, read whole.
    QByteArray exportedBytes() const
    {
        QByteArray bytes;
        QDirIterator files(m_export.path(), QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext())
            bytes += readAll(files.next());
        return bytes;
    }

    static QStringList entries(const QString &folder) { return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot); }

    TestDicom m_chest;
    QTemporaryDir m_files;
    QTemporaryDir m_export;
};

TEST_F(TeachingExportTest, WritesCheckedDicomRendersAndACaseWithoutTheIdentity)
{
    Case *item = importedCase();
    ASSERT_NE(item, nullptr);
    ASSERT_EQ(item->patientID(), m_chest.patientId); // the library is the radiologist's own record
    item->setSummary(QStringLiteral("Subdural haematoma"));
    item->setDetail(QStringLiteral("Crescentic collection"));
    item->setSex(Sex::female);
    item->setDateOfBirth(QDateTime(QDate(1950, 3, 4), QTime(12, 0)));
    item->setDateOfDiagnosis(QDateTime(QDate(2020, 3, 3), QTime(12, 0)));
    // A file that never went through the import, and a stored one that gained a private attribute.
    const QString raw = m_files.filePath(QStringLiteral("raw.dcm"));
    ASSERT_TRUE(m_chest.instance(3, 1).write(raw));
    const Media *unmarked = item->addMedia(readAll(raw), QStringLiteral("raw.dcm"));
    DcmFileFormat stored;
    ASSERT_TRUE(stored.loadFile(item->sortedMedia().first()->filePath().toLocal8Bit().constData()).good());
    stored.getDataset()->putAndInsertString(DcmTag(0x0029, 0x0010, EVR_LO), "SOME VENDOR");
    stored.getDataset()->putAndInsertString(DcmTag(0x0029, 0x1001, EVR_LO), "vendor data");
    const QString withPrivate = m_files.filePath(QStringLiteral("private.dcm"));
    ASSERT_TRUE(stored.saveFile(withPrivate.toLocal8Bit().constData()).good());
    const Media *privateTags = item->addMedia(readAll(withPrivate), QStringLiteral("private.dcm"));
    // Photographs may show a name in their pixels: they stay behind.
    item->addMedia(QByteArray("a photograph"), QStringLiteral("photo.jpg"));
    Case *photosOnly = newCase(QStringLiteral("ZZID0815"), QStringLiteral("Photographs only"));
    photosOnly->addMedia(QByteArray("jpeg"), QStringLiteral("d.jpg"));
    // A case whose only DICOM file is refused gets no folder of its own.
    Case *refusedOnly = newCase(QStringLiteral("ZZID0816"), QStringLiteral("Not de-identified"));
    refusedOnly->addMedia(readAll(raw), QStringLiteral("raw.dcm"));
    ASSERT_TRUE(context()->save());

    const TeachingExport::Summary summary = TeachingExport::exportCasesNow({item, photosOnly, refusedOnly}, m_export.path());
    EXPECT_EQ(summary.casesExported, 1);
    EXPECT_EQ(summary.casesWithoutDicom, 1);
    EXPECT_EQ(summary.dicomFiles, 2);
    EXPECT_EQ(summary.renders, 2);
    EXPECT_TRUE(summary.failures.isEmpty()) << summary.failures.join('\n').toStdString();
    // The two files that fail the check are named, each with its reason.
    ASSERT_EQ(summary.refused.size(), 3);
    EXPECT_TRUE(summary.refused[0].startsWith(unmarked->filePath()) && summary.refused[0].contains(QStringLiteral("identity")));
    EXPECT_TRUE(summary.refused[1].startsWith(privateTags->filePath()) && summary.refused[1].contains(QStringLiteral("private")));

    EXPECT_EQ(entries(m_export.path()), QStringList{QStringLiteral("Case 001")});
    const QString caseFolder = m_export.filePath(QStringLiteral("Case 001"));
    EXPECT_EQ(entries(caseFolder), (QStringList{"00001.dcm", "00001.png", "00002.dcm", "00002.png", "case.json"}));
    EXPECT_EQ(QImage(caseFolder + QStringLiteral("/00001.png")).size(), QSize(m_chest.columns, m_chest.rows));
    const QByteArray bytes = exportedBytes();
    for (const QString &planted : m_chest.identifyingValues())
        EXPECT_FALSE(bytes.contains(planted.toUtf8())) << planted.toStdString();

    QFile json(caseFolder + QStringLiteral("/case.json"));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QByteArray text = json.readAll();
    // The birth year alone; random UIDs and pixels may hold those digits anywhere else.
    EXPECT_FALSE(text.contains("1950"));
    const QJsonObject document = QJsonDocument::fromJson(text).object();
    EXPECT_EQ(document.value(QStringLiteral("summary")).toString(), QStringLiteral("Subdural haematoma"));
    EXPECT_EQ(document.value(QStringLiteral("detail")).toString(), QStringLiteral("Crescentic collection"));
    EXPECT_EQ(document.value(QStringLiteral("tags")).toArray(), QJsonArray({"CHEST", "CT"}));
    EXPECT_EQ(document.value(QStringLiteral("age")).toInt(), 69); // the day before the 70th birthday
    EXPECT_EQ(document.value(QStringLiteral("sex")).toString(), QStringLiteral("Female"));

    // A second export into the same folder leaves the first alone.
    bool done = false;
    TeachingExport::Summary again;
    TeachingExport::exportCases({item->objectID()}, context(), m_export.path(), [&](const TeachingExport::Summary &result) {
        again = result;
        done = true;
    });
    waitFor(done);
    EXPECT_EQ(again.casesExported, 1);
    EXPECT_EQ(entries(m_export.path()), (QStringList{"Case 001", "Case 002"}));
}

} // namespace
} // namespace ovalis::test
