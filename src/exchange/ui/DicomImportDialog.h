#pragma once

#include <QDialog>
#include <QPointer>
#include <atomic>
#include <memory>

#include "exchange/DicomImport.h"
#include "exchange/DicomScanner.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace ovalis {

class ManagedObjectContext;

// The review of DICOM files before anything is written: the studies found in
// the files, folders and DICOMDIRs given, with their series (thumbnail,
// modality, description, image count, date), a check box and "every Nth
// image" per series, a warning on series whose pixels may carry a name, where
// the images go (a new case per study, or the selected case) and which case
// fields the headers fill. Reading the headers runs off the UI thread; Import
// starts the import and closes the window, whose progress then shows in the
// library window.
class DicomImportDialog : public QDialog
{
    Q_OBJECT

public:
    // selectedCase: the case "Add to the selected case" adds to (none: the
    // choice is disabled), described by selectedCaseText.
    DicomImportDialog(ManagedObjectContext *mainContext, const ObjectID &selectedCase, const QString &selectedCaseText,
                      QWidget *parent = nullptr);
    ~DicomImportDialog() override;

    // Reads the headers of the paths (files, folders, DICOMDIRs) and adds
    // what they hold to the list.
    void addPaths(const QStringList &paths);
    bool isScanning() const { return m_scanning; }
    const DicomScanResult &scanResult() const { return m_scan; }
    // What Import would do with the window's choices as they stand.
    DicomImportChoices choices() const;
    // Starts with "Add to the selected case" chosen (a drop on a case).
    void chooseSelectedCase();

    // Test seams: the tree (studies, then series), the series' "every Nth"
    // boxes, the field check boxes (by DicomImportChoices::Field) and the buttons.
    QTreeWidget *seriesTree() const { return m_tree; }
    void setEveryNth(const QString &seriesUid, int n);
    QCheckBox *fieldBox(int field) const;
    QPushButton *importButton() const { return m_importButton; }
    QLabel *statusLabel() const { return m_status; }

signals:
    // After a scan's results are in the list.
    void scanFinished();
    // When the import the window started has finished (the window may be gone by then).
    void importFinished(const ovalis::DicomImportSummary &summary);

public slots:
    void addFiles();
    void addFolder();
    void importStudies();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void scanFinishedWith(const DicomScanResult &result);
    void rebuildTree();
    void loadThumbnails();
    void updateFields();
    void updateStatus();
    void updateImportButton();
    QTreeWidgetItem *seriesItem(const QString &seriesUid) const;

    ManagedObjectContext *m_context;
    ObjectID m_selectedCase;
    QStringList m_paths;
    DicomScanResult m_scan;
    bool m_scanning = false;
    // Set when the window goes, so that a scan or thumbnails still running stop early.
    std::shared_ptr<std::atomic_bool> m_closed = std::make_shared<std::atomic_bool>(false);
    int m_scanGeneration = 0;

    QTreeWidget *m_tree = nullptr;
    QLabel *m_status = nullptr;
    QProgressBar *m_progress = nullptr;
    QRadioButton *m_casePerStudy = nullptr;
    QRadioButton *m_selectedCaseButton = nullptr;
    QList<QPair<int, QCheckBox *>> m_fieldBoxes;
    QPushButton *m_importButton = nullptr;
};

} // namespace ovalis
