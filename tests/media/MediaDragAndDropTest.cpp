#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

#include "media/MediaDragAndDrop.h"
#include "support/DicomTestImage.h"
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

TEST(MediaDragAndDropTest, FoldersAndFilesThatAreDicomByTheirContentGoToTheDicomImport)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString dicom = folder.filePath(QStringLiteral("IM0001"));
    ASSERT_TRUE(ovalis::test::DicomTestImage::ramp(2, 2, 0).write(dicom));
    QFile notes(folder.filePath(QStringLiteral("notes.dcm")));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly) && notes.write(QByteArray(200, 'x')) == 200);
    notes.close();
    const auto drop = [&](const QStringList &names) { return filesDrop(names, folder.path() + QLatin1Char('/')); };

    // A file without a DICOM extension, told by its content; a folder; both with others.
    EXPECT_EQ(MediaDragAndDrop::dicomDropPaths(drop({QStringLiteral("IM0001")}).get()), QStringList{dicom});
    EXPECT_EQ(MediaDragAndDrop::dicomDropPaths(drop({QString()}).get()).size(), 1);
    EXPECT_EQ(MediaDragAndDrop::dicomDropPaths(drop({QStringLiteral("notes.dcm"), QStringLiteral("IM0001")}).get()).size(), 2);
    EXPECT_EQ(MediaDragAndDrop::validateDrop(drop({QStringLiteral("IM0001")}).get(), true), MediaDragAndDrop::DropOperation::Copy);
    // A name alone does not make DICOM, and images stay an ordinary drop.
    EXPECT_TRUE(MediaDragAndDrop::dicomDropPaths(drop({QStringLiteral("notes.dcm")}).get()).isEmpty());
    EXPECT_TRUE(MediaDragAndDrop::dicomDropPaths(drop({QStringLiteral("a.jpg")}).get()).isEmpty());
    EXPECT_EQ(MediaDragAndDrop::validateDrop(drop({QStringLiteral("notes.dcm")}).get(), true), MediaDragAndDrop::DropOperation::None);
}
