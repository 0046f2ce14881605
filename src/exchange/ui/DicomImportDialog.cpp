#include "exchange/ui/DicomImportDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QColor>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QThreadPool>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "exchange/ui/JobNotice.h"
#include "media/DicomRenderer.h"
#include "store/Sex.h"
#include "util/Log.h"

namespace ovalis {

namespace {

enum Column { SeriesColumn, ModalityColumn, ImagesColumn, DateColumn, EveryNthColumn, NoteColumn };
constexpr int uidRole = Qt::UserRole;
constexpr int thumbnailSide = 64;
constexpr int maximumEveryNth = 1000;

QString dateText(const QDate &date)
{
    return date.isValid() ? QLocale().toString(date, QLocale::ShortFormat) : QString();
}

QString sexText(const QString &code)
{
    if (code == QLatin1String("M"))
        return sexString(int(Sex::male));
    if (code == QLatin1String("F"))
        return sexString(int(Sex::female));
    if (code == QLatin1String("O"))
        return sexString(int(Sex::nonbinary));
    return QString();
}

QString studyTitle(const DicomStudyInfo &study)
{
    QStringList parts;
    if (study.studyDate.isValid())
        parts << dateText(study.studyDate);
    parts << (study.studyDescription.isEmpty() ? DicomImportDialog::tr("Study without description") : study.studyDescription);
    if (!study.patientId.isEmpty())
        parts << study.patientId;
    return parts.join(QStringLiteral(" · "));
}

// The image that shows a series: its middle file at the file's own window.
QImage seriesThumbnail(const QString &path)
{
    const DicomRenderer renderer(path);
    if (!renderer.canDisplay())
        return {};
    const QImage image = renderer.render(0);
    if (image.isNull())
        return {};
    return image.scaled(thumbnailSide, thumbnailSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

} // namespace

DicomImportDialog::DicomImportDialog(ManagedObjectContext *mainContext, const ObjectID &selectedCase,
                                     const QString &selectedCaseText, QWidget *parent)
    : QDialog(parent), m_context(mainContext), m_selectedCase(selectedCase)
{
    setWindowTitle(tr("Import DICOM"));
    setAcceptDrops(true);
    resize(820, 600);

    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(tr("Add DICOM files, folders or a DICOMDIR, or drop them here. Nothing is written until "
                                "Import; the stored files are de-identified."),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("dicomSeriesTree"));
    m_tree->setHeaderLabels({tr("Study / Series"), tr("Modality"), tr("Images"), tr("Date"), tr("Every Nth"), tr("Note")});
    m_tree->setIconSize(QSize(thumbnailSide, thumbnailSide));
    m_tree->setUniformRowHeights(false);
    m_tree->header()->setSectionResizeMode(SeriesColumn, QHeaderView::Stretch);
    m_tree->header()->setStretchLastSection(false);
    for (int column = ModalityColumn; column <= NoteColumn; ++column)
        m_tree->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    connect(m_tree, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *, int column) {
        if (column == SeriesColumn) {
            updateFields();
            updateImportButton();
        }
    });
    layout->addWidget(m_tree, 1);

    auto *statusRow = new QHBoxLayout;
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("dicomScanStatus"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setWordWrap(true);
    m_progress = new QProgressBar(this);
    m_progress->setMaximumWidth(200);
    m_progress->hide();
    statusRow->addWidget(m_status, 1);
    statusRow->addWidget(m_progress);
    layout->addLayout(statusRow);

    auto *options = new QHBoxLayout;
    auto *target = new QGroupBox(tr("Where the images go"), this);
    auto *targetLayout = new QVBoxLayout(target);
    m_casePerStudy = new QRadioButton(tr("One new case per study"), target);
    m_casePerStudy->setChecked(true);
    m_selectedCaseButton = new QRadioButton(selectedCase.isNull() ? tr("Add to the selected case (none is selected)")
                                                                  : tr("Add to the selected case: %1").arg(selectedCaseText),
                                            target);
    m_selectedCaseButton->setEnabled(!selectedCase.isNull());
    connect(m_selectedCaseButton, &QRadioButton::toggled, this, &DicomImportDialog::updateFields);
    targetLayout->addWidget(m_casePerStudy);
    targetLayout->addWidget(m_selectedCaseButton);
    targetLayout->addStretch();
    options->addWidget(target);

    auto *fields = new QGroupBox(tr("Case fields from the headers"), this);
    auto *fieldsLayout = new QVBoxLayout(fields);
    for (const int field : {DicomImportChoices::PatientID, DicomImportChoices::Sex, DicomImportChoices::DateOfBirth,
                            DicomImportChoices::DateOfDiagnosis, DicomImportChoices::Summary, DicomImportChoices::Detail,
                            DicomImportChoices::Tags}) {
        auto *box = new QCheckBox(fields);
        box->setChecked(true);
        fieldsLayout->addWidget(box);
        m_fieldBoxes.append({field, box});
    }
    options->addWidget(fields, 1);
    layout->addLayout(options);

    auto *buttonRow = new QHBoxLayout;
    auto *addFilesButton = new QPushButton(tr("Add Files…"), this);
    auto *addFolderButton = new QPushButton(tr("Add Folder…"), this);
    connect(addFilesButton, &QPushButton::clicked, this, &DicomImportDialog::addFiles);
    connect(addFolderButton, &QPushButton::clicked, this, &DicomImportDialog::addFolder);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_importButton = buttons->addButton(tr("Import"), QDialogButtonBox::AcceptRole);
    m_importButton->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &DicomImportDialog::importStudies);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    buttonRow->addWidget(addFilesButton);
    buttonRow->addWidget(addFolderButton);
    buttonRow->addStretch();
    buttonRow->addWidget(buttons);
    layout->addLayout(buttonRow);

    updateFields();
    updateStatus();
    updateImportButton();
}

DicomImportDialog::~DicomImportDialog()
{
    m_closed->store(true);
}

void DicomImportDialog::addPaths(const QStringList &paths)
{
    bool added = false;
    for (const QString &path : paths)
        if (!path.isEmpty() && !m_paths.contains(path)) {
            m_paths.append(path);
            added = true;
        }
    if (!added)
        return;
    // Every path is read again, so that files given twice (a folder and a file in it) count once.
    m_scanning = true;
    const int generation = ++m_scanGeneration;
    m_progress->setRange(0, 0);
    m_progress->show();
    updateStatus();
    updateImportButton();
    const QPointer<DicomImportDialog> self(this);
    const QStringList all = m_paths;
    const std::shared_ptr<std::atomic_bool> closed = m_closed;
    QThreadPool::globalInstance()->start([self, all, closed, generation] {
        const DicomScanResult result = DicomScanner::scan(all, [self, closed, generation](int done, int total) {
            if (closed->load())
                return false;
            QMetaObject::invokeMethod(qApp, [self, done, total, generation] {
                if (self && self->m_scanGeneration == generation) {
                    self->m_progress->setRange(0, total);
                    self->m_progress->setValue(done);
                }
            });
            return true;
        });
        if (closed->load())
            return;
        QMetaObject::invokeMethod(qApp, [self, result, generation] {
            if (self && self->m_scanGeneration == generation)
                self->scanFinishedWith(result);
        });
    });
}

void DicomImportDialog::scanFinishedWith(const DicomScanResult &result)
{
    m_scan = result;
    m_scanning = false;
    m_progress->hide();
    for (const QString &unreadable : result.unreadable)
        Log::info(LogArea::Importing, QStringLiteral("DICOM file not read: ") + unreadable);
    rebuildTree();
    loadThumbnails();
    updateFields();
    updateStatus();
    updateImportButton();
    emit scanFinished();
}

void DicomImportDialog::rebuildTree()
{
    const QSignalBlocker blocker(m_tree);
    m_tree->clear();
    for (const DicomStudyInfo &study : std::as_const(m_scan.studies)) {
        auto *studyItem = new QTreeWidgetItem(m_tree);
        studyItem->setText(SeriesColumn, studyTitle(study));
        studyItem->setData(SeriesColumn, uidRole, study.studyInstanceUid);
        studyItem->setFlags(studyItem->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsAutoTristate);
        int images = 0;
        for (const DicomSeriesInfo &series : study.series) {
            auto *item = new QTreeWidgetItem(studyItem);
            const QString description = series.seriesDescription.isEmpty() ? tr("Series") : series.seriesDescription;
            item->setText(SeriesColumn, tr("%1. %2").arg(series.seriesNumber).arg(description));
            item->setData(SeriesColumn, uidRole, series.seriesInstanceUid);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(SeriesColumn, Qt::Checked);
            item->setText(ModalityColumn, series.modality);
            item->setText(ImagesColumn, QLocale().toString(series.files.size()));
            item->setText(DateColumn, dateText(series.seriesDate.isValid() ? series.seriesDate : study.studyDate));
            // Every row as tall as a thumbnail from the start, so that the
            // boxes beside them stay in place while thumbnails arrive.
            item->setSizeHint(SeriesColumn, QSize(0, thumbnailSide + 4));
            if (series.mayCarryBurnedInText()) {
                item->setText(NoteColumn, QStringLiteral("⚠ ") + tr("May carry burned-in text"));
                item->setForeground(NoteColumn, QColor(0xa0, 0x50, 0x00));
                item->setToolTip(NoteColumn, tr("The images may show the patient's name or other text in their pixels, "
                                                "which de-identification does not remove. Check them before sharing."));
            }
            if (series.files.size() > 1) {
                // Centred in the row at its own height.
                auto *cell = new QWidget(m_tree);
                auto *cellLayout = new QHBoxLayout(cell);
                cellLayout->setContentsMargins(2, 0, 2, 0);
                auto *everyNth = new QSpinBox(cell);
                everyNth->setRange(1, std::min<int>(maximumEveryNth, int(series.files.size())));
                everyNth->setPrefix(tr("1 in "));
                everyNth->setToolTip(tr("Import every Nth image of the series"));
                cellLayout->addWidget(everyNth, 0, Qt::AlignVCenter);
                m_tree->setItemWidget(item, EveryNthColumn, cell);
            }
            images += int(series.files.size());
        }
        studyItem->setText(ImagesColumn, QLocale().toString(images));
        studyItem->setExpanded(true);
    }
}

void DicomImportDialog::loadThumbnails()
{
    const QPointer<DicomImportDialog> self(this);
    const std::shared_ptr<std::atomic_bool> closed = m_closed;
    const int generation = m_scanGeneration;
    for (const DicomStudyInfo &study : std::as_const(m_scan.studies))
        for (const DicomSeriesInfo &series : study.series) {
            if (series.files.isEmpty())
                continue;
            const QString path = series.files.at(series.files.size() / 2);
            const QString uid = series.seriesInstanceUid;
            QThreadPool::globalInstance()->start([self, closed, generation, path, uid] {
                if (closed->load())
                    return;
                const QImage thumbnail = seriesThumbnail(path);
                QMetaObject::invokeMethod(qApp, [self, generation, uid, thumbnail] {
                    if (!self || self->m_scanGeneration != generation)
                        return;
                    if (QTreeWidgetItem *item = self->seriesItem(uid)) {
                        if (thumbnail.isNull())
                            item->setToolTip(SeriesColumn, tr("This series cannot be shown here; it is imported all the same."));
                        else
                            item->setIcon(SeriesColumn, QIcon(QPixmap::fromImage(thumbnail)));
                    }
                });
            });
        }
}

QTreeWidgetItem *DicomImportDialog::seriesItem(const QString &seriesUid) const
{
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *study = m_tree->topLevelItem(i);
        for (int j = 0; j < study->childCount(); ++j)
            if (study->child(j)->data(SeriesColumn, uidRole).toString() == seriesUid)
                return study->child(j);
    }
    return nullptr;
}

void DicomImportDialog::setEveryNth(const QString &seriesUid, int n)
{
    if (QTreeWidgetItem *item = seriesItem(seriesUid))
        if (QWidget *cell = m_tree->itemWidget(item, EveryNthColumn))
            if (auto *box = cell->findChild<QSpinBox *>())
                box->setValue(n);
}

QCheckBox *DicomImportDialog::fieldBox(int field) const
{
    for (const auto &[key, box] : m_fieldBoxes)
        if (key == field)
            return box;
    return nullptr;
}

void DicomImportDialog::chooseSelectedCase()
{
    if (m_selectedCaseButton->isEnabled())
        m_selectedCaseButton->setChecked(true);
}

DicomImportChoices DicomImportDialog::choices() const
{
    DicomImportChoices choices;
    if (m_selectedCaseButton->isChecked() && !m_selectedCase.isNull()) {
        choices.target = DicomImportChoices::Target::ExistingCase;
        choices.existingCase = m_selectedCase;
    }
    // Every series is named, so that none unticked is taken and an empty set never means "all".
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *study = m_tree->topLevelItem(i);
        for (int j = 0; j < study->childCount(); ++j) {
            QTreeWidgetItem *item = study->child(j);
            if (item->checkState(SeriesColumn) != Qt::Checked)
                continue;
            const QString uid = item->data(SeriesColumn, uidRole).toString();
            choices.series.insert(uid);
            QWidget *cell = m_tree->itemWidget(item, EveryNthColumn);
            if (auto *box = cell ? cell->findChild<QSpinBox *>() : nullptr; box && box->value() > 1)
                choices.everyNth.insert(uid, box->value());
        }
    }
    choices.fields = 0;
    for (const auto &[field, box] : m_fieldBoxes)
        if (box->isChecked())
            choices.fields |= field;
    return choices;
}

void DicomImportDialog::updateFields()
{
    // The values shown are those of the first study with a series ticked.
    const DicomStudyInfo *study = nullptr;
    const DicomImportChoices current = choices();
    for (const DicomStudyInfo &candidate : std::as_const(m_scan.studies)) {
        for (const DicomSeriesInfo &series : candidate.series)
            if (current.series.contains(series.seriesInstanceUid)) {
                study = &candidate;
                break;
            }
        if (study)
            break;
    }
    QStringList seriesDescriptions;
    QStringList tags;
    if (study)
        for (const DicomSeriesInfo &series : study->series) {
            if (!current.series.contains(series.seriesInstanceUid))
                continue;
            if (!series.seriesDescription.isEmpty())
                seriesDescriptions << series.seriesDescription;
            for (const QString &tag : {series.modality, series.bodyPartExamined})
                if (!tag.isEmpty() && !tags.contains(tag))
                    tags << tag;
        }
    const auto value = [study](const QString &text) { return study && !text.isEmpty() ? QStringLiteral(": ") + text : QString(); };
    for (const auto &[field, box] : m_fieldBoxes) {
        switch (field) {
        case DicomImportChoices::PatientID: box->setText(tr("Patient ID") + value(study ? study->patientId : QString())); break;
        case DicomImportChoices::Sex: box->setText(tr("Sex") + value(study ? sexText(study->sex) : QString())); break;
        case DicomImportChoices::DateOfBirth:
            box->setText(tr("Date of birth") + value(study ? dateText(study->birthDate) : QString()));
            break;
        case DicomImportChoices::DateOfDiagnosis:
            box->setText(tr("Date of diagnosis (study date)") + value(study ? dateText(study->studyDate) : QString()));
            break;
        case DicomImportChoices::Summary:
            box->setText(tr("Summary (study description)") + value(study ? study->studyDescription : QString()));
            break;
        case DicomImportChoices::Detail:
            box->setText(tr("Detail (series descriptions)") + value(seriesDescriptions.join(QStringLiteral("; "))));
            break;
        case DicomImportChoices::Tags: box->setText(tr("Tags (modality, body part)") + value(tags.join(QStringLiteral(", ")))); break;
        }
        // An existing case keeps what it has; the headers only fill its empty fields.
        box->setToolTip(m_selectedCaseButton->isChecked() ? tr("Only fills the field where the selected case has none.")
                                                          : QString());
    }
}

void DicomImportDialog::updateStatus()
{
    if (m_scanning) {
        m_status->setText(tr("Reading the DICOM headers…"));
        return;
    }
    if (m_paths.isEmpty()) {
        m_status->setText(tr("No DICOM files yet."));
        return;
    }
    int seriesCount = 0;
    for (const DicomStudyInfo &study : std::as_const(m_scan.studies))
        seriesCount += int(study.series.size());
    QString text = tr("%1, %2, %3.")
                       .arg(JobNotice::counted(int(m_scan.studies.size()), tr("study"), tr("studies")),
                            JobNotice::counted(seriesCount, tr("series"), tr("series")),
                            JobNotice::counted(m_scan.imageCount(), tr("image"), tr("images")));
    if (!m_scan.notDicom.isEmpty())
        text += QLatin1Char(' ')
                + tr("%1 passed over.").arg(JobNotice::counted(int(m_scan.notDicom.size()), tr("other file"), tr("other files")));
    if (!m_scan.unreadable.isEmpty())
        text += QLatin1Char(' ')
                + tr("%1 could not be read: %2")
                      .arg(JobNotice::counted(int(m_scan.unreadable.size()), tr("DICOM file"), tr("DICOM files")),
                           m_scan.unreadable.mid(0, 3).join(QStringLiteral("; ")));
    m_status->setText(text);
}

void DicomImportDialog::updateImportButton()
{
    m_importButton->setEnabled(!m_scanning && !choices().series.isEmpty());
}

void DicomImportDialog::addFiles()
{
    const QStringList files = QFileDialog::getOpenFileNames(this, tr("Add DICOM Files"), QString(),
                                                            tr("All files (*);;DICOM files (*.dcm DICOMDIR)"));
    addPaths(files);
}

void DicomImportDialog::addFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Add a Folder of DICOM Files"));
    if (!folder.isEmpty())
        addPaths({folder});
}

void DicomImportDialog::importStudies()
{
    const DicomImportChoices chosen = choices();
    if (m_scanning || chosen.series.isEmpty())
        return;
    Log::info(LogArea::UI, QStringLiteral("Import DICOM: %1 series").arg(chosen.series.size()));
    const QPointer<DicomImportDialog> self(this);
    const QPointer<QWidget> owner(parentWidget());
    DicomImport::importStudies(m_scan, chosen, m_context, [self, owner](const DicomImportSummary &summary) {
        QString notice = tr("Imported %1 into %2.")
                             .arg(JobNotice::counted(summary.imagesImported, tr("DICOM image"), tr("DICOM images")),
                                  JobNotice::counted(summary.casesCreated, tr("new case"), tr("new cases")));
        if (summary.duplicates > 0)
            notice += QLatin1Char(' ')
                      + tr("%1 already in the library.").arg(JobNotice::counted(summary.duplicates, tr("image was"), tr("images were")));
        if (!summary.failed.isEmpty())
            notice += QLatin1Char(' ')
                      + tr("%1 could not be imported: %2")
                            .arg(JobNotice::counted(int(summary.failed.size()), tr("file"), tr("files")),
                                 summary.failed.mid(0, 3).join(QStringLiteral("; ")));
        for (const QString &failed : summary.failed)
            Log::error(LogArea::Importing, QStringLiteral("DICOM file not imported: ") + failed);
        JobNotice::show(owner, notice);
        if (self)
            emit self->importFinished(summary);
    });
    accept();
}

void DicomImportDialog::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void DicomImportDialog::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    addPaths(paths);
    event->acceptProposedAction();
}

} // namespace ovalis
