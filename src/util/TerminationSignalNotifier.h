#pragma once

#include <QObject>
#include <csignal>

class QSocketNotifier;

namespace ovalis {

// Turns SIGTERM and SIGINT (a desktop logout or shutdown, Ctrl+C in a
// terminal) into a Qt signal on the thread that made the notifier. The
// handler only writes the signal's number to a socket pair, which is all a
// handler may safely do; the event loop reads it and emits
// terminationRequested. One notifier at a time: the last one made receives
// the signals, and destroying it puts back the handlers it replaced.
class TerminationSignalNotifier : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignalNotifier(QObject *parent = nullptr);
    ~TerminationSignalNotifier() override;

    // False when the socket pair or a handler could not be set up; the
    // signals then keep their previous effect.
    bool isWatching() const { return m_notifier != nullptr; }

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignals();

    int m_sockets[2] = {-1, -1}; // [0] read here, [1] written by the handler
    QSocketNotifier *m_notifier = nullptr; // Owned (child).
    int m_previousWriteSocket = -1;
    struct sigaction m_previousTerminate = {};
    struct sigaction m_previousInterrupt = {};
};

} // namespace ovalis
