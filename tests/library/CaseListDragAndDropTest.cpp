#include <QMimeData>
#include <gtest/gtest.h>
#include <memory>

#include "library/CaseListDragAndDrop.h"
#include "support/FilesDrop.h"
#include "util/KeyedArchive.h"
#include "util/Log.h"

using namespace ovalis;
using ovalis::test::filesDrop;

namespace {

using Operation = CaseListDragAndDrop::DropOperation;
using Position = CaseListDragAndDrop::DropPosition;

std::unique_ptr<QMimeData> caseDrag(const QList<int> &rows)
{
    return std::unique_ptr<QMimeData>(CaseListDragAndDrop::mimeDataForRows(IndexSet::fromIndexes(rows)));
}

std::unique_ptr<QMimeData> doiDrop(const QString &doi)
{
    auto data = std::make_unique<QMimeData>();
    data->setData(CaseListDragAndDrop::doiDragType(), doi.toUtf8());
    return data;
}

TEST(CaseListDragAndDropTest, DraggedRowsTravelAsAKeyedArchiveOfTheirIndexSet)
{
    LogCapture log;
    std::unique_ptr<QMimeData> data = caseDrag({4, 0, 1});
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->formats(), QStringList{QStringLiteral("nz.org.vantor.ovalis.CaseDrag")});
    EXPECT_TRUE(log.contains(QStringLiteral("Write rows at [number of indexes: 3 (in 2 ranges), indexes: (0-1 4)]")));
    const std::optional<QVariant> archived = KeyedArchive::unarchive(data->data(CaseListDragAndDrop::caseDragType()));
    ASSERT_TRUE(archived.has_value());
    EXPECT_EQ(archived->value<IndexSet>(), IndexSet::fromIndexes({0, 1, 4}));
    EXPECT_EQ(CaseListDragAndDrop::draggedRows(data.get()), IndexSet::fromIndexes({0, 1, 4}));

    // Damaged data, another archived object, or no case drag at all: no rows.
    data->setData(CaseListDragAndDrop::caseDragType(), "not an archive");
    EXPECT_FALSE(CaseListDragAndDrop::draggedRows(data.get()).has_value());
    data->setData(CaseListDragAndDrop::caseDragType(), *KeyedArchive::archive(QStringLiteral("rows")));
    EXPECT_FALSE(CaseListDragAndDrop::draggedRows(data.get()).has_value());
    EXPECT_FALSE(CaseListDragAndDrop::draggedRows(filesDrop({QStringLiteral("a.jpg")}).get()).has_value());
    EXPECT_FALSE(CaseListDragAndDrop::draggedRows(nullptr).has_value());
}

TEST(CaseListDragAndDropTest, OnlyTheMiddleOfARowIsOnTheRow)
{
    // A row of 30 pixels from y = 60 has a margin of 5 at either edge.
    const QList<QPair<int, Position>> expected = {{59, Position::OutsideRows}, {60, Position::BetweenRows}, {64, Position::BetweenRows},
                                                  {65, Position::OnRow},       {84, Position::OnRow},       {85, Position::BetweenRows},
                                                  {89, Position::BetweenRows}, {90, Position::OutsideRows}};
    for (const auto &[y, position] : expected)
        EXPECT_EQ(CaseListDragAndDrop::positionInRow(y, 60, 30), position) << y;
    // Small rows keep a margin of 2, tall ones at most 12.
    EXPECT_EQ(CaseListDragAndDrop::positionInRow(1, 0, 8), Position::BetweenRows);
    EXPECT_EQ(CaseListDragAndDrop::positionInRow(2, 0, 8), Position::OnRow);
    EXPECT_EQ(CaseListDragAndDrop::positionInRow(12, 0, 200), Position::OnRow);
}

TEST(CaseListDragAndDropTest, TheTagListTakesDraggedCasesOnARowAsACopy)
{
    const auto validate = [](const QMimeData *data, Position position) {
        return CaseListDragAndDrop::validateTagListDrop(data, position);
    };
    EXPECT_EQ(validate(caseDrag({0, 1, 2}).get(), Position::OnRow), Operation::Copy);
    EXPECT_EQ(validate(caseDrag({0}).get(), Position::BetweenRows), Operation::None);
    EXPECT_EQ(validate(caseDrag({0}).get(), Position::OutsideRows), Operation::None);
    EXPECT_EQ(validate(filesDrop({QStringLiteral("a.jpg")}).get(), Position::OnRow), Operation::None);
    EXPECT_EQ(validate(doiDrop(QStringLiteral("10.1000/182")).get(), Position::OnRow), Operation::None);
    EXPECT_EQ(validate(nullptr, Position::OnRow), Operation::None);
}

TEST(CaseListDragAndDropTest, TheCaseListTakesADoiAcceptedFilesOrExactlyOneCaseOnARow)
{
    const auto validate = [](const std::unique_ptr<QMimeData> &data, Position position = Position::OnRow) {
        return CaseListDragAndDrop::validateCaseListDrop(data.get(), position);
    };
    EXPECT_EQ(validate(doiDrop(QStringLiteral("10.1000/182"))), Operation::Link);
    EXPECT_EQ(validate(doiDrop(QStringLiteral("10.1000/182")), Position::BetweenRows), Operation::None);

    EXPECT_EQ(validate(filesDrop({QStringLiteral("a.jpg"), QStringLiteral("b.jpeg")})), Operation::Copy);
    EXPECT_EQ(validate(filesDrop({QStringLiteral("c.png"), QStringLiteral("d.gif"), QStringLiteral("e.tif"), QStringLiteral("clip.mov")})),
              Operation::Copy);
    EXPECT_EQ(validate(filesDrop({QStringLiteral("a.jpg")}), Position::BetweenRows), Operation::None);
    EXPECT_EQ(validate(filesDrop({QStringLiteral("report.pdf")})), Operation::None);
    EXPECT_EQ(validate(filesDrop({QStringLiteral("a.jpg"), QStringLiteral("notes.txt")})), Operation::None);
    EXPECT_EQ(validate(filesDrop({QStringLiteral("IMG_0001.JPG"), QStringLiteral("b.TIFF")})), Operation::Copy);
    EXPECT_EQ(validate(filesDrop({QStringLiteral("IMG_0001.JPG"), QStringLiteral("REPORT.PDF")})), Operation::None);
    // A web address is not a file, whatever its name.
    auto web = std::make_unique<QMimeData>();
    web->setUrls({QUrl(QStringLiteral("https://example.org/a.jpg"))});
    EXPECT_EQ(validate(web), Operation::None);

    EXPECT_EQ(validate(caseDrag({3})), Operation::Any);
    EXPECT_EQ(validate(caseDrag({3}), Position::BetweenRows), Operation::None);
    EXPECT_EQ(validate(caseDrag({3, 4})), Operation::None);
    EXPECT_EQ(validate(caseDrag({})), Operation::None);
    auto unreadable = std::make_unique<QMimeData>();
    unreadable->setData(CaseListDragAndDrop::caseDragType(), "x");
    EXPECT_EQ(validate(unreadable), Operation::None);

    auto text = std::make_unique<QMimeData>();
    text->setText(QStringLiteral("some text"));
    EXPECT_EQ(validate(text), Operation::None);
    // A DOI is read as the text it carries.
    EXPECT_EQ(CaseListDragAndDrop::droppedDOI(doiDrop(QStringLiteral("10.1148/radiol.2021")).get()), QStringLiteral("10.1148/radiol.2021"));
}

} // namespace
