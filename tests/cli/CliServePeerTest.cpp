#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "CliProcess.h"
#include "transfer/IgnoringPeerDelegate.h"
#include "transfer/MediaRequestMessage.h"
#include "transfer/MultiPeerManager.h"

using namespace ovalis;
using ovalis::test::runCli;

namespace {

// The events an in-process peer sees of its session with serve-peer.
class RecordingPeerDelegate : public test::IgnoringPeerDelegate
{
public:
    void peerConnected(const PeerID &) override { connected = true; }
    void peerDisconnected(const PeerID &) override
    {
        connected = false;
        ++disconnections;
    }
    void didFinishReceivingResource(MultiPeerManager *, const QString &name, const QUrl &) override { received.append(name); }

    bool connected = false;
    int disconnections = 0;
    QStringList received;
};

// A peer in this process that reaches serve-peer on the loopback.
struct InvitingPeer {
    explicit InvitingPeer(const QString &name)
        : manager(name, QStringLiteral("ovalis-peer"))
    {
        manager.setDiscovery(nullptr);
        manager.setDelegate(&events);
    }

    RecordingPeerDelegate events;
    MultiPeerManager manager;
};

// serve-peer as a child process whose standard input is a pipe the test
// writes the answers to, whenever it chooses.
class ServePeerProcess
{
public:
    explicit ServePeerProcess(const QString &library)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.info=true\n*.debug=false"));
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral(OVALIS_CLI_PATH), {QStringLiteral("--library"), library, QStringLiteral("serve-peer")});
    }

    ~ServePeerProcess()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    // The output from the last match on, once it holds the text.
    bool waitForOutput(const QString &text, int milliseconds = 20000)
    {
        const bool found = QTest::qWaitFor(
            [&] {
                m_out += QString::fromUtf8(m_process.readAllStandardOutput());
                m_err += QString::fromUtf8(m_process.readAllStandardError());
                return m_out.indexOf(text, m_seen) >= 0;
            },
            milliseconds);
        if (found)
            m_seen = m_out.indexOf(text, m_seen) + text.size();
        return found;
    }

    void answer(const QByteArray &line) { m_process.write(line); }
    void closeInput() { m_process.closeWriteChannel(); }
    const QString &out() const { return m_out; }
    const QString &err() const { return m_err; }

private:
    QProcess m_process;
    QString m_out;
    QString m_err;
    qsizetype m_seen = 0;
};

} // namespace

TEST(CliServePeerTest, AQuestionOnTheTerminalBlocksNeitherJoinedPeersNorTheInvitationTimeOut)
{
    QTemporaryDir home;
    const QString library = home.filePath(QStringLiteral("Ovalis"));
    ASSERT_EQ(runCli({QStringLiteral("--library"), library, QStringLiteral("generate"), QStringLiteral("--cases"), QStringLiteral("1"),
                      QStringLiteral("--media-per-case"), QStringLiteral("1"), QStringLiteral("--with-files")},
                     home.path())
                  .exitCode,
              0);
    QDirIterator files(library + QStringLiteral("/Media"), QDir::Files, QDirIterator::Subdirectories);
    ASSERT_TRUE(files.hasNext());
    const QFileInfo file(files.next());

    ServePeerProcess server(library);
    ASSERT_TRUE(server.waitForOutput(QStringLiteral("” on port "))) << server.err().toStdString();
    const QRegularExpressionMatch port = QRegularExpression(QStringLiteral("on port (\\d+)")).match(server.out());
    ASSERT_TRUE(port.hasMatch());

    // A name that would clear the line and write its own code on the
    // terminal, and that would be bold as markup.
    InvitingPeer first(QStringLiteral("Library\x1b[2K\r\x9b" "1mCode 000 000 <b>x</b>"));
    first.manager.connectToAddress(QStringLiteral("127.0.0.1"), quint16(port.captured(1).toUInt()), 60);
    ASSERT_TRUE(server.waitForOutput(QStringLiteral("? [y/N] "))) << server.out().toStdString();
    ASSERT_EQ(first.manager.nearbyPeers().size(), 1);
    const QString code = first.manager.verificationCode(first.manager.nearbyPeers().first());
    EXPECT_TRUE(server.out().contains(QStringLiteral("Accept “Library[2K 1mCode 000 000 <b>x</b>” with verification code %1? [y/N] ")
                                          .arg(code)))
        << server.out().toStdString();

    // The answer comes late, through the pipe.
    QTest::qWait(300);
    EXPECT_FALSE(first.events.connected);
    server.answer("y\n");
    ASSERT_TRUE(QTest::qWaitFor([&first] { return first.events.connected; }, 10000));

    // While a second library's question waits, the joined one is served.
    InvitingPeer second(QStringLiteral("Second"));
    second.manager.connectToAddress(QStringLiteral("127.0.0.1"), quint16(port.captured(1).toUInt()), 60);
    ASSERT_TRUE(server.waitForOutput(QStringLiteral("Accept “Second” with verification code "))) << server.out().toStdString();
    first.manager.sendData(*MediaRequestMessage{file.completeBaseName(), file.suffix()}.encode());
    ASSERT_TRUE(QTest::qWaitFor([&first] { return !first.events.received.isEmpty(); }, 10000));
    EXPECT_EQ(first.events.received, QStringList{file.completeBaseName()});

    // Unanswered, the invitation times out after its 30 seconds and its
    // question goes with it: an answer after that accepts nothing.
    ASSERT_TRUE(server.waitForOutput(QStringLiteral("The invitation from “Second” ended without an answer"), 45000))
        << server.out().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&second] { return second.events.disconnections == 1; }, 10000));
    server.answer("y\n");

    // With its input closed, serve-peer declines without asking.
    server.closeInput();
    InvitingPeer third(QStringLiteral("Third"));
    third.manager.connectToAddress(QStringLiteral("127.0.0.1"), quint16(port.captured(1).toUInt()), 60);
    ASSERT_TRUE(server.waitForOutput(QStringLiteral("Declined “Third”: standard input is closed"))) << server.out().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&third] { return third.events.disconnections == 1; }, 10000));
    EXPECT_FALSE(second.events.connected);
    EXPECT_TRUE(first.events.connected);

    // Nothing the peers named reached the terminal raw, log lines included.
    EXPECT_TRUE(server.err().contains(QStringLiteral("Library[2K 1mCode 000 000"))) << server.err().toStdString();
    EXPECT_FALSE(server.out().contains(QChar(0x1b)) || server.out().contains(QChar(0x9b)));
    EXPECT_FALSE(server.err().contains(QChar(0x1b)) || server.err().contains(QChar(0x9b)));
}
