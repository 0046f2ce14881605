#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <memory>
#include <unistd.h>

#include "util/Log.h"

namespace ovalis {

namespace {

// A later launch writes "activate", then one "open" line per file it was
// given, then "end".
const QByteArray activateMessage("activate\n");
const QByteArray openPrefix("open ");
const QByteArray endMessage("end\n");
constexpr int socketTimeoutMs = 2000;
constexpr int lockTimeoutMs = 5000;

} // namespace

SingleInstance::SingleInstance(const QString &libraryDirectory, QObject *parent)
    : QObject(parent)
    , m_libraryDirectory(QDir(libraryDirectory).absolutePath())
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName(const QString &key) const
{
    const QByteArray digest = QCryptographicHash::hash(m_libraryDirectory.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QStringLiteral("%1-%2-%3").arg(key).arg(::getuid()).arg(QString::fromLatin1(digest.left(16)));
}

bool SingleInstance::claim(const QString &key, const QStringList &files)
{
    const QString name = serverName(key);
    // Two launches at the same moment would both find no server, and the
    // second would remove the first one's socket as stale. The lock orders
    // them; a lock left by a process that died is taken over.
    QLockFile lock(QDir(QDir::tempPath()).filePath(name + QStringLiteral(".lock")));
    if (!lock.tryLock(lockTimeoutMs))
        Log::error(LogArea::Startup, QStringLiteral("Unable to lock ") + QDir::tempPath() + u'/' + name
                                         + QStringLiteral(".lock; checking for another launch without it"));

    if (askRunningInstance(name, files))
        return false;

    // Nobody answered, so a socket file still there was left by a crash.
    QLocalServer::removeServer(name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(name)) {
        Log::error(LogArea::Startup, QStringLiteral("Unable to listen for later launches on ") + name + QStringLiteral(" [")
                                         + m_server->errorString() + u']');
        delete m_server;
        m_server = nullptr;
        return true;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return true;
}

bool SingleInstance::askRunningInstance(const QString &name, const QStringList &files)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(socketTimeoutMs))
        return false;
    // The listening process reads the request from its event loop; the
    // kernel holds the bytes until then, so nothing waits for an answer.
    QByteArray request = activateMessage;
    for (const QString &file : files) {
        // A path cannot hold a line feed here: it would end the request line.
        if (!file.contains(u'\n'))
            request += openPrefix + file.toUtf8() + '\n';
    }
    socket.write(request + endMessage);
    if (!socket.waitForBytesWritten(socketTimeoutMs))
        Log::error(LogArea::Startup, QStringLiteral("Unable to ask the running Ovalis to come forward [") + socket.errorString() + u']');
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(socketTimeoutMs);
    Log::info(LogArea::Startup, QStringLiteral("Ovalis is already running; asked it to show its library window"));
    return true;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        auto files = std::make_shared<QStringList>();
        auto readRequest = [this, socket, files] {
            while (socket->canReadLine()) {
                const QByteArray line = socket->readLine();
                if (line == activateMessage) {
                    emit activationRequested();
                } else if (line.startsWith(openPrefix)) {
                    files->append(QString::fromUtf8(line.mid(openPrefix.size()).chopped(1)));
                } else {
                    // "end", or a launch of an older version that only asks to come forward.
                    if (!files->isEmpty())
                        emit openFilesRequested(std::exchange(*files, {}));
                    socket->disconnectFromServer();
                    return;
                }
            }
        };
        connect(socket, &QLocalSocket::readyRead, this, readRequest);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        readRequest();
    }
}

} // namespace ovalis
