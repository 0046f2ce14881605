#include "library/ui/LibraryWithTagsView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "library/CaseTableModel.h"
#include "library/LibraryNotifications.h"
#include "library/LibraryWithTagsViewController.h"
#include "library/TagTableModel.h"
#include "store/Tag.h"
#include "util/NotificationCenter.h"
#include "util/Settings.h"

namespace ovalis {

namespace {

const QString caseHeaderStateKey = QStringLiteral("Library_Case_Columns");
const QString splitterStateKey = QStringLiteral("Library_Tags_Split");

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
    , m_splitter(new QSplitter(Qt::Horizontal, this))
    , m_tagsTableView(makeTable(m_splitter))
    , m_casesTableView(makeTable(m_splitter))
    , m_caseCountField(new QLabel(this))
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
    m_tagsTableView->setMinimumWidth(160);

    m_casesTableView->setModel(m_controller->casesModel());
    m_casesTableView->setSelectionModel(m_controller->casesSelectionModel());
    m_casesTableView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    QHeaderView *caseHeader = m_casesTableView->horizontalHeader();
    caseHeader->setSectionsMovable(true);
    caseHeader->setStretchLastSection(false);
    caseHeader->resizeSection(CaseTableModel::PatientIDColumn, 110);
    caseHeader->resizeSection(CaseTableModel::AgeSexColumn, 80);
    caseHeader->resizeSection(CaseTableModel::SummaryColumn, 320);
    caseHeader->resizeSection(CaseTableModel::TagsColumn, 160);
    caseHeader->resizeSection(CaseTableModel::DateOfDiagnosisColumn, 110);
    caseHeader->resizeSection(CaseTableModel::DateAddedColumn, 110);
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
    m_controller->viewDidLoad(CaseTableModel::sortDescriptorsFor(sortColumn, sortOrder));
    m_casesTableView->setSortingEnabled(true);
    connect(caseHeader, &QHeaderView::sortIndicatorChanged, this, [this] { saveHeaderState(); });
    connect(caseHeader, &QHeaderView::sectionResized, this, [this] { saveHeaderState(); });
    connect(caseHeader, &QHeaderView::sectionMoved, this, [this] { saveHeaderState(); });

    m_splitter->addWidget(m_tagsTableView);
    m_splitter->addWidget(m_casesTableView);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setChildrenCollapsible(false);
    if (!m_splitter->restoreState(Settings::shared().dataValue(splitterStateKey)))
        m_splitter->setSizes({200, 700});
    connect(m_splitter, &QSplitter::splitterMoved, this,
            [this] { Settings::shared().setValue(splitterStateKey, m_splitter->saveState()); });

    m_caseCountField->setContentsMargins(8, 2, 8, 4);
    QFont countFont = m_caseCountField->font();
    countFont.setPointSizeF(countFont.pointSizeF() * 0.9);
    m_caseCountField->setFont(countFont);
    m_caseCountField->setForegroundRole(QPalette::PlaceholderText);
    m_caseCountField->setText(m_controller->caseCountText());

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_splitter, 1);
    layout->addWidget(m_caseCountField);

    connect(m_controller, &LibraryWithTagsViewController::caseCountChanged, m_caseCountField, &QLabel::setText);
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
}

LibraryWithTagsView::~LibraryWithTagsView()
{
    m_controller->viewDidDisappear();
}

void LibraryWithTagsView::setDateAddedColumnHidden(bool hidden)
{
    m_casesTableView->setColumnHidden(CaseTableModel::DateAddedColumn, hidden);
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

bool LibraryWithTagsView::eventFilter(QObject *watched, QEvent *event)
{
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
    const QModelIndex index = m_tagsTableView->indexAt(position);
    if (!index.isValid())
        return;
    m_contextTagRow = index.row();
    Tag *tag = m_controller->tagAtRow(index.row());
    if (!tag)
        return;
    QMenu menu(this);
    menu.addAction(tag->active() ? QStringLiteral("Stop Filtering by “%1”").arg(tag->label())
                                 : QStringLiteral("Filter by “%1”").arg(tag->label()),
                   this, &LibraryWithTagsView::toggleTagFiltering);
    menu.exec(m_tagsTableView->viewport()->mapToGlobal(position));
    m_contextTagRow = -1;
}

void LibraryWithTagsView::showCasesMenu(const QPoint &position)
{
    QMenu menu(this);
    QAction *show = menu.addAction(QStringLiteral("Show Media"), this, &LibraryWithTagsView::showMediaRequested);
    show->setEnabled(m_casesTableView->selectionModel()->selectedRows().size() == 1);
    menu.addSeparator();
    QAction *filter = menu.addAction(QStringLiteral("Filter Tags to Selection"), this,
                                     &LibraryWithTagsView::filterTagsToSelection);
    filter->setEnabled(m_casesTableView->selectionModel()->hasSelection());
    menu.exec(m_casesTableView->viewport()->mapToGlobal(position));
}

void LibraryWithTagsView::saveHeaderState() const
{
    Settings::shared().setValue(caseHeaderStateKey, m_casesTableView->horizontalHeader()->saveState());
}

} // namespace ovalis
