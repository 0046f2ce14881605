#include "library/ui/LibraryWithTagsView.h"

#include <QDropEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "exchange/ui/JobNotice.h"
#include "library/CaseListDragAndDrop.h"
#include "library/CaseTableModel.h"
#include "library/LibraryWithTagsViewController.h"
#include "library/TagTableModel.h"
#include "library/ValueTransformer.h"
#include "library/ui/CaseColumnFitter.h"
#include "library/ui/RenameTagViewController.h"
#include "library/ui/YieldingSplitter.h"
#include "media/ui/CaseDragMenuController.h"
#include "store/Case.h"
#include "store/LibraryNotifications.h"
#include "store/Tag.h"
#include "util/NotificationCenter.h"
#include "util/Settings.h"

namespace ovalis {

namespace {

const QString caseHeaderStateKey = QStringLiteral("Library_Case_Columns");
const QString tagListWidthKey = QStringLiteral("Library_Tag_List_Width");
// At the default window width the case list has this much and the tag list
// the rest, up to its own width.
constexpr int caseListWidth = 780;
constexpr int tagListWidth = 190;
constexpr int tagListMinimumWidth = 160;

// Newest cases first until the user picks a column.
const int initialSortColumn = CaseTableModel::DateAddedColumn;
const Qt::SortOrder initialSortOrder = Qt::DescendingOrder;

QTableView *makeTable(QWidget *parent)
{
    auto *table = new QTableView(parent);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setAlternatingRowColors(true);
    table->setShowGrid(false);
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideRight);
    table->verticalHeader()->hide();
    // Every row has the same height: the view never measures 100,000 rows.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 8);
    table->horizontalHeader()->setHighlightSections(false);
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    return table;
}

} // namespace

LibraryWithTagsView::LibraryWithTagsView(ManagedObjectContext *context, QWidget *parent)
    : QWidget(parent)
    , m_controller(new LibraryWithTagsViewController(context, this))
    , m_splitter(new YieldingSplitter(0, this))
    , m_tagsTableView(makeTable(m_splitter))
    , m_casesTableView(makeTable(m_splitter))
    , m_caseCountField(new QLabel(this))
    , m_emptyLibraryHint(new QLabel(m_casesTableView->viewport()))
{
    setObjectName(QStringLiteral("libraryView"));
    m_tagsTableView->setObjectName(QStringLiteral("tagsTableView"));
    m_casesTableView->setObjectName(QStringLiteral("casesTableView"));
    m_caseCountField->setObjectName(QStringLiteral("caseCountField"));

    m_tagsTableView->setModel(m_controller->tagsModel());
    m_tagsTableView->setSelectionModel(m_controller->tagsSelectionModel());
    m_tagsTableView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tagsTableView->horizontalHeader()->setSectionResizeMode(TagTableModel::LabelColumn, QHeaderView::Stretch);
    m_tagsTableView->horizontalHeader()->setSectionResizeMode(TagTableModel::CountColumn, QHeaderView::ResizeToContents);
    // Fitted to the rows on screen: measuring all of them on every count change costs a search keystroke its frame.
    m_tagsTableView->horizontalHeader()->setResizeContentsPrecision(0);
    m_tagsTableView->setMinimumWidth(tagListMinimumWidth);

    m_casesTableView->setModel(m_controller->casesModel());
    m_casesTableView->setSelectionModel(m_controller->casesSelectionModel());
    m_casesTableView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    QHeaderView *caseHeader = m_casesTableView->horizontalHeader();
    caseHeader->setSectionsMovable(true);
    caseHeader->setStretchLastSection(false);
    // The case list starts in the order the user last chose, else newest first;
    // the lists are fetched once, already in that order.
    int sortColumn = initialSortColumn;
    Qt::SortOrder sortOrder = initialSortOrder;
    const QByteArray savedHeader = Settings::shared().dataValue(caseHeaderStateKey);
    if (!savedHeader.isEmpty() && caseHeader->restoreState(savedHeader)
        && !CaseTableModel::sortKeyForColumn(caseHeader->sortIndicatorSection()).isEmpty()) {
        sortColumn = caseHeader->sortIndicatorSection();
        sortOrder = caseHeader->sortIndicatorOrder();
    }
    caseHeader->setSortIndicator(sortColumn, sortOrder);
    // The widths follow the list's width and texts (after the saved order of
    // the columns is back).
    m_caseColumnFitter = new CaseColumnFitter(m_casesTableView);
    m_controller->viewDidLoad(CaseTableModel::sortDescriptorsFor(sortColumn, sortOrder));
    m_casesTableView->setSortingEnabled(true);
    connect(caseHeader, &QHeaderView::sortIndicatorChanged, this, [this] { saveHeaderState(); });
    // Widths are not saved on their own: they follow the list's width and texts.
    connect(caseHeader, &QHeaderView::sectionMoved, this, [this] { saveHeaderState(); });

    // The tag list gives way to the case list as the window narrows.
    m_splitter->addWidget(m_tagsTableView);
    m_splitter->addWidget(m_casesTableView);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setChildrenCollapsible(false);
    const int savedTagListWidth = Settings::shared().value(tagListWidthKey).toInt();
    m_splitter->setPreferredWidths(caseListWidth, savedTagListWidth >= tagListMinimumWidth ? savedTagListWidth : tagListWidth);
    connect(m_splitter, &YieldingSplitter::preferredWidthsChanged, this,
            [this] { Settings::shared().setValue(tagListWidthKey, m_splitter->preferredSideWidth()); });

    m_caseCountField->setContentsMargins(8, 2, 8, 4);
    QFont countFont = m_caseCountField->font();
    countFont.setPointSizeF(countFont.pointSizeF() * 0.9);
    m_caseCountField->setFont(countFont);
    // Dimmed, yet readable on the window.
    QPalette countPalette = m_caseCountField->palette();
    countPalette.setColor(QPalette::WindowText, ValueTransformer::secondaryLabelColor());
    m_caseCountField->setPalette(countPalette);
    m_caseCountField->setText(m_controller->caseCountText());

    m_emptyLibraryHint->setObjectName(QStringLiteral("emptyLibraryHint"));
    m_emptyLibraryHint->setTextFormat(Qt::PlainText);
    m_emptyLibraryHint->setText(tr("Your library has no cases yet.\n\n"
                                   "Add one with File ▸ New Case (Ctrl+N) or the + button below.\n"
                                   "Bring cases in with File ▸ Import from Folder…, File ▸ Import Ovalis v1 Documents…,\n"
                                   "File ▸ Restore Library… or File ▸ Restore from Backup…"));
    m_emptyLibraryHint->setAlignment(Qt::AlignCenter);
    m_emptyLibraryHint->setWordWrap(true);
    m_emptyLibraryHint->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *hintLayout = new QVBoxLayout(m_casesTableView->viewport());
    hintLayout->setContentsMargins(24, 24, 24, 24);
    hintLayout->addWidget(m_emptyLibraryHint, 0, Qt::AlignCenter);
    updateEmptyLibraryHint();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_splitter, 1);
    layout->addWidget(makeCaseButtons());

    connect(m_controller, &LibraryWithTagsViewController::caseCountChanged, m_caseCountField, &QLabel::setText);
    connect(m_controller, &LibraryWithTagsViewController::caseCountChanged, this, &LibraryWithTagsView::updateEmptyLibraryHint);
    connect(m_controller, &LibraryWithTagsViewController::scrollToCaseRowRequested, this, [this](int row) {
        const QModelIndex index = m_controller->casesModel()->index(row, 0);
        if (index.isValid())
            m_casesTableView->scrollTo(index);
    });

    connect(m_tagsTableView, &QTableView::doubleClicked, this,
            [this](const QModelIndex &index) { m_controller->toggleTagActivity(index.row()); });
    m_tagsTableView->installEventFilter(this);
    m_casesTableView->installEventFilter(this);
    connect(m_casesTableView, &QTableView::doubleClicked, this, &LibraryWithTagsView::showMediaRequested);
    connect(m_tagsTableView, &QWidget::customContextMenuRequested, this, &LibraryWithTagsView::showTagsMenu);
    connect(m_casesTableView, &QWidget::customContextMenuRequested, this, &LibraryWithTagsView::showCasesMenu);

    // Case rows leave as case drags; the case list takes DOIs, files and
    // one case, the tag list takes cases. The two viewports' drag events are
    // handled in eventFilter.
    m_casesTableView->setDragEnabled(true);
    m_casesTableView->setDragDropMode(QAbstractItemView::DragDrop);
    m_casesTableView->setDefaultDropAction(Qt::CopyAction);
    m_casesTableView->viewport()->installEventFilter(this);
    m_tagsTableView->setAcceptDrops(true);
    m_tagsTableView->viewport()->installEventFilter(this);
    connect(m_controller, &LibraryWithTagsViewController::caseDroppedOnCase, this,
            [this](Case *source, Case *target, int targetRow) {
                // The menu for the two cases opens once the drop is over.
                const QPoint anchor = m_casesTableView->viewport()->mapToGlobal(caseRowAnchor(targetRow).bottomLeft());
                QMetaObject::invokeMethod(
                    this, [this, source, target, anchor] { emit caseDroppedOnCase(source, target, anchor); }, Qt::QueuedConnection);
            });
    m_caseDragMenuController = new CaseDragMenuController(this);
    connect(this, &LibraryWithTagsView::caseDroppedOnCase, this, [this](Case *source, Case *target, const QPoint &position) {
        m_caseDragMenuController->showMenu(source, target, m_casesTableView, position);
    });

    m_controller->setRemoveCasesConfirmation([this](const LibraryWithTagsViewController::Alert &alert) {
        QMessageBox box(QMessageBox::Warning, QString(), alert.messageText, QMessageBox::NoButton, this);
        box.setInformativeText(alert.informativeText);
        QList<QPushButton *> buttons;
        for (qsizetype i = 0; i < alert.buttonTitles.size(); ++i)
            buttons.append(box.addButton(alert.buttonTitles[i], i == 0 ? QMessageBox::DestructiveRole : QMessageBox::RejectRole));
        if (buttons.size() > 1) {
            box.setDefaultButton(buttons[1]);
            box.setEscapeButton(buttons[1]);
        }
        box.exec();
        return int(buttons.indexOf(qobject_cast<QPushButton *>(box.clickedButton())));
    });
}

void LibraryWithTagsView::updateEmptyLibraryHint()
{
    m_emptyLibraryHint->setVisible(m_controller->libraryIsEmpty());
}

QWidget *LibraryWithTagsView::makeCaseButtons()
{
    auto *bar = new QWidget(this);
    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(4, 0, 0, 0);
    layout->setSpacing(0);
    const auto makeButton = [bar](const QString &name, const QString &text, const QString &toolTip) {
        auto *button = new QToolButton(bar);
        button->setObjectName(name);
        button->setText(text);
        button->setToolTip(toolTip);
        button->setAutoRaise(true);
        return button;
    };
    m_addButton = makeButton(QStringLiteral("addButton"), QStringLiteral("+"), tr("New Case"));
    m_removeButton = makeButton(QStringLiteral("removeButton"), QStringLiteral("−"), tr("Delete the selected cases"));
    connect(m_addButton, &QToolButton::clicked, m_controller, &LibraryWithTagsViewController::addCase);
    connect(m_removeButton, &QToolButton::clicked, m_controller, &LibraryWithTagsViewController::removeCases);
    m_removeButton->setEnabled(m_controller->hasSelectedCases());
    connect(m_controller->casesSelectionModel(), &QItemSelectionModel::selectionChanged, m_removeButton,
            [this] { m_removeButton->setEnabled(m_controller->hasSelectedCases()); });
    layout->addWidget(m_addButton);
    layout->addWidget(m_removeButton);
    layout->addWidget(m_caseCountField, 1);
    return bar;
}

RenameTagViewController *LibraryWithTagsView::renameTagPopover() const
{
    return m_renameTagPopover;
}

QRect LibraryWithTagsView::caseRowAnchor(int row) const
{
    const QHeaderView *header = m_casesTableView->horizontalHeader();
    for (int visual = 0; visual < header->count(); ++visual) {
        const int column = header->logicalIndex(visual);
        if (!header->isSectionHidden(column))
            return m_casesTableView->visualRect(m_controller->casesModel()->index(row, column));
    }
    return QRect();
}

LibraryWithTagsView::~LibraryWithTagsView()
{
    m_controller->viewDidDisappear();
}

void LibraryWithTagsView::setDateAddedColumnHidden(bool hidden)
{
    m_casesTableView->setColumnHidden(CaseTableModel::DateAddedColumn, hidden);
    m_caseColumnFitter->scheduleFit();
}

void LibraryWithTagsView::toggleTagFiltering()
{
    if (m_contextTagRow >= 0)
        m_controller->toggleTagFiltering(m_contextTagRow);
}

void LibraryWithTagsView::filterTagsToSelection()
{
    m_controller->filterTagsToSelection();
}

void LibraryWithTagsView::renameTag()
{
    renameTagAtRow(m_contextTagRow);
}

void LibraryWithTagsView::deleteTag()
{
    m_controller->deleteTag(m_contextTagRow);
}

void LibraryWithTagsView::renameTagAtRow(int row)
{
    Tag *tag = m_controller->tagToRename(row);
    if (!tag)
        return;
    if (m_renameTagPopover)
        m_renameTagPopover->close();
    m_renameTagPopover = new RenameTagViewController(
        tag->label(), [this, tag](const QString &name) { return m_controller->renameTag(tag, name); }, this);
    QWidget *viewport = m_tagsTableView->viewport();
    const QRect rowRect(0, m_tagsTableView->rowViewportPosition(row), viewport->width(), m_tagsTableView->rowHeight(row));
    m_renameTagPopover->showBeside(QRect(viewport->mapToGlobal(rowRect.topLeft()), rowRect.size()));
}

bool LibraryWithTagsView::handleDragEvent(QTableView *table, QEvent *event)
{
    using DropOperation = CaseListDragAndDrop::DropOperation;
    using DropPosition = CaseListDragAndDrop::DropPosition;
    auto *drop = static_cast<QDropEvent *>(event); // also the base of the enter and move events
    const QMimeData *data = drop->mimeData();
    const bool onTags = table == m_tagsTableView;
    const auto validate = [&](DropPosition position) {
        return onTags ? CaseListDragAndDrop::validateTagListDrop(data, position)
                      : CaseListDragAndDrop::validateCaseListDrop(data, position);
    };
    const int y = drop->position().toPoint().y();
    const int row = table->rowAt(y);
    const DropPosition position = row < 0 ? DropPosition::OutsideRows
                                          : CaseListDragAndDrop::positionInRow(y, table->rowViewportPosition(row), table->rowHeight(row));
    // Entering, only the kind of data counts: the position is checked as the drag moves.
    const DropOperation operation = validate(event->type() == QEvent::DragEnter ? DropPosition::OnRow : position);
    if (operation == DropOperation::None) {
        drop->ignore();
        return true;
    }
    Qt::DropAction action = drop->proposedAction();
    const Qt::DropAction wanted = operation == DropOperation::Copy ? Qt::CopyAction
                                  : operation == DropOperation::Link ? Qt::LinkAction
                                                                     : action;
    if (drop->possibleActions().testFlag(wanted))
        action = wanted;
    if (event->type() == QEvent::Drop) {
        const bool accepted = onTags ? m_controller->acceptTagsDrop(data, row)
                                     : m_controller->acceptCasesDrop(data, row, drop->modifiers().testFlag(Qt::AltModifier));
        if (!accepted) {
            drop->ignore();
            return true;
        }
    }
    drop->setDropAction(action);
    drop->accept();
    return true;
}

bool LibraryWithTagsView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove || event->type() == QEvent::Drop) {
        if (watched == m_casesTableView->viewport())
            return handleDragEvent(m_casesTableView, event);
        if (watched == m_tagsTableView->viewport())
            return handleDragEvent(m_tagsTableView, event);
    }
    // Return in the tag list switches the selected tag, like a double-click.
    if (watched == m_tagsTableView && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            const QModelIndexList rows = m_tagsTableView->selectionModel()->selectedRows();
            if (!rows.isEmpty())
                m_controller->toggleTagActivity(rows.first().row());
            return true;
        }
    }
    // Return in the case list opens the selected case's media.
    if (watched == m_casesTableView && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && key->modifiers() == Qt::NoModifier) {
            NotificationCenter::defaultCenter().post(LibraryNotifications::showMedia);
            return true;
        }
        // Delete and Backspace ask to delete the selected cases.
        if ((key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace) && key->modifiers() == Qt::NoModifier) {
            m_controller->removeCases();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void LibraryWithTagsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_controller->viewWillAppear();
}

void LibraryWithTagsView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_controller->viewDidDisappear();
}

void LibraryWithTagsView::showTagsMenu(const QPoint &position)
{
    // The tag commands act on the row under the mouse (-1 when none).
    const QModelIndex index = m_tagsTableView->indexAt(position);
    m_contextTagRow = index.isValid() ? index.row() : -1;
    const Tag *tag = m_controller->tagsModel()->tagAtRow(m_contextTagRow);
    QMenu menu(this);
    if (tag) {
        menu.addAction(tag->active() ? tr("Stop Filtering by “%1”").arg(tag->label()) : tr("Filter by “%1”").arg(tag->label()),
                       this, &LibraryWithTagsView::toggleTagFiltering);
        menu.addSeparator();
        menu.addAction(tr("Rename Tag…"), this, &LibraryWithTagsView::renameTag);
        menu.addAction(tr("Delete Tag"), this, &LibraryWithTagsView::deleteTag);
        menu.addSeparator();
    }
    menu.addAction(tr("Delete Unused Tags"), m_controller, &LibraryWithTagsViewController::deleteUnusedTags);
    menu.exec(m_tagsTableView->viewport()->mapToGlobal(position));
    m_contextTagRow = -1;
}

void LibraryWithTagsView::showCasesMenu(const QPoint &position)
{
    const bool selection = m_controller->hasSelectedCases();
    QMenu menu(this);
    QAction *show = menu.addAction(tr("Show Media"), this, &LibraryWithTagsView::showMediaRequested);
    show->setEnabled(m_casesTableView->selectionModel()->selectedRows().size() == 1);
    menu.addSeparator();
    menu.addAction(tr("New Case"), m_controller, &LibraryWithTagsViewController::addCase);
    menu.addAction(tr("Delete Cases…"), m_controller, &LibraryWithTagsViewController::removeCases)->setEnabled(selection);
    menu.addSeparator();
    menu.addAction(tr("Copy Patient Identifiers"), m_controller, &LibraryWithTagsViewController::copy)->setEnabled(selection);
    menu.addAction(tr("Copy Case Lines"), m_controller, &LibraryWithTagsViewController::copyAlternate);
    menu.addSeparator();
    menu.addAction(tr("Filter Tags to Selection"), this, &LibraryWithTagsView::filterTagsToSelection)->setEnabled(selection);
    menu.addAction(tr("Delete Media Files"), m_controller, &LibraryWithTagsViewController::deleteMediaFiles)->setEnabled(selection);
    menu.addAction(tr("Export Media…"), this, &LibraryWithTagsView::exportMedia)->setEnabled(selection);
    menu.addAction(tr("Export for Teaching…"), this, &LibraryWithTagsView::exportForTeaching)->setEnabled(selection);
    menu.exec(m_casesTableView->viewport()->mapToGlobal(position));
}

QString LibraryWithTagsView::chooseExportFolder()
{
    if (!m_controller->hasSelectedCases())
        return QString();
    if (m_exportFolderChooser)
        return m_exportFolderChooser();
    QFileDialog panel(window());
    panel.setWindowModality(Qt::WindowModal);
    panel.setFileMode(QFileDialog::Directory);
    panel.setOption(QFileDialog::ShowDirsOnly);
    panel.setLabelText(QFileDialog::Accept, tr("Export"));
    if (panel.exec() == QDialog::Accepted && !panel.selectedFiles().isEmpty())
        return panel.selectedFiles().first();
    return QString();
}

void LibraryWithTagsView::showExportProblems(const QString &message, const QStringList &problems)
{
    // The first few problems name the files; the rest are counted.
    constexpr qsizetype listed = 5;
    QStringList details = problems.mid(0, listed);
    if (problems.size() > listed)
        details << tr("… and %n more.", nullptr, int(problems.size() - listed));
    if (m_alertPresenter) {
        m_alertPresenter(message, details.join(QLatin1Char('\n')));
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Warning, QString(), message, QMessageBox::Ok, window());
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(details.join(QLatin1Char('\n')));
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void LibraryWithTagsView::exportMedia()
{
    const QString folder = chooseExportFolder();
    if (folder.isEmpty())
        return;
    QPointer<LibraryWithTagsView> self(this);
    m_controller->exportMedia(QUrl::fromLocalFile(folder), [self, folder](const JSONImporter::MediaExportSummary &summary) {
        if (!self)
            return;
        if (summary.failures.isEmpty()) {
            QString notice = tr("Exported %1 of %2 to “%3”.")
                                 .arg(JobNotice::counted(summary.filesCopied, tr("media file"), tr("media files")),
                                      JobNotice::counted(summary.casesExported, tr("case"), tr("cases")),
                                      QFileInfo(folder).fileName());
            if (summary.casesWithoutFiles > 0)
                notice += QLatin1Char(' ')
                          + tr("%1 had no media files in the library.")
                                .arg(JobNotice::counted(summary.casesWithoutFiles, tr("case"), tr("cases")));
            JobNotice::show(self, notice);
            return;
        }
        self->showExportProblems(tr("Some media could not be exported to “%1”.").arg(QFileInfo(folder).fileName()),
                                 summary.failures);
    });
}

void LibraryWithTagsView::exportForTeaching()
{
    const QString folder = chooseExportFolder();
    if (folder.isEmpty())
        return;
    QPointer<LibraryWithTagsView> self(this);
    m_controller->exportForTeaching(folder, [self, folder](const TeachingExport::Summary &summary) {
        if (!self)
            return;
        QString notice = tr("Exported %1 of %2 for teaching to “%3”.")
                             .arg(JobNotice::counted(summary.dicomFiles, tr("DICOM file"), tr("DICOM files")),
                                  JobNotice::counted(summary.casesExported, tr("case"), tr("cases")),
                                  QFileInfo(folder).fileName());
        if (summary.casesWithoutDicom > 0)
            notice += QLatin1Char(' ')
                      + tr("%1 had no DICOM files.").arg(JobNotice::counted(summary.casesWithoutDicom, tr("case"), tr("cases")));
        if (summary.refused.isEmpty() && summary.failures.isEmpty()) {
            JobNotice::show(self, notice);
            return;
        }
        QStringList problems;
        for (const QString &refused : summary.refused)
            problems.append(tr("Refused: %1").arg(refused));
        problems += summary.failures;
        self->showExportProblems(notice + QLatin1Char(' ') + tr("Some files were refused or could not be written."), problems);
    });
}

void LibraryWithTagsView::saveHeaderState() const
{
    Settings::shared().setValue(caseHeaderStateKey, m_casesTableView->horizontalHeader()->saveState());
}

} // namespace ovalis
