#include "exchange/DicomScanner.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <algorithm>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcuid.h>

#include "exchange/FolderHierarchyImport.h"
#include "media/DicomDeidentifier.h"

namespace ovalis {

namespace {

// Larger DICOMDIR files than this are not read.
constexpr qint64 maximumDicomDirSize = qint64(64) << 20;

struct FileHeader {
    QString path;
    int instanceNumber = 0;
    QString sopInstanceUid;
};

bool isDicomDirName(const QString &path)
{
    return QFileInfo(path).fileName().compare(QLatin1String("DICOMDIR"), Qt::CaseInsensitive) == 0;
}

// A string attribute of the data set in the character set it declares; the
// control characters a hostile file may carry become spaces, and the padding goes.
class TextReader
{
public:
    explicit TextReader(DcmDataset &dataset)
        : m_dataset(dataset)
    {
        OFString charset;
        m_dataset.findAndGetOFStringArray(DCM_SpecificCharacterSet, charset);
        const QString name = QString::fromLatin1(charset.c_str()).trimmed();
        if (name == QLatin1String("ISO_IR 192"))
            m_utf8 = true;
        else if (!name.isEmpty() && name != QLatin1String("ISO_IR 100") && name != QLatin1String("ISO_IR 6"))
            m_utf8 = m_dataset.convertToUTF8().good();
    }

    QString text(const DcmTagKey &key) const
    {
        OFString value;
        if (m_dataset.findAndGetOFStringArray(key, value).bad())
            return QString(QLatin1String(""));
        QString text = m_utf8 ? QString::fromUtf8(value.c_str(), qsizetype(value.size()))
                              : QString::fromLatin1(value.c_str(), qsizetype(value.size()));
        for (QChar &c : text)
            if (c.category() == QChar::Other_Control)
                c = QLatin1Char(' ');
        return text.trimmed();
    }

    int number(const DcmTagKey &key) const
    {
        Sint32 value = 0;
        if (m_dataset.findAndGetSint32(key, value).good())
            return int(value);
        Uint16 unsignedValue = 0;
        return m_dataset.findAndGetUint16(key, unsignedValue).good() ? int(unsignedValue) : 0;
    }

    QDate date(const DcmTagKey &key) const { return QDate::fromString(text(key), QStringLiteral("yyyyMMdd")); }

private:
    DcmDataset &m_dataset;
    bool m_utf8 = false;
};

bool isSecondaryCaptureClass(const QString &sopClass)
{
    return sopClass == QLatin1String(UID_SecondaryCaptureImageStorage)
           || sopClass.startsWith(QLatin1String(UID_SecondaryCaptureImageStorage) + QLatin1Char('.'));
}

// The entry of folder named name, or, failing that, the one whose name
// differs only in letter case (references are written in capitals, and some
// media show them in lower case).
QString entryIgnoringCase(const QString &folder, const QString &name)
{
    const QString exact = folder + QLatin1Char('/') + name;
    if (QFileInfo::exists(exact))
        return exact;
    const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &entry : entries)
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return folder + QLatin1Char('/') + entry;
    return QString();
}

class Collector
{
public:
    void add(const QString &path)
    {
        const QFileInfo info(path);
        if (info.isDir()) {
            addFolder(info.absoluteFilePath());
        } else if (isDicomDirName(path) && DicomScanner::isDicomFile(path)) {
            QString error;
            const QStringList referenced = DicomScanner::filesOfDicomDir(path, &error);
            if (!error.isEmpty())
                unreadable.append(info.absoluteFilePath() + QStringLiteral(": ") + error);
            for (const QString &file : referenced)
                addFile(file);
        } else {
            addFile(info.absoluteFilePath());
        }
    }

    // A file once, however many paths or DICOMDIRs lead to it.
    void addFile(const QString &path)
    {
        const QString key = QFileInfo(path).canonicalFilePath();
        if (!m_seen.contains(key.isEmpty() ? path : key)) {
            m_seen.insert(key.isEmpty() ? path : key);
            files.append(path);
        }
    }

    QStringList files;
    QStringList unreadable;

private:
    void addFolder(const QString &folder)
    {
        QStringList found;
        QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!it.fileInfo().isSymLink())
                found.append(path);
        }
        std::sort(found.begin(), found.end(), FolderHierarchyImport::pathLess);
        for (const QString &path : std::as_const(found))
            add(path);
    }

    QSet<QString> m_seen;
};

} // namespace

bool DicomSeriesInfo::mayCarryBurnedInText() const
{
    const QString annotation = burnedInAnnotation.trimmed().toUpper();
    if (annotation == QLatin1String("YES"))
        return true;
    return annotation.isEmpty() && (modality == QLatin1String("US") || modality == QLatin1String("SC") || secondaryCapture);
}

int DicomScanResult::imageCount() const
{
    int count = 0;
    for (const DicomStudyInfo &study : studies)
        for (const DicomSeriesInfo &series : study.series)
            count += int(series.files.size());
    return count;
}

bool DicomScanner::isDicomFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(128))
        return false;
    return file.read(4) == "DICM";
}

QStringList DicomScanner::filesOfDicomDir(const QString &path, QString *error)
{
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    const QString root = QDir(folder).canonicalPath() + QLatin1Char('/');
    QStringList files;
    if (info.size() > maximumDicomDirSize) {
        if (error)
            *error = QStringLiteral("a DICOMDIR larger than 64 MB");
        return files;
    }
    DcmFileFormat format;
    const OFCondition status = format.loadFile(OFFilename(QFile::encodeName(path).constData()));
    DcmSequenceOfItems *records = nullptr;
    if (status.bad() || format.getDataset()->findAndGetSequence(DCM_DirectoryRecordSequence, records).bad() || !records) {
        if (error)
            *error = status.bad() ? QString::fromLocal8Bit(status.text()) : QStringLiteral("no directory records");
        return files;
    }
    for (unsigned long n = 0; n < records->card(); ++n) {
        OFString value;
        if (records->getItem(n)->findAndGetOFStringArray(DCM_ReferencedFileID, value).bad() || value.empty())
            continue;
        QString resolved = folder;
        for (const QString &component : QString::fromLatin1(value.c_str()).split(QLatin1Char('\\'))) {
            const QString name = component.trimmed();
            if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QLatin1Char('/'))) {
                resolved.clear();
                break;
            }
            resolved = entryIgnoringCase(resolved, name);
            if (resolved.isEmpty())
                break;
        }
        // Nothing outside the DICOMDIR's folder, through a symbolic link or otherwise.
        const QString canonical = resolved.isEmpty() ? QString() : QFileInfo(resolved).canonicalFilePath();
        if (!canonical.isEmpty() && canonical.startsWith(root) && QFileInfo(canonical).isFile())
            files.append(resolved);
    }
    return files;
}

DicomScanResult DicomScanner::scan(const QStringList &paths, const std::function<bool(int, int)> &progress)
{
    DicomDeidentifier::quietenToolkit();
    Collector collector;
    for (const QString &path : paths)
        collector.add(path);
    DicomScanResult result;
    result.unreadable = collector.unreadable;

    QHash<QString, DicomStudyInfo> studies;
    QHash<QString, QHash<QString, DicomSeriesInfo>> seriesOfStudy;
    QHash<QString, QList<FileHeader>> filesOfSeries;
    int total = int(collector.files.size());
    for (int done = 0; done < total; ++done) {
        if (progress && !progress(done, total)) {
            result.cancelled = true;
            break;
        }
        const QString path = collector.files[done];
        if (!isDicomFile(path)) {
            result.notDicom.append(path);
            continue;
        }
        DcmFileFormat format;
        const OFCondition status = format.loadFileUntilTag(OFFilename(QFile::encodeName(path).constData()), EXS_Unknown,
                                                           EGL_noChange, 4096, ERM_fileOnly, DCM_PixelData);
        if (status.bad()) {
            result.unreadable.append(path + QStringLiteral(": ") + QString::fromLocal8Bit(status.text()));
            continue;
        }
        DcmDataset &dataset = *format.getDataset();
        const TextReader reader(dataset);
        OFString storageClass;
        format.getMetaInfo()->findAndGetOFString(DCM_MediaStorageSOPClassUID, storageClass);
        if (storageClass == UID_MediaStorageDirectoryStorage) {
            // A DICOMDIR under another name: its files join the scan.
            QString error;
            for (const QString &file : filesOfDicomDir(path, &error))
                collector.addFile(file);
            if (!error.isEmpty())
                result.unreadable.append(path + QStringLiteral(": ") + error);
            total = int(collector.files.size());
            continue;
        }
        if (reader.number(DCM_Rows) <= 0 || reader.number(DCM_Columns) <= 0) {
            result.notImages.append(path + QStringLiteral(": not an image"));
            continue;
        }
        const QString studyUid = reader.text(DCM_StudyInstanceUID);
        const QString seriesUid = reader.text(DCM_SeriesInstanceUID);
        if (studyUid.isEmpty() || seriesUid.isEmpty()) {
            result.unreadable.append(path + QStringLiteral(": no study or series instance UID"));
            continue;
        }
        if (!studies.contains(studyUid)) {
            DicomStudyInfo study;
            study.studyInstanceUid = studyUid;
            study.patientId = reader.text(DCM_PatientID);
            study.patientName = reader.text(DCM_PatientName);
            study.sex = reader.text(DCM_PatientSex);
            study.studyDescription = reader.text(DCM_StudyDescription);
            study.birthDate = reader.date(DCM_PatientBirthDate);
            study.studyDate = reader.date(DCM_StudyDate);
            studies.insert(studyUid, study);
        }
        QHash<QString, DicomSeriesInfo> &series = seriesOfStudy[studyUid];
        if (!series.contains(seriesUid)) {
            DicomSeriesInfo info;
            info.seriesInstanceUid = seriesUid;
            info.seriesNumber = reader.number(DCM_SeriesNumber);
            info.modality = reader.text(DCM_Modality);
            info.seriesDescription = reader.text(DCM_SeriesDescription);
            info.bodyPartExamined = reader.text(DCM_BodyPartExamined);
            info.burnedInAnnotation = reader.text(DCM_BurnedInAnnotation);
            info.seriesDate = reader.date(DCM_SeriesDate);
            info.secondaryCapture = isSecondaryCaptureClass(reader.text(DCM_SOPClassUID));
            series.insert(seriesUid, info);
        }
        filesOfSeries[studyUid + QLatin1Char('\n') + seriesUid].append(
            {path, reader.number(DCM_InstanceNumber), reader.text(DCM_SOPInstanceUID)});
    }
    if (progress && !result.cancelled)
        progress(total, total);

    for (auto study = studies.begin(); study != studies.end(); ++study) {
        for (DicomSeriesInfo &series : seriesOfStudy[study.key()]) {
            QList<FileHeader> &files = filesOfSeries[study.key() + QLatin1Char('\n') + series.seriesInstanceUid];
            std::sort(files.begin(), files.end(), [](const FileHeader &a, const FileHeader &b) {
                return a.instanceNumber != b.instanceNumber ? a.instanceNumber < b.instanceNumber
                                                            : FolderHierarchyImport::pathLess(a.path, b.path);
            });
            for (const FileHeader &file : std::as_const(files)) {
                series.files.append(file.path);
                series.sopInstanceUids.append(file.sopInstanceUid);
            }
            study->series.append(series);
        }
        std::sort(study->series.begin(), study->series.end(), [](const DicomSeriesInfo &a, const DicomSeriesInfo &b) {
            return a.seriesNumber != b.seriesNumber ? a.seriesNumber < b.seriesNumber : a.seriesInstanceUid < b.seriesInstanceUid;
        });
        result.studies.append(*study);
    }
    std::sort(result.studies.begin(), result.studies.end(), [](const DicomStudyInfo &a, const DicomStudyInfo &b) {
        return a.studyDate != b.studyDate ? a.studyDate < b.studyDate : a.studyInstanceUid < b.studyInstanceUid;
    });
    return result;
}

} // namespace ovalis
