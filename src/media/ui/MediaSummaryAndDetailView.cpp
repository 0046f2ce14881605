#include "media/ui/MediaSummaryAndDetailView.h"

#include <QLabel>
#include <QVBoxLayout>

namespace ovalis {

MediaSummaryAndDetailView::MediaSummaryAndDetailView(QWidget *parent)
    : MediaRoundRectView(parent)
    , m_summaryTextField(new QLabel(this))
    , m_detailTextField(new QLabel(this))
{
    for (QLabel *field : {m_summaryTextField, m_detailTextField}) {
        field->setWordWrap(true);
        field->setTextFormat(Qt::PlainText);
        field->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    QFont summaryFont = m_summaryTextField->font();
    summaryFont.setPointSizeF(summaryFont.pointSizeF() * 1.35);
    summaryFont.setBold(true);
    m_summaryTextField->setFont(summaryFont);
    QFont detailFont = m_detailTextField->font();
    detailFont.setPointSizeF(detailFont.pointSizeF() * 1.1);
    m_detailTextField->setFont(detailFont);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(8);
    layout->addWidget(m_summaryTextField);
    layout->addWidget(m_detailTextField, 1);
    setHidden(true);
}

void MediaSummaryAndDetailView::setTexts(const QString &summary, const QString &detail)
{
    m_summaryTextField->setText(summary);
    m_summaryTextField->setHidden(summary.isEmpty());
    m_detailTextField->setText(detail);
    m_detailTextField->setHidden(detail.isEmpty());
}

} // namespace ovalis
