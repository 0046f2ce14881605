#include <QMimeData>
#include <gtest/gtest.h>
#include <memory>

#include "media/MediaDragAndDrop.h"
#include "support/FilesDrop.h"
#include "util/Log.h"

using namespace ovalis;
using ovalis::test::filesDrop;

TEST(MediaDragAndDropTest, AnInternalDragCarriesOnlyThePositions)
{
    std::unique_ptr<QMimeData> data(MediaDragAndDrop::mimeDataForIndexes({3, 0, 12}));
    EXPECT_EQ(data->formats(), QStringList{QStringLiteral("nz.org.vantor.ovalis.MediaDrag")});
    EXPECT_TRUE(MediaDragAndDrop::isMediaDrag(data.get()));
    EXPECT_EQ(MediaDragAndDrop::draggedIndexes(data.get()), (QList<int>{3, 0, 12}));

    // Lines that are not decimal numbers are skipped.
    data->setData(MediaDragAndDrop::mediaDragType(), "2\nx\n0x4\n7");
    EXPECT_EQ(MediaDragAndDrop::draggedIndexes(data.get()), (QList<int>{2, 7}));
    EXPECT_TRUE(MediaDragAndDrop::draggedIndexes(filesDrop({QStringLiteral("a.jpg")}).get()).isEmpty());
}

TEST(MediaDragAndDropTest, ADropIsCopiedOnlyWhenEveryFileIsAnAcceptedImageOrMovie)
{
    using Operation = MediaDragAndDrop::DropOperation;
    const auto validate = [](const QStringList &names) {
        return MediaDragAndDrop::validateDrop(filesDrop(names).get(), true);
    };
    EXPECT_EQ(validate({QStringLiteral("a.jpg"), QStringLiteral("b.png"), QStringLiteral("c.tiff"), QStringLiteral("d.gif")}),
              Operation::Copy);
    EXPECT_EQ(validate({QStringLiteral("clip.mov"), QStringLiteral("clip.mp4")}), Operation::Copy);
    // A camera's capitals are the same types.
    EXPECT_EQ(validate({QStringLiteral("IMG_0001.JPG"), QStringLiteral("scan.Png"), QStringLiteral("CLIP.MOV")}), Operation::Copy);
    // One refused file refuses the whole drop.
    EXPECT_EQ(validate({QStringLiteral("a.jpg"), QStringLiteral("notes.txt"), QStringLiteral("b.png")}), Operation::None);
    // PDFs enter a case by other ways than a drop on the grid.
    EXPECT_EQ(validate({QStringLiteral("report.pdf")}), Operation::None);
    EXPECT_EQ(validate({QStringLiteral("noextension")}), Operation::None);

    // Without a case to add to, nothing is taken, not even a reorder.
    std::unique_ptr<QMimeData> reorder(MediaDragAndDrop::mimeDataForIndexes({1}));
    EXPECT_EQ(MediaDragAndDrop::validateDrop(reorder.get(), false), Operation::None);
    EXPECT_EQ(MediaDragAndDrop::validateDrop(reorder.get(), true), Operation::Move);

    LogCapture log;
    QMimeData text;
    text.setText(QStringLiteral("hello"));
    EXPECT_EQ(MediaDragAndDrop::validateDrop(&text, true), Operation::None);
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to get data from drag pasteboard"), LogLevel::Error));
}
