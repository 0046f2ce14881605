#pragma once

#include <QWidget>

namespace ovalis {

// A dark, slightly translucent rounded rectangle under an overlay's text.
class MediaRoundRectView : public QWidget
{
    Q_OBJECT

public:
    static constexpr double cornerRadius = 10.0;
    static QColor fillColour(); // RGB 0.1, 0.1, 0.1 at alpha 0.9
    static QColor textColour();

    explicit MediaRoundRectView(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace ovalis
