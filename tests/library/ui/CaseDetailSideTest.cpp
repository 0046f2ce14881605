#include <QListView>
#include <gtest/gtest.h>

#include "library/ui/CaseDetailSide.h"
#include "media/ui/AbstractMediaCollectionViewController.h"
#include "support/StoreFixture.h"

namespace ovalis::test {

using CaseDetailSideTest = StoreFixture;

TEST_F(CaseDetailSideTest, ThePreviewTabIsAReadOnlyGridOfTheOneShownCase)
{
    Case *first = newCase(QStringLiteral("ABC1234"));
    first->addMedia("not an image", QStringLiteral("b.txt"));
    first->addMedia("not an image", QStringLiteral("a.txt"));
    first->sortedMedia()[0]->setOrderIndex(5);
    Case *second = newCase(QStringLiteral("DEF5678"));

    CaseDetailSide side;
    AbstractMediaCollectionViewController *preview = side.previewCollection();
    EXPECT_EQ(preview->currentCase(), nullptr);
    side.showCases({first});
    EXPECT_EQ(preview->currentCase(), first);
    ASSERT_EQ(preview->mediaArray().size(), 2);
    EXPECT_EQ(preview->mediaArray()[0]->fileName(), QStringLiteral("a.txt"));
    side.showCases({first, second});
    EXPECT_EQ(preview->currentCase(), nullptr);
    EXPECT_TRUE(preview->mediaArray().isEmpty());
    EXPECT_EQ(side.overlayText(), QStringLiteral("Multiple Selection"));

    // Nothing to select, drop or right-click.
    QListView *grid = preview->collectionView();
    EXPECT_EQ(grid->selectionMode(), QAbstractItemView::NoSelection);
    EXPECT_FALSE(grid->acceptDrops());
    EXPECT_FALSE(grid->viewport()->acceptDrops());
    EXPECT_EQ(grid->contextMenuPolicy(), Qt::NoContextMenu);
    EXPECT_FALSE(grid->dragEnabled());
}

} // namespace ovalis::test
