#pragma once

#include <QColor>
#include <QList>
#include <QPointF>
#include <optional>

#include "media/AnnotationMark.h"
#include "media/AnnotationPage.h"
#include "media/AnnotationTool.h"

namespace ovalis {

// What the annotation editor knows apart from its widgets: the page, the
// current tool, colour and text size, the drag under way, the open text
// entry, and the marks added and taken back. All points are page points.
class AnnotationEditor
{
public:
    static constexpr double defaultFontSize = 18.0;

    explicit AnnotationEditor(const QImage &image = QImage());

    AnnotationPage &page() { return m_page; }
    const AnnotationPage &page() const { return m_page; }

    AnnotationTool tool() const { return m_tool; }
    // Any tool but text cancels an open text entry; answers whether it did.
    bool setTool(AnnotationTool tool);
    QColor annotationColor() const { return m_annotationColor; }
    void setAnnotationColor(const QColor &color) { m_annotationColor = color; }
    double fontSize() const { return m_fontSize; }
    void setFontSize(double size) { m_fontSize = size; }

    // Mouse down with a shape tool starts a drag; mouse up ends it, making a
    // mark when it moved far enough. endDrag answers the mark added.
    std::optional<QPointF> dragStartPagePoint() const { return m_dragStartPagePoint; }
    void beginDrag(const QPointF &pagePoint);
    AnnotationMarkRef endDrag(const QPointF &pagePoint);

    // The open text entry's place, and opening, committing and cancelling it.
    std::optional<QPointF> inlineTextPagePoint() const { return m_inlineTextPagePoint; }
    void openTextEntry(const QPointF &pagePoint);
    // Closes the entry; a label of the text when it is not empty.
    // measuredTextWidth is the text's width in the label's font.
    AnnotationMarkRef commitTextEntry(const QString &text, double measuredTextWidth);
    void cancelTextEntry();

    // Adds the mark to the page and the history, and empties the redo list.
    void addMark(const AnnotationMarkRef &mark);
    const QList<AnnotationMarkRef> &annotationHistory() const { return m_annotationHistory; }
    const QList<AnnotationMarkRef> &redoStack() const { return m_redoStack; }
    bool canUndo() const { return !m_annotationHistory.isEmpty(); }
    bool canRedo() const { return !m_redoStack.isEmpty(); }
    void undoAnnotation();
    void redoAnnotation();

private:
    AnnotationPage m_page;
    QColor m_annotationColor;
    double m_fontSize = defaultFontSize;
    AnnotationTool m_tool = AnnotationTool::arrow;
    std::optional<QPointF> m_dragStartPagePoint;
    std::optional<QPointF> m_inlineTextPagePoint;
    QList<AnnotationMarkRef> m_annotationHistory; // oldest first
    QList<AnnotationMarkRef> m_redoStack;         // most recent last
};

} // namespace ovalis
