#include "exchange/TeachingExport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include "exchange/LabelledProgressInfo.h"
#include "exchange/MainThread.h"
#include "media/DicomDeidentifier.h"
#include "media/DicomRenderer.h"
#include "store/AgeFormatter.h"
#include "store/Case.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/MediaTypes.h"
#include "store/Sex.h"
#include "store/SharedBackgroundContext.h"
#include "store/Tag.h"
#include "util/LocalDate.h"
#include "util/Log.h"

namespace ovalis {

namespace {

QList<Media *> dicomMediaOf(const Case *item)
{
    QList<Media *> result;
    for (Media *media : item->sortedMedia())
        if (MediaTypes::isDicom(MediaTypes::extensionOf(media->fileName())) && media->fileExists())
            result.append(media);
    return result;
}

QString freeCaseFolder(const QString &folder, int &next)
{
    for (;; ++next) {
        const QString path = folder + QStringLiteral("/Case %1").arg(next, 3, 10, QLatin1Char('0'));
        if (!QFileInfo::exists(path))
            return path;
    }
}

bool writeJson(const QJsonObject &document, const QString &path)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(document).toJson()) >= 0 && file.commit();
}

// Copies one checked DICOM file and its render; failures and refusals go to summary.
void exportFile(const Media *media, const QString &caseFolder, int number, TeachingExport::Summary &summary)
{
    const QString source = media->filePath();
    const DicomDeidentifier::Check check = DicomDeidentifier::check(source);
    if (!check.readable) {
        summary.refused.append(source + QStringLiteral(": cannot be read (") + check.error + QLatin1Char(')'));
        return;
    }
    if (!check.identityRemoved) {
        summary.refused.append(source + QStringLiteral(": it does not say that the patient's identity was removed"));
        return;
    }
    if (check.hasPrivateTags) {
        summary.refused.append(source + QStringLiteral(": it holds private attributes"));
        return;
    }
    const QString base = caseFolder + QStringLiteral("/%1").arg(number, 5, 10, QLatin1Char('0'));
    if (!QFile::copy(source, base + QStringLiteral(".dcm"))) {
        summary.failures.append(base + QStringLiteral(".dcm: could not be written"));
        return;
    }
    ++summary.dicomFiles;
    const DicomRenderer renderer(source);
    if (!renderer.canDisplay()) {
        summary.failures.append(base + QStringLiteral(".png: ") + renderer.unavailableReason());
        return;
    }
    if (!renderer.render(0).save(base + QStringLiteral(".png"), "PNG")) {
        summary.failures.append(base + QStringLiteral(".png: could not be written"));
        return;
    }
    ++summary.renders;
}

} // namespace

QJsonObject TeachingExport::caseDocument(const Case *item)
{
    QJsonObject document;
    document.insert(QStringLiteral("summary"), item->summary());
    document.insert(QStringLiteral("detail"), item->detail());
    QStringList labels;
    for (const Tag *tag : item->tags())
        labels.append(tag->label());
    labels.sort(Qt::CaseInsensitive);
    document.insert(QStringLiteral("tags"), QJsonArray::fromStringList(labels));
    const QDateTime birth = item->dateOfBirth();
    const QDateTime diagnosis = item->dateOfDiagnosis();
    if (birth.isValid() && diagnosis.isValid()) {
        const AgeFormatter::Components age = AgeFormatter::components(LocalDate::of(birth), LocalDate::of(diagnosis));
        if (!age.negative)
            document.insert(QStringLiteral("age"), age.years);
    }
    const int sex = item->sex();
    if (sex == int(Sex::male) || sex == int(Sex::female) || sex == int(Sex::nonbinary))
        document.insert(QStringLiteral("sex"), sexString(sex));
    return document;
}

TeachingExport::Summary TeachingExport::exportCasesNow(const QList<Case *> &cases, const QString &folder)
{
    Summary summary;
    const QString destination = QDir::cleanPath(folder);
    if (!QDir().mkpath(destination)) {
        summary.failures.append(destination + QStringLiteral(": the folder could not be made"));
        return summary;
    }
    int next = 1;
    const int total = int(cases.size());
    for (int i = 0; i < total; ++i) {
        LabelledProgressInfo::post(i + 1, total, QStringLiteral("Exporting for teaching…"));
        const Case *item = cases[i];
        const QList<Media *> media = dicomMediaOf(item);
        if (media.isEmpty()) {
            ++summary.casesWithoutDicom;
            continue;
        }
        const QString caseFolder = freeCaseFolder(destination, next);
        if (!QDir().mkpath(caseFolder)) {
            summary.failures.append(caseFolder + QStringLiteral(": the folder could not be made"));
            continue;
        }
        Log::info(LogArea::Filing, QStringLiteral("Export case for teaching to ") + caseFolder);
        const int written = summary.dicomFiles;
        for (int number = 1; number <= media.size(); ++number)
            exportFile(media[number - 1], caseFolder, number, summary);
        if (summary.dicomFiles == written) {
            // Every file refused: no folder that looks like a case to upload.
            QDir(caseFolder).removeRecursively();
            continue;
        }
        if (!writeJson(caseDocument(item), caseFolder + QStringLiteral("/case.json")))
            summary.failures.append(caseFolder + QStringLiteral("/case.json: could not be written"));
        ++summary.casesExported;
    }
    LabelledProgressInfo::postEnd();
    return summary;
}

void TeachingExport::exportCases(const QList<ObjectID> &cases, ManagedObjectContext *parent, const QString &folder,
                                 std::function<void(const Summary &)> finished)
{
    std::shared_ptr<ManagedObjectContext> child = SharedBackgroundContext::childOf(parent);
    ManagedObjectContext *childContext = child.get();
    childContext->perform([childContext, keepAlive = child, cases, folder, finished] {
        LabelledProgressInfo::post(0, 1, QStringLiteral("Preparing…"));
        QList<Case *> selected;
        for (const ObjectID &id : cases)
            if (auto *item = dynamic_cast<Case *>(childContext->existingObject(id)))
                selected.append(item);
        const Summary summary = exportCasesNow(selected, folder);
        if (finished)
            runOnMainThread([finished, summary] { finished(summary); });
    });
}

} // namespace ovalis
