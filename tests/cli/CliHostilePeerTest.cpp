#include <QProcess>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "CliProcess.h"
#include "transfer/MediaRequestMessage.h"
#include "transfer/RawPeer.h"

using namespace ovalis;
using namespace ovalis::test;

// A fetch from the command line holds a connection to the library it fetches
// from; a stranger that reaches the fetch meanwhile is declined and must not
// end it.
TEST(CliHostilePeerTest, AStrangerDeclinedMidFetchDoesNotEndIt)
{
    ASSERT_TRUE(QSslSocket::supportsSsl());
    QTemporaryDir home;
    const QString library = home.filePath(QStringLiteral("Ovalis"));
    // Records without their files.
    ASSERT_EQ(runCli({QStringLiteral("--library"), library, QStringLiteral("generate"), QStringLiteral("--cases"), QStringLiteral("2"),
                      QStringLiteral("--media-per-case"), QStringLiteral("1")},
                     home.path())
                  .exitCode,
              0);

    // The library fetched from holds its answers until the stranger is gone.
    RawListener holder(QStringLiteral("Holder"), QStringLiteral("holder"));
    QProcess fetch;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/.config"));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false;*.info=false;Networking.info=true"));
    fetch.setProcessEnvironment(environment);
    fetch.start(QStringLiteral(OVALIS_CLI_PATH), {QStringLiteral("--library"), library, QStringLiteral("fetch-missing"), QStringLiteral("--peer"),
                                                  QStringLiteral("127.0.0.1:%1").arg(holder.serverPort())});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !holder.peers.empty() && !holder.peers.front()->messages.isEmpty(); }, 60000))
        << fetch.readAllStandardError().toStdString();
    RawPeer &responder = *holder.peers.front();

    // The fetch listens as every library does; its log names the port.
    QString log;
    QRegularExpressionMatch listening;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        log += QString::fromUtf8(fetch.readAllStandardError());
        listening = QRegularExpression(QStringLiteral("Listening for peers on port (\\d+)")).match(log);
        return listening.hasMatch();
    }, 10000)) << log.toStdString();
    RawPeer stranger(QStringLiteral("Stranger"), QStringLiteral("stranger"));
    QObject::connect(&stranger.connection(), &PeerConnection::greeted, [&stranger] { stranger.connection().send(PeerFrame::Type::Invite); });
    stranger.connectTo(quint16(listening.captured(1).toUInt()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stranger.closed; }, 10000));
    EXPECT_TRUE(stranger.greeted);

    // Now every request is answered, the held ones first.
    int answered = 0;
    const auto answer = [&] {
        for (; answered < responder.messages.size(); ++answered) {
            MediaRequestMessage request;
            ASSERT_EQ(MediaRequestMessage::decode(responder.messages[answered], &request), MediaRequestMessage::DecodeResult::Decoded);
            responder.sendResource(request.uuid, 4, "file");
        }
    };
    answer();
    QObject::connect(&responder.connection(), &PeerConnection::frameReceived, answer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fetch.state() == QProcess::NotRunning; }, 60000));
    const QString out = QString::fromUtf8(fetch.readAllStandardOutput());
    log += QString::fromUtf8(fetch.readAllStandardError());
    EXPECT_EQ(fetch.exitCode(), 0) << log.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("Fetched 2 of 2 missing media files; 0 still missing"))) << out.toStdString();
}
