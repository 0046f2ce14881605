#include "media/ui/LoopingMoviePlayer.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QVideoSink>

namespace ovalis {

LoopingMoviePlayer::LoopingMoviePlayer(const QUrl &url, QVideoSink *sink, QObject *parent)
    : QObject(parent)
    , m_player(new QMediaPlayer(this))
    , m_audioOutput(new QAudioOutput(this))
{
    m_audioOutput->setMuted(true);
    m_player->setAudioOutput(m_audioOutput);
    if (sink)
        m_player->setVideoSink(sink);
    m_player->setLoops(QMediaPlayer::Infinite);
    m_player->setSource(url);
    m_player->play();
}

LoopingMoviePlayer::~LoopingMoviePlayer()
{
    m_player->stop();
}

QUrl LoopingMoviePlayer::url() const
{
    return m_player->source();
}

bool LoopingMoviePlayer::isMuted() const
{
    return m_audioOutput->isMuted();
}

void LoopingMoviePlayer::play()
{
    m_player->play();
}

void LoopingMoviePlayer::pause()
{
    m_player->pause();
}

} // namespace ovalis
