#include "exchange/ui/LabelledProgressView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

#include "exchange/LabelledProgressInfo.h"
#include "util/NotificationCenter.h"

namespace ovalis {

LabelledProgressView::LabelledProgressView(QWidget *parent)
    : QWidget(parent)
    , m_progressBar(new QProgressBar(this))
    , m_label(new QLabel(this))
{
    setObjectName(QStringLiteral("labelledProgressView"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_label);
    layout->addWidget(m_progressBar);
    m_progressBar->setTextVisible(false);
    m_progressBar->setFixedWidth(160);
    m_progressBar->setMaximumHeight(14);
    m_progressBar->setRange(0, 1);
    m_progressBar->setValue(0);
    m_progressBar->hide();
    m_label->hide();

    m_updateLabelledProgressToken = NotificationCenter::defaultCenter().addObserver(
        LabelledProgressInfo::notificationName, nullptr,
        [this](const Notification &notification) { updateProgress(notification.userInfo); },
        NotificationCenter::Delivery::MainThread);
}

LabelledProgressView::~LabelledProgressView() = default;

bool LabelledProgressView::isShowingProgress() const
{
    return !m_progressBar->isHidden();
}

void LabelledProgressView::updateProgress(const QVariantMap &userInfo)
{
    const int count = userInfo.value(LabelledProgressInfo::count).toInt();
    const int total = userInfo.value(LabelledProgressInfo::total).toInt();
    // The maximum first, so that a count beyond the old maximum is not clipped.
    m_progressBar->setMaximum(qMax(total, 0));
    m_progressBar->setValue(qBound(0, count, qMax(total, 0)));
    if (userInfo.contains(LabelledProgressInfo::label))
        m_label->setText(userInfo.value(LabelledProgressInfo::label).toString());
    const bool visible = count != 0;
    m_progressBar->setVisible(visible);
    m_label->setVisible(visible);
}

} // namespace ovalis
