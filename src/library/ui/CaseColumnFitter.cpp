#include "library/ui/CaseColumnFitter.h"

#include <QEvent>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>

#include "library/CaseTableModel.h"

namespace ovalis {

namespace {

// Rows measured beyond those on screen.
constexpr int measuredRowsAround = 200;
// After scrolling, the columns are fitted once the list stands still.
constexpr int scrollSettleMilliseconds = 200;
// While the list changes again and again (an import growing it), it is fitted
// at most this often: each fit measures a few hundred rows' texts.
constexpr qint64 burstFitMilliseconds = 500;

} // namespace

CaseColumnFitter::CaseColumnFitter(QTableView *table)
    : QObject(table)
    , m_table(table)
{
    m_fitTimer.setSingleShot(true);
    connect(&m_fitTimer, &QTimer::timeout, this, &CaseColumnFitter::fitColumns);
    QHeaderView *header = m_table->horizontalHeader();
    header->setResizeContentsPrecision(measuredRowsAround);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(CaseTableModel::SummaryColumn, QHeaderView::Stretch);

    m_table->installEventFilter(this);
    m_table->viewport()->installEventFilter(this);
    QAbstractItemModel *model = m_table->model();
    connect(model, &QAbstractItemModel::modelReset, this, &CaseColumnFitter::scheduleFit);
    connect(model, &QAbstractItemModel::layoutChanged, this, &CaseColumnFitter::scheduleFit);
    connect(model, &QAbstractItemModel::rowsInserted, this, &CaseColumnFitter::scheduleFit);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &CaseColumnFitter::scheduleFit);
    connect(model, &QAbstractItemModel::dataChanged, this, &CaseColumnFitter::scheduleFit);
    connect(m_table->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { m_fitTimer.start(scrollSettleMilliseconds); });
}

int CaseColumnFitter::summaryMinimumWidth() const
{
    return m_table->fontMetrics().averageCharWidth() * 36;
}

int CaseColumnFitter::contentWidth(int column) const
{
    // The table view's own measure, through the public interface of views.
    const QAbstractItemView *view = m_table;
    return qMax(view->sizeHintForColumn(column), m_table->horizontalHeader()->sectionSizeHint(column));
}

void CaseColumnFitter::scheduleFit()
{
    if (m_fitTimer.isActive())
        return;
    const qint64 sinceLastFit = m_lastFit.isValid() ? m_lastFit.elapsed() : burstFitMilliseconds;
    m_fitTimer.start(int(qMax<qint64>(0, burstFitMilliseconds - sinceLastFit)));
}

void CaseColumnFitter::fitColumns()
{
    m_fitTimer.stop();
    m_lastFit.start();
    if (!m_table->isVisible())
        return;
    QHeaderView *header = m_table->horizontalHeader();
    const auto fit = [header](int column, int width) {
        if (header->sectionSize(column) != width)
            header->resizeSection(column, width);
    };
    int used = 0;
    for (const int column : {CaseTableModel::PatientIDColumn, CaseTableModel::AgeSexColumn, CaseTableModel::DateOfDiagnosisColumn,
                             CaseTableModel::DateAddedColumn}) {
        if (header->isSectionHidden(column))
            continue;
        const int width = contentWidth(column);
        fit(column, width);
        used += width;
    }
    if (!header->isSectionHidden(CaseTableModel::TagsColumn)) {
        const int tagsMinimum = qMax(header->sectionSizeHint(CaseTableModel::TagsColumn), m_table->fontMetrics().averageCharWidth() * 10);
        const int room = m_table->viewport()->width() - used - summaryMinimumWidth();
        const int width = qMin(contentWidth(CaseTableModel::TagsColumn), qMax(tagsMinimum, room));
        fit(CaseTableModel::TagsColumn, width);
        used += width;
    }
    // Too narrow for every column: the summary stays readable and the list
    // scrolls sideways to the rest.
    const bool stretch = m_table->viewport()->width() - used >= summaryMinimumWidth();
    const QHeaderView::ResizeMode mode = stretch ? QHeaderView::Stretch : QHeaderView::Interactive;
    if (header->sectionResizeMode(CaseTableModel::SummaryColumn) != mode)
        header->setSectionResizeMode(CaseTableModel::SummaryColumn, mode);
    if (!stretch)
        fit(CaseTableModel::SummaryColumn, summaryMinimumWidth());
}

bool CaseColumnFitter::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == m_table && event->type() == QEvent::Show) || (watched == m_table->viewport() && event->type() == QEvent::Resize))
        scheduleFit();
    return QObject::eventFilter(watched, event);
}

} // namespace ovalis
