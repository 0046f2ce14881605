#include "util/AppcastFeed.h"
#include "util/Log.h"
#include "util/UpdateDelegate.h"
#include "util/VersionComparator.h"

#include <gtest/gtest.h>

using namespace ovalis;

namespace {

AppcastItem item(const QString &version, std::optional<QString> channel = std::nullopt)
{
    AppcastItem result;
    result.versionString = version;
    result.displayVersionString = QStringLiteral("v") + version;
    result.channel = std::move(channel);
    result.enclosureUrl = QUrl(QStringLiteral("https://updates.example/Ovalis-") + version + QStringLiteral(".tar.gz"));
    return result;
}

TEST(UpdateChannelTest, PreferredChannelComesFromTheShortVersion)
{
    EXPECT_EQ(UpdateDelegate(QStringLiteral("2.0")).applicationPreferredChannel(), std::nullopt);
    EXPECT_EQ(UpdateDelegate(QString()).applicationPreferredChannel(), std::nullopt);
    EXPECT_EQ(UpdateDelegate(QStringLiteral("2.0b3")).applicationPreferredChannel(), QStringLiteral("beta"));
    EXPECT_EQ(UpdateDelegate(QStringLiteral("2.0a1")).applicationPreferredChannel(), QStringLiteral("alpha"));
    // "a" is looked for first.
    EXPECT_EQ(UpdateDelegate(QStringLiteral("2.0ba")).applicationPreferredChannel(), QStringLiteral("alpha"));
}

TEST(UpdateChannelTest, ModifierKeysForceAChannelForOneCheckOnly)
{
    LogCapture log;
    UpdateDelegate release(QStringLiteral("2.0"));
    EXPECT_TRUE(release.allowedChannels({}).isEmpty());
    EXPECT_EQ(release.forcedChannel(), std::nullopt);
    EXPECT_TRUE(log.contains(QStringLiteral("Additional channels for Sparkle update check:  [no force]")));

    EXPECT_EQ(release.allowedChannels({.control = true}), QSet<QString>{QStringLiteral("beta")});
    EXPECT_EQ(release.forcedChannel(), QStringLiteral("beta"));
    EXPECT_EQ(release.allowedChannels({.control = true, .alt = true}), QSet<QString>{QStringLiteral("alpha")});
    EXPECT_EQ(release.forcedChannel(), QStringLiteral("alpha"));
    // Alt alone forces nothing, and the next check forgets the last force.
    EXPECT_TRUE(release.allowedChannels({.alt = true}).isEmpty());
    EXPECT_EQ(release.forcedChannel(), std::nullopt);

    UpdateDelegate beta(QStringLiteral("2.0b3"));
    log.clear();
    EXPECT_EQ(beta.allowedChannels({.control = true, .alt = true}), (QSet<QString>{QStringLiteral("alpha"), QStringLiteral("beta")}));
    EXPECT_TRUE(log.contains(QStringLiteral("App's preferred channel: beta")));
    EXPECT_TRUE(log.contains(QStringLiteral("Additional channels for Sparkle update check: alpha, beta [alpha]")));
}

TEST(UpdateChannelTest, ForcedChannelPicksGreatestVersionInTextOrder)
{
    const QList<AppcastItem> feed{item(QStringLiteral("9"), QStringLiteral("alpha")), item(QStringLiteral("10"), QStringLiteral("alpha")),
                                  item(QStringLiteral("50")), item(QStringLiteral("8"), QStringLiteral("beta"))};
    UpdateDelegate delegate(QStringLiteral("2.0"));
    LogCapture log;
    delegate.allowedChannels({});
    EXPECT_EQ(delegate.bestValidUpdate(feed), std::nullopt);
    EXPECT_TRUE(log.contains(QStringLiteral("No forced channel preference")));

    delegate.allowedChannels({.control = true, .alt = true});
    const std::optional<AppcastItem> best = delegate.bestValidUpdate(feed);
    ASSERT_TRUE(best);
    // Character order puts "10" before "9", and the newer release "50" is not
    // in the forced channel.
    EXPECT_EQ(best->versionString, QStringLiteral("9"));
    EXPECT_TRUE(log.contains(QStringLiteral("v10 (10")));

    delegate.allowedChannels({.control = true});
    EXPECT_EQ(delegate.bestValidUpdate(feed)->versionString, QStringLiteral("8"));
    EXPECT_EQ(delegate.bestValidUpdate({item(QStringLiteral("3"))}), std::nullopt);
}

TEST(UpdateChannelTest, DownloadRequestGetsOneBasicAuthorization)
{
    UpdateDelegate delegate(QStringLiteral("2.0"));
    QNetworkRequest request(QUrl(QStringLiteral("https://updates.example/Ovalis.tar.gz")));
    request.setRawHeader("Authorization", "Bearer stale");
    delegate.willDownloadUpdate(request);
    delegate.willDownloadUpdate(request);
    const QByteArray value = request.rawHeader("Authorization");
    EXPECT_EQ(value, QByteArrayLiteral("Basic dXBkdHVzZXI6azd3MnA5eDRxMQ=="));
    EXPECT_EQ(QByteArray::fromBase64(value.mid(6)), QByteArrayLiteral("updtuser:k7w2p9x4q1"));
    EXPECT_EQ(request.rawHeaderList().count("Authorization"), 1);
}

TEST(UpdateChannelTest, VersionsCompareAsPeopleReadThem)
{
    const auto less = [](const char *a, const char *b) {
        return VersionComparator::compare(QString::fromLatin1(a), QString::fromLatin1(b)) < 0
            && VersionComparator::compare(QString::fromLatin1(b), QString::fromLatin1(a)) > 0;
    };
    EXPECT_TRUE(less("9", "10"));
    EXPECT_TRUE(less("2.0b3", "2.0"));
    EXPECT_TRUE(less("2.0a1", "2.0b1"));
    EXPECT_TRUE(less("2.0b3", "2.0b10"));
    EXPECT_TRUE(less("2.0", "2.0.1"));
    EXPECT_TRUE(less("1.9.9", "2.0b1"));
    EXPECT_TRUE(less("2.0b1", "2.0.1"));
    EXPECT_TRUE(less("99999999999999999999", "100000000000000000000"));
    EXPECT_EQ(VersionComparator::compare(QStringLiteral("2.01"), QStringLiteral("2.1")), 0);
}

TEST(UpdateChannelTest, FeedItemsAreReadWithTheirChannelsAndEnclosures)
{
    const QByteArray xml = R"(<?xml version="1.0"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
 <channel><title>Ovalis</title>
  <item><title>2.1</title><sparkle:version>210</sparkle:version><sparkle:shortVersionString>2.1</sparkle:shortVersionString>
   <sparkle:releaseNotesLink>https://updates.example/2.1.html</sparkle:releaseNotesLink>
   <enclosure url="https://updates.example/Ovalis-2.1.tar.gz" length="1234" type="application/octet-stream" sparkle:edSignature="c2ln"/></item>
  <item><title>2.2 beta</title><sparkle:channel>beta</sparkle:channel>
   <description><![CDATA[<h2>Fixes</h2><ul><li>Crop &amp; undo</li></ul><img src="file:///etc/hostname">]]></description>
   <enclosure url="https://updates.example/Ovalis-2.2b1.tar.gz" sparkle:version="220" sparkle:shortVersionString="2.2b1" length="5"/></item>
  <item><title>no enclosure</title><sparkle:version>300</sparkle:version></item>
 </channel></rss>)";
    QString error;
    const QList<AppcastItem> items = AppcastFeed::parse(xml, &error);
    EXPECT_TRUE(error.isEmpty());
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].versionString, QStringLiteral("210"));
    EXPECT_EQ(items[0].shownVersion(), QStringLiteral("2.1"));
    EXPECT_EQ(items[0].channel, std::nullopt);
    EXPECT_EQ(items[0].releaseNotesLink, QUrl(QStringLiteral("https://updates.example/2.1.html")));
    EXPECT_EQ(items[0].enclosureLength, 1234);
    EXPECT_EQ(items[0].edSignature, QStringLiteral("c2ln"));
    EXPECT_EQ(items[1].versionString, QStringLiteral("220"));
    EXPECT_EQ(items[1].displayVersionString, QStringLiteral("2.2b1"));
    EXPECT_EQ(items[1].channel, QStringLiteral("beta"));
    // A description's markup is dropped: its text is what the notes show.
    EXPECT_TRUE(items[0].notes.isEmpty());
    EXPECT_TRUE(items[1].notes.startsWith(QStringLiteral("Fixes\n"))) << items[1].notes.toStdString();
    EXPECT_TRUE(items[1].notes.contains(QStringLiteral("Crop & undo")));
    EXPECT_FALSE(items[1].notes.contains(u'<'));

    EXPECT_TRUE(AppcastFeed::parse("<rss><channel><item>", &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

} // namespace
