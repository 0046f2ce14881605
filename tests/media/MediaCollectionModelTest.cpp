#include <QAbstractItemModelTester>
#include <QBuffer>
#include <QImage>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

#include "media/MediaCollectionModel.h"
#include "media/MediaDragAndDrop.h"
#include "media/MediaThumbnailProvider.h"
#include "support/StoreFixture.h"

namespace ovalis::test {
namespace {

class MediaCollectionModelTest : public StoreFixture
{
protected:
    Case *caseWithImages(int count)
    {
        Case *item = newCase(QStringLiteral("ABC1234"));
        for (int i = 0; i < count; ++i) {
            QImage image(300, 200, QImage::Format_RGB32);
            image.fill(QColor::fromHsv(i * 50, 255, 255));
            QByteArray data;
            QBuffer buffer(&data);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "jpeg");
            item->addMedia(data, QStringLiteral("image %1.jpg").arg(i));
        }
        return item;
    }
};

} // namespace

TEST_F(MediaCollectionModelTest, RowsShowNamesAndThumbnailsThatArriveRowByRow)
{
    MediaThumbnailProvider provider{QString()};
    MediaCollectionModel model(&provider);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    Case *item = caseWithImages(3);
    model.setMedia(item->sortedMedia());
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.data(model.index(1), Qt::DisplayRole).toString(), QStringLiteral("image 1.jpg"));
    EXPECT_EQ(model.mediaAt(2), item->sortedMedia()[2]);
    EXPECT_EQ(model.mediaAt(3), nullptr);

    // Not made yet: no decoration. Each row changes alone when its thumbnail comes.
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    EXPECT_FALSE(model.data(model.index(1), Qt::DecorationRole).isValid());
    EXPECT_FALSE(model.data(model.index(1), MediaCollectionModel::ThumbnailReadyRole).toBool());
    model.prefetchThumbnails();
    // Generous: the thumbnails are decoded on the pool, which a loaded machine slows.
    QTest::qWaitFor([&] { return changed.count() >= 3; }, 30000);
    QList<int> rows;
    for (const QList<QVariant> &arguments : changed) {
        EXPECT_EQ(arguments.at(0).toModelIndex(), arguments.at(1).toModelIndex());
        rows.append(arguments.at(0).toModelIndex().row());
    }
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (QList<int>{0, 1, 2}));
    const QImage thumbnail = model.data(model.index(1), Qt::DecorationRole).value<QImage>();
    EXPECT_EQ(thumbnail.size(), QSize(160, 106));
    EXPECT_TRUE(model.data(model.index(1), MediaCollectionModel::ThumbnailReadyRole).toBool());

    // The same records again refresh in place; another list resets.
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    changed.clear();
    model.setMedia(item->sortedMedia());
    EXPECT_EQ(reset.count(), 0);
    EXPECT_EQ(changed.count(), 1);
    model.setMedia(item->sortedMedia().mid(1));
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(model.rowCount(), 2);
    model.setMedia({});
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(MediaCollectionModelTest, DraggedRowsBecomeTheirPositionsWhenDraggingIsOn)
{
    MediaThumbnailProvider provider{QString()};
    MediaCollectionModel model(&provider);
    model.setMedia(caseWithImages(4)->sortedMedia());
    EXPECT_FALSE(model.flags(model.index(0)) & Qt::ItemIsDragEnabled);
    model.setDragEnabled(true);
    EXPECT_TRUE(model.flags(model.index(0)) & Qt::ItemIsDragEnabled);
    std::unique_ptr<QMimeData> data(model.mimeData({model.index(3), model.index(0), model.index(2)}));
    EXPECT_EQ(MediaDragAndDrop::draggedIndexes(data.get()), (QList<int>{0, 2, 3}));
    EXPECT_EQ(model.mimeTypes(), QStringList{MediaDragAndDrop::mediaDragType()});
}

} // namespace ovalis::test
