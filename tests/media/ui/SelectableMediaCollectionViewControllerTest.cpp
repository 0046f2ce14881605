#include <QAction>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QItemSelectionModel>
#include <QListView>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

#include "media/MediaCollectionModel.h"
#include "media/MediaThumbnailProvider.h"
#include "media/ui/SelectableMediaCollectionViewController.h"
#include "store/LibraryNotifications.h"
#include "support/StoreFixture.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/SerialQueue.h"
#include "util/UndoManager.h"

namespace ovalis::test {
namespace {

QByteArray pngData(const QColor &colour)
{
    QImage image(24, 16, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return data;
}

class SelectableMediaCollectionViewControllerTest : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        m_provider = std::make_unique<MediaThumbnailProvider>(m_directory.filePath(QStringLiteral("thumbnails")));
        m_grid = std::make_unique<SelectableMediaCollectionViewController>(m_provider.get());
        m_grid->resize(800, 600);
    }

    void TearDown() override
    {
        m_grid.reset();
        m_provider.reset();
        StoreFixture::TearDown();
    }

    // A saved case with media m0.png … m(count-1).png, in that order.
    Case *caseWithMedia(int count)
    {
        Case *item = newCase(QStringLiteral("ABC1234"));
        for (int i = 0; i < count; ++i)
            item->addMedia(pngData(QColor::fromHsv(i * 40, 200, 200)), QStringLiteral("m%1.png").arg(i));
        context()->saveWithParent(true);
        return item;
    }

    QStringList fileNames(const QList<Media *> &media) const
    {
        QStringList names;
        for (const Media *item : media)
            names.append(item->fileName());
        return names;
    }

    QList<int> selectedRows() const
    {
        QList<int> rows;
        for (const QModelIndex &index : m_grid->collectionView()->selectionModel()->selectedIndexes())
            rows.append(index.row());
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    void select(const QList<int> &rows)
    {
        QItemSelectionModel *selection = m_grid->collectionView()->selectionModel();
        selection->clearSelection();
        for (int row : rows)
            selection->select(m_grid->model()->index(row), QItemSelectionModel::Select);
    }

    // The last (media, multipleFiles) the display was asked to show.
    static std::pair<Media *, bool> lastDisplay(const QSignalSpy &spy)
    {
        const QList<QVariant> arguments = spy.last();
        return {arguments.at(0).value<Media *>(), arguments.at(1).toBool()};
    }

    std::unique_ptr<MediaThumbnailProvider> m_provider;
    std::unique_ptr<SelectableMediaCollectionViewController> m_grid;
};

} // namespace

TEST_F(SelectableMediaCollectionViewControllerTest, TheSelectionDecidesWhatTheDisplayShows)
{
    Case *item = caseWithMedia(3);
    QSignalSpy display(m_grid.get(), &SelectableMediaCollectionViewController::displayRequested);
    QSignalSpy shownCase(m_grid.get(), &SelectableMediaCollectionViewController::currentCaseShown);

    m_grid->setCurrentCase(item);
    EXPECT_EQ(fileNames(m_grid->mediaArray()), (QStringList{"m0.png", "m1.png", "m2.png"}));
    EXPECT_EQ(m_grid->model()->rowCount(), 3);
    // A reload with nothing selected selects the first item, and tells the display once.
    EXPECT_EQ(selectedRows(), QList<int>{0});
    ASSERT_EQ(display.count(), 1);
    EXPECT_EQ(lastDisplay(display), std::make_pair(m_grid->mediaArray()[0], false));
    ASSERT_EQ(shownCase.count(), 1);
    EXPECT_EQ(shownCase.last().at(0).value<Case *>(), item);

    select({0, 2});
    EXPECT_EQ(lastDisplay(display), std::make_pair(static_cast<Media *>(nullptr), true));
    EXPECT_EQ(m_grid->selectedMedia().size(), 2);
    select({2});
    EXPECT_EQ(lastDisplay(display), std::make_pair(m_grid->mediaArray()[2], false));
    m_grid->collectionView()->selectionModel()->clearSelection();
    EXPECT_EQ(lastDisplay(display), std::make_pair(static_cast<Media *>(nullptr), false));

    // A reload keeps the selected records selected.
    select({1});
    m_grid->reloadMedia();
    EXPECT_EQ(selectedRows(), QList<int>{1});
    EXPECT_EQ(lastDisplay(display), std::make_pair(m_grid->mediaArray()[1], false));

    // Without a case the grid is empty and the display shows nothing.
    m_grid->setCurrentCase(nullptr);
    EXPECT_TRUE(m_grid->mediaArray().isEmpty());
    EXPECT_EQ(lastDisplay(display), std::make_pair(static_cast<Media *>(nullptr), false));
    EXPECT_EQ(shownCase.last().at(0).value<Case *>(), nullptr);
}

TEST_F(SelectableMediaCollectionViewControllerTest, MovingTheSelectionStepsAndStopsAtBothEnds)
{
    m_grid->moveSelection(1); // no items: nothing happens
    EXPECT_TRUE(selectedRows().isEmpty());

    m_grid->setCurrentCase(caseWithMedia(4));
    QSignalSpy display(m_grid.get(), &SelectableMediaCollectionViewController::displayRequested);
    m_grid->moveSelection(1);
    EXPECT_EQ(selectedRows(), QList<int>{1});
    EXPECT_EQ(lastDisplay(display).first, m_grid->mediaArray()[1]);
    m_grid->moveSelection(1);
    m_grid->moveSelection(1);
    EXPECT_EQ(selectedRows(), QList<int>{3});
    m_grid->moveSelection(1);
    EXPECT_EQ(selectedRows(), QList<int>{3});
    EXPECT_EQ(lastDisplay(display).first, m_grid->mediaArray()[3]);

    m_grid->collectionView()->selectionModel()->clearSelection();
    m_grid->moveSelection(-1);
    EXPECT_EQ(selectedRows(), QList<int>{3});
    m_grid->collectionView()->selectionModel()->clearSelection();
    m_grid->moveSelection(1);
    EXPECT_EQ(selectedRows(), QList<int>{0});
    m_grid->moveSelection(-1);
    EXPECT_EQ(selectedRows(), QList<int>{0});

    // From several selected items one step leaves only one selected.
    select({1, 2});
    m_grid->collectionView()->selectionModel()->setCurrentIndex(m_grid->model()->index(2), QItemSelectionModel::NoUpdate);
    m_grid->moveSelection(-1);
    EXPECT_EQ(selectedRows(), QList<int>{1});
    EXPECT_EQ(lastDisplay(display), std::make_pair(m_grid->mediaArray()[1], false));
}

TEST_F(SelectableMediaCollectionViewControllerTest, DraggingItemsReordersTheCaseAndSelectsTheFirstMovedItem)
{
    Case *item = caseWithMedia(5);
    m_grid->setCurrentCase(item);
    QSignalSpy display(m_grid.get(), &SelectableMediaCollectionViewController::displayRequested);

    // Items 1 and 3 dragged out of the grid and dropped at its end.
    std::unique_ptr<QMimeData> drag(m_grid->model()->mimeData({m_grid->model()->index(3), m_grid->model()->index(1)}));
    ASSERT_EQ(m_grid->validateDrop(drag.get()), MediaDragAndDrop::DropOperation::Move);
    ASSERT_TRUE(m_grid->acceptDrop(drag.get(), 5));
    EXPECT_EQ(fileNames(item->sortedMedia()), (QStringList{"m0.png", "m2.png", "m4.png", "m1.png", "m3.png"}));
    EXPECT_EQ(fileNames(m_grid->mediaArray()), fileNames(item->sortedMedia()));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(item->sortedMedia()[i]->orderIndex(), i);
    EXPECT_EQ(selectedRows(), QList<int>{3});
    EXPECT_EQ(lastDisplay(display).first->fileName(), QStringLiteral("m1.png"));

    m_grid->moveItems({4}, 0);
    EXPECT_EQ(fileNames(item->sortedMedia()), (QStringList{"m3.png", "m0.png", "m2.png", "m4.png", "m1.png"}));
    EXPECT_EQ(selectedRows(), QList<int>{0});

    // A drag whose positions no longer fit the case changes nothing.
    m_grid->moveItems({2, 5}, 0);
    EXPECT_EQ(fileNames(item->sortedMedia()), (QStringList{"m3.png", "m0.png", "m2.png", "m4.png", "m1.png"}));
    // The move is left for the next save of the main context.
    EXPECT_TRUE(context()->hasChanges());
}

TEST_F(SelectableMediaCollectionViewControllerTest, ImportedFilesArriveInOrderAndAnUnreadableOneIsSkipped)
{
    Case *item = caseWithMedia(1);
    m_grid->setCurrentCase(item);
    QDir().mkpath(m_directory.filePath(QStringLiteral("incoming")));
    const auto write = [this](const QString &name, const QByteArray &data) {
        QFile file(m_directory.filePath(QStringLiteral("incoming/") + name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return QUrl::fromLocalFile(file.fileName());
    };
    const QUrl first = write(QStringLiteral("b first.png"), pngData(Qt::red));
    const QUrl unreadable = QUrl::fromLocalFile(m_directory.filePath(QStringLiteral("incoming/missing.jpg")));
    const QUrl last = write(QStringLiteral("a last.png"), pngData(Qt::blue));

    LogCapture log;
    QSignalSpy finished(m_grid.get(), &SelectableMediaCollectionViewController::importFinished);
    m_grid->importURLs({first, unreadable, last});
    ASSERT_TRUE(finished.wait(10000));

    EXPECT_EQ(fileNames(item->sortedMedia()), (QStringList{"m0.png", "b first.png", "a last.png"}));
    EXPECT_EQ(fileNames(m_grid->mediaArray()), fileNames(item->sortedMedia()));
    for (Media *media : item->sortedMedia())
        EXPECT_TRUE(media->fileExists()) << media->description().toStdString();
    // Saved to the store, not only into the main context.
    EXPECT_FALSE(context()->hasChanges());

    QStringList imports;
    for (const QString &message : log.messages())
        if (message.startsWith(QStringLiteral("Import ")))
            imports.append(message);
    EXPECT_EQ(imports, (QStringList{QStringLiteral("Import ") + first.toString(QUrl::FullyEncoded),
                                    QStringLiteral("Import ") + unreadable.toString(QUrl::FullyEncoded),
                                    QStringLiteral("Import ") + last.toString(QUrl::FullyEncoded)}));
    EXPECT_TRUE(log.containsPrefix(QStringLiteral("Unable to import media at URL: ") + unreadable.path() + QStringLiteral(" (")));

    // A dropped file goes the same way.
    QMimeData drop;
    drop.setUrls({write(QStringLiteral("dropped.jpg"), pngData(Qt::green))});
    ASSERT_EQ(m_grid->validateDrop(&drop), MediaDragAndDrop::DropOperation::Copy);
    ASSERT_TRUE(m_grid->acceptDrop(&drop, 0));
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(item->sortedMedia().last()->fileName(), QStringLiteral("dropped.jpg"));

    // Without a case nothing is imported or dropped.
    m_grid->setCurrentCase(nullptr);
    EXPECT_EQ(m_grid->validateDrop(&drop), MediaDragAndDrop::DropOperation::None);
    m_grid->importURLs({first});
    EXPECT_FALSE(finished.wait(300));
}

TEST_F(SelectableMediaCollectionViewControllerTest, ImportMediaListsPicturesWhateverTheLetterCaseOfTheirExtension)
{
    Case *item = caseWithMedia(0);
    m_grid->setCurrentCase(item);
    m_grid->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_grid.get()));
    QTemporaryDir folder;
    for (const QString &name : {QStringLiteral("IMG_0001.JPG"), QStringLiteral("scan.Png"), QStringLiteral("b.jpg"),
                                QStringLiteral("notes.txt"), QStringLiteral("clip.mov")}) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(pngData(Qt::blue));
    }

    m_grid->importMedia();
    auto *dialog = m_grid->findChild<QFileDialog *>();
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(folder.path());
    auto *list = dialog->findChild<QListView *>(QStringLiteral("listView"));
    ASSERT_NE(list, nullptr);
    const auto listed = [&] {
        QStringList names;
        for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row)
            names.append(list->model()->index(row, 0, list->rootIndex()).data().toString());
        names.sort(Qt::CaseInsensitive);
        return names;
    };
    const QStringList pictures{QStringLiteral("b.jpg"), QStringLiteral("IMG_0001.JPG"), QStringLiteral("scan.Png")};
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed() == pictures; }, 10000)) << listed().join(QLatin1Char(' ')).toStdString();

    QSignalSpy finished(m_grid.get(), &SelectableMediaCollectionViewController::importFinished);
    // Picked in the list, as a click does.
    QModelIndex camera;
    for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row)
        if (list->model()->index(row, 0, list->rootIndex()).data().toString() == QStringLiteral("IMG_0001.JPG"))
            camera = list->model()->index(row, 0, list->rootIndex());
    ASSERT_TRUE(camera.isValid());
    list->selectionModel()->select(camera, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ASSERT_EQ(dialog->selectedFiles(), QStringList{folder.filePath(QStringLiteral("IMG_0001.JPG"))});
    static_cast<QDialog *>(dialog)->accept(); // as the dialog's Import Media button does
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(fileNames(item->sortedMedia()), QStringList{QStringLiteral("IMG_0001.JPG")});
}

TEST_F(SelectableMediaCollectionViewControllerTest, DeletingRemovesTheSelectedMediaAndRenumbersTheRest)
{
    Case *item = caseWithMedia(5);
    m_stack->undoManager()->removeAllActions();
    m_grid->setCurrentCase(item);
    const QString secondPath = m_grid->mediaArray()[1]->filePath();
    const QString fourthPath = m_grid->mediaArray()[3]->filePath();
    int updates = 0;
    ObserverToken updatedMediaToken = NotificationCenter::defaultCenter().addObserver(
        LibraryNotifications::updatedMedia, nullptr, [&updates](const Notification &) { ++updates; });

    LogCapture log;
    select({1, 3});
    m_grid->deleteMedia();
    EXPECT_EQ(fileNames(item->sortedMedia()), (QStringList{"m0.png", "m2.png", "m4.png"}));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(item->sortedMedia()[i]->orderIndex(), i);
    EXPECT_EQ(fileNames(m_grid->mediaArray()), fileNames(item->sortedMedia()));
    EXPECT_EQ(updates, 1);
    QStringList commandLines; // the file store's own lines aside
    for (const LogCapture::Entry &entry : log.entries())
        if (entry.area != LogArea::Filing)
            commandLines.append(entry.message);
    EXPECT_EQ(commandLines.mid(0, 5), (QStringList{"Delete media", "MediaCollectionViewController delete",
                                                   "Case delete 2 media", "Deleted media, case now has 4 media",
                                                   "Deleted media, case now has 3 media"}));
    // The files leave the library, kept aside for Undo.
    m_stack->fileDeletionQueue()->waitForDone();
    EXPECT_FALSE(QFile::exists(secondPath));
    EXPECT_FALSE(QFile::exists(fourthPath));
    // With the selected records gone, the first item is selected.
    EXPECT_EQ(selectedRows(), QList<int>{0});

    // Edit > Undo brings back the media with their files.
    m_stack->undoManager()->undo();
    m_stack->fileDeletionQueue()->waitForDone();
    EXPECT_EQ(fileNames(item->sortedMedia()), (QStringList{"m0.png", "m1.png", "m2.png", "m3.png", "m4.png"}));
    EXPECT_TRUE(QFile::exists(secondPath));
    EXPECT_TRUE(QFile::exists(fourthPath));

    m_grid->setCurrentCase(nullptr);
    log.clear();
    m_grid->deleteSelection();
    EXPECT_TRUE(log.contains(QStringLiteral("MediaCollectionViewController delete - no current case"), LogLevel::Error));
}

TEST_F(SelectableMediaCollectionViewControllerTest, DeletingOnlyTheFileKeepsTheRecordAndShowsThePlaceholder)
{
    Case *item = caseWithMedia(2);
    m_grid->show();
    m_grid->setCurrentCase(item);
    Media *first = m_grid->mediaArray()[0];
    QSignalSpy display(m_grid.get(), &SelectableMediaCollectionViewController::displayRequested);
    select({0});
    m_grid->deleteMediaFile();
    m_stack->fileDeletionQueue()->waitForDone();
    EXPECT_FALSE(first->fileExists());
    EXPECT_EQ(item->sortedMedia().size(), 2);

    // Once the file is gone, the grid asks again and the placeholder arrives.
    const QString uuid = first->uuid();
    const QString path = first->filePath();
    for (int attempt = 0; attempt < 100 && m_provider->kind(uuid, path) != MediaThumbnailRenderer::Kind::Placeholder; ++attempt) {
        QTest::qWait(20);
        m_grid->model()->data(m_grid->model()->index(0), Qt::DecorationRole);
    }
    EXPECT_EQ(m_provider->kind(uuid, path), MediaThumbnailRenderer::Kind::Placeholder);
    EXPECT_EQ(lastDisplay(display).first, first);
}

TEST_F(SelectableMediaCollectionViewControllerTest, DuplicatesGoToTheEndOfTheCaseUnderFreshUuids)
{
    Case *item = caseWithMedia(3);
    m_grid->setCurrentCase(item);
    select({0, 2});
    m_grid->duplicate();
    const QList<Media *> media = item->sortedMedia();
    EXPECT_EQ(fileNames(media), (QStringList{"m0.png", "m1.png", "m2.png", "m0.png", "m2.png"}));
    EXPECT_NE(media[3]->uuid(), media[0]->uuid());
    EXPECT_TRUE(media[4]->fileExists());
    EXPECT_EQ(media[4]->orderIndex(), 4);
}

TEST_F(SelectableMediaCollectionViewControllerTest, AShownGridReloadsOnUpdatedMediaUntilItIsHidden)
{
    Case *item = caseWithMedia(2);
    m_grid->setCurrentCase(item);
    EXPECT_FALSE(m_grid->isObservingMedia());
    m_grid->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_grid.get()));
    EXPECT_TRUE(m_grid->isObservingMedia());

    LogCapture log;
    item->addMedia(pngData(Qt::black), QStringLiteral("new.png"));
    EXPECT_EQ(m_grid->mediaArray().size(), 3);
    EXPECT_EQ(log.count(QStringLiteral("Media was updated")), 1);

    m_grid->hide();
    EXPECT_FALSE(m_grid->isObservingMedia());
    item->addMedia(pngData(Qt::black), QStringLiteral("later.png"));
    EXPECT_EQ(m_grid->mediaArray().size(), 3);
    // Shown again, it catches up.
    m_grid->show();
    EXPECT_EQ(m_grid->mediaArray().size(), 4);
}

TEST_F(SelectableMediaCollectionViewControllerTest, TheCommandsHaveTheirShortcutsAndFormTheContextMenu)
{
    QStringList shortcuts;
    for (QAction *action : m_grid->commandActions())
        if (!action->shortcut().isEmpty())
            shortcuts.append(action->shortcut().toString(QKeySequence::PortableText));
    EXPECT_EQ(shortcuts, (QStringList{"Ctrl+I", "Ctrl+D", "Del"}));
    EXPECT_EQ(m_grid->collectionView()->contextMenuPolicy(), Qt::ActionsContextMenu);
    EXPECT_EQ(m_grid->collectionView()->actions(), m_grid->commandActions());

    // The Delete key on the focused grid deletes the selection.
    Case *item = caseWithMedia(2);
    m_grid->show();
    m_grid->setCurrentCase(item);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_grid.get()));
    m_grid->activateWindow();
    m_grid->collectionView()->setFocus();
    QTest::keyClick(m_grid->collectionView(), Qt::Key_Delete);
    EXPECT_EQ(fileNames(item->sortedMedia()), QStringList{"m1.png"});
}

} // namespace ovalis::test
