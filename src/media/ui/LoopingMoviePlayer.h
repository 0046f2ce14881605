#pragma once

#include <QObject>
#include <QUrl>

class QAudioOutput;
class QMediaPlayer;
class QVideoSink;

namespace ovalis {

// Plays one movie file over and over, muted, from the moment it is made
// until it is destroyed.
class LoopingMoviePlayer : public QObject
{
    Q_OBJECT

public:
    // Starts playing at once into the sink (not owned; may be null).
    LoopingMoviePlayer(const QUrl &url, QVideoSink *sink, QObject *parent = nullptr);
    ~LoopingMoviePlayer() override;

    QMediaPlayer *player() const { return m_player; }
    QAudioOutput *audioOutput() const { return m_audioOutput; }
    QUrl url() const;
    bool isMuted() const;
    void play();
    void pause();

private:
    QMediaPlayer *m_player;     // Owned (child).
    QAudioOutput *m_audioOutput; // Owned (child).
};

} // namespace ovalis
