#pragma once

#include <QDialog>

namespace ovalis {

class AboutView;

// The About window: a fixed 600 × 240 panel without a title, centred on the
// screen when shown.
class AboutController : public QDialog
{
    Q_OBJECT

public:
    explicit AboutController(QWidget *parent = nullptr);

    AboutView *aboutView() const { return m_view; }

    // Shows the window centred on the screen, raising it when already open.
    void showWindow();

private:
    AboutView *m_view;
};

} // namespace ovalis
