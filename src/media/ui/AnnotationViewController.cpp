#include "media/ui/AnnotationViewController.h"

#include <QVBoxLayout>

#include "media/AnnotatedImageSave.h"
#include "media/AnnotationPalette.h"
#include "media/ui/AnnotationPageView.h"
#include "store/Media.h"
#include "util/Log.h"

namespace ovalis {

AnnotationViewController::AnnotationViewController(Media *media, QWidget *parent, const QImage &image)
    : QWidget(parent)
    , m_media(media)
    , m_image(image)
    , m_pdfView(new AnnotationPageView(this))
{
    setObjectName(QStringLiteral("annotationView"));
    resize(900, 700);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pdfView);
    connect(m_pdfView, &AnnotationPageView::historyChanged, this, &AnnotationViewController::historyChanged);
    loadImage();
}

void AnnotationViewController::loadImage()
{
    const QImage image = !m_image.isNull() ? m_image : m_media ? m_media->image() : QImage();
    if (image.isNull()) {
        Log::error(LogArea::UI, QStringLiteral("AnnotationViewController: no image available"));
        return;
    }
    // The page holds the image at one point per pixel.
    QImage page = image;
    page.setDevicePixelRatio(1.0);
    m_pdfView->setImage(page);
}

bool AnnotationViewController::canUndoAnnotation() const
{
    return m_pdfView->editor().canUndo();
}

bool AnnotationViewController::canRedoAnnotation() const
{
    return m_pdfView->editor().canRedo();
}

void AnnotationViewController::toolSegmentChanged(int index)
{
    if (index < int(AnnotationTool::arrow) || index > int(AnnotationTool::text))
        return;
    m_pdfView->setTool(AnnotationTool(index));
}

void AnnotationViewController::fontSizeSegmentChanged(int index)
{
    const QList<AnnotationPalette::TextSize> &sizes = AnnotationPalette::textSizes();
    if (index < 0 || index >= sizes.size())
        return;
    m_pdfView->setFontSize(sizes[index].size);
}

void AnnotationViewController::colorSegmentChanged(int index)
{
    const QList<AnnotationPalette::NamedColor> &colors = AnnotationPalette::colors();
    if (index < 0 || index >= colors.size())
        return;
    m_pdfView->setAnnotationColor(colors[index].color);
}

void AnnotationViewController::undoAnnotation()
{
    m_pdfView->undoAnnotation();
}

void AnnotationViewController::redoAnnotation()
{
    m_pdfView->redoAnnotation();
}

void AnnotationViewController::cancelAnnotations()
{
    window()->close();
}

void AnnotationViewController::saveAnnotations()
{
    // An open text entry counts as written.
    m_pdfView->commitTextEntry();
    if (AnnotatedImageSave::save(m_media, m_pdfView->editor().page()))
        window()->close();
}

} // namespace ovalis
