#include "media/ui/MediaSingleLabelView.h"

#include <QHBoxLayout>
#include <QLabel>

namespace ovalis {

MediaSingleLabelView::MediaSingleLabelView(QWidget *parent)
    : MediaRoundRectView(parent)
    , m_labelField(new QLabel(this))
{
    QFont font = m_labelField->font();
    font.setPointSizeF(font.pointSizeF() * 1.25);
    m_labelField->setFont(font);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 6, 12, 6);
    layout->addWidget(m_labelField);
    setHidden(true);
}

QString MediaSingleLabelView::text() const
{
    return m_labelField->text();
}

void MediaSingleLabelView::setText(const QString &text)
{
    m_labelField->setText(text);
    setHidden(text.isEmpty());
    adjustSize();
}

} // namespace ovalis
