#pragma once

#include <QList>
#include <QTabWidget>

#include "library/DetailTabIndex.h"
#include "store/LinkActivator.h"
#include "util/ObserverToken.h"

namespace ovalis {

class AbstractMediaCollectionViewController;
class Case;
class InfoViewController;
class LinksViewController;

// The detail side of the library window: Info, Preview and Links, all made
// at once. It follows the case list's selection, and while it is on screen
// Ctrl+1, Ctrl+2 and Ctrl+3 (main keyboard or keypad) pressed anywhere in its
// window select the tabs.
class DetailTabViewController : public QTabWidget
{
    Q_OBJECT

public:
    explicit DetailTabViewController(QWidget *parent = nullptr, LinkActivator::Opener opener = LinkActivator::systemOpener());
    ~DetailTabViewController() override;

    InfoViewController *infoViewController() const { return m_infoViewController; }
    // The read-only thumbnail grid of the Preview tab.
    AbstractMediaCollectionViewController *previewViewController() const { return m_previewViewController; }
    LinksViewController *linksViewController() const { return m_linksViewController; }

    void selectTab(DetailTabIndex index);
    // Whether the key watcher is installed (while the side is on screen).
    bool isWatchingKeys() const { return m_keyDownEventMonitorToken.isActive(); }

    // The selection refresh: the selection state of the Info and Links tabs
    // at once; their case and the Preview's case (the first selected case,
    // or none) a moment later on the main thread, once for several calls.
    void followSelection(const QList<Case *> &selectedCases);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void showPendingCase();

    InfoViewController *m_infoViewController;
    AbstractMediaCollectionViewController *m_previewViewController;
    LinksViewController *m_linksViewController;
    Case *m_pendingCase = nullptr; // Not owned.
    bool m_pendingCaseQueued = false;
    ObserverToken m_keyDownEventMonitorToken;
};

} // namespace ovalis
