#include <QDropEvent>
#include <QMimeData>
#include <QStandardItemModel>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

#include "media/ui/MediaGridView.h"

using namespace ovalis;

namespace {

// Five 100 × 120 cells, three to a line: 0 1 2 / 3 4.
class MediaGridViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (int i = 0; i < 5; ++i)
            m_model.appendRow(new QStandardItem(QStringLiteral("item %1").arg(i)));
        m_view.setModel(&m_model);
        m_view.setGridSize(QSize(100, 120));
        m_view.setFrameShape(QFrame::NoFrame);
        m_view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_view.resize(330, 400);
        m_view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_view));
    }

    QPoint centreOf(int row) const { return m_view.visualRect(m_model.index(row, 0)).center(); }

    // Drags data over the grid and drops it at pos (viewport coordinates),
    // as the window system would; whether the drop was taken.
    bool drop(const QMimeData *data, const QPoint &pos)
    {
        QDragEnterEvent enter(pos, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view.viewport(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent event(pos, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view.viewport(), &event);
        return event.isAccepted();
    }

    QStandardItemModel m_model;
    MediaGridView m_view;
};

} // namespace

TEST_F(MediaGridViewTest, ADropLandsBetweenTheItemsNearestToIt)
{
    ASSERT_EQ(centreOf(1).y(), centreOf(2).y());
    ASSERT_GT(centreOf(3).y(), centreOf(2).y());
    EXPECT_EQ(m_view.dropPositionAt(centreOf(0) - QPoint(20, 0)), 0);
    EXPECT_EQ(m_view.dropPositionAt(centreOf(0) + QPoint(20, 0)), 1);
    EXPECT_EQ(m_view.dropPositionAt(centreOf(2) - QPoint(20, 0)), 2);
    // Right of the last item of a line: after it, not before the next line.
    EXPECT_EQ(m_view.dropPositionAt(centreOf(2) + QPoint(20, 0)), 3);
    EXPECT_EQ(m_view.dropPositionAt(centreOf(3) - QPoint(20, 0)), 3);
    // Past the last item of the last line, and below every line: the end.
    EXPECT_EQ(m_view.dropPositionAt(centreOf(4) + QPoint(80, 0)), 5);
    EXPECT_EQ(m_view.dropPositionAt(QPoint(10, 390)), 5);

    m_model.clear();
    EXPECT_EQ(m_view.dropPositionAt(QPoint(10, 10)), 0);
}

TEST_F(MediaGridViewTest, DropsGoToTheHandlersOnlyWhenTheValidatorTakesThem)
{
    QMimeData data;
    data.setData(QStringLiteral("application/x-test"), "x");
    EXPECT_FALSE(m_view.acceptDrops());
    EXPECT_FALSE(drop(&data, centreOf(1)));

    using Operation = MediaDragAndDrop::DropOperation;
    Operation answer = Operation::None;
    QList<int> positions;
    m_view.setDropHandlers([&answer](const QMimeData *) { return answer; },
                           [&positions](const QMimeData *, int position) {
                               positions.append(position);
                               return true;
                           });
    EXPECT_TRUE(m_view.acceptDrops());
    EXPECT_FALSE(drop(&data, centreOf(1)));
    EXPECT_TRUE(positions.isEmpty());
    answer = Operation::Move;
    EXPECT_TRUE(drop(&data, centreOf(1) + QPoint(20, 0)));
    EXPECT_EQ(positions, QList<int>{2});
}
