#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUuid>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "app/SingleInstance.h"

namespace ovalis::test {
namespace {

// Leaves a socket file that nothing listens on, as a process that crashed
// while listening does: connecting to it is refused.
void leaveStaleSocket(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    ASSERT_LT(size_t(encoded.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    ::close(fd);
}

TEST(SingleInstanceTest, LaterClaimsAskTheFirstToComeForwardAndAStaleSocketIsReplaced)
{
    QTemporaryDir library;
    const QString key = QStringLiteral("ovalis-test-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    auto first = std::make_unique<SingleInstance>(library.path());
    const QString socketPath = QDir::tempPath() + u'/' + first->serverName(key);
    leaveStaleSocket(socketPath);
    ASSERT_TRUE(QFileInfo::exists(socketPath));

    ASSERT_TRUE(first->claim(key));
    QSignalSpy activations(first.get(), &SingleInstance::activationRequested);
    SingleInstance second(library.path());
    EXPECT_FALSE(second.claim(key));
    EXPECT_TRUE(activations.wait(5000));
    SingleInstance third(library.path());
    EXPECT_FALSE(third.claim(key));
    EXPECT_TRUE(activations.wait(5000));
    EXPECT_EQ(activations.count(), 2);

    // Files given to a later launch are handed over, in order.
    QSignalSpy openRequests(first.get(), &SingleInstance::openFilesRequested);
    SingleInstance withFiles(library.path());
    const QStringList files{QStringLiteral("/tmp/Ovalis-DB-20261207.json"), QStringLiteral("/home/me/Old library é.ovalis")};
    EXPECT_FALSE(withFiles.claim(key, files));
    EXPECT_TRUE(openRequests.wait(5000));
    ASSERT_EQ(openRequests.count(), 1);
    EXPECT_EQ(openRequests.first().first().toStringList(), files);
    EXPECT_EQ(activations.count(), 3);

    // Another library is a separate instance.
    QTemporaryDir otherLibrary;
    SingleInstance other(otherLibrary.path());
    EXPECT_NE(other.serverName(key), first->serverName(key));
    EXPECT_TRUE(other.claim(key));

    // Once the first has gone, the next launch is the first again.
    first.reset();
    SingleInstance next(library.path());
    EXPECT_TRUE(next.claim(key));
}

} // namespace
} // namespace ovalis::test
