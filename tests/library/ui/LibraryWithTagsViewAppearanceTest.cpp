#include <QApplication>
#include <QLabel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

#include "library/LibraryWithTagsViewController.h"
#include "library/TagTableModel.h"
#include "library/ui/LibraryWindowController.h"
#include "library/ui/LibraryWithTagsView.h"
#include "store/FetchedResultsController.h"
#include "support/StoreFixture.h"
#include "util/ContrastRatio.h"

namespace ovalis::test {
namespace {

// The style option the tag list's delegate paints a cell with.
class OptionProbe : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::initStyleOption;
};

// The look of the library window's lists: how an active tag is told from the
// selected row, and whether dimmed text can be read, in the palette in force
// when the window is made.
class LibraryWithTagsViewAppearanceTest : public StoreFixture
{
protected:
    // "chest" on both cases, "spine" on the first, "unused" on none.
    void SetUp() override
    {
        StoreFixture::SetUp();
        m_chest = newTag(QStringLiteral("chest"));
        m_spine = newTag(QStringLiteral("spine"));
        m_unused = newTag(QStringLiteral("unused"));
        Case *first = newCase(QStringLiteral("ABC1001"));
        first->addToTags(m_chest);
        first->addToTags(m_spine);
        newCase(QStringLiteral("ABC1002"))->addToTags(m_chest);
        context()->saveWithParent(true);
    }

    void TearDown() override
    {
        m_window.reset();
        StoreFixture::TearDown();
    }

    void openWindow()
    {
        m_window = std::make_unique<LibraryWindowController>(*m_stack);
        m_window->show();
        m_window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    }

    LibraryWithTagsView *view() const { return m_window->libraryView(); }
    LibraryWithTagsViewController *library() const { return m_window->libraryViewController(); }
    QTableView *tags() const { return view()->tagsTableView(); }
    TagTableModel *model() const { return library()->tagsModel(); }
    QModelIndex labelOf(const Tag *tag) const { return model()->index(model()->rowOfObject(tag), TagTableModel::LabelColumn); }

    // Where the tag list paints a label cell's decoration, in its viewport.
    QRect decorationRect(const QModelIndex &index) const
    {
        OptionProbe probe;
        QStyleOptionViewItem option;
        option.initFrom(tags());
        option.rect = tags()->visualRect(index);
        option.decorationSize = tags()->iconSize().isValid()
            ? tags()->iconSize()
            : QSize(tags()->style()->pixelMetric(QStyle::PM_SmallIconSize), tags()->style()->pixelMetric(QStyle::PM_SmallIconSize));
        probe.initStyleOption(&option, index);
        return tags()->style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &option, tags());
    }

    // How many pixels in the rectangle are within tolerance of the colour.
    static int pixelsNear(const QImage &image, const QRect &rect, const QColor &colour, int tolerance = 60)
    {
        int count = 0;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (std::abs(pixel.red() - colour.red()) + std::abs(pixel.green() - colour.green())
                        + std::abs(pixel.blue() - colour.blue()) <= tolerance)
                    ++count;
            }
        return count;
    }

    // Every colour the window dims or accents text with reaches 4.5:1 on the
    // background it is painted on.
    void expectReadableDimmedText()
    {
        // The case count, on the window.
        QLabel *count = view()->caseCountField();
        const QColor countText = count->palette().color(QPalette::Active, count->foregroundRole());
        const QColor countBackground = count->palette().color(QPalette::Active, QPalette::Window);
        EXPECT_GE(ContrastRatio::between(countText, countBackground), ContrastRatio::readableText)
            << countText.name(QColor::HexArgb).toStdString() << " on " << countBackground.name().toStdString();

        // A tag without active cases, and the active tag, on either row colour.
        library()->toggleTagActivity(model()->rowOfObject(m_spine));
        library()->tagsFetchedResultsController()->setPredicate(Predicate());
        model()->reload();
        ASSERT_GE(model()->rowOfObject(m_unused), 0);
        const QColor dimmed = model()->data(labelOf(m_unused), Qt::ForegroundRole).value<QColor>();
        const QColor accent = model()->data(labelOf(m_spine), Qt::ForegroundRole).value<QColor>();
        ASSERT_TRUE(dimmed.isValid());
        ASSERT_TRUE(accent.isValid());
        const QPalette rows = tags()->palette();
        for (const QPalette::ColorRole role : {QPalette::Base, QPalette::AlternateBase}) {
            const QColor background = rows.color(QPalette::Active, role);
            EXPECT_GE(ContrastRatio::between(dimmed, background), ContrastRatio::readableText)
                << dimmed.name(QColor::HexArgb).toStdString() << " on " << background.name().toStdString();
            EXPECT_GE(ContrastRatio::between(accent, background), ContrastRatio::readableText)
                << accent.name(QColor::HexArgb).toStdString() << " on " << background.name().toStdString();
        }
        // Dimmed all the same: nearer the background than the text is.
        const QColor base = rows.color(QPalette::Active, QPalette::Base);
        EXPECT_LT(ContrastRatio::between(dimmed, base), ContrastRatio::between(rows.color(QPalette::Active, QPalette::Text), base));
    }

    std::unique_ptr<LibraryWindowController> m_window;
    Tag *m_chest = nullptr;
    Tag *m_spine = nullptr;
    Tag *m_unused = nullptr;
};

TEST_F(LibraryWithTagsViewAppearanceTest, AnActiveTagIsMarkedWhetherOrNotItsRowIsSelected)
{
    openWindow();
    library()->toggleTagActivity(model()->rowOfObject(m_chest));
    ASSERT_TRUE(m_chest->active());
    ASSERT_GE(model()->rowOfObject(m_spine), 0);
    const QColor highlight = tags()->palette().color(QPalette::Active, QPalette::Highlight);
    const QColor highlightedText = tags()->palette().color(QPalette::Active, QPalette::HighlightedText);
    const QColor accentText = model()->data(labelOf(m_chest), Qt::ForegroundRole).value<QColor>();

    // The model: a check mark for the active tag, a blank of the same size for the others.
    const QIcon mark = model()->data(labelOf(m_chest), Qt::DecorationRole).value<QIcon>();
    const QIcon blank = model()->data(labelOf(m_spine), Qt::DecorationRole).value<QIcon>();
    ASSERT_FALSE(mark.isNull());
    ASSERT_FALSE(blank.isNull());
    const QSize markSize(TagTableModel::markSize, TagTableModel::markSize);
    const QImage plain = blank.pixmap(markSize).toImage();
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x)
            ASSERT_EQ(qAlpha(plain.pixel(x, y)), 0);
    EXPECT_FALSE(model()->data(model()->index(model()->rowOfObject(m_chest), TagTableModel::CountColumn), Qt::DecorationRole).isValid());

    // Active and selected: on the selection's fill, the mark in the selected text's colour.
    tags()->setFocus();
    tags()->selectRow(model()->rowOfObject(m_chest));
    QImage shown = tags()->viewport()->grab().toImage();
    const QRect chestMark = decorationRect(labelOf(m_chest));
    ASSERT_FALSE(chestMark.isEmpty());
    EXPECT_GT(pixelsNear(shown, chestMark, highlightedText), 6);
    EXPECT_GT(pixelsNear(shown, chestMark, highlight), 6);

    // Active, another row selected: the mark in the accent, on the row's own colour.
    tags()->selectRow(model()->rowOfObject(m_spine));
    shown = tags()->viewport()->grab().toImage();
    EXPECT_GT(pixelsNear(shown, chestMark, accentText), 6);
    EXPECT_EQ(pixelsNear(shown, chestMark, highlight, 20), 0);
    // Selected but not active: the fill alone, no mark.
    const QRect spineMark = decorationRect(labelOf(m_spine));
    EXPECT_EQ(pixelsNear(shown, spineMark, highlight, 20), spineMark.width() * spineMark.height());
    // The labels line up, marked or not.
    EXPECT_EQ(spineMark.left(), chestMark.left());
    EXPECT_EQ(spineMark.width(), chestMark.width());
}

TEST_F(LibraryWithTagsViewAppearanceTest, DimmedTextIsReadableInTheLightPalette)
{
    openWindow();
    ASSERT_GT(ContrastRatio::relativeLuminance(tags()->palette().color(QPalette::Base)), 0.5);
    expectReadableDimmedText();
}

TEST_F(LibraryWithTagsViewAppearanceTest, DimmedTextIsReadableInADarkPalette)
{
    // A dark desktop palette, with the translucent placeholder text Qt derives.
    struct PaletteRestorer {
        QPalette previous = QApplication::palette();
        ~PaletteRestorer() { QApplication::setPalette(previous); }
    } restorer;
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(53, 53, 53));
    dark.setColor(QPalette::WindowText, QColor(238, 238, 236));
    dark.setColor(QPalette::Base, QColor(42, 42, 42));
    dark.setColor(QPalette::AlternateBase, QColor(50, 50, 50));
    dark.setColor(QPalette::Text, QColor(238, 238, 236));
    dark.setColor(QPalette::PlaceholderText, QColor(238, 238, 236, 90));
    dark.setColor(QPalette::Highlight, QColor(21, 83, 158));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Button, QColor(53, 53, 53));
    dark.setColor(QPalette::ButtonText, QColor(238, 238, 236));
    QApplication::setPalette(dark);
    openWindow();
    ASSERT_LT(ContrastRatio::relativeLuminance(tags()->palette().color(QPalette::Base)), 0.1);
    expectReadableDimmedText();
    m_window.reset();
}

} // namespace
} // namespace ovalis::test
