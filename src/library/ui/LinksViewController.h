#pragma once

#include "library/ui/CaseOwningViewController.h"
#include "store/LinkActivator.h"

class QTextBrowser;

namespace ovalis {

class StyledText;

// The Links tab: the links found in the shown case (its other cases, NHIs,
// web addresses, paper references), read-only and unselectable. Links are
// drawn in the accent colour without underline, under a pointing hand; a
// click hands the link to a LinkActivator (a patient link posts "Set Find",
// any other URL is opened). A link that is not a valid URL does nothing.
class LinksViewController : public CaseOwningViewController
{
    Q_OBJECT

public:
    // opener receives the URLs that are not patient links.
    explicit LinksViewController(QWidget *parent = nullptr, LinkActivator::Opener opener = LinkActivator::systemOpener());
    ~LinksViewController() override;

    QTextBrowser *linksTextView() const { return m_linksTextView; }
    // The link under a point of the text view's viewport; empty when none.
    QString linkAt(const QPoint &viewportPosition) const;

protected:
    void representedObjectDidChange(Case *previous) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // The case's links are looked for (a fetch of the patient's cases) only
    // while the tab is shown; otherwise they are marked out of date.
    void refreshLinks();
    void showLinks(const StyledText &links);

    QTextBrowser *m_linksTextView;
    LinkActivator m_linkActivator;
    QString m_pressedLink;
    bool m_linksOutOfDate = true;
};

} // namespace ovalis
