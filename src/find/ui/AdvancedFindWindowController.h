#pragma once

#include <QWidget>

namespace ovalis {

class AdvancedFindViewController;
class ManagedObjectContext;

// The Advanced Find window. Made once and kept: closing only hides it, so
// its rules, results and favourites are there when it is shown again. Its
// frame is kept in the settings under "AdvancedFindWindow".
class AdvancedFindWindowController : public QWidget
{
    Q_OBJECT

public:
    static QString frameAutosaveName() { return QStringLiteral("AdvancedFindWindow"); }

    // The context (not owned) must outlive the window.
    explicit AdvancedFindWindowController(ManagedObjectContext *context, QWidget *parent = nullptr);
    ~AdvancedFindWindowController() override;

    AdvancedFindViewController *viewController() const { return m_viewController; }

    // Shows the window and brings it to the front.
    void showWindow();

protected:
    void hideEvent(QHideEvent *event) override;

private:
    void saveFrame();

    AdvancedFindViewController *m_viewController;
};

} // namespace ovalis
