#include "library/ui/LibrarySplitViewController.h"

#include "library/ui/DetailTabViewController.h"
#include "library/ui/LibraryWithTagsView.h"
#include "util/Settings.h"

namespace ovalis {

namespace {
const QString detailWidthKey = QStringLiteral("Library_Detail_Width AutoSaveName");
// At the default window width the library view has this much and the
// detail side the rest, up to its own width.
constexpr int libraryWidth = 960;
constexpr int detailWidth = 340;
constexpr int detailMinimumWidth = 260;
} // namespace

LibrarySplitViewController::LibrarySplitViewController(ManagedObjectContext *context, QWidget *parent)
    : YieldingSplitter(1, parent)
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
    m_tabViewController->setMinimumWidth(detailMinimumWidth);
    const int savedWidth = Settings::shared().value(detailWidthKey).toInt();
    setPreferredWidths(libraryWidth, savedWidth >= detailMinimumWidth ? savedWidth : detailWidth);
    connect(this, &YieldingSplitter::preferredWidthsChanged, this,
            [this] { Settings::shared().setValue(detailWidthKey, preferredSideWidth()); });
}

bool LibrarySplitViewController::isDetailCollapsed() const
{
    return m_tabViewController->isHidden();
}

void LibrarySplitViewController::setDetailCollapsed(bool collapsed)
{
    if (collapsed == isDetailCollapsed())
        return;
    m_tabViewController->setHidden(collapsed);
    layOutPanes();
}

} // namespace ovalis
