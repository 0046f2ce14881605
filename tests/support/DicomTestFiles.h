#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace ovalis::test {

// A small DICOM image made for a test, carrying identifying values planted
// where real files carry them: the patient, the institution, the physician,
// the accession number, private attributes (also inside a sequence), a
// sequence holding a person's name and a UID, the camera's owner and position,
// the device, the reason for the visit, notes on the treatment, a sequence
// naming the device, and the image's UIDs.
struct TestDicom {
    QString patientName = QStringLiteral("Plantedpatient^Name");
    QString patientId = QStringLiteral("PLANTEDID4711");
    QString birthDate = QStringLiteral("19710203");
    QString sex = QStringLiteral("F");
    QString age = QStringLiteral("052Y");
    QString weight = QStringLiteral("71.5");
    QString institution = QStringLiteral("Plantedinstitution Hospital");
    QString physician = QStringLiteral("Plantedphysician^Doctor");
    QString accession = QStringLiteral("PLANTEDACC815");
    QString privateValue = QStringLiteral("PLANTEDPRIVATE");
    QString unknownValue = QStringLiteral("PLANTEDUNKNOWN");
    QString nestedName = QStringLiteral("Plantednested^Person");
    // A characteristic of the patient that stays, like sex, age and weight.
    QString ethnicGroup = QStringLiteral("Example group");
    QString cameraOwner = QStringLiteral("Plantedowner Camera");
    QString latitude = QStringLiteral("47.3769123");
    QString deviceDescription = QStringLiteral("Planteddevice Ward 7");
    QString visitReason = QStringLiteral("Plantedreason visit");
    QString treatmentNotes = QStringLiteral("Plantednotes treatment");
    QString deviceIdentifier = QStringLiteral("PLANTEDUDI0042");
    QString studyDate = QStringLiteral("20200304");
    QString studyDescription = QStringLiteral("CT chest");
    QString seriesDescription = QStringLiteral("Axial lung");
    QString bodyPart = QStringLiteral("CHEST");
    QString modality = QStringLiteral("CT");
    QString studyUid = QStringLiteral("1.2.826.0.1.3680043.9.7777.1");
    QString seriesUid = QStringLiteral("1.2.826.0.1.3680043.9.7777.1.1");
    QString sopUid = QStringLiteral("1.2.826.0.1.3680043.9.7777.1.1.1");
    QString frameOfReferenceUid = QStringLiteral("1.2.826.0.1.3680043.9.7777.9");
    QString nestedUid = QStringLiteral("1.2.826.0.1.3680043.9.7777.8");
    int seriesNumber = 1;
    int instanceNumber = 1;
    int rows = 4;
    int columns = 4;

    // The texts that must not survive de-identification.
    QStringList identifyingValues() const;
    // The same image as another instance of the series (or of another series
    // of the study): the UIDs end in the numbers.
    TestDicom instance(int series, int instance) const;
    // Writes the file with its meta header, in explicit little endian.
    bool write(const QString &path) const;
};

QByteArray readAll(const QString &path);
// The string value of an attribute (group, element) of the file's data set,
// or of its meta header for group 2; empty when absent.
QString attribute(const QString &path, quint16 group, quint16 element);
// Where pydicom keeps its sample files.
QString pydicomSample(const QString &name);

} // namespace ovalis::test
