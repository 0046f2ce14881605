#include "media/ui/AnnotationPageView.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "media/AnnotationGeometry.h"

namespace ovalis {

namespace {

constexpr qreal previewWidth = 2.0;
constexpr qreal previewDash = 6.0;
constexpr qreal previewGap = 3.0;

QString textFieldStyle(const QColor &color)
{
    return QStringLiteral("QLineEdit { background: rgba(0, 0, 0, 115); color: %1; border: 1.5px solid %1;"
                          " border-radius: 3px; padding: 0 3px; }")
        .arg(color.name());
}

} // namespace

AnnotationPageView::AnnotationPageView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("annotationPageView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::ClickFocus);
    setCursor(Qt::CrossCursor);
}

void AnnotationPageView::setImage(const QImage &image)
{
    closeTextField();
    m_editor = AnnotationEditor(image);
    update();
    emit historyChanged();
}

AnnotationPageGeometry AnnotationPageView::pageGeometry() const
{
    return AnnotationPageGeometry(m_editor.page().mediaBox().size(), QSizeF(size()));
}

void AnnotationPageView::setTool(AnnotationTool tool)
{
    if (m_editor.setTool(tool))
        closeTextField();
}

void AnnotationPageView::setAnnotationColor(const QColor &color)
{
    m_editor.setAnnotationColor(color);
}

void AnnotationPageView::setFontSize(double size)
{
    m_editor.setFontSize(size);
}

void AnnotationPageView::undoAnnotation()
{
    m_editor.undoAnnotation();
    update();
    emit historyChanged();
}

void AnnotationPageView::redoAnnotation()
{
    m_editor.redoAnnotation();
    update();
    emit historyChanged();
}

std::optional<QPainterPath> AnnotationPageView::previewPath() const
{
    const std::optional<QPointF> start = m_editor.dragStartPagePoint();
    if (!start || !m_dragCurrentViewPoint)
        return std::nullopt;
    const QPointF a = pageGeometry().pageToView(*start);
    const QPointF b = *m_dragCurrentViewPoint;
    QPainterPath path;
    switch (m_editor.tool()) {
    case AnnotationTool::arrow:
        path.moveTo(a);
        path.lineTo(b);
        break;
    case AnnotationTool::rectangle:
        path.addRect(QRectF(a, b).normalized());
        break;
    case AnnotationTool::circle:
        path.addEllipse(QRectF(a, b).normalized());
        break;
    case AnnotationTool::text:
        break;
    }
    return path;
}

void AnnotationPageView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_editor.page().isNull())
        return;
    painter.save();
    painter.setTransform(pageGeometry().sceneToViewTransform());
    m_editor.page().draw(painter);
    painter.restore();
    if (const std::optional<QPainterPath> preview = previewPath()) {
        QPen pen(m_editor.annotationColor(), previewWidth);
        pen.setDashPattern({previewDash / previewWidth, previewGap / previewWidth});
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(*preview);
    }
}

void AnnotationPageView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_editor.page().isNull())
        return QWidget::mousePressEvent(event);
    const QPointF pagePoint = pageGeometry().viewToPage(event->position());
    if (m_editor.tool() == AnnotationTool::text) {
        openTextEntry(pagePoint);
        return;
    }
    m_editor.beginDrag(pagePoint);
    m_dragCurrentViewPoint = event->position();
    update();
}

void AnnotationPageView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_editor.dragStartPagePoint())
        return QWidget::mouseMoveEvent(event);
    m_dragCurrentViewPoint = event->position();
    update();
}

void AnnotationPageView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    const bool dragging = m_editor.dragStartPagePoint().has_value();
    const AnnotationMarkRef mark = m_editor.endDrag(pageGeometry().viewToPage(event->position()));
    m_dragCurrentViewPoint.reset();
    update();
    if (dragging && mark)
        emit historyChanged();
}

void AnnotationPageView::openTextEntry(const QPointF &pagePoint)
{
    if (m_inlineTextField)
        commitTextEntry();
    m_editor.openTextEntry(pagePoint);
    auto *field = new QLineEdit(this);
    field->setObjectName(QStringLiteral("inlineTextField"));
    field->setFrame(false);
    field->setAttribute(Qt::WA_MacShowFocusRect, false);
    field->setFont(AnnotationGeometry::textFont(m_editor.fontSize()));
    field->setStyleSheet(textFieldStyle(m_editor.annotationColor()));
    field->setPlaceholderText(QStringLiteral("Return or Escape"));
    field->installEventFilter(this);
    connect(field, &QLineEdit::editingFinished, this, [this, field] {
        // Leaving the field commits it; Return has done so already.
        if (field == m_inlineTextField && !field->hasFocus())
            commitTextEntry();
    });
    m_inlineTextField = field;
    placeTextField();
    field->show();
    field->setFocus(Qt::MouseFocusReason);
}

void AnnotationPageView::placeTextField()
{
    const std::optional<QPointF> point = m_editor.inlineTextPagePoint();
    if (!m_inlineTextField || !point)
        return;
    const QPointF topLeft = pageGeometry().pageToView(*point);
    m_inlineTextField->setGeometry(int(std::round(topLeft.x())), int(std::round(topLeft.y())),
                                   int(AnnotationGeometry::textEntryWidth),
                                   int(AnnotationGeometry::textEntryHeight(m_editor.fontSize())));
}

void AnnotationPageView::commitTextEntry()
{
    if (!m_inlineTextField)
        return;
    const QString text = m_inlineTextField->text();
    closeTextField();
    const AnnotationMarkRef mark =
        m_editor.commitTextEntry(text, AnnotationGeometry::textWidth(text, m_editor.fontSize()));
    update();
    if (mark)
        emit historyChanged();
}

void AnnotationPageView::cancelTextEntry()
{
    m_editor.cancelTextEntry();
    closeTextField();
}

void AnnotationPageView::closeTextField()
{
    QLineEdit *field = m_inlineTextField;
    m_inlineTextField = nullptr;
    if (!field)
        return;
    field->removeEventFilter(this);
    field->hide();
    field->deleteLater();
    setFocus(Qt::OtherFocusReason);
}

bool AnnotationPageView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_inlineTextField && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            commitTextEntry();
            return true;
        }
        if (key == Qt::Key_Escape) {
            cancelTextEntry();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void AnnotationPageView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeTextField();
}

} // namespace ovalis
