#include "media/ui/SegmentedControl.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace ovalis {

SegmentedControl::SegmentedControl(const QString &label, const QList<Segment> &segments, int segmentWidth, QWidget *parent)
    : QWidget(parent)
    , m_group(new QButtonGroup(this))
    , m_label(new QLabel(label, this))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(4, 0, 4, 0);
    column->setSpacing(2);
    auto *row = new QHBoxLayout;
    row->setSpacing(0);
    m_group->setExclusive(true);
    for (int i = 0; i < segments.size(); ++i) {
        auto *button = new QToolButton(this);
        button->setCheckable(true);
        button->setAutoRaise(false);
        button->setFixedSize(segmentWidth, 26);
        button->setIconSize(QSize(16, 16));
        button->setToolTip(segments[i].toolTip);
        if (!segments[i].icon.isNull())
            button->setIcon(segments[i].icon);
        else
            button->setText(segments[i].text);
        m_group->addButton(button, i);
        row->addWidget(button);
    }
    column->addLayout(row);
    m_label->setAlignment(Qt::AlignHCenter);
    QFont small = m_label->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    m_label->setFont(small);
    column->addWidget(m_label);
    connect(m_group, &QButtonGroup::idClicked, this, &SegmentedControl::segmentChanged);
}

int SegmentedControl::count() const
{
    return int(m_group->buttons().size());
}

int SegmentedControl::selectedSegment() const
{
    return m_group->checkedId();
}

void SegmentedControl::setSelectedSegment(int index)
{
    if (QAbstractButton *button = m_group->button(index))
        button->setChecked(true);
}

QToolButton *SegmentedControl::segmentButton(int index) const
{
    return static_cast<QToolButton *>(m_group->button(index));
}

QString SegmentedControl::label() const
{
    return m_label->text();
}

} // namespace ovalis
