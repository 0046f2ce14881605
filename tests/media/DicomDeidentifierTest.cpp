#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcsequen.h>

#include "media/DicomDeidentifier.h"
#include "media/DicomUidMap.h"
#include "support/DicomTestFiles.h"

namespace ovalis::test {
namespace {

class DicomDeidentifierTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }

    QString path(const QString &name) const { return m_folder.filePath(name); }

    // The file de-identified through the library's map, as name in the folder.
    QString deidentified(const QString &source, const QString &name)
    {
        DicomDeidentifier deidentifier(DicomUidMap::forLibrary(path(QStringLiteral("Library"))));
        QString error;
        EXPECT_TRUE(deidentifier.deidentifyFile(source, path(name), &error)) << error.toStdString();
        return path(name);
    }

    // The codes of the method code sequence as "scheme:value".
    static QStringList methodCodes(const QString &file)
    {
        DcmFileFormat format;
        EXPECT_TRUE(format.loadFile(OFFilename(QFile::encodeName(file).constData())).good());
        QStringList codes;
        DcmSequenceOfItems *sequence = nullptr;
        if (format.getDataset()->findAndGetSequence(DCM_DeidentificationMethodCodeSequence, sequence).bad())
            return codes;
        for (unsigned long n = 0; n < sequence->card(); ++n) {
            OFString scheme, value;
            sequence->getItem(n)->findAndGetOFString(DCM_CodingSchemeDesignator, scheme);
            sequence->getItem(n)->findAndGetOFString(DCM_CodeValue, value);
            codes.append(QString::fromLatin1(scheme.c_str()) + QLatin1Char(':') + QString::fromLatin1(value.c_str()));
        }
        return codes;
    }

    QTemporaryDir m_folder;
};

TEST_F(DicomDeidentifierTest, PlantedIdentityLeavesNoTraceWhileCharacteristicsAndImageStay)
{
    const TestDicom planted;
    ASSERT_TRUE(planted.write(path(QStringLiteral("original.dcm"))));
    const DicomDeidentifier::Check before = DicomDeidentifier::check(path(QStringLiteral("original.dcm")));
    EXPECT_TRUE(before.readable);
    EXPECT_FALSE(before.identityRemoved);
    EXPECT_TRUE(before.hasPrivateTags);

    const QString stored = deidentified(path(QStringLiteral("original.dcm")), QStringLiteral("stored.dcm"));
    const QByteArray bytes = readAll(stored);
    ASSERT_FALSE(bytes.isEmpty());
    for (const QString &value : planted.identifyingValues())
        EXPECT_FALSE(bytes.contains(value.toLatin1())) << value.toStdString();

    const DicomDeidentifier::Check after = DicomDeidentifier::check(stored);
    EXPECT_TRUE(after.readable) << after.error.toStdString();
    EXPECT_TRUE(after.identityRemoved);
    EXPECT_FALSE(after.hasPrivateTags);
    EXPECT_EQ(attribute(stored, 0x0012, 0x0062), QStringLiteral("YES"));
    const QStringList method = attribute(stored, 0x0012, 0x0063).split(QLatin1Char('\\'));
    EXPECT_GE(method.size(), 2);
    for (const QString &value : method)
        EXPECT_TRUE(!value.isEmpty() && value.size() <= 64) << value.toStdString();
    EXPECT_EQ(methodCodes(stored), (QStringList{QStringLiteral("DCM:113100"), QStringLiteral("DCM:113108")}));

    // What the teaching file needs stays: sex, age, weight, ethnic group, modality, the SOP class.
    EXPECT_EQ(attribute(stored, 0x0010, 0x0040), planted.sex);
    EXPECT_EQ(attribute(stored, 0x0010, 0x2160), planted.ethnicGroup);
    EXPECT_EQ(attribute(stored, 0x0010, 0x1010), planted.age);
    EXPECT_EQ(attribute(stored, 0x0010, 0x1030).toDouble(), planted.weight.toDouble());
    EXPECT_EQ(attribute(stored, 0x0008, 0x0060), planted.modality);
    EXPECT_EQ(attribute(stored, 0x0008, 0x0016), attribute(path(QStringLiteral("original.dcm")), 0x0008, 0x0016));
    EXPECT_EQ(attribute(stored, 0x0002, 0x0010), attribute(path(QStringLiteral("original.dcm")), 0x0002, 0x0010));
    // The camera's owner and position, the device, the visit's reason and the
    // treatment's notes are gone, and so is the sequence naming the device.
    DcmFileFormat format;
    ASSERT_TRUE(format.loadFile(OFFilename(QFile::encodeName(stored).constData())).good());
    for (const DcmTagKey &gone : {DCM_CameraOwnerName, DCM_GPSLatitude, DCM_DeviceDescription, DCM_ReasonForVisit, DCM_UDISequence})
        EXPECT_FALSE(format.getDataset()->tagExists(gone)) << gone.toString().c_str();
    EXPECT_TRUE(format.getDataset()->tagExists(DCM_TreatmentTechniqueNotes));
    EXPECT_TRUE(attribute(stored, 0x3010, 0x007A).isEmpty());
    // The name and UID inside the sequence were replaced, not the sequence dropped.
    DcmItem *source = nullptr;
    ASSERT_TRUE(format.getDataset()->findAndGetSequenceItem(DCM_SourceImageSequence, source, 0).good());
    OFString referenced;
    source->findAndGetOFString(DCM_ReferencedSOPInstanceUID, referenced);
    EXPECT_TRUE(QString::fromLatin1(referenced.c_str()).startsWith(QStringLiteral("2.25.")));
    // The identifiers are new, and the meta header agrees with the data set.
    const QString sop = attribute(stored, 0x0008, 0x0018);
    EXPECT_TRUE(sop.startsWith(QStringLiteral("2.25."))) << sop.toStdString();
    EXPECT_EQ(attribute(stored, 0x0002, 0x0003), sop);
    // The pixels are those of the original, bit for bit.
    const QByteArray original = readAll(path(QStringLiteral("original.dcm")));
    const QByteArray pixels = original.right(planted.rows * planted.columns * 2);
    EXPECT_TRUE(bytes.endsWith(pixels));
}

TEST_F(DicomDeidentifierTest, OneOriginalUidHasOneReplacementAcrossFilesAndRuns)
{
    const TestDicom planted;
    const TestDicom first = planted.instance(1, 1), second = planted.instance(1, 2), other = planted.instance(2, 1);
    ASSERT_TRUE(first.write(path(QStringLiteral("1.dcm"))) && second.write(path(QStringLiteral("2.dcm")))
                && other.write(path(QStringLiteral("3.dcm"))));
    const QString a = deidentified(path(QStringLiteral("1.dcm")), QStringLiteral("a.dcm"));
    const QString b = deidentified(path(QStringLiteral("2.dcm")), QStringLiteral("b.dcm"));
    const QString c = deidentified(path(QStringLiteral("3.dcm")), QStringLiteral("c.dcm"));
    const auto uid = [](const QString &file, quint16 element, quint16 group = 0x0020) { return attribute(file, group, element); };
    EXPECT_EQ(uid(a, 0x000D), uid(b, 0x000D));
    EXPECT_EQ(uid(a, 0x000D), uid(c, 0x000D));
    EXPECT_EQ(uid(a, 0x000E), uid(b, 0x000E));
    EXPECT_NE(uid(a, 0x000E), uid(c, 0x000E));
    EXPECT_EQ(uid(a, 0x0052), uid(c, 0x0052));
    EXPECT_NE(uid(a, 0x0018, 0x0008), uid(b, 0x0018, 0x0008));

    // A map opened afresh on the same file answers the same; a new UID is
    // new every time and a UID of the standard is never replaced.
    QString again;
    {
        DicomUidMap reopened(path(QStringLiteral("Library")));
        ASSERT_TRUE(reopened.isOpen()) << reopened.errorString().toStdString();
        again = reopened.replacement(planted.studyUid);
        EXPECT_EQ(reopened.replacement(QStringLiteral("1.2.3.4.5")), reopened.replacement(QStringLiteral("1.2.3.4.5")));
        EXPECT_TRUE(reopened.rememberMedia(first.sopUid, QStringLiteral("media-uuid")));
    }
    EXPECT_EQ(again, uid(a, 0x000D));
    EXPECT_EQ(DicomUidMap(path(QStringLiteral("Library"))).mediaUuid(first.sopUid), QStringLiteral("media-uuid"));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("Library/DICOM UIDs.sqlite"))));
    const QRegularExpression form(QStringLiteral("^2\\.25\\.(0|[1-9][0-9]{0,38})$"));
    QSet<QString> made;
    for (int n = 0; n < 200; ++n) {
        const QString fresh = DicomUidMap::newUid();
        EXPECT_TRUE(form.match(fresh).hasMatch()) << fresh.toStdString();
        made.insert(fresh);
    }
    EXPECT_EQ(made.size(), 200);
    EXPECT_TRUE(DicomUidMap::isWellKnown(QStringLiteral("1.2.840.10008.5.1.4.1.1.2")));
    EXPECT_FALSE(DicomUidMap::isWellKnown(planted.studyUid));
}

TEST_F(DicomDeidentifierTest, ThreadsAskingForTheSameUidsGetTheSameReplacements)
{
    DicomUidMap map(path(QStringLiteral("Library")));
    constexpr int threads = 4, uids = 40;
    std::vector<QStringList> answers(threads);
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t)
        running.emplace_back([&map, &answers, t] {
            for (int n = 0; n < uids; ++n)
                answers[size_t(t)].append(map.replacement(QStringLiteral("1.2.3.%1").arg((n + t * 7) % uids)));
        });
    for (std::thread &thread : running)
        thread.join();
    QSet<QString> distinct;
    for (int t = 0; t < threads; ++t)
        for (int n = 0; n < uids; ++n) {
            EXPECT_EQ(answers[size_t(t)][n], map.replacement(QStringLiteral("1.2.3.%1").arg((n + t * 7) % uids)));
            distinct.insert(answers[size_t(t)][n]);
        }
    EXPECT_EQ(distinct.size(), uids);
}

TEST_F(DicomDeidentifierTest, SampleFilesLosePrivateGroupsAndKeepTheirPixelEncoding)
{
    const QString ct = deidentified(pydicomSample(QStringLiteral("CT_small.dcm")), QStringLiteral("ct.dcm"));
    const DicomDeidentifier::Check check = DicomDeidentifier::check(ct);
    EXPECT_TRUE(check.readable);
    EXPECT_TRUE(check.identityRemoved);
    EXPECT_FALSE(check.hasPrivateTags);
    EXPECT_TRUE(DicomDeidentifier::check(pydicomSample(QStringLiteral("CT_small.dcm"))).hasPrivateTags);
    const QByteArray bytes = readAll(ct);
    for (const QString &field : {QStringLiteral("0010,0010"), QStringLiteral("0010,0020"), QStringLiteral("0008,0080")}) {
        const QString value = attribute(pydicomSample(QStringLiteral("CT_small.dcm")), field.left(4).toUShort(nullptr, 16),
                                        field.mid(5).toUShort(nullptr, 16));
        ASSERT_FALSE(value.isEmpty()) << field.toStdString();
        EXPECT_FALSE(bytes.contains(value.toLatin1())) << value.toStdString();
    }
    DcmFileFormat format;
    ASSERT_TRUE(format.loadFile(OFFilename(QFile::encodeName(ct).constData())).good());
    EXPECT_FALSE(format.getDataset()->tagExists(DCM_OtherPatientIDsSequence));

    // Compressed pixel data is carried over without being decoded.
    const QString rle = deidentified(pydicomSample(QStringLiteral("MR_small_RLE.dcm")), QStringLiteral("rle.dcm"));
    EXPECT_EQ(attribute(rle, 0x0002, 0x0010), attribute(pydicomSample(QStringLiteral("MR_small_RLE.dcm")), 0x0002, 0x0010));
    const auto fragments = [](const QString &file) {
        DcmFileFormat read;
        EXPECT_TRUE(read.loadFile(OFFilename(QFile::encodeName(file).constData())).good());
        DcmElement *element = nullptr;
        QByteArray all;
        if (read.getDataset()->findAndGetElement(DCM_PixelData, element).bad())
            return all;
        DcmPixelSequence *sequence = nullptr;
        E_TransferSyntax xfer = read.getDataset()->getOriginalXfer();
        const DcmRepresentationParameter *parameter = nullptr;
        static_cast<DcmPixelData *>(element)->getEncapsulatedRepresentation(xfer, parameter, sequence);
        for (unsigned long n = 0; sequence && n < sequence->card(); ++n) {
            DcmPixelItem *item = nullptr;
            Uint8 *data = nullptr;
            if (sequence->getItem(item, n).good() && item->getUint8Array(data).good() && data)
                all.append(reinterpret_cast<const char *>(data), qsizetype(item->getLength()));
        }
        return all;
    };
    const QByteArray compressed = fragments(pydicomSample(QStringLiteral("MR_small_RLE.dcm")));
    EXPECT_GT(compressed.size(), 1000);
    EXPECT_EQ(fragments(rle), compressed);

    const DicomDeidentifier::Check text = DicomDeidentifier::check(pydicomSample(QStringLiteral("README.txt")));
    EXPECT_FALSE(text.readable);
    EXPECT_FALSE(text.error.isEmpty());
}

} // namespace
} // namespace ovalis::test
