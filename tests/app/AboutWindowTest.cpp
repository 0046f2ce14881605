#include "app/AboutController.h"
#include "app/AboutDelegate.h"
#include "app/AboutView.h"
#include "app/UpdateWindowController.h"
#include "util/UpdateChecker.h"

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace ovalis::test {
namespace {

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

} // namespace
} // namespace ovalis::test
