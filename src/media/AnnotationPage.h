#pragma once

#include <QImage>
#include <QList>
#include <QRectF>
#include <QSizeF>

#include "media/AnnotationMark.h"

class QPainter;

namespace ovalis {

// One page holding an image and the marks drawn over it: the image fills
// the media box (0, 0, width, height), its size in points, and marks are in
// page coordinates (origin bottom left).
class AnnotationPage
{
public:
    AnnotationPage() = default;
    explicit AnnotationPage(const QImage &image);

    bool isNull() const { return m_image.isNull(); }
    const QImage &image() const { return m_image; }
    QRectF mediaBox() const { return m_mediaBox; }

    const QList<AnnotationMarkRef> &annotations() const { return m_annotations; }
    void addAnnotation(const AnnotationMarkRef &mark);
    // Removes that mark (by identity); false when it is not on the page.
    bool removeAnnotation(const AnnotationMarkRef &mark);

    // Draws the image and the marks in scene coordinates: the media box
    // with the origin at the top left, y downwards.
    void draw(QPainter &painter) const;
    static void drawMark(QPainter &painter, const AnnotationMark &mark, double pageHeight);

private:
    QImage m_image;
    QRectF m_mediaBox;
    QList<AnnotationMarkRef> m_annotations;
};

// Draws page and marks into an 8-bit RGBA bitmap of size (fractions
// dropped), the media box scaled to fill it. A null image when the media box
// or the size is empty, or the bitmap cannot be made.
QImage flattenPage(const AnnotationPage &page, const QSizeF &size);

} // namespace ovalis
