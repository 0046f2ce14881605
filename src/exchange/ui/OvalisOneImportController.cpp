#include "exchange/ui/OvalisOneImportController.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QUrl>

#include "exchange/ImportVersion1ViewModel.h"
#include "exchange/OvalisOneFinder.h"
#include "exchange/OvalisOneImporter.h"
#include "exchange/ui/ImportVersion1View.h"
#include "exchange/ui/JobNotice.h"
#include "store/Case.h"
#include "store/ManagedObjectContext.h"
#include "util/Log.h"
#include "util/Settings.h"

namespace ovalis {

namespace {

// “Teaching.ovalis” for one document, "3 documents" for more.
QString documentsText(const QStringList &paths)
{
    if (paths.size() == 1)
        return QStringLiteral("“%1”").arg(QFileInfo(paths.first()).fileName());
    return JobNotice::counted(int(paths.size()), OvalisOneImportController::tr("document"),
                              OvalisOneImportController::tr("documents"));
}

// What a run that went through did: "Imported 41 cases with 1,204 media
// files from “Teaching.ovalis”.", and the documents it could read nothing from.
QString finishedNotice(const OvalisOneImportResult &result)
{
    QString notice;
    if (!result.importedDocuments.isEmpty())
        notice = OvalisOneImportController::tr("Imported %1 with %2 from %3.")
                     .arg(JobNotice::counted(result.cases, OvalisOneImportController::tr("case"),
                                             OvalisOneImportController::tr("cases")),
                          JobNotice::counted(result.media, OvalisOneImportController::tr("media file"),
                                             OvalisOneImportController::tr("media files")),
                          documentsText(result.importedDocuments));
    if (!result.skippedDocuments.isEmpty()) {
        if (!notice.isEmpty())
            notice += QLatin1Char(' ');
        notice += OvalisOneImportController::tr("No case could be read from %1.").arg(documentsText(result.skippedDocuments));
    }
    return notice.isEmpty() ? OvalisOneImportController::tr("Nothing was imported.") : notice;
}

} // namespace

OvalisOneImportController::OvalisOneImportController(ManagedObjectContext *mainContext, QWidget *window)
    : QObject(window)
    , m_mainContext(mainContext)
    , m_window(window)
{
}

ImportVersion1View *OvalisOneImportController::choiceWindow() const
{
    return m_choiceWindow;
}

bool OvalisOneImportController::shouldOfferAtStart(ManagedObjectContext *mainContext)
{
    return !Settings::shared().boolValue(ImportVersion1ViewModel::offeredKey)
           && mainContext->countOfObjects(Case::entityName()) == 0;
}

void OvalisOneImportController::importOvalisOne()
{
    Log::info(LogArea::Importing, QStringLiteral("Import from Ovalis v1?"));
    auto *dialog = new QFileDialog(m_window, QStringLiteral("Import Ovalis v1 Documents"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilter(QStringLiteral("Ovalis v1 documents (*.ovalis)"));
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Import"));
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QFileDialog::filesSelected, this, &OvalisOneImportController::importDocuments);
    dialog->open();
}

void OvalisOneImportController::importOvalisOneAutomatically()
{
    const QPointer<OvalisOneImportController> guard(this);
    OvalisOneFinder::shared().find(
        QStringLiteral("ovalis"),
        [guard](const QStringList &paths) {
            Log::info(LogArea::Importing, QStringLiteral("Found %1").arg(paths.size()));
            if (paths.isEmpty())
                return;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, paths] {
                    if (guard)
                        guard->showChoiceWindow(paths);
                },
                Qt::QueuedConnection);
        },
        m_searchRoot);
}

void OvalisOneImportController::showChoiceWindow(const QStringList &paths)
{
    // A newer search replaces the window of an earlier one.
    if (m_choiceWindow)
        m_choiceWindow->done(QDialog::Rejected);
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    auto *model = new ImportVersion1ViewModel(ImportVersion1ViewModel::importableURLs(urls));
    const QPointer<OvalisOneImportController> guard(this);
    model->setImporter([guard](const QList<QUrl> &chosen) {
        QStringList chosenPaths;
        for (const QUrl &url : chosen)
            chosenPaths.append(url.toLocalFile());
        if (guard)
            guard->importDocuments(chosenPaths);
    });
    m_choiceWindow = new ImportVersion1View(model, m_window);
    m_choiceWindow->show();
    m_choiceWindow->raise();
    emit choiceWindowShown();
}

void OvalisOneImportController::importDocuments(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    const QPointer<OvalisOneImportController> guard(this);
    OvalisOneImporter::importDocuments(m_mainContext, paths, [guard](const OvalisOneImportResult &result) {
        if (!guard)
            return;
        if (result.succeeded())
            JobNotice::show(guard->m_window, finishedNotice(result));
        else
            guard->presentFailure(result);
        emit guard->importFinished(result);
    });
}

void OvalisOneImportController::presentFailure(const OvalisOneImportResult &result)
{
    if (m_alertPresenter) {
        m_alertPresenter(result.failureMessage(), result.failureDetails());
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Import Stopped"), result.failureMessage(), QMessageBox::Ok, m_window);
    box->setInformativeText(result.failureDetails());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

} // namespace ovalis
