#pragma once

#include <QSplitter>

namespace ovalis {

class DetailTabViewController;
class LibraryWithTagsView;
class ManagedObjectContext;

// The library window's content: the library view first, the detail side
// last. The detail side collapses and expands; its width is remembered.
class LibrarySplitViewController : public QSplitter
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
    int m_detailWidth = 340;
};

} // namespace ovalis
