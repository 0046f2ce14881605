#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>

class QVideoFrame;
class QVideoSink;

namespace ovalis {

class LoopingMoviePlayer;

// Shows a movie's frames, fitted into its bounds. It paints the frames
// itself (rather than through a native video window) so that the display's
// overlays can lie on top of it.
class MovieView : public QWidget
{
    Q_OBJECT

public:
    explicit MovieView(QWidget *parent = nullptr);
    ~MovieView() override;

    QVideoSink *videoSink() const { return m_videoSink; }
    // Takes ownership of the player and destroys the one before; null
    // stops showing a movie.
    void setPlayer(LoopingMoviePlayer *player);
    LoopingMoviePlayer *player() const { return m_player; }
    void pause();
    // The last frame received; null before the first.
    const QImage &currentFrame() const { return m_frame; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void showFrame(const QVideoFrame &frame);

    QVideoSink *m_videoSink; // Owned (child).
    QPointer<LoopingMoviePlayer> m_player; // Owned.
    QImage m_frame;
};

} // namespace ovalis
