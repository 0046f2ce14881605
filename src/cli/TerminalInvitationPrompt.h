#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <functional>

#include "transfer/PeerID.h"

class QSocketNotifier;

namespace ovalis {

// Asks on the terminal whether to accept each invitation, one question at a
// time, and reads the answers from standard input (a terminal, a pipe or a
// file) as they become readable, so that the event loop keeps serving
// joined peers and timing out invitations while the user thinks. Once the
// input is closed, invitations are declined without asking.
class TerminalInvitationPrompt : public QObject
{
public:
    explicit TerminalInvitationPrompt(int inputDescriptor, QObject *parent = nullptr);
    ~TerminalInvitationPrompt() override;

    // Asks now, or after the questions already waiting for an answer.
    void ask(const PeerID &peer, const QString &verificationCode, std::function<void(bool accept)> reply);
    // The peer's invitation ended without an answer (it timed out, or the
    // peer went): its question is dropped and the next one asked.
    void withdraw(const PeerID &peer);

private:
    struct Question {
        PeerID peer;
        QString verificationCode;
        std::function<void(bool)> reply;
    };

    void readInput();
    void answer(const QString &line);
    void showQuestion();
    void inputClosed();

    int m_input;
    QSocketNotifier *m_notifier; // Owned (child).
    QByteArray m_pending;        // read, not yet a whole line
    QList<Question> m_questions; // the first is on the screen
    bool m_closed = false;
};

} // namespace ovalis
