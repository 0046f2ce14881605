#include "media/ui/MovieView.h"

#include <QPainter>
#include <QVideoFrame>
#include <QVideoSink>

#include "media/ImageScaling.h"
#include "media/ui/LoopingMoviePlayer.h"

namespace ovalis {

MovieView::MovieView(QWidget *parent)
    : QWidget(parent)
    , m_videoSink(new QVideoSink(this))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    connect(m_videoSink, &QVideoSink::videoFrameChanged, this, &MovieView::showFrame);
}

MovieView::~MovieView()
{
    delete m_player;
}

void MovieView::setPlayer(LoopingMoviePlayer *player)
{
    if (m_player == player)
        return;
    delete m_player;
    m_player = player;
    if (player)
        player->setParent(this);
    m_frame = QImage();
    update();
}

void MovieView::pause()
{
    if (m_player)
        m_player->pause();
}

void MovieView::showFrame(const QVideoFrame &frame)
{
    if (!m_player)
        return;
    m_frame = frame.toImage();
    update();
}

void MovieView::paintEvent(QPaintEvent *)
{
    const std::optional<QRectF> rect =
        ImageScaling::displayedImageRect(QRectF(this->rect()), QSizeF(m_frame.size()), ImageScaling::ProportionallyUpOrDown);
    if (!rect)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(*rect, m_frame);
}

} // namespace ovalis
