#include "support/DicomTestFiles.h"

#include <QFile>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcvrobow.h>
#include <dcmtk/dcmdata/dcuid.h>

namespace ovalis::test {

namespace {

bool put(DcmItem &item, const DcmTagKey &key, const QString &value)
{
    return item.putAndInsertString(key, value.toLatin1().constData()).good();
}

} // namespace

QStringList TestDicom::identifyingValues() const
{
    return {patientName, patientId, birthDate, studyDate, QStringLiteral("PLANTED CREATOR"), unknownValue, institution, physician, accession, privateValue, nestedName, studyUid,
            seriesUid, sopUid, frameOfReferenceUid, nestedUid, cameraOwner, latitude, deviceDescription,
            visitReason, treatmentNotes, deviceIdentifier};
}

TestDicom TestDicom::instance(int series, int instance) const
{
    TestDicom made = *this;
    made.seriesNumber = series;
    made.instanceNumber = instance;
    made.seriesUid = studyUid + QStringLiteral(".%1").arg(series);
    made.sopUid = made.seriesUid + QStringLiteral(".%1").arg(instance);
    return made;
}

bool TestDicom::write(const QString &path) const
{
    DcmFileFormat file;
    DcmDataset &data = *file.getDataset();
    bool ok = put(data, DCM_SOPClassUID, QStringLiteral(UID_CTImageStorage)) && put(data, DCM_SOPInstanceUID, sopUid)
              && put(data, DCM_StudyInstanceUID, studyUid) && put(data, DCM_SeriesInstanceUID, seriesUid)
              && put(data, DCM_FrameOfReferenceUID, frameOfReferenceUid) && put(data, DCM_PatientName, patientName)
              && put(data, DCM_PatientID, patientId) && put(data, DCM_PatientBirthDate, birthDate)
              && put(data, DCM_PatientSex, sex) && put(data, DCM_PatientAge, age) && put(data, DCM_PatientWeight, weight)
              && put(data, DCM_InstitutionName, institution) && put(data, DCM_ReferringPhysicianName, physician)
              && put(data, DCM_AccessionNumber, accession) && put(data, DCM_StudyDate, studyDate)
              && put(data, DCM_SeriesDate, studyDate) && put(data, DCM_StudyDescription, studyDescription)
              && put(data, DCM_SeriesDescription, seriesDescription) && put(data, DCM_BodyPartExamined, bodyPart)
              && put(data, DCM_Modality, modality) && put(data, DCM_SeriesNumber, QString::number(seriesNumber))
              && put(data, DCM_InstanceNumber, QString::number(instanceNumber));
    // A private block at the top level and one inside a sequence that also
    // holds a person's name and the UID of another instance.
    ok = ok && put(data, DcmTagKey(0x0009, 0x0010), QStringLiteral("PLANTED CREATOR"))
         && data.putAndInsertString(DcmTag(0x0009, 0x1001, EVR_LO), privateValue.toLatin1().constData()).good();
    DcmItem *nested = nullptr;
    ok = ok && data.findOrCreateSequenceItem(DCM_SourceImageSequence, nested, -2).good() && nested
         && put(*nested, DCM_ReferencedSOPClassUID, QStringLiteral(UID_CTImageStorage))
         && put(*nested, DCM_ReferencedSOPInstanceUID, nestedUid) && put(*nested, DCM_PersonName, nestedName)
         && put(*nested, DcmTagKey(0x0011, 0x0010), QStringLiteral("PLANTED CREATOR"))
         && nested->putAndInsertString(DcmTag(0x0011, 0x1002, EVR_LO), privateValue.toLatin1().constData()).good();
    // An attribute the toolkit knows nothing of, which may say anything.
    const QByteArray unknown = unknownValue.toLatin1();
    auto *unknownElement = new DcmOtherByteOtherWord(DcmTag(0x0022, 0xFF00, EVR_UN));
    ok = ok && unknownElement->putUint8Array(reinterpret_cast<const Uint8 *>(unknown.constData()), unsigned(unknown.size())).good()
         && data.insert(unknownElement).good();
    // The patient's ethnic group; the camera and where it stood, the device
    // and its identifier in a sequence, why the patient came and what the
    // treatment notes say.
    DcmItem *device = nullptr;
    ok = ok && put(data, DCM_EthnicGroup, ethnicGroup) && put(data, DCM_CameraOwnerName, cameraOwner)
         && put(data, DCM_GPSLatitude, latitude) && put(data, DCM_DeviceDescription, deviceDescription)
         && put(data, DCM_ReasonForVisit, visitReason) && put(data, DCM_TreatmentTechniqueNotes, treatmentNotes)
         && data.findOrCreateSequenceItem(DCM_UDISequence, device, -2).good() && device
         && put(*device, DCM_UniqueDeviceIdentifier, deviceIdentifier);
    DcmItem *otherId = nullptr;
    ok = ok && data.findOrCreateSequenceItem(DCM_OtherPatientIDsSequence, otherId, -2).good() && otherId
         && put(*otherId, DCM_PatientID, patientId);
    // A small 16-bit monochrome image.
    ok = ok && data.putAndInsertUint16(DCM_Rows, Uint16(rows)).good() && data.putAndInsertUint16(DCM_Columns, Uint16(columns)).good()
         && data.putAndInsertUint16(DCM_BitsAllocated, 16).good() && data.putAndInsertUint16(DCM_BitsStored, 16).good()
         && data.putAndInsertUint16(DCM_HighBit, 15).good() && data.putAndInsertUint16(DCM_PixelRepresentation, 0).good()
         && data.putAndInsertUint16(DCM_SamplesPerPixel, 1).good()
         && put(data, DCM_PhotometricInterpretation, QStringLiteral("MONOCHROME2"));
    std::vector<Uint16> pixels(size_t(rows) * size_t(columns));
    for (size_t n = 0; n < pixels.size(); ++n)
        pixels[n] = Uint16((n * 37 + size_t(instanceNumber)) & 0xFFF);
    ok = ok && data.putAndInsertUint16Array(DCM_PixelData, pixels.data(), unsigned(pixels.size())).good();
    return ok && file.saveFile(OFFilename(QFile::encodeName(path).constData()), EXS_LittleEndianExplicit).good();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString attribute(const QString &path, quint16 group, quint16 element)
{
    DcmFileFormat file;
    if (file.loadFile(OFFilename(QFile::encodeName(path).constData())).bad())
        return QString();
    DcmItem *item = group == 2 ? static_cast<DcmItem *>(file.getMetaInfo()) : static_cast<DcmItem *>(file.getDataset());
    OFString value;
    item->findAndGetOFStringArray(DcmTagKey(group, element), value);
    return QString::fromLatin1(value.c_str());
}

QString pydicomSample(const QString &name)
{
    return QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/test_files/") + name;
}

} // namespace ovalis::test
