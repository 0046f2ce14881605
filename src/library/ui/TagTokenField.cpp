#include "library/ui/TagTokenField.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStyleOptionFrame>

namespace ovalis {

namespace {

const int innerPadding = 3;
const int chipPadding = 8;
const int horizontalSpacing = 4;
const int verticalSpacing = 3;
const int minimumTypingWidth = 48;
const int visibleCompletionRows = 8;

} // namespace

TagTokenField::TagTokenField(QWidget *parent)
    : QWidget(parent)
    , m_lineEdit(new QLineEdit(this))
    , m_completionList(new QListWidget(this))
{
    setObjectName(QStringLiteral("tagTokenField"));
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(m_lineEdit);
    setSizePolicy(QSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred, QSizePolicy::LineEdit));
    setBackgroundRole(QPalette::Base);

    m_lineEdit->setFrame(false);
    m_lineEdit->setPlaceholderText(QStringLiteral("Add tags"));
    m_lineEdit->installEventFilter(this);
    connect(m_lineEdit, &QLineEdit::textEdited, this, &TagTokenField::textEdited);
    connect(m_lineEdit, &QLineEdit::textChanged, this, &TagTokenField::relayout);

    // A window of its own that never takes the focus: the typing stays in
    // the line edit, which steers the list.
    m_completionList->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
    m_completionList->setAttribute(Qt::WA_ShowWithoutActivating);
    m_completionList->setFocusPolicy(Qt::NoFocus);
    m_completionList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_completionList->setUniformItemSizes(true);
    m_completionList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_completionList->setObjectName(QStringLiteral("tagCompletionList"));
    connect(m_completionList, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        m_completionList->setCurrentItem(item);
        commit();
    });
    relayout();
}

TagTokenField::~TagTokenField() = default;

void TagTokenField::setTokens(const QStringList &tokens)
{
    if (tokens == m_tokens)
        return;
    m_tokens = tokens;
    m_selectedToken = -1;
    relayout();
}

QString TagTokenField::text() const
{
    return m_lineEdit->text();
}

// --- Completions -------------------------------------------------------------

void TagTokenField::showCompletions(const QStringList &completions, bool selectFirst)
{
    if (completions.isEmpty() || !isEnabled()) {
        hideCompletions();
        return;
    }
    m_completionList->clear();
    const QSize rowSize(0, completionRowHeight());
    for (const QString &completion : completions) {
        auto *item = new QListWidgetItem(completion, m_completionList);
        item->setSizeHint(rowSize);
    }
    if (selectFirst)
        m_completionList->setCurrentRow(0);
    else
        m_completionList->setCurrentItem(nullptr);
    placeCompletionList();
    m_completionList->show();
}

void TagTokenField::hideCompletions()
{
    m_completionList->hide();
    m_completionList->clear();
}

bool TagTokenField::completionsVisible() const
{
    return m_completionList->isVisible();
}

QStringList TagTokenField::completions() const
{
    QStringList labels;
    for (int row = 0; row < m_completionList->count(); ++row)
        labels.append(m_completionList->item(row)->text());
    return labels;
}

int TagTokenField::selectedCompletion() const
{
    const QListWidgetItem *item = m_completionList->currentItem();
    return item && item->isSelected() ? m_completionList->row(item) : -1;
}

void TagTokenField::moveCompletionSelection(int step)
{
    const int count = m_completionList->count();
    if (count == 0)
        return;
    const int current = selectedCompletion();
    const int row = current < 0 ? (step > 0 ? 0 : count - 1) : qBound(0, current + step, count - 1);
    m_completionList->setCurrentRow(row);
}

void TagTokenField::placeCompletionList()
{
    const int rows = qMin(m_completionList->count(), visibleCompletionRows);
    const int height = rows * completionRowHeight() + 2 * m_completionList->frameWidth();
    QPoint topLeft = mapToGlobal(QPoint(0, this->height()));
    // Above the field when it would run off the bottom of the screen.
    if (const QScreen *screen = this->screen())
        if (topLeft.y() + height > screen->availableGeometry().bottom())
            topLeft = mapToGlobal(QPoint(0, -height));
    m_completionList->setGeometry(QRect(topLeft, QSize(width(), height)));
}

// --- Tokens --------------------------------------------------------------------

bool TagTokenField::commit()
{
    const int selected = completionsVisible() ? selectedCompletion() : -1;
    const QString label = selected >= 0 ? m_completionList->item(selected)->text() : m_lineEdit->text().trimmed();
    hideCompletions();
    if (label.isEmpty())
        return false;
    m_lineEdit->clear();
    addToken(label);
    return true;
}

void TagTokenField::addToken(const QString &label)
{
    if (m_tokens.contains(label))
        return;
    m_tokens.append(label);
    m_selectedToken = -1;
    relayout();
    emit tokenAdded(label);
}

void TagTokenField::removeToken(int index)
{
    if (index < 0 || index >= m_tokens.size())
        return;
    const QString label = m_tokens.takeAt(index);
    m_selectedToken = -1;
    relayout();
    emit tokenRemoved(label);
}

int TagTokenField::tokenAt(const QPoint &position) const
{
    for (int i = 0; i < m_layout.chips.size(); ++i)
        if (m_layout.chips[i].contains(position))
            return i;
    return -1;
}

QRect TagTokenField::tokenRect(int index) const
{
    return m_layout.chips.value(index);
}

// --- Keys and mouse --------------------------------------------------------------

bool TagTokenField::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_lineEdit)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress)
        return handleKey(static_cast<QKeyEvent *>(event));
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        // A chip's menu or a switch to another window leaves the editing open.
        if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason || m_completionList->underMouse()) {
            hideCompletions();
            return false;
        }
        // Leftover text becomes a token as typed, whatever the list selected.
        hideCompletions();
        commit();
        if (m_selectedToken >= 0) {
            m_selectedToken = -1;
            update();
        }
        emit editingFinished();
    }
    return false;
}

bool TagTokenField::handleKey(QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        commit();
        return true;
    case Qt::Key_Tab:
        // Tab ends the token like Return; with nothing typed it moves the focus on.
        return modifiers == Qt::NoModifier && commit();
    case Qt::Key_Backspace:
        emit backwardDeletePressed();
        if (m_selectedToken >= 0) {
            removeToken(m_selectedToken);
            return true;
        }
        if (m_lineEdit->text().isEmpty()) {
            removeToken(int(m_tokens.size()) - 1);
            return true;
        }
        return false;
    case Qt::Key_Delete:
        if (m_selectedToken >= 0) {
            removeToken(m_selectedToken);
            return true;
        }
        return false;
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (!completionsVisible())
            return false;
        moveCompletionSelection(event->key() == Qt::Key_Down ? 1 : -1);
        return true;
    case Qt::Key_Escape:
        if (!completionsVisible())
            return false;
        hideCompletions();
        return true;
    default:
        if (m_selectedToken >= 0) {
            m_selectedToken = -1;
            update();
        }
        return false;
    }
}

void TagTokenField::mousePressEvent(QMouseEvent *event)
{
    const int index = tokenAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index != m_selectedToken) {
        m_selectedToken = index;
        update();
    }
    m_lineEdit->setFocus(Qt::MouseFocusReason);
    event->accept();
}

void TagTokenField::contextMenuEvent(QContextMenuEvent *event)
{
    const int index = tokenAt(event->pos());
    if (index < 0 || !m_tokenMenuProvider) {
        event->ignore();
        return;
    }
    QMenu *menu = m_tokenMenuProvider(m_tokens[index], this);
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void TagTokenField::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        hideCompletions();
        m_selectedToken = -1;
    }
    QWidget::changeEvent(event);
}

void TagTokenField::hideEvent(QHideEvent *event)
{
    hideCompletions();
    QWidget::hideEvent(event);
}

// --- Geometry and painting ---------------------------------------------------

int TagTokenField::chipHeight() const
{
    return fontMetrics().height() + 4;
}

int TagTokenField::completionRowHeight() const
{
    return fontMetrics().height() + 8;
}

int TagTokenField::lineHeight() const
{
    return qMax(chipHeight(), m_lineEdit->sizeHint().height());
}

TagTokenField::Layout TagTokenField::layoutFor(int width) const
{
    const int margin = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this) + innerPadding;
    const int left = margin;
    const int right = qMax(width - margin, left + minimumTypingWidth);
    const int line = lineHeight();
    const int chip = chipHeight();
    const QFontMetrics metrics = fontMetrics();
    Layout layout;
    int x = left;
    int y = margin;
    for (const QString &token : m_tokens) {
        // A pixel either side, so that hinting never elides a label that fits.
        const int chipWidth = qMin(metrics.horizontalAdvance(token) + 2 * chipPadding + 2, right - left);
        if (x > left && x + chipWidth > right) {
            x = left;
            y += line + verticalSpacing;
        }
        layout.chips.append(QRect(x, y + (line - chip) / 2, chipWidth, chip));
        x += chipWidth + horizontalSpacing;
    }
    const int typingWidth = qMin(qMax(metrics.horizontalAdvance(m_lineEdit->text()) + 12, minimumTypingWidth), right - left);
    if (x > left && x + typingWidth > right) {
        x = left;
        y += line + verticalSpacing;
    }
    layout.lineEdit = QRect(x, y, right - x, line);
    layout.height = y + line + margin;
    return layout;
}

void TagTokenField::relayout()
{
    m_lineEdit->setPlaceholderText(m_tokens.isEmpty() ? QStringLiteral("Add tags") : QString());
    const int previousHeight = m_layout.height;
    m_layout = layoutFor(width());
    m_lineEdit->setGeometry(m_layout.lineEdit);
    if (m_layout.height != previousHeight)
        updateGeometry();
    update();
}

int TagTokenField::heightForWidth(int width) const
{
    return layoutFor(width).height;
}

QSize TagTokenField::sizeHint() const
{
    const int width = qMax(this->width(), 200);
    return QSize(width, heightForWidth(width));
}

QSize TagTokenField::minimumSizeHint() const
{
    return QSize(minimumTypingWidth + 20, layoutFor(minimumTypingWidth + 20).lineEdit.height());
}

void TagTokenField::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    relayout();
    if (completionsVisible())
        placeCompletionList();
}

void TagTokenField::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.rect = rect();
    frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, this);
    frame.midLineWidth = 0;
    frame.state |= QStyle::State_Sunken;
    if (m_lineEdit->hasFocus())
        frame.state |= QStyle::State_HasFocus;
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &frame, &painter, this);

    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
    const QColor accent = palette().color(group, QPalette::Highlight);
    const QFontMetrics metrics = fontMetrics();
    for (int i = 0; i < m_layout.chips.size(); ++i) {
        const QRectF chip = QRectF(m_layout.chips[i]).adjusted(0.5, 0.5, -0.5, -0.5);
        const bool selected = i == m_selectedToken;
        QColor fill = accent;
        fill.setAlphaF(selected ? 1.0f : (isEnabled() ? 0.16f : 0.08f));
        QColor border = accent;
        border.setAlphaF(isEnabled() ? 0.6f : 0.3f);
        QPainterPath path;
        path.addRoundedRect(chip, chip.height() / 2, chip.height() / 2);
        painter.fillPath(path, fill);
        painter.setPen(QPen(border, 1));
        painter.drawPath(path);
        painter.setPen(palette().color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        const QRect textRect = m_layout.chips[i].adjusted(chipPadding - 1, 0, 1 - chipPadding, 0);
        painter.drawText(textRect, Qt::AlignCenter, metrics.elidedText(m_tokens[i], Qt::ElideRight, textRect.width()));
    }
}

} // namespace ovalis
