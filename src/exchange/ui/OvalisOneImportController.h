#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>

#include "exchange/OvalisOneImportResult.h"

class QWidget;

namespace ovalis {

class ImportVersion1View;
class ManagedObjectContext;

// The library window's two ways into the version-1 import: documents chosen
// in a file dialog, and documents found in the home folder and offered in
// the "Found Ovalis v1 Documents" window. Tells the user what a run
// imported in the window's status bar, and in an alert when a document could
// not be opened. Main thread.
class OvalisOneImportController : public QObject
{
    Q_OBJECT

public:
    // window (not owned) carries the dialogs; mainContext (not owned) receives the cases.
    OvalisOneImportController(ManagedObjectContext *mainContext, QWidget *window);

    // Whether this start should offer the import by itself: it has not been
    // offered before ("OfferedImportVersion1") and the library has no cases.
    static bool shouldOfferAtStart(ManagedObjectContext *mainContext);

    // The choice window while it is open.
    ImportVersion1View *choiceWindow() const;

    // Test seams: where the finder looks (the home folder unless set), and
    // how a failed run is told (a warning box on the window unless set).
    void setSearchRoot(const QString &root) { m_searchRoot = root; }
    void setAlertPresenter(std::function<void(const QString &text, const QString &details)> presenter)
    {
        m_alertPresenter = std::move(presenter);
    }

public slots:
    // A file dialog, as a sheet on the window, for one or more documents.
    void importOvalisOne();
    // Looks for documents in the home folder and offers those found.
    void importOvalisOneAutomatically();
    void importDocuments(const QStringList &paths);
    void showChoiceWindow(const QStringList &paths);

signals:
    void choiceWindowShown();
    void importFinished(const ovalis::OvalisOneImportResult &result);

private:
    void presentFailure(const OvalisOneImportResult &result);

    ManagedObjectContext *m_mainContext; // Not owned.
    QWidget *m_window; // Not owned.
    QPointer<ImportVersion1View> m_choiceWindow;
    QString m_searchRoot;
    std::function<void(const QString &, const QString &)> m_alertPresenter;
};

} // namespace ovalis
