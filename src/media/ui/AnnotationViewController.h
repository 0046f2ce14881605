#pragma once

#include <QImage>
#include <QWidget>

namespace ovalis {

class AnnotationPageView;
class Media;

// The annotation editor's content: the media's image as a page to draw on,
// and the commands of the editor's toolbar. Save writes the marks into the
// media's file; Cancel discards them. Either closes the window, Save only
// when it succeeded.
class AnnotationViewController : public QWidget
{
    Q_OBJECT

public:
    // media: a record of the main context, not owned. image: what to draw on
    // when it is not the file's own image (a DICOM frame at the window shown).
    explicit AnnotationViewController(Media *media, QWidget *parent = nullptr, const QImage &image = QImage());

    Media *media() const { return m_media; }
    AnnotationPageView *pdfView() const { return m_pdfView; }

    bool canUndoAnnotation() const;
    bool canRedoAnnotation() const;

public slots:
    void toolSegmentChanged(int index);
    void fontSizeSegmentChanged(int index);
    void colorSegmentChanged(int index);
    void undoAnnotation();
    void redoAnnotation();
    void cancelAnnotations();
    // Answers through closing the window; a failure is logged and leaves it open.
    void saveAnnotations();

signals:
    void historyChanged();

private:
    void loadImage();

    Media *m_media; // Not owned.
    QImage m_image;
    AnnotationPageView *m_pdfView; // Owned (child).
};

} // namespace ovalis
