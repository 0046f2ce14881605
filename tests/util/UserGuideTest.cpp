// The user guide PDF: the one the build makes from docs/user-guide.md, and
// small guides rendered here to put each part of the layout to the test.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QPdfBookmarkModel>
#include <QPdfDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace ovalis::test {
namespace {

struct ProcessResult
{
    int exitCode = -1;
    QString output;
    QString errors;
};

ProcessResult run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(300000);
    ProcessResult result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromUtf8(process.readAllStandardOutput());
    result.errors = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// The text a reader copies out of the PDF, one entry per page; with layout,
// each line as it is set (a contents entry with its page number).
QStringList pageTexts(const QString &pdfPath, bool layout = false)
{
    QStringList arguments{QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdfPath, QStringLiteral("-")};
    if (layout)
        arguments.prepend(QStringLiteral("-layout"));
    const ProcessResult text = run(QStringLiteral("pdftotext"), arguments);
    EXPECT_EQ(text.exitCode, 0) << "pdftotext (poppler-utils) is needed: " << text.errors.toStdString();
    QStringList pages = text.output.split(QLatin1Char('\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast();
    return pages;
}

QStringList trimmedLines(const QString &text)
{
    QStringList lines;
    for (const QString &line : text.split(QLatin1Char('\n')))
        lines.append(line.trimmed());
    return lines;
}

// The 1-based page whose lines include line, or 0.
int pageWithLine(const QStringList &pages, const QString &line)
{
    for (qsizetype i = 0; i < pages.size(); ++i) {
        if (trimmedLines(pages.at(i)).contains(line))
            return int(i + 1);
    }
    return 0;
}

struct Heading
{
    QString title;
    int level = 0; // 0 for "##", 1 for "###", …
    bool operator==(const Heading &other) const = default;
};

std::ostream &operator<<(std::ostream &stream, const Heading &heading)
{
    return stream << heading.level << ' ' << heading.title.toStdString();
}

// The headings below the title, outside fenced code, without their inline markup.
QList<Heading> headingsOf(const QString &markdown)
{
    static const QRegularExpression heading(QStringLiteral("^(#{2,6})\\s+(.*?)\\s*#*\\s*$"));
    QList<Heading> headings;
    bool inFence = false;
    for (const QString &line : markdown.split(QLatin1Char('\n'))) {
        if (line.startsWith(QStringLiteral("```")))
            inFence = !inFence;
        const QRegularExpressionMatch match = heading.match(line);
        if (!inFence && match.hasMatch()) {
            QString title = match.captured(2);
            title.remove(QLatin1Char('`')).remove(QLatin1Char('*'));
            headings.append({title, int(match.capturedLength(1)) - 2});
        }
    }
    return headings;
}

void collectOutline(const QPdfBookmarkModel &model, const QModelIndex &parent, QList<Heading> *outline)
{
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        outline->append({index.data(int(QPdfBookmarkModel::Role::Title)).toString(),
                         index.data(int(QPdfBookmarkModel::Role::Level)).toInt()});
        collectOutline(model, index, outline);
    }
}

QList<Heading> outlineOf(const QString &pdfPath)
{
    QPdfDocument document;
    EXPECT_EQ(document.load(pdfPath), QPdfDocument::Error::None);
    QPdfBookmarkModel model;
    model.setDocument(&document);
    QList<Heading> outline;
    collectOutline(model, QModelIndex(), &outline);
    return outline;
}

// Entry title to page number, read off the contents page.
QMap<QString, int> contentsEntries(const QString &contentsPage)
{
    static const QRegularExpression entry(QStringLiteral("^(.*?)[ .]*\\s(\\d+)$"));
    QMap<QString, int> entries;
    for (const QString &line : trimmedLines(contentsPage)) {
        const QRegularExpressionMatch match = entry.match(line);
        if (match.hasMatch() && !match.captured(1).isEmpty())
            entries.insert(match.captured(1), match.captured(2).toInt());
    }
    return entries;
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Command names as a reader types them: ovalis-cli, ovalis-cli's subcommands.
const QRegularExpression &commandPattern()
{
    static const QRegularExpression command(QStringLiteral("(?<![\\w-])ovalis-[a-z0-9]+(?:-[a-z0-9]+)*"));
    return command;
}

QMap<QString, int> commandCounts(const QString &text)
{
    QMap<QString, int> counts;
    for (auto it = commandPattern().globalMatch(text); it.hasNext();)
        ++counts[it.next().captured(0)];
    return counts;
}

// Characters a ligature leaves in copied text (U+FB00 ff … U+FB06 st).
bool hasLigature(const QString &text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0xFB00 && c.unicode() <= 0xFB06; });
}

struct WordBox
{
    QString text;
    double left = 0;
    double right = 0;
};

struct Layout
{
    QList<WordBox> words;
    double pageWidth = 0;
    // The body text's margin, taken as the smallest left edge on pages after
    // the title page, and the same on the right.
    double margin = 0;
};

// Where each word of the PDF is set.
Layout layoutOf(const QString &pdfPath)
{
    const ProcessResult boxes = run(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdfPath, QStringLiteral("-")});
    static const QRegularExpression page(QStringLiteral("<page width=\"([\\d.]+)\""));
    static const QRegularExpression word(QStringLiteral("<word xMin=\"([\\d.]+)\" yMin=\"[\\d.]+\" xMax=\"([\\d.]+)\"[^>]*>([^<]*)</word>"));
    Layout layout;
    layout.pageWidth = page.match(boxes.output).captured(1).toDouble();
    layout.margin = layout.pageWidth;
    const qsizetype secondPage = boxes.output.indexOf(QStringLiteral("<page "), boxes.output.indexOf(QStringLiteral("<page ")) + 1);
    for (auto it = word.globalMatch(boxes.output); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        layout.words.append({match.captured(3), match.captured(1).toDouble(), match.captured(2).toDouble()});
        if (match.capturedStart(0) > secondPage)
            layout.margin = std::min(layout.margin, layout.words.last().left);
    }
    EXPECT_GT(layout.words.size(), 0) << boxes.errors.toStdString();
    return layout;
}

// The words set past the right margin, cut off or nearly so.
QStringList wordsPastTheMargin(const Layout &layout)
{
    QStringList words;
    for (const WordBox &word : layout.words) {
        if (word.right > layout.pageWidth - layout.margin + 1)
            words.append(word.text);
    }
    return words;
}

TEST(UserGuideTest, BuiltGuideHasATitlePageContentsAndABookmarkPerHeading)
{
    const QString pdfPath = QStringLiteral(OVALIS_USER_GUIDE_PDF);
    const QString markdown = readText(QStringLiteral(OVALIS_USER_GUIDE_MARKDOWN));
    ASSERT_TRUE(markdown.startsWith(QStringLiteral("# "))) << "the guide begins with its title line";
    const QString title = markdown.section(QLatin1Char('\n'), 0, 0).mid(2).trimmed();
    const QList<Heading> headings = headingsOf(markdown);
    ASSERT_GT(headings.size(), 5);

    QList<Heading> expectedOutline{{QStringLiteral("Contents"), 0}};
    expectedOutline.append(headings);
    EXPECT_EQ(outlineOf(pdfPath), expectedOutline);

    const QStringList pages = pageTexts(pdfPath);
    ASSERT_GT(pages.size(), 3);
    const QStringList titlePage = trimmedLines(pages.at(0));
    EXPECT_TRUE(titlePage.contains(title)) << pages.at(0).toStdString();
    EXPECT_TRUE(titlePage.contains(QStringLiteral("Version " OVALIS_VERSION))) << pages.at(0).toStdString();
    static const QRegularExpression longDate(QStringLiteral("^\\d{1,2} [A-Z][a-z]+ \\d{4}$"));
    EXPECT_TRUE(titlePage.indexOf(longDate) >= 0) << pages.at(0).toStdString();

    // Every heading is listed with the page it stands on.
    EXPECT_TRUE(trimmedLines(pages.at(1)).contains(QStringLiteral("Contents")));
    const QString contentsPage = pageTexts(pdfPath, true).value(1);
    const QMap<QString, int> contents = contentsEntries(contentsPage);
    for (const Heading &heading : headings) {
        ASSERT_TRUE(contents.contains(heading.title)) << heading << "\n" << contentsPage.toStdString();
        const int page = contents.value(heading.title);
        ASSERT_GT(page, 2);
        ASSERT_LE(page, pages.size());
        EXPECT_TRUE(trimmedLines(pages.at(page - 1)).contains(heading.title)) << heading << " is not on page " << page;
    }
}

TEST(UserGuideTest, BuiltGuideCopiesAsWrittenWithItsFigureCaptions)
{
    const QString markdown = readText(QStringLiteral(OVALIS_USER_GUIDE_MARKDOWN));
    const QString text = pageTexts(QStringLiteral(OVALIS_USER_GUIDE_PDF)).join(QLatin1Char(' '));
    const QString words = text.simplified();
    EXPECT_FALSE(hasLigature(text));

    static const QRegularExpression figure(QStringLiteral("^!\\[([^\\]]+)\\]\\([^)\\s]+\\)\\s*$"), QRegularExpression::MultilineOption);
    int figures = 0;
    for (auto it = figure.globalMatch(markdown); it.hasNext(); ++figures) {
        const QString caption = it.next().captured(1).simplified();
        EXPECT_TRUE(words.contains(caption)) << "no caption " << caption.toStdString();
    }
    EXPECT_GT(figures, 0);

    // Command names come out whole, never split at their hyphens.
    QString prose = markdown;
    prose.remove(QRegularExpression(QStringLiteral("\\]\\([^)]*\\)")));
    const QMap<QString, int> written = commandCounts(prose);
    const QMap<QString, int> copied = commandCounts(words);
    for (auto it = written.begin(); it != written.end(); ++it)
        EXPECT_GE(copied.value(it.key()), it.value()) << it.key().toStdString();
    static const QRegularExpression brokenCommand(QStringLiteral("ovalis-\\s*$"), QRegularExpression::MultilineOption);
    EXPECT_FALSE(text.contains(brokenCommand));
    // So does code: a span may wrap at a space, never inside a word.
    static const QRegularExpression code(QStringLiteral("`([^`\n]+)`"));
    int spans = 0;
    for (auto it = code.globalMatch(prose); it.hasNext(); ++spans) {
        // A page break may put the running head and page number between two
        // of its words, so each word is looked for on its own.
        const QString span = it.next().captured(1).simplified();
        for (const QString &word : span.split(QLatin1Char(' ')))
            EXPECT_TRUE(words.contains(word)) << "code broken: " << span.toStdString();
    }
    EXPECT_GT(spans, 0);

    const QStringList pastTheMargin = wordsPastTheMargin(layoutOf(QStringLiteral(OVALIS_USER_GUIDE_PDF)));
    EXPECT_TRUE(pastTheMargin.isEmpty()) << "set past the margin: " << pastTheMargin.join(QLatin1Char(' ')).toStdString();
}

class RenderedGuideTest : public ::testing::Test
{
protected:
    // The guide and its images live in a folder of their own inside m_folder.
    void SetUp() override { ASSERT_TRUE(QDir(m_folder.path()).mkpath(QStringLiteral("guide"))); }

    QString guideFile(const QString &name) const { return m_folder.filePath(QStringLiteral("guide/") + name); }

    ProcessResult render(const QString &markdown)
    {
        QFile guide(guideFile(QStringLiteral("guide.md")));
        EXPECT_TRUE(guide.open(QIODevice::WriteOnly | QIODevice::Truncate));
        guide.write(markdown.toUtf8());
        guide.close();
        QFile::remove(pdfPath());
        return run(QStringLiteral(OVALIS_GUIDE_PYTHON),
                   {QStringLiteral(OVALIS_GUIDE_RENDERER), QStringLiteral("--version"), QStringLiteral("9.8.7"), guide.fileName(), pdfPath()});
    }

    QString pdfPath() const { return guideFile(QStringLiteral("guide.pdf")); }

    QTemporaryDir m_folder;
};

TEST_F(RenderedGuideTest, KeepsHeadingsWithTheirTextRepeatsTableHeadersAndCaptionsFigures)
{
    QImage shot(800, 500, QImage::Format_RGB32);
    shot.fill(Qt::darkCyan);
    ASSERT_TRUE(shot.save(guideFile(QStringLiteral("shot.png"))));

    QString markdown = QStringLiteral("# Test Guide\n\nThe file office flow fifty affluent.\n\n"
                                      "## Windows\n\n![A shot of the window.](shot.png)\n\n");
    // Sections of uneven length, so that some heading falls at the foot of a page.
    const int sections = 40;
    for (int i = 1; i <= sections; ++i) {
        markdown += QStringLiteral("### Heading %1\n\nBody%1").arg(i);
        markdown += QStringLiteral(" text").repeated((i * 37) % 90 + 5) + QStringLiteral("\n\n");
        if (i % 2 == 0)
            markdown += QStringLiteral("![Figure %1.](shot.png)\n\n").arg(i);
    }
    markdown += QStringLiteral("## Shortcuts\n\n| Shortcut key | What it does |\n|---|---|\n");
    const int rows = 120;
    for (int i = 1; i <= rows; ++i)
        markdown += QStringLiteral("| Row%1 | Does thing %1 |\n").arg(i);
    markdown += QStringLiteral("\n## Commands\n\n");
    const int commands = 60;
    for (int i = 1; i <= commands; ++i)
        markdown += QStringLiteral("word").repeated(i % 7 + 1) + QStringLiteral(" `ovalis-cli backup-library` then ovalis-cli restore-library ");
    markdown += QStringLiteral("\n\nSome text ![Inline picture](shot.png) around an image.\n");

    const ProcessResult rendered = render(markdown);
    ASSERT_EQ(rendered.exitCode, 0) << rendered.errors.toStdString();
    const QStringList pages = pageTexts(pdfPath());
    ASSERT_GT(pages.size(), 6);
    EXPECT_TRUE(trimmedLines(pages.at(0)).contains(QStringLiteral("Version 9.8.7")));

    for (int i = 1; i <= sections; ++i) {
        const QString heading = QStringLiteral("Heading %1").arg(i);
        const int page = pageWithLine(pages, heading);
        ASSERT_GT(page, 2) << heading.toStdString();
        EXPECT_TRUE(pages.at(page - 1).contains(QStringLiteral("Body%1 ").arg(i))) << heading.toStdString() << " is left alone on page " << page;
    }

    int tablePages = 0;
    for (const QString &page : pages) {
        if (!page.contains(QStringLiteral("Row")))
            continue;
        ++tablePages;
        EXPECT_TRUE(page.contains(QStringLiteral("Shortcut key")) && page.contains(QStringLiteral("What it does"))) << page.toStdString();
    }
    EXPECT_GE(tablePages, 2);

    const QString text = pages.join(QLatin1Char(' '));
    const QString words = text.simplified();
    EXPECT_FALSE(hasLigature(text));
    EXPECT_TRUE(words.contains(QStringLiteral("The file office flow fifty affluent.")));
    EXPECT_EQ(commandCounts(words).value(QStringLiteral("ovalis-cli")), 2 * commands);
    EXPECT_EQ(words.count(QStringLiteral("backup-library")), commands);
    EXPECT_EQ(words.count(QStringLiteral("restore-library")), commands);

    // Each figure's caption stands on its image's page. Images are listed in
    // the order they are drawn; the last is the one in running text, which
    // gets no caption.
    const ProcessResult images = run(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdfPath()});
    QList<int> imagePages;
    for (const QString &line : images.output.split(QLatin1Char('\n')).mid(2)) {
        if (const int page = line.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty).toInt())
            imagePages.append(page);
    }
    QList<int> captionPages{pageWithLine(pages, QStringLiteral("A shot of the window."))};
    for (int i = 2; i <= sections; i += 2)
        captionPages.append(pageWithLine(pages, QStringLiteral("Figure %1.").arg(i)));
    ASSERT_EQ(imagePages.size(), captionPages.size() + 1) << images.output.toStdString();
    imagePages.removeLast();
    EXPECT_EQ(captionPages, imagePages);
    EXPECT_FALSE(words.contains(QStringLiteral("Inline picture")));

    // Table cells are padded: the header's text stands in from the margin
    // the body text starts at.
    const Layout layout = layoutOf(pdfPath());
    double cell = layout.pageWidth;
    for (const WordBox &word : layout.words) {
        if (word.text == QStringLiteral("Shortcut") || word.text.startsWith(QStringLiteral("Row")))
            cell = std::min(cell, word.left);
    }
    const double margin = layout.margin;
    EXPECT_GE(cell - margin, 4.0);
    EXPECT_LE(cell - margin, 16.0);
}

TEST_F(RenderedGuideTest, ReadsTheProjectsMarkdownAndKeepsEverythingOnThePage)
{
    const QString longLine = QStringLiteral("ovalis-cli find --rules ") + QStringLiteral("[{\"fieldIndex\":10}]").repeated(8);
    const QString markdown = QStringLiteral(
        "# Guide\n\nText at the margin.\n\n## Part\n\n### Chapter\n\n#### Section\n\n##### Detail\n\nText.\n\n"
        "- Outer item\n  - Inner item\n  - Second inner item\n\n"
        "  A second paragraph of the outer item.\n\n"
        "An indented block:\n\n    ovalis-cli stats\n\nA fenced one:\n\n```\n%1\n```\n\n"
        "Pasted rules: `%2`.\n\n"
        "| Command | What it does |\n|---|---|\n| `list [--scope all\\|summary]` | lists |\n")
                                 .arg(longLine, QStringLiteral("[{\"fieldIndex\":10,\"operatorRawValue\":15,\"stringValue\":\"CT\"}]").repeated(2));
    const ProcessResult rendered = render(markdown);
    ASSERT_EQ(rendered.exitCode, 0) << rendered.errors.toStdString();
    const QString words = pageTexts(pdfPath()).join(QLatin1Char(' ')).simplified();

    // Every heading level has its bookmark, nested under the one above it.
    const QList<Heading> outline{{QStringLiteral("Contents"), 0}, {QStringLiteral("Part"), 0}, {QStringLiteral("Chapter"), 1},
                                 {QStringLiteral("Section"), 2}, {QStringLiteral("Detail"), 3}};
    EXPECT_EQ(outlineOf(pdfPath()), outline);

    // Nested items are indented by two spaces, as on the project's other pages.
    EXPECT_FALSE(words.contains(QStringLiteral("- Inner item"))) << words.toStdString();
    const Layout layout = layoutOf(pdfPath());
    auto leftOf = [&layout](const QString &text) {
        const auto word = std::find_if(layout.words.begin(), layout.words.end(), [&text](const WordBox &box) { return box.text == text; });
        return word == layout.words.end() ? -1.0 : word->left;
    };
    EXPECT_GT(leftOf(QStringLiteral("Inner")), leftOf(QStringLiteral("Outer")) + 5);
    EXPECT_GT(leftOf(QStringLiteral("Outer")), leftOf(QStringLiteral("Text")));
    EXPECT_GT(leftOf(QStringLiteral("second")), leftOf(QStringLiteral("Text")));

    // Code blocks lose their indentation and fences; a table's "\|" is a pipe.
    QList<double> blockStarts;
    for (const WordBox &word : layout.words) {
        if (word.text == QStringLiteral("ovalis-cli"))
            blockStarts.append(word.left);
    }
    ASSERT_EQ(blockStarts.size(), 2);
    EXPECT_NEAR(blockStarts[0], blockStarts[1], 0.5);
    EXPECT_FALSE(words.contains(QStringLiteral("```")));
    EXPECT_TRUE(words.contains(QStringLiteral("list [--scope all|summary]"))) << words.toStdString();

    // Nothing runs off the page: a line or word too long breaks instead.
    const QStringList pastTheMargin = wordsPastTheMargin(layout);
    EXPECT_TRUE(pastTheMargin.isEmpty()) << "set past the margin: " << pastTheMargin.join(QLatin1Char(' ')).toStdString();
}

TEST_F(RenderedGuideTest, RefusesImagesThatAreNotFilesBesideTheGuideAndWritesNothing)
{
    const QStringList sources{QStringLiteral("missing.png"), QStringLiteral("https://example.org/shot.png"),
                              QStringLiteral("../outside.png"), QStringLiteral("/etc/hostname")};
    QImage outside(10, 10, QImage::Format_RGB32);
    outside.fill(Qt::red);
    ASSERT_TRUE(outside.save(m_folder.filePath(QStringLiteral("outside.png"))));
    for (const QString &source : sources) {
        const ProcessResult rendered = render(QStringLiteral("# Guide\n\nText.\n\n![Picture](%1)\n").arg(source));
        EXPECT_EQ(rendered.exitCode, 1) << source.toStdString();
        EXPECT_TRUE(rendered.errors.contains(source)) << rendered.errors.toStdString();
        EXPECT_FALSE(QFile::exists(pdfPath())) << source.toStdString();
    }

    // Raw HTML does not get round the rule.
    const ProcessResult raw = render(QStringLiteral("# Guide\n\n<img src=\"https://example.org/raw.png\" alt=\"\">\n"));
    EXPECT_EQ(raw.exitCode, 1);
    EXPECT_TRUE(raw.errors.contains(QStringLiteral("https://example.org/raw.png"))) << raw.errors.toStdString();
    EXPECT_FALSE(QFile::exists(pdfPath()));

    const ProcessResult untitled = render(QStringLiteral("Text without a title.\n"));
    EXPECT_EQ(untitled.exitCode, 1);
    EXPECT_TRUE(untitled.errors.contains(QStringLiteral("# Title"))) << untitled.errors.toStdString();
    EXPECT_FALSE(QFile::exists(pdfPath()));
}

} // namespace
} // namespace ovalis::test
