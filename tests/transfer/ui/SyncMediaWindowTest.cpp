#include <QAction>
#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

#include "library/ui/LibraryWindowController.h"
#include "support/StoreFixture.h"
#include "transfer/MultiPeerManager.h"
#include "transfer/ui/MediaTransferView.h"

using namespace ovalis;
using namespace ovalis::test;

namespace {

class SyncMediaWindowTest : public StoreFixture
{
};

} // namespace

TEST_F(SyncMediaWindowTest, TheToolbarItemShowsOneWindowAndANewOneAfterItCloses)
{
    newCase(QStringLiteral("ABC1234"));
    context()->saveWithParent(true);
    LibraryWindowController library(*m_stack);
    library.show();
    EXPECT_EQ(library.syncMediaWindowController(), nullptr);
    ASSERT_TRUE(library.syncMediaToolbarItem()->isEnabled());

    library.syncMediaToolbarItem()->trigger();
    QPointer<MediaTransferView> first = library.syncMediaWindowController();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Sync Media"));
    EXPECT_EQ(first->size(), QSize(500, 500));
    EXPECT_EQ(first->model()->multiPeerManager()->name(), QStringLiteral("Library with 1 case"));
    EXPECT_EQ(first->model()->multiPeerManager()->serviceType(), QStringLiteral("ovalis-peer"));
    library.syncMediaToolbarItem()->trigger();
    EXPECT_EQ(library.syncMediaWindowController(), first);

    first->close();
    ASSERT_TRUE(QTest::qWaitFor([&first] { return first.isNull(); }));
    EXPECT_EQ(library.syncMediaWindowController(), nullptr);
    library.syncMediaToolbarItem()->trigger();
    ASSERT_NE(library.syncMediaWindowController(), nullptr);
    library.syncMediaWindowController()->close();
}
