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
        checker.setSslConfiguration(configuration);
        checker.setPublicKey(QString());
        server.route("/release.tar.gz", {200, QByteArrayLiteral("release"), {}});
        server.route("/beta.tar.gz", {200, QByteArrayLiteral("beta"), {}});
        server.route("/alpha.tar.gz", {200, QByteArrayLiteral("alpha"), {}});
    }

    // The version offered by a check, or an empty text when none is.
    QString check(const QString &feedPath, UpdateDelegate::Modifiers modifiers = {})
    {
        QSignalSpy found(&checker, &UpdateChecker::updateFound);
        QSignalSpy none(&checker, &UpdateChecker::noUpdateFound);
        QSignalSpy failed(&checker, &UpdateChecker::checkFailed);
        checker.checkForUpdates(QUrl(server.url(feedPath)), modifiers);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !found.isEmpty() || !none.isEmpty() || !failed.isEmpty(); }, 10000));
        lastFailure = failed.isEmpty() ? QString() : failed.first().first().toString();
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
};

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
    EXPECT_EQ(QDir(downloads.path()).entryList(QDir::Files), QStringList{QFileInfo(good).fileName()});

    AppcastItem garbled = lastItem;
    garbled.edSignature = QStringLiteral("not base64!");
    EXPECT_TRUE(download(garbled).isEmpty());
    EXPECT_EQ(QDir(downloads.path()).entryList(QDir::Files).size(), 1);
}

} // namespace
