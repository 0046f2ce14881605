#include "util/TerminationSignalNotifier.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include "util/Log.h"

namespace ovalis {

namespace {

// The socket the handler writes to; -1 while no notifier is watching.
std::atomic<int> writeSocket{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free socket number");

extern "C" void writeSignalNumber(int signalNumber)
{
    const int savedErrno = errno;
    const int socket = writeSocket.load();
    if (socket >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        // A full socket already holds a request to end: this one may be dropped.
        [[maybe_unused]] const ssize_t written = ::write(socket, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

TerminationSignalNotifier::TerminationSignalNotifier(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, m_sockets) != 0) {
        Log::error(LogArea::Startup, QStringLiteral("Unable to watch for termination signals: ") + QString::fromLocal8Bit(strerror(errno)));
        m_sockets[0] = m_sockets[1] = -1;
        return;
    }
    m_previousWriteSocket = writeSocket.exchange(m_sockets[1]);
    struct sigaction action = {};
    action.sa_handler = writeSignalNumber;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, &m_previousTerminate);
    ::sigaction(SIGINT, &action, &m_previousInterrupt);
    m_notifier = new QSocketNotifier(m_sockets[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignalNotifier::readSignals);
}

TerminationSignalNotifier::~TerminationSignalNotifier()
{
    if (!m_notifier)
        return;
    ::sigaction(SIGTERM, &m_previousTerminate, nullptr);
    ::sigaction(SIGINT, &m_previousInterrupt, nullptr);
    writeSocket.store(m_previousWriteSocket);
    delete m_notifier;
    ::close(m_sockets[0]);
    ::close(m_sockets[1]);
}

void TerminationSignalNotifier::readSignals()
{
    unsigned char numbers[16];
    ssize_t count;
    while ((count = ::read(m_sockets[0], numbers, sizeof numbers)) > 0)
        for (ssize_t i = 0; i < count; ++i)
            emit terminationRequested(numbers[i]);
}

} // namespace ovalis
