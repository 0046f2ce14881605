#include "transfer/ui/MirrorStatusView.h"

#include "transfer/MirrorService.h"

namespace ovalis {

MirrorStatusView::MirrorStatusView(MirrorService *service, QWidget *parent)
    : QLabel(parent)
    , m_service(service)
{
    setObjectName(QStringLiteral("mirrorStatus"));
    // The text comes from the server and the connection: never markup.
    setTextFormat(Qt::PlainText);
    setContentsMargins(6, 0, 6, 0);
    connect(service, &MirrorService::stateChanged, this, &MirrorStatusView::refresh);
    refresh();
}

void MirrorStatusView::refresh()
{
    if (!m_service || m_service->state() == MirrorService::State::Off) {
        hide();
        return;
    }
    const QString text = m_service->stateText();
    setText(fontMetrics().elidedText(text, Qt::ElideRight, widestText));
    const MirrorService::State state = m_service->state();
    // Offline says only that; the connection's own words are in the last result.
    if (state == MirrorService::State::Failed)
        setToolTip(text);
    else if (state == MirrorService::State::Offline)
        setToolTip(m_service->lastResult());
    else
        setToolTip(QString());
    show();
}

} // namespace ovalis
