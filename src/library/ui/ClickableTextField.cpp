#include "library/ui/ClickableTextField.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <utility>

#include "library/ValueTransformer.h"

namespace ovalis {

ClickableTextField::ClickableTextField(QWidget *parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    QPalette linkPalette = palette();
    linkPalette.setColor(QPalette::WindowText, ValueTransformer::accentColor());
    setPalette(linkPalette);
}

void ClickableTextField::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QLabel::mousePressEvent(event);
    m_pressed = true;
    event->accept();
}

void ClickableTextField::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QLabel::mouseReleaseEvent(event);
    // A press dragged off the field and released elsewhere is no click.
    const bool inside = rect().contains(event->position().toPoint());
    if (std::exchange(m_pressed, false) && inside)
        emit clicked(event->modifiers());
    event->accept();
}

void ClickableTextField::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        emit clicked(event->modifiers() & ~Qt::KeypadModifier);
        event->accept();
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}

} // namespace ovalis
