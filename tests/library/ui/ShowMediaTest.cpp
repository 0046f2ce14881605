#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include "library/CaseHistory.h"
#include "library/CaseTableModel.h"
#include "library/LibraryWithTagsViewController.h"
#include "library/ui/ClickableTextField.h"
#include "library/ui/DetailTabViewController.h"
#include "library/ui/InfoViewController.h"
#include "library/ui/LibrarySplitViewController.h"
#include "library/ui/LibraryWindowController.h"
#include "library/ui/LibraryWithTagsView.h"
#include "media/ui/MediaDisplayViewController.h"
#include "media/ui/MediaWindowController.h"
#include "media/ui/SelectableMediaCollectionViewController.h"
#include "store/LibraryNotifications.h"
#include "support/EncodedImage.h"
#include "support/StoreFixture.h"
#include "util/NotificationCenter.h"

namespace ovalis::test {
namespace {

class ShowMediaTest : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        CaseHistory::shared().clear();
        Settings::shared().setValue(QStringLiteral("Library_Case_Columns"), QVariant());
        const QByteArray data = encodedImage(QSize(40, 30), Qt::gray, "PNG");
        for (int i = 1; i <= 3; ++i) {
            m_cases.append(newCase(QStringLiteral("ABC100%1").arg(i), QStringLiteral("Summary %1").arg(i)));
            m_cases.last()->addMedia(data, QStringLiteral("image.png"));
        }
        context()->saveWithParent(true);
        m_window = std::make_unique<LibraryWindowController>(*m_stack);
        m_window->libraryView()->casesTableView()->sortByColumn(CaseTableModel::PatientIDColumn, Qt::AscendingOrder);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void TearDown() override
    {
        m_window.reset();
        CaseHistory::shared().clear();
        StoreFixture::TearDown();
    }

    void select(const QList<int> &rows)
    {
        m_window->libraryViewController()->selectCaseRows(rows);
        QCoreApplication::processEvents();
    }

    void postShowMedia()
    {
        NotificationCenter::defaultCenter().post(LibraryNotifications::showMedia);
        QCoreApplication::processEvents();
    }

    MediaWindowController *media() const { return m_window->mediaWindowController(); }

    std::unique_ptr<LibraryWindowController> m_window;
    QList<Case *> m_cases;
};

TEST_F(ShowMediaTest, OneSelectedCaseOpensTheMediaWindowWhichThenFollowsTheSelection)
{
    select({0, 1});
    postShowMedia();
    EXPECT_EQ(media(), nullptr);
    EXPECT_EQ(CaseHistory::shared().count(), 0);

    select({1});
    postShowMedia();
    ASSERT_NE(media(), nullptr);
    EXPECT_TRUE(media()->isVisible());
    EXPECT_FALSE(media()->isInFullScreen());
    EXPECT_EQ(media()->collectionViewController()->currentCase(), m_cases[1]);
    EXPECT_EQ(media()->displayViewController()->media(), m_cases[1]->sortedMedia().first());
    EXPECT_EQ(media()->windowTitle(), QStringLiteral("Media - ABC1002"));
    EXPECT_EQ(CaseHistory::shared().cases(), QList<Case *>{m_cases[1]});

    // The open window follows the library; the history only records openings.
    select({2});
    EXPECT_EQ(media()->collectionViewController()->currentCase(), m_cases[2]);
    EXPECT_EQ(media()->windowTitle(), QStringLiteral("Media - ABC1003"));
    select({});
    EXPECT_EQ(media()->collectionViewController()->currentCase(), nullptr);
    EXPECT_EQ(CaseHistory::shared().count(), 1);

    // Return in the case list and a double-click open it too.
    MediaWindowController *window = media();
    window->hide();
    select({0});
    QTableView *cases = m_window->libraryView()->casesTableView();
    cases->setFocus();
    QTest::keyClick(cases, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(media(), window);
    EXPECT_TRUE(window->isVisible());
    window->hide();
    select({2});
    const QRect row = cases->visualRect(cases->model()->index(2, CaseTableModel::SummaryColumn));
    QTest::mouseClick(cases->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
    QTest::mouseDClick(cases->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(CaseHistory::shared().cases(), (QList<Case *>{m_cases[1], m_cases[0], m_cases[2]}));
}

TEST_F(ShowMediaTest, TheDetailsMediaFieldPreviewsOnAClickAndOpensTheMediaWindowWithCtrl)
{
    m_cases[1]->addMedia(encodedImage(QSize(8, 8), Qt::red, "PNG"), QStringLiteral("second.png"));
    select({1});
    DetailTabViewController *tabs = m_window->splitViewController()->tabViewController();
    tabs->selectTab(DetailTabIndex::casesInfo);
    ClickableTextField *field = tabs->infoViewController()->mediaField();
    ASSERT_TRUE(QTest::qWaitFor([&] { return field->isVisible(); }, 5000));
    EXPECT_EQ(field->text(), QStringLiteral("2 media files"));
    EXPECT_EQ(field->textFormat(), Qt::PlainText);

    // A plain click: the Preview tab, no media window.
    QTest::mouseClick(field, Qt::LeftButton, Qt::NoModifier, field->rect().center());
    QCoreApplication::processEvents();
    EXPECT_EQ(tabs->currentIndex(), int(DetailTabIndex::preview));
    EXPECT_EQ(media(), nullptr);
    EXPECT_EQ(CaseHistory::shared().count(), 0);

    // With Ctrl: the media window for the case, recorded in the history.
    tabs->selectTab(DetailTabIndex::casesInfo);
    ASSERT_TRUE(QTest::qWaitFor([&] { return field->isVisible(); }, 5000));
    QTest::mouseClick(field, Qt::LeftButton, Qt::ControlModifier, field->rect().center());
    QCoreApplication::processEvents();
    ASSERT_NE(media(), nullptr);
    EXPECT_TRUE(media()->isVisible());
    EXPECT_EQ(media()->collectionViewController()->currentCase(), m_cases[1]);
    EXPECT_EQ(tabs->currentIndex(), int(DetailTabIndex::casesInfo));
    EXPECT_EQ(CaseHistory::shared().cases(), QList<Case *>{m_cases[1]});

    // The count follows the case's media.
    m_cases[1]->removeMedia({m_cases[1]->sortedMedia().first()});
    QCoreApplication::processEvents();
    EXPECT_EQ(field->text(), QStringLiteral("1 media file"));
}

TEST_F(ShowMediaTest, TeachingModeOpensTheMediaInFullScreen)
{
    m_window->toggleTeachingMode();
    select({0});
    postShowMedia();
    ASSERT_NE(media(), nullptr);
    EXPECT_TRUE(media()->isInFullScreen());
    EXPECT_EQ(media()->fullScreenToolbarItem()->text(), QStringLiteral("Exit Full Screen"));
}

} // namespace
} // namespace ovalis::test
