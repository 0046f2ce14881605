#pragma once

#include <QLabel>

namespace ovalis {

// A line of text that reads as a link (accent colour, pointing hand) and
// reports a click of the left button with the modifier keys held at the
// time. Return or Space while it has the keyboard focus counts as a click.
// The text is shown as plain text.
class ClickableTextField : public QLabel
{
    Q_OBJECT

public:
    explicit ClickableTextField(QWidget *parent = nullptr);

signals:
    void clicked(Qt::KeyboardModifiers modifiers);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool m_pressed = false; // the left button went down inside
};

} // namespace ovalis
