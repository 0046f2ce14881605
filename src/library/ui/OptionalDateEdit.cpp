#include "library/ui/OptionalDateEdit.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLocale>

namespace ovalis {

QString OptionalDateEdit::fullYearDateFormat()
{
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QStringLiteral("yyyy")))
        format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    return format;
}

OptionalDateEdit::OptionalDateEdit(QWidget *parent)
    : QWidget(parent)
    , m_presenceBox(new QCheckBox(this))
    , m_dateEdit(new QDateEdit(this))
{
    m_dateEdit->setCalendarPopup(true);
    m_dateEdit->setDisplayFormat(fullYearDateFormat());
    // Typing a year digit by digit does not write the dates in between.
    m_dateEdit->setKeyboardTracking(false);
    // The lowest date stands for "none" while the box is unticked.
    m_dateEdit->setSpecialValueText(QStringLiteral("None"));
    m_dateEdit->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(m_presenceBox);
    layout->addWidget(m_dateEdit, 1);
    setFocusProxy(m_dateEdit);

    connect(m_presenceBox, &QCheckBox::toggled, this, [this](bool present) {
        if (m_updating)
            return;
        m_updating = true;
        m_dateEdit->setDate(present ? QDate::currentDate() : m_dateEdit->minimumDate());
        m_updating = false;
        showPresence(present);
        emit dateEdited(date());
    });
    connect(m_dateEdit, &QDateEdit::dateChanged, this, [this] {
        if (!m_updating && m_presenceBox->isChecked())
            emit dateEdited(date());
    });
    setDate(QDate());
}

QDate OptionalDateEdit::date() const
{
    return m_presenceBox->isChecked() ? m_dateEdit->date() : QDate();
}

void OptionalDateEdit::setDate(const QDate &date)
{
    m_updating = true;
    m_presenceBox->setChecked(date.isValid());
    m_dateEdit->setDate(date.isValid() ? date : m_dateEdit->minimumDate());
    showPresence(date.isValid());
    m_updating = false;
}

void OptionalDateEdit::showPresence(bool present)
{
    m_dateEdit->setEnabled(present);
    m_presenceBox->setToolTip(present ? QStringLiteral("Remove the date") : QStringLiteral("Set a date"));
}

} // namespace ovalis
