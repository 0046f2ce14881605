#pragma once

#include "library/ui/YieldingSplitter.h"

namespace ovalis {

class DetailTabViewController;
class LibraryWithTagsView;
class ManagedObjectContext;

// The library window's content: the library view first, the detail side
// last. The detail side collapses and expands; its width is remembered. As the
// window narrows the detail side gives way first, so the case list keeps its
// width as long as it can; as it widens the case list takes the room.
class LibrarySplitViewController : public YieldingSplitter
{
    Q_OBJECT

public:
    explicit LibrarySplitViewController(ManagedObjectContext *context, QWidget *parent = nullptr);

    LibraryWithTagsView *libraryView() const { return m_libraryView; }
    DetailTabViewController *tabViewController() const { return m_tabViewController; }

    bool isDetailCollapsed() const;
    void setDetailCollapsed(bool collapsed);

private:
    LibraryWithTagsView *m_libraryView;
    DetailTabViewController *m_tabViewController;
};

} // namespace ovalis
