#include "library/ui/OptionalDateEdit.h"

#include <QCalendarWidget>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QStyle>
#include <QToolButton>
#include <QWidgetAction>
#include <utility>

#include "library/TypedDate.h"
#include "library/ValueTransformer.h"
#include "util/ThemeIcon.h"

namespace ovalis {

namespace {

QColor mixed(const QColor &a, const QColor &b, double share)
{
    return QColor::fromRgbF(float(a.redF() * (1 - share) + b.redF() * share), float(a.greenF() * (1 - share) + b.greenF() * share),
                            float(a.blueF() * (1 - share) + b.blueF() * share));
}

QString refusalText()
{
    return QStringLiteral("Not a date. Type it as %1.").arg(TypedDate::examples().join(QStringLiteral(", or ")));
}

} // namespace

QString OptionalDateEdit::fullYearDateFormat()
{
    return TypedDate::displayFormat();
}

OptionalDateEdit::OptionalDateEdit(QWidget *parent)
    : QWidget(parent)
    , m_lineEdit(new QLineEdit(this))
    , m_calendarButton(new QToolButton(this))
    , m_calendarMenu(new QMenu(this))
    , m_calendar(new QCalendarWidget(m_calendarMenu))
    , m_warningAction(nullptr)
{
    m_lineEdit->setObjectName(QStringLiteral("dateText"));
    m_lineEdit->setPlaceholderText(QStringLiteral("None"));
    m_lineEdit->setClearButtonEnabled(true);
    m_lineEdit->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_lineEdit->installEventFilter(this);
    QIcon warningIcon = ThemeIcon::firstOf({"dialog-warning"});
    if (warningIcon.isNull())
        warningIcon = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    m_warningAction = m_lineEdit->addAction(warningIcon, QLineEdit::TrailingPosition);
    m_warningAction->setVisible(false);

    m_calendar->setGridVisible(true);
    auto *calendarAction = new QWidgetAction(m_calendarMenu);
    calendarAction->setDefaultWidget(m_calendar);
    m_calendarMenu->addAction(calendarAction);
    m_calendarButton->setObjectName(QStringLiteral("calendarButton"));
    m_calendarButton->setMenu(m_calendarMenu);
    m_calendarButton->setPopupMode(QToolButton::InstantPopup);
    m_calendarButton->setArrowType(Qt::DownArrow);
    m_calendarButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_calendarButton->setToolTip(QStringLiteral("Pick the date from a calendar"));
    m_calendarButton->setFocusPolicy(Qt::NoFocus);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(m_lineEdit, 1);
    layout->addWidget(m_calendarButton);
    setFocusProxy(m_lineEdit);

    connect(m_lineEdit, &QLineEdit::editingFinished, this, &OptionalDateEdit::commitText);
    connect(m_lineEdit, &QLineEdit::textEdited, this, [this](const QString &text) {
        // The red goes as soon as the text reads as a date (or as none).
        if (m_refused && (text.trimmed().isEmpty() || TypedDate::parse(text)))
            showRefused(false);
    });
    connect(m_calendarMenu, &QMenu::aboutToShow, this,
            [this] { m_calendar->setSelectedDate(m_date.isValid() ? m_date : QDate::currentDate()); });
    connect(m_calendar, &QCalendarWidget::clicked, this, [this](const QDate &date) {
        m_calendarMenu->close();
        accept(date);
    });
    connect(m_calendar, &QCalendarWidget::activated, this, [this](const QDate &date) {
        m_calendarMenu->close();
        accept(date);
    });
    updateLook();
}

void OptionalDateEdit::setDate(const QDate &date)
{
    const QDate shown = date.isValid() ? date : QDate();
    if (shown == m_date && (m_refused || m_lineEdit->isModified()))
        return;
    m_date = shown;
    showDate(shown);
}

void OptionalDateEdit::showDate(const QDate &date)
{
    m_lineEdit->setText(TypedDate::displayText(date));
    m_lineEdit->setModified(false);
    showRefused(false);
}

void OptionalDateEdit::commitText()
{
    const QString text = m_lineEdit->text();
    if (text.trimmed().isEmpty()) {
        accept(QDate());
        return;
    }
    if (const std::optional<QDate> date = TypedDate::parse(text)) {
        accept(*date);
        return;
    }
    showRefused(true);
}

void OptionalDateEdit::accept(const QDate &date)
{
    // Shown as understood, so that the user sees which date the text became.
    showDate(date);
    if (date == m_date)
        return;
    m_date = date;
    emit dateEdited(date);
}

void OptionalDateEdit::showRefused(bool refused)
{
    if (m_refused == refused)
        return;
    m_refused = refused;
    updateLook();
}

void OptionalDateEdit::setWarning(const QString &text)
{
    if (m_warning == text)
        return;
    m_warning = text;
    updateLook();
}

void OptionalDateEdit::updateLook()
{
    m_styling = true;
    QPalette fieldPalette = palette();
    if (m_refused) {
        const QColor red = ValueTransformer::systemRed();
        fieldPalette.setColor(QPalette::Text, red);
        fieldPalette.setColor(QPalette::Base, mixed(fieldPalette.color(QPalette::Base), red, 0.18));
    }
    m_lineEdit->setPalette(fieldPalette);
    m_styling = false;
    m_warningAction->setVisible(!m_warning.isEmpty());
    m_warningAction->setToolTip(m_warning);
    m_lineEdit->setToolTip(m_refused ? refusalText() : m_warning);
}

bool OptionalDateEdit::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_lineEdit) {
        switch (event->type()) {
        case QEvent::FocusIn:
            // A click into the field selects the date once the click is
            // over, so that typing replaces it; a drag keeps its own selection.
            m_selectAllOnRelease = static_cast<QFocusEvent *>(event)->reason() == Qt::MouseFocusReason;
            break;
        case QEvent::MouseButtonRelease:
            if (std::exchange(m_selectAllOnRelease, false) && !m_lineEdit->hasSelectedText())
                m_lineEdit->selectAll();
            break;
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape && (m_refused || m_lineEdit->isModified())) {
                showDate(m_date);
                m_lineEdit->selectAll();
                return true;
            }
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void OptionalDateEdit::changeEvent(QEvent *event)
{
    // A new theme or palette: the red is worked out again from it.
    if (event->type() == QEvent::PaletteChange && !m_styling)
        updateLook();
    QWidget::changeEvent(event);
}

} // namespace ovalis
