#pragma once

#include "media/ui/MediaRoundRectView.h"

class QLabel;

namespace ovalis {

// The description overlay: the case's summary over its detail.
class MediaSummaryAndDetailView : public MediaRoundRectView
{
    Q_OBJECT

public:
    explicit MediaSummaryAndDetailView(QWidget *parent = nullptr);

    QLabel *summaryTextField() const { return m_summaryTextField; }
    QLabel *detailTextField() const { return m_detailTextField; }
    void setTexts(const QString &summary, const QString &detail);

private:
    QLabel *m_summaryTextField;
    QLabel *m_detailTextField;
};

} // namespace ovalis
