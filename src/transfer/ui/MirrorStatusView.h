#pragma once

#include <QLabel>
#include <QPointer>

namespace ovalis {

class MirrorService;

// The mirror's state in a word or two for the library window's status bar:
// "Synced", "Syncing: Receiving 120 of 400", "Offline", "Error: …", shortened
// to fit, with the whole error as its tool tip. Hidden while the mirror is
// off. It only tells: nothing here asks the user anything.
class MirrorStatusView : public QLabel
{
    Q_OBJECT

public:
    explicit MirrorStatusView(MirrorService *service, QWidget *parent = nullptr);

    // The widest the text may grow before it is shortened.
    static constexpr int widestText = 360;

public slots:
    void refresh();

private:
    QPointer<MirrorService> m_service;
};

} // namespace ovalis
