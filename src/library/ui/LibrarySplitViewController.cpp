#include "library/ui/LibrarySplitViewController.h"

#include "library/ui/DetailTabViewController.h"
#include "library/ui/LibraryWithTagsView.h"
#include "util/Settings.h"

namespace ovalis {

namespace {
const QString detailWidthKey = QStringLiteral("Library_Detail_Width AutoSaveName");
}

LibrarySplitViewController::LibrarySplitViewController(ManagedObjectContext *context, QWidget *parent)
    : QSplitter(Qt::Horizontal, parent)
    , m_libraryView(new LibraryWithTagsView(context, this))
    , m_tabViewController(new DetailTabViewController(this))
{
    setObjectName(QStringLiteral("librarySplitView"));
    addWidget(m_libraryView);
    addWidget(m_tabViewController);
    setStretchFactor(0, 1);
    setStretchFactor(1, 0);
    setCollapsible(0, false);
    setCollapsible(1, false);
    const int savedWidth = Settings::shared().value(detailWidthKey).toInt();
    if (savedWidth > 120)
        m_detailWidth = savedWidth;
    m_tabViewController->setMinimumWidth(260);
    setSizes({900, m_detailWidth});
    connect(this, &QSplitter::splitterMoved, this, [this] {
        if (!isDetailCollapsed()) {
            m_detailWidth = sizes().value(1);
            Settings::shared().setValue(detailWidthKey, m_detailWidth);
        }
    });
}

bool LibrarySplitViewController::isDetailCollapsed() const
{
    return m_tabViewController->isHidden();
}

void LibrarySplitViewController::setDetailCollapsed(bool collapsed)
{
    if (collapsed == isDetailCollapsed())
        return;
    if (collapsed) {
        m_detailWidth = sizes().value(1, m_detailWidth);
        m_tabViewController->hide();
    } else {
        m_tabViewController->show();
        const int total = sizes().value(0) + m_detailWidth;
        setSizes({qMax(total - m_detailWidth, 300), m_detailWidth});
    }
}

} // namespace ovalis
