#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "library/ui/DetailTabViewController.h"
#include "library/ui/InfoViewController.h"
#include "library/ui/LinksViewController.h"
#include "library/ui/NoSelectionView.h"
#include "library/ui/TagTokenField.h"
#include "media/ui/AbstractMediaCollectionViewController.h"
#include "support/StoreFixture.h"

namespace ovalis::test {
namespace {

class DetailTabViewControllerTest : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        m_side = std::make_unique<DetailTabViewController>();
        m_side->resize(360, 600);
    }

    void TearDown() override
    {
        m_side.reset();
        StoreFixture::TearDown();
    }

    void showSide()
    {
        m_side->show();
        m_side->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_side.get()));
    }

    // What the Info and Links tabs show over themselves (empty: nothing).
    QStringList overlays() const
    {
        QStringList texts;
        for (CaseOwningViewController *view : {static_cast<CaseOwningViewController *>(m_side->infoViewController()),
                                               static_cast<CaseOwningViewController *>(m_side->linksViewController())}) {
            NoSelectionView *overlay = view->noSelectionView();
            texts.append(overlay->isVisibleTo(view) ? overlay->text() : QString());
        }
        return texts;
    }

    std::unique_ptr<DetailTabViewController> m_side;
};

TEST_F(DetailTabViewControllerTest, NotExactlyOneSelectedCaseCoversInfoAndLinksAndDisablesTheTokens)
{
    Case *first = newCase(QStringLiteral("ABC1234"), QStringLiteral("First"));
    first->addMedia("not an image", QStringLiteral("a.txt"));
    Case *second = newCase(QStringLiteral("DEF5678"), QStringLiteral("Second"));
    showSide();
    InfoViewController *info = m_side->infoViewController();
    EXPECT_EQ(overlays(), (QStringList{"No Selection", "No Selection"}));
    EXPECT_FALSE(info->tokenField()->isEnabled());
    EXPECT_FALSE(info->contentStackView()->isVisibleTo(info));

    m_side->followSelection({first});
    EXPECT_EQ(overlays(), (QStringList{QString(), QString()}));
    EXPECT_TRUE(info->tokenField()->isEnabled());
    EXPECT_TRUE(info->contentStackView()->isVisibleTo(info));
    // The case itself follows once the event loop turns, and only the last of several.
    EXPECT_EQ(info->currentCase(), nullptr);
    m_side->followSelection({second});
    m_side->followSelection({first});
    QCoreApplication::processEvents();
    EXPECT_EQ(info->currentCase(), first);
    EXPECT_EQ(m_side->linksViewController()->currentCase(), first);
    EXPECT_EQ(info->summaryField()->text(), QStringLiteral("First"));
    EXPECT_EQ(m_side->previewViewController()->mediaArray().size(), 1);

    // Several: covered, but the preview shows the first of them.
    m_side->followSelection({first, second});
    QCoreApplication::processEvents();
    EXPECT_EQ(overlays(), (QStringList{"Multiple Selection", "Multiple Selection"}));
    EXPECT_FALSE(info->tokenField()->isEnabled());
    EXPECT_FALSE(info->contentStackView()->isVisibleTo(info));
    EXPECT_EQ(m_side->previewViewController()->currentCase(), first);
    // The overlay covers the whole tab, whatever its size.
    m_side->resize(420, 700);
    QCoreApplication::processEvents();
    EXPECT_EQ(info->noSelectionView()->geometry(), info->rect());

    m_side->followSelection({});
    QCoreApplication::processEvents();
    EXPECT_EQ(overlays(), (QStringList{"No Selection", "No Selection"}));
    EXPECT_EQ(m_side->previewViewController()->currentCase(), nullptr);
    EXPECT_EQ(info->currentCase(), nullptr);
}

TEST_F(DetailTabViewControllerTest, ThePreviewIsAReadOnlyGridInDisplayOrder)
{
    Case *item = newCase(QStringLiteral("ABC1234"));
    item->addMedia("not an image", QStringLiteral("b.txt"));
    item->addMedia("not an image", QStringLiteral("a.txt"));
    item->sortedMedia()[0]->setOrderIndex(5);
    m_side->followSelection({item});
    QCoreApplication::processEvents();
    AbstractMediaCollectionViewController *preview = m_side->previewViewController();
    ASSERT_EQ(preview->mediaArray().size(), 2);
    EXPECT_EQ(preview->mediaArray()[0]->fileName(), QStringLiteral("a.txt"));

    QListView *grid = preview->collectionView();
    EXPECT_EQ(grid->selectionMode(), QAbstractItemView::NoSelection);
    EXPECT_FALSE(grid->acceptDrops());
    EXPECT_FALSE(grid->viewport()->acceptDrops());
    EXPECT_EQ(grid->contextMenuPolicy(), Qt::NoContextMenu);
    EXPECT_FALSE(grid->dragEnabled());
}

TEST_F(DetailTabViewControllerTest, CtrlWithOneTwoOrThreeSelectsTabsWhileShownAndPlainDigitsType)
{
    Case *item = newCase(QStringLiteral("ZAC5361"), QStringLiteral("Case "));
    showSide();
    m_side->followSelection({item});
    QCoreApplication::processEvents();
    QLineEdit *summary = m_side->infoViewController()->summaryField();
    summary->setFocus();
    summary->end(false);

    QTest::keyClick(summary, Qt::Key_3);
    EXPECT_EQ(item->summary(), QStringLiteral("Case 3"));
    EXPECT_EQ(m_side->currentIndex(), int(DetailTabIndex::casesInfo));
    QTest::keyClick(summary, Qt::Key_3, Qt::ControlModifier);
    EXPECT_EQ(m_side->currentIndex(), int(DetailTabIndex::links));
    EXPECT_EQ(item->summary(), QStringLiteral("Case 3"));
    QTest::keyClick(m_side->tabBar(), Qt::Key_2, Qt::ControlModifier | Qt::KeypadModifier);
    EXPECT_EQ(m_side->currentIndex(), int(DetailTabIndex::preview));
    QTest::keyClick(m_side->tabBar(), Qt::Key_1, Qt::ControlModifier);
    EXPECT_EQ(m_side->currentIndex(), int(DetailTabIndex::casesInfo));
    QTest::keyClick(summary, Qt::Key_2, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(m_side->currentIndex(), int(DetailTabIndex::casesInfo));

    // The Info tab's Links button goes to the links too.
    m_side->infoViewController()->linksButton()->click();
    EXPECT_EQ(m_side->currentIndex(), int(DetailTabIndex::links));

    EXPECT_TRUE(m_side->isWatchingKeys());
    m_side->hide();
    EXPECT_FALSE(m_side->isWatchingKeys());
    EXPECT_FALSE(detailTabIndex(3).has_value());
    EXPECT_EQ(detailTabIndex(2), DetailTabIndex::links);
}

} // namespace
} // namespace ovalis::test
