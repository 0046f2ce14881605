#pragma once

#include <QLineEdit>
#include <QPainterPath>
#include <QPointer>
#include <QWidget>
#include <optional>

#include "media/AnnotationEditor.h"
#include "media/AnnotationPageGeometry.h"



namespace ovalis {

// The annotation editor's page: the image scaled to fit on a black
// background with its marks, drawn on with the mouse. A drag with a shape
// tool shows a dashed preview and makes a mark on release; a click with the
// text tool opens a text entry there, committed by Return or by leaving it,
// cancelled by Escape or another tool.
class AnnotationPageView : public QWidget
{
    Q_OBJECT

public:
    explicit AnnotationPageView(QWidget *parent = nullptr);

    // Shows the image as the page, with no marks.
    void setImage(const QImage &image);
    AnnotationEditor &editor() { return m_editor; }
    const AnnotationEditor &editor() const { return m_editor; }
    AnnotationPageGeometry pageGeometry() const;

    void setTool(AnnotationTool tool);
    void setAnnotationColor(const QColor &color);
    void setFontSize(double size);

    void undoAnnotation();
    void redoAnnotation();

    // The open text entry, if any.
    QLineEdit *inlineTextField() const { return m_inlineTextField; }
    void commitTextEntry();
    void cancelTextEntry();
    // The dashed preview of the drag under way, in view coordinates.
    std::optional<QPainterPath> previewPath() const;

signals:
    // A mark was added or taken back: undo and redo may have changed.
    void historyChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void openTextEntry(const QPointF &pagePoint);
    void closeTextField();
    void placeTextField();

    AnnotationEditor m_editor;
    std::optional<QPointF> m_dragCurrentViewPoint;
    QPointer<QLineEdit> m_inlineTextField; // Owned (child) while open.
};

} // namespace ovalis
