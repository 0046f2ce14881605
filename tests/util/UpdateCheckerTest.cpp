#include "support/LocalHttpsServer.h"
#include "util/UpdateChecker.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace ovalis;
using namespace ovalis::test;

namespace {

QByteArray feed(const QString &enclosureBase, const QString &signature = QString())
{
    const QString signatureAttribute = signature.isEmpty() ? QString() : QStringLiteral(" sparkle:edSignature=\"%1\"").arg(signature);
    return QStringLiteral(R"(<?xml version="1.0"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>
 <item><title>Release</title><sparkle:version>2.1.0</sparkle:version>
  <enclosure url="%1/release.tar.gz" length="7"%2/></item>
 <item><title>Beta</title><sparkle:version>2.2.0b1</sparkle:version><sparkle:channel>beta</sparkle:channel>
  <enclosure url="%1/beta.tar.gz" length="4"/></item>
 <item><title>Alpha</title><sparkle:version>2.3.0a1</sparkle:version><sparkle:channel>alpha</sparkle:channel>
  <enclosure url="%1/alpha.tar.gz" length="5"/></item>
</channel></rss>)")
        .arg(enclosureBase, signatureAttribute)
        .toUtf8();
}

class UpdateCheckerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.listen());
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificate(server.certificate().certificate);
        trust(checker);
        server.route("/release.tar.gz", {200, QByteArrayLiteral("release"), {}});
        server.route("/beta.tar.gz", {200, QByteArrayLiteral("beta"), {}});
        server.route("/alpha.tar.gz", {200, QByteArrayLiteral("alpha"), {}});
    }

    // A checker that trusts the test server, with no public key.
    void trust(UpdateChecker &target)
    {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificate(server.certificate().certificate);
        target.setSslConfiguration(configuration);
        target.setPublicKey(QString());
    }

    // The version offered by a check, or an empty text when none is; what
    // else the check answered is left in lastFailure and lastUpToDate.
    QString check(const QString &feedPath, UpdateDelegate::Modifiers modifiers = {}) { return check(checker, feedPath, modifiers); }
    QString check(UpdateChecker &target, const QString &feedPath, UpdateDelegate::Modifiers modifiers = {})
    {
        QSignalSpy found(&target, &UpdateChecker::updateFound);
        QSignalSpy none(&target, &UpdateChecker::noUpdateFound);
        QSignalSpy refused(&target, &UpdateChecker::updateRefused);
        QSignalSpy failed(&target, &UpdateChecker::checkFailed);
        target.checkForUpdates(QUrl(server.url(feedPath)), modifiers);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !found.isEmpty() || !none.isEmpty() || !refused.isEmpty() || !failed.isEmpty(); }, 10000));
        lastFailure = failed.isEmpty() ? (refused.isEmpty() ? QString() : refused.first().at(1).toString())
                                       : failed.first().first().toString();
        lastUpToDate = none.isEmpty() ? QString() : none.first().first().toString();
        if (found.isEmpty())
            return QString();
        lastItem = found.first().first().value<AppcastItem>();
        return lastItem.versionString;
    }

    // The saved path, or an empty text with lastFailure set.
    QString download(const AppcastItem &item)
    {
        QSignalSpy finished(&checker, &UpdateChecker::downloadFinished);
        QSignalSpy failed(&checker, &UpdateChecker::downloadFailed);
        checker.download(item, downloads.path());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty() || !failed.isEmpty(); }, 10000));
        lastFailure = failed.isEmpty() ? QString() : failed.first().first().toString();
        return finished.isEmpty() ? QString() : finished.first().first().toString();
    }

    QList<QByteArray> authorizationsFor(const QByteArray &path) const
    {
        QList<QByteArray> values;
        for (const LocalHttpsServer::Request &request : server.requests()) {
            if (request.path == path)
                values += request.headers.value("authorization");
        }
        return values;
    }

    LocalHttpsServer server;
    UpdateChecker checker{QStringLiteral("2.0.0"), QStringLiteral("2.0.0")};
    QTemporaryDir downloads;
    AppcastItem lastItem;
    QString lastFailure;
    QString lastUpToDate;
};

// A feed of one release item with this build number and short version.
QByteArray releaseFeed(const QString &enclosureBase, const QString &build, const QString &shortVersion)
{
    return QStringLiteral(R"(<?xml version="1.0"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>
 <item><title>Release</title><sparkle:version>%2</sparkle:version><sparkle:shortVersionString>%3</sparkle:shortVersionString>
  <enclosure url="%1/release.tar.gz" length="7"/></item>
</channel></rss>)")
        .arg(enclosureBase, build, shortVersion)
        .toUtf8();
}

TEST_F(UpdateCheckerTest, ChoosesTheNewestItemOfTheAllowedChannels)
{
    server.route("/feed.xml", {200, feed(server.url(QString())), {}});
    EXPECT_EQ(check(QStringLiteral("/feed.xml")), QStringLiteral("2.1.0"));
    EXPECT_EQ(check(QStringLiteral("/feed.xml"), {.control = true}), QStringLiteral("2.2.0b1"));
    EXPECT_EQ(check(QStringLiteral("/feed.xml"), {.control = true, .alt = true}), QStringLiteral("2.3.0a1"));

    // Nothing newer than the running version is offered.
    UpdateChecker current(QStringLiteral("2.1.0"), QStringLiteral("2.1.0"));
    EXPECT_EQ(current.chooseUpdate({lastItem}, {}), std::nullopt);
    EXPECT_TRUE(current.chooseUpdate({lastItem}, {QStringLiteral("alpha")}).has_value());

    // A feed far larger than any list of releases is not read to its end.
    server.route("/huge.xml", {200, QByteArray(5 * 1024 * 1024, ' '), {}});
    EXPECT_TRUE(check(QStringLiteral("/huge.xml")).isEmpty());
    EXPECT_TRUE(lastFailure.contains(QStringLiteral("larger than 4 MB"))) << lastFailure.toStdString();

    server.route("/broken.xml", {200, QByteArrayLiteral("<rss><channel><item>"), {}});
    EXPECT_TRUE(check(QStringLiteral("/broken.xml")).isEmpty());
    EXPECT_TRUE(lastFailure.contains(QStringLiteral("not valid")));
    EXPECT_TRUE(check(QStringLiteral("/missing.xml")).isEmpty());
    EXPECT_TRUE(lastFailure.contains(QStringLiteral("404")));
}

TEST_F(UpdateCheckerTest, CredentialGoesOnlyToTheFeedHostOverHttps)
{
    server.route("/feed.xml", {200, feed(server.url(QString())), {}});
    ASSERT_EQ(check(QStringLiteral("/feed.xml")), QStringLiteral("2.1.0"));
    EXPECT_TRUE(authorizationsFor("/feed.xml").isEmpty());
    const QString saved = download(lastItem);
    ASSERT_FALSE(saved.isEmpty()) << lastFailure.toStdString();
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArrayLiteral("release"));
    EXPECT_EQ(authorizationsFor("/release.tar.gz"), QList<QByteArray>{UpdateDelegate::authorizationValue()});

    // The same server under another host name is another host: a redirect
    // there is followed without the credential.
    server.route("/moved.tar.gz", {302, {}, {{"Location", server.url(QStringLiteral("/beta.tar.gz"), QStringLiteral("127.0.0.1")).toUtf8()}}});
    AppcastItem moved = lastItem;
    moved.enclosureUrl = QUrl(server.url(QStringLiteral("/moved.tar.gz")));
    ASSERT_FALSE(download(moved).isEmpty()) << lastFailure.toStdString();
    EXPECT_EQ(authorizationsFor("/moved.tar.gz").size(), 1);
    EXPECT_EQ(std::count_if(server.requests().cbegin(), server.requests().cend(),
                            [](const LocalHttpsServer::Request &request) { return request.path == "/beta.tar.gz"; }),
              1);
    EXPECT_TRUE(authorizationsFor("/beta.tar.gz").isEmpty());
    // A second download of the same name does not replace the first.
    EXPECT_NE(download(lastItem), saved);

    // Plain HTTP is refused before anything is sent: as the feed, as the
    // enclosure and as a redirect target.
    const qsizetype sent = server.requests().size();
    UpdateChecker plain(QStringLiteral("2.0.0"), QStringLiteral("2.0.0"));
    QSignalSpy refused(&plain, &UpdateChecker::checkFailed);
    plain.checkForUpdates(QUrl(QStringLiteral("http://127.0.0.1:%1/feed.xml").arg(server.port())), {});
    ASSERT_EQ(refused.size(), 1);
    EXPECT_TRUE(refused.first().first().toString().contains(QStringLiteral("https")));
    AppcastItem insecure = lastItem;
    insecure.enclosureUrl = QUrl(QStringLiteral("http://127.0.0.1:%1/release.tar.gz").arg(server.port()));
    EXPECT_TRUE(download(insecure).isEmpty());
    EXPECT_EQ(server.requests().size(), sent);
    server.route("/downgrade.tar.gz", {301, {}, {{"Location", QByteArrayLiteral("http://127.0.0.1/release.tar.gz")}}});
    AppcastItem downgrade = lastItem;
    downgrade.enclosureUrl = QUrl(server.url(QStringLiteral("/downgrade.tar.gz")));
    EXPECT_TRUE(download(downgrade).isEmpty());
    EXPECT_TRUE(lastFailure.contains(QStringLiteral("https")));
}

TEST_F(UpdateCheckerTest, SignedDownloadIsKeptOnlyWhenTheSignatureMatches)
{
    const TestSigningKey key = TestSigningKey::generate();
    checker.setPublicKey(key.publicKeyBase64);
    server.route("/feed.xml", {200, feed(server.url(QString()), key.signBase64("release")), {}});
    ASSERT_EQ(check(QStringLiteral("/feed.xml")), QStringLiteral("2.1.0"));
    const QString good = download(lastItem);
    EXPECT_FALSE(good.isEmpty()) << lastFailure.toStdString();

    server.route("/release.tar.gz", {200, QByteArrayLiteral("tampered"), {}});
    EXPECT_TRUE(download(lastItem).isEmpty());
    EXPECT_TRUE(lastFailure.contains(QStringLiteral("signature")));
    // The refused download leaves nothing behind, not even a hidden part.
    EXPECT_EQ(QDir(downloads.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(good).fileName()});

    AppcastItem garbled = lastItem;
    garbled.edSignature = QStringLiteral("not base64!");
    EXPECT_TRUE(download(garbled).isEmpty());
    EXPECT_EQ(QDir(downloads.path()).entryList(QDir::Files).size(), 1);
}

TEST_F(UpdateCheckerTest, BuildNumbersDecideAndShortVersionsAreOnlyShown)
{
    UpdateChecker build57(QStringLiteral("57"), QStringLiteral("2.0.0"));
    trust(build57);

    // A higher short version on the same or an older build is no update.
    server.route("/same.xml", {200, releaseFeed(server.url(QString()), QStringLiteral("57"), QStringLiteral("2.1.0")), {}});
    EXPECT_TRUE(check(build57, QStringLiteral("/same.xml")).isEmpty());
    EXPECT_EQ(lastUpToDate, QStringLiteral("2.0.0"));
    server.route("/older.xml", {200, releaseFeed(server.url(QString()), QStringLiteral("9"), QStringLiteral("3.0")), {}});
    EXPECT_TRUE(check(build57, QStringLiteral("/older.xml")).isEmpty());
    EXPECT_EQ(lastUpToDate, QStringLiteral("2.0.0"));

    // A newer build is offered whatever its short version, and shown by it.
    server.route("/newer.xml", {200, releaseFeed(server.url(QString()), QStringLiteral("58"), QStringLiteral("1.9.9")), {}});
    EXPECT_EQ(check(build57, QStringLiteral("/newer.xml")), QStringLiteral("58"));
    EXPECT_EQ(lastItem.shownVersion(), QStringLiteral("1.9.9"));

    // Without a build number nothing can be told newer: the check says so
    // before asking the server.
    UpdateChecker unnumbered(QString(), QStringLiteral("2.0.0"));
    trust(unnumbered);
    const qsizetype sent = server.requests().size();
    EXPECT_TRUE(check(unnumbered, QStringLiteral("/newer.xml")).isEmpty());
    EXPECT_TRUE(lastFailure.contains(QStringLiteral("build number"))) << lastFailure.toStdString();
    EXPECT_EQ(server.requests().size(), sent);
}

TEST_F(UpdateCheckerTest, WithAKeyAnUnsignedItemIsRefusedAndNothingIsDownloaded)
{
    const TestSigningKey key = TestSigningKey::generate();
    checker.setPublicKey(key.publicKeyBase64);
    server.route("/feed.xml", {200, feed(server.url(QString())), {}});
    QSignalSpy found(&checker, &UpdateChecker::updateFound);
    EXPECT_TRUE(check(QStringLiteral("/feed.xml")).isEmpty());
    EXPECT_TRUE(found.isEmpty());
    EXPECT_TRUE(lastFailure.contains(QStringLiteral("no signature"))) << lastFailure.toStdString();

    // Asked to download it anyway, the checker refuses before any request.
    AppcastItem unsigned_;
    unsigned_.versionString = QStringLiteral("2.1.0");
    unsigned_.enclosureUrl = QUrl(server.url(QStringLiteral("/release.tar.gz")));
    EXPECT_TRUE(download(unsigned_).isEmpty());
    EXPECT_TRUE(lastFailure.contains(QStringLiteral("no signature")));
    EXPECT_TRUE(std::none_of(server.requests().cbegin(), server.requests().cend(),
                             [](const LocalHttpsServer::Request &request) { return request.path == "/release.tar.gz"; }));
    EXPECT_TRUE(QDir(downloads.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

} // namespace
