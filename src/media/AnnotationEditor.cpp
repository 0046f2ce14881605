#include "media/AnnotationEditor.h"

#include "media/AnnotationGeometry.h"
#include "media/AnnotationPalette.h"

namespace ovalis {

AnnotationEditor::AnnotationEditor(const QImage &image)
    : m_page(image)
    , m_annotationColor(AnnotationPalette::colors().first().color)
{
}

bool AnnotationEditor::setTool(AnnotationTool tool)
{
    m_tool = tool;
    if (tool == AnnotationTool::text || !m_inlineTextPagePoint)
        return false;
    cancelTextEntry();
    return true;
}

void AnnotationEditor::beginDrag(const QPointF &pagePoint)
{
    m_dragStartPagePoint = pagePoint;
}

AnnotationMarkRef AnnotationEditor::endDrag(const QPointF &pagePoint)
{
    const std::optional<QPointF> start = m_dragStartPagePoint;
    m_dragStartPagePoint.reset();
    if (!start)
        return nullptr;
    const std::optional<AnnotationMark> mark = AnnotationGeometry::markForDrag(m_tool, *start, pagePoint, m_annotationColor);
    if (!mark)
        return nullptr;
    auto ref = std::make_shared<const AnnotationMark>(*mark);
    addMark(ref);
    return ref;
}

void AnnotationEditor::openTextEntry(const QPointF &pagePoint)
{
    m_inlineTextPagePoint = pagePoint;
}

AnnotationMarkRef AnnotationEditor::commitTextEntry(const QString &text, double measuredTextWidth)
{
    const std::optional<QPointF> point = m_inlineTextPagePoint;
    m_inlineTextPagePoint.reset();
    if (!point)
        return nullptr;
    const std::optional<AnnotationMark> mark =
        AnnotationGeometry::textMark(text, *point, m_fontSize, m_annotationColor, measuredTextWidth);
    if (!mark)
        return nullptr;
    auto ref = std::make_shared<const AnnotationMark>(*mark);
    addMark(ref);
    return ref;
}

void AnnotationEditor::cancelTextEntry()
{
    m_inlineTextPagePoint.reset();
}

void AnnotationEditor::addMark(const AnnotationMarkRef &mark)
{
    m_page.addAnnotation(mark);
    m_annotationHistory.append(mark);
    m_redoStack.clear();
}

void AnnotationEditor::undoAnnotation()
{
    if (m_annotationHistory.isEmpty())
        return;
    const AnnotationMarkRef mark = m_annotationHistory.takeLast();
    m_page.removeAnnotation(mark);
    m_redoStack.append(mark);
}

void AnnotationEditor::redoAnnotation()
{
    if (m_redoStack.isEmpty())
        return;
    const AnnotationMarkRef mark = m_redoStack.takeLast();
    m_page.addAnnotation(mark);
    m_annotationHistory.append(mark);
}

} // namespace ovalis
