#include "app/AboutController.h"
#include "app/AboutDelegate.h"
#include "app/AboutView.h"
#include "app/UpdateWindowController.h"
#include "util/UpdateChecker.h"

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextDocumentFragment>
#include <gtest/gtest.h>

namespace ovalis::test {
namespace {

// What a person reads in the window: each visible label's text as the label
// renders it (markup applied when it takes the text as rich text), then the
// notes.
QString readableText(const QWidget &window)
{
    QStringList texts;
    for (const QLabel *label : window.findChildren<QLabel *>()) {
        if (!label->isVisibleTo(&window))
            continue;
        const bool rich = label->textFormat() == Qt::RichText
            || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
        texts << (rich ? QTextDocumentFragment::fromHtml(label->text()).toPlainText() : label->text());
    }
    for (const QPlainTextEdit *notes : window.findChildren<QPlainTextEdit *>()) {
        if (notes->isVisibleTo(&window))
            texts << notes->toPlainText();
    }
    return texts.join(u'\n');
}

TEST(AboutWindowTest, ShowsTheApplicationsTextsInAFixedUntitledWindow)
{
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0.0"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Ovalis"));
    AboutController about;
    EXPECT_TRUE(about.windowTitle().isEmpty());
    EXPECT_EQ(about.minimumSize(), QSize(600, 240));
    EXPECT_EQ(about.maximumSize(), QSize(600, 240));

    const QStringList texts = about.aboutView()->texts();
    ASSERT_GE(texts.size(), 6);
    EXPECT_EQ(texts[0], QStringLiteral("Ovalis"));
    EXPECT_EQ(texts[1], QStringLiteral("2.0.0"));
    EXPECT_TRUE(texts.contains(QStringLiteral("Organise your radiology library")));
    EXPECT_TRUE(texts.contains(QStringLiteral("\u2022 Tag, link and search\n\u2022 Make notes\n\u2022 Present cases")));

    // One link per component the program is built on, and none for an update
    // framework it does not use.
    const QString powered = *std::find_if(texts.cbegin(), texts.cend(), [](const QString &text) { return text.startsWith(QStringLiteral("Powered by")); });
    for (const QString &name : {QStringLiteral("Qt"), QStringLiteral("SQLite"), QStringLiteral("libplist"), QStringLiteral("OpenSSL")})
        EXPECT_TRUE(powered.contains(QStringLiteral(">%1</a>").arg(name))) << name.toStdString();
    EXPECT_EQ(powered.count(QStringLiteral("<a href=\"https://")), AboutDelegate::thirdParties().size());
    EXPECT_FALSE(powered.contains(QStringLiteral("Sparkle")));
    EXPECT_TRUE(texts.last().contains(AboutDelegate::websiteURL()));
    EXPECT_EQ(AboutDelegate::userGuideURL(), std::nullopt);
    EXPECT_TRUE(about.findChildren<QPushButton *>().isEmpty());

    // Without an icon the placeholder symbol is drawn, never an empty space.
    AboutView bare(AboutView::Content{QIcon(), QStringLiteral("Ovalis"), QStringLiteral("2.0b1"), std::nullopt, QDate()});
    const QLabel *icon = bare.findChild<QLabel *>(QStringLiteral("aboutIcon"));
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull());
    EXPECT_FALSE(bare.texts().join(u'\n').contains(QStringLiteral("Build")));
}

TEST(AboutWindowTest, BuildLineNamesNumberAndShortDate)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::NewZealand));
    const QString line = AboutView::buildLine(QStringLiteral("42"), QDate(2026, 12, 7));
    QLocale::setDefault(QLocale::system());
    EXPECT_EQ(line, QStringLiteral("Build 42 (7/12/26)"));
    EXPECT_EQ(AboutView::buildLine(QStringLiteral("42"), QDate()), QStringLiteral("Build 42"));
    EXPECT_TRUE(AboutView::buildLine(std::nullopt, QDate(2026, 12, 7)).isEmpty());
}

TEST(AboutWindowTest, UpdateWindowSaysWhenNoFeedIsConfigured)
{
    UpdateChecker checker(QStringLiteral("2.0.0"), QStringLiteral("2.0.0"));
    UpdateWindowController window(&checker);
    window.checkForUpdates(QUrl(), {});
    EXPECT_EQ(window.message(), QStringLiteral("No update feed is configured."));
    EXPECT_FALSE(window.downloadButton()->isVisibleTo(&window));

    window.checkForUpdates(QUrl(QStringLiteral("http://updates.example/feed.xml")), {});
    EXPECT_EQ(window.message(), QStringLiteral("Could not check for updates."));
}

TEST(AboutWindowTest, UpdateWindowShowsTheFeedsTextsAsTyped)
{
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Ovalis"));
    UpdateChecker checker(QStringLiteral("57"), QStringLiteral("2.0.0"));
    UpdateWindowController window(&checker);
    AppcastItem item;
    item.versionString = QStringLiteral("58");
    item.displayVersionString = QStringLiteral("<b>2.1</b>");
    item.title = QStringLiteral("<img src=\"file:///etc/hostname\">Spring release");
    item.notes = QStringLiteral("<h1>Fixes</h1>");
    item.releaseNotesLink = QUrl(QStringLiteral("file:///etc/passwd"));
    emit checker.updateFound(item);
    const QString shown = readableText(window);
    EXPECT_TRUE(shown.contains(QStringLiteral("Ovalis <b>2.1</b> is available."))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(item.title)) << shown.toStdString();
    EXPECT_TRUE(shown.contains(item.notes)) << shown.toStdString();
    EXPECT_TRUE(window.downloadButton()->isVisibleTo(&window));
    // Only a web page is linked from the window.
    EXPECT_FALSE(shown.contains(QStringLiteral("Release notes")));
    item.releaseNotesLink = QUrl(QStringLiteral("https://updates.example/2.1.html"));
    emit checker.updateFound(item);
    EXPECT_TRUE(readableText(window).contains(QStringLiteral("Release notes")));

    emit checker.updateRefused(item, QStringLiteral("The update carries <u>no</u> signature."));
    const QString refused = readableText(window);
    EXPECT_TRUE(refused.contains(QStringLiteral("Ovalis <b>2.1</b> was not offered."))) << refused.toStdString();
    EXPECT_TRUE(refused.contains(QStringLiteral("<u>no</u>"))) << refused.toStdString();

    emit checker.downloadFinished(QStringLiteral("/home/r/Downloads/<i>x</i>.tar.gz"));
    EXPECT_TRUE(readableText(window).contains(QStringLiteral("Ovalis <b>2.1</b> has been downloaded.")));
    EXPECT_TRUE(readableText(window).contains(QStringLiteral("<i>x</i>.tar.gz")));
}

} // namespace
} // namespace ovalis::test
