#include "cli/TerminalInvitationPrompt.h"

#include <QSocketNotifier>
#include <QTextStream>
#include <cerrno>
#include <utility>
#include <unistd.h>

#include "cli/PeerCommandSupport.h"
#include "util/PrintableText.h"

namespace ovalis {

using namespace PeerCommandSupport;

namespace {

// A name as the terminal shows it: a peer chooses its own.
QString shown(const PeerID &peer)
{
    return PrintableText::from(peer.displayName);
}

// An answer is a line; a few kilobytes are more than any answer needs.
constexpr qsizetype longestLine = 4096;

} // namespace

TerminalInvitationPrompt::TerminalInvitationPrompt(int inputDescriptor, QObject *parent)
    : QObject(parent)
    , m_input(inputDescriptor)
    , m_notifier(new QSocketNotifier(qintptr(inputDescriptor), QSocketNotifier::Read, this))
{
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminalInvitationPrompt::readInput);
}

TerminalInvitationPrompt::~TerminalInvitationPrompt() = default;

void TerminalInvitationPrompt::ask(const PeerID &peer, const QString &verificationCode, std::function<void(bool accept)> reply)
{
    if (m_closed) {
        print(QStringLiteral("Declined “%1”: standard input is closed; run with --accept-from-any to accept without asking")
                  .arg(shown(peer)));
        reply(false);
        return;
    }
    m_questions.append({peer, verificationCode, std::move(reply)});
    if (m_questions.size() == 1)
        showQuestion();
}

void TerminalInvitationPrompt::withdraw(const PeerID &peer)
{
    for (qsizetype i = 0; i < m_questions.size(); ++i) {
        if (m_questions[i].peer.uniqueID != peer.uniqueID)
            continue;
        m_questions.removeAt(i);
        if (i == 0) {
            print(QString());
            print(QStringLiteral("The invitation from “%1” ended without an answer").arg(shown(peer)));
            if (!m_questions.isEmpty())
                showQuestion();
        }
        return;
    }
}

void TerminalInvitationPrompt::showQuestion()
{
    const Question &question = m_questions.first();
    QTextStream(stdout) << QStringLiteral("Accept “%1” with verification code %2? [y/N] ").arg(shown(question.peer), question.verificationCode)
                        << Qt::flush;
}

void TerminalInvitationPrompt::readInput()
{
    char buffer[1024];
    const ssize_t count = ::read(m_input, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (count <= 0) {
        inputClosed();
        return;
    }
    m_pending.append(buffer, qsizetype(count));
    for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
        const QByteArray line = m_pending.left(end);
        m_pending.remove(0, end + 1);
        answer(QString::fromUtf8(line));
    }
    if (m_pending.size() > longestLine)
        m_pending.clear();
}

void TerminalInvitationPrompt::answer(const QString &line)
{
    if (m_questions.isEmpty())
        return; // typed while nothing was asked
    const Question question = m_questions.takeFirst();
    const QString answer = line.trimmed().toLower();
    const bool accept = answer == QLatin1String("y") || answer == QLatin1String("yes");
    if (!accept)
        print(QStringLiteral("Declined “%1”").arg(shown(question.peer)));
    question.reply(accept);
    if (!m_questions.isEmpty() && !m_closed)
        showQuestion();
}

void TerminalInvitationPrompt::inputClosed()
{
    m_notifier->setEnabled(false);
    m_closed = true;
    // A last answer without its line break still counts.
    if (!m_pending.isEmpty())
        answer(QString::fromUtf8(std::exchange(m_pending, QByteArray())));
    const QList<Question> unanswered = std::exchange(m_questions, {});
    if (!unanswered.isEmpty())
        print(QString());
    for (const Question &question : unanswered) {
        print(QStringLiteral("Declined “%1”: standard input is closed").arg(shown(question.peer)));
        question.reply(false);
    }
}

} // namespace ovalis
