#pragma once

#include <QColor>
#include <QCursor>
#include <QImage>
#include <QPointer>
#include <QWidget>
#include <optional>

#include "media/ImageCrop.h"
#include "media/ImageScaling.h"
#include "media/SelectionPath.h"

class QPainter;
class QPropertyAnimation;
class QVariantAnimation;

namespace ovalis {

// Shows one image (or placeholder) scaled into its bounds.
//
// It paints a copy of the image scaled to the size it is drawn at, made
// once for each image and size with smooth scaling: on the main thread
// for images of up to a few megapixels, else on a worker thread, painting
// the image unsmoothed until the copy is there.
//
// It also holds the selection the user drags over the image to crop it,
// drawn as a dashed outline whose dashes crawl along it. The view takes no
// mouse events itself: the display hands it the presses, drags and releases
// that reach the view over it.
class DisplayImageView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(qreal imageOpacity READ imageOpacity WRITE setImageOpacity)

public:
    // Images with more pixels are scaled on a worker thread.
    static constexpr qint64 synchronousScalingLimit = 6'000'000;

    explicit DisplayImageView(QWidget *parent = nullptr);
    ~DisplayImageView() override;

    // image stands for an image of originalSize pixels (a copy reduced for
    // display); an invalid originalSize means the image's own size.
    // scaledCopy, when given, is image already scaled to the size the view
    // draws it at (else it is made when painting).
    void setImage(const QImage &image, const QSize &originalSize = QSize(), const QImage &scaledCopy = QImage());
    void clearImage() { setImage(QImage()); }
    const QImage &image() const { return m_image; }
    // The size of the image shown, as the file has it.
    QSize imageSize() const { return m_imageSize; }

    ImageScaling::Mode imageScaling() const { return m_imageScaling; }
    void setImageScaling(ImageScaling::Mode mode);
    // An invalid colour draws the image as it is; a valid one colours every
    // pixel with it, keeping their transparency.
    QColor tintColor() const { return m_tintColor; }
    void setTintColor(const QColor &colour);

    qreal imageOpacity() const { return m_imageOpacity; }
    void setImageOpacity(qreal opacity);
    // Fades to the opacity; the last target asked for.
    void animateImageOpacity(qreal target);
    qreal targetImageOpacity() const { return m_targetImageOpacity; }

    // Where the image is drawn in the view; nothing without an image.
    std::optional<QRectF> displayedImageRect() const;
    // A loupe with the frame image of that name showing the image around
    // position (view coordinates): factor times the frame's size in display
    // units, hot spot at its centre. Nothing when position is not over the
    // image.
    std::optional<QCursor> loupeCursor(const QString &frameName, double factor, const QPointF &position) const;
    // The lens picture of loupeCursor, without making a cursor of it.
    QImage loupeImage(const QImage &frame, double factor, const QPointF &position) const;

    // The selection, in view coordinates with the origin at the bottom left.
    const ImageSelection &imageSelection() const { return m_selection; }
    std::optional<QRectF> selectionRect() const { return m_selection.selectionRect(); }
    // Mouse handling of the selection, with positions in this widget's own
    // coordinates (origin top left).
    void selectionMouseDown(const QPointF &position);
    void selectionMouseDragged(const QPointF &position);
    void selectionMouseUp();
    void clearSelection();
    // Flips a widget position into the selection's coordinates.
    QPointF selectionPoint(const QPointF &position) const;
    // How images are laid out here, for converting the selection to pixels.
    CropViewLayout cropLayout() const;
    // The dash offset of the outline, crawling from 0 to 15 every 0.75 s.
    qreal outlineDashPhase() const { return m_dashPhase; }

    // Whether the smoothly scaled copy for the current size is at hand.
    bool hasScaledCopy() const;

signals:
    // A scaled copy made on a worker thread has arrived and been painted.
    void scaledCopyArrived();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct ScaledKey {
        qint64 image = 0;
        QSize size;
        QRgb tint = 0;
        bool operator==(const ScaledKey &) const = default;
    };

    ScaledKey currentKey(const QRectF &rect) const;
    void paintImage(QPainter &painter);
    void updateOutline();
    void paintSelection(QPainter &painter) const;
    void prepareScaledCopy(const ScaledKey &key);
    static QImage makeScaledCopy(const QImage &image, const QSize &size, const QColor &tint);

    QImage m_image;
    QSize m_imageSize;
    ImageScaling::Mode m_imageScaling = ImageScaling::ProportionallyDown;
    QColor m_tintColor;
    qreal m_imageOpacity = 1.0;
    qreal m_targetImageOpacity = 1.0;
    QPointer<QPropertyAnimation> m_opacityAnimation;

    QImage m_scaledCopy;
    ScaledKey m_scaledKey;
    std::optional<ScaledKey> m_pendingKey; // being scaled on a worker thread

    ImageSelection m_selection;
    QVariantAnimation *m_dashAnimation; // Owned (child); runs while the outline shows.
    qreal m_dashPhase = 0;
};

} // namespace ovalis
