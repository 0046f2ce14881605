#include "cli/ServePeerCommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <unistd.h>

#include "cli/CommandArguments.h"
#include "cli/PeerCommandSupport.h"
#include "cli/TerminalInvitationPrompt.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "transfer/OvalisMediaTransferViewModel.h"
#include "util/PrintableText.h"

namespace ovalis {

using namespace PeerCommandSupport;

int runServePeer(const QString &library, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Advertise this library and answer peers' requests for its media files."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("port"), QStringLiteral("Listen on this port (default: one the system chooses)."), QStringLiteral("P")});
    parser.addOption({QStringLiteral("accept-from-any"), QStringLiteral("Accept every invitation without asking.")});
    CommandArguments::parse(parser, QStringLiteral("serve-peer"), arguments);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("serve-peer takes no arguments"));
    bool portOK = true;
    const uint port = parser.isSet(QStringLiteral("port")) ? parser.value(QStringLiteral("port")).toUInt(&portOK) : 0;
    if (!portOK || port > 65535)
        return fail(QStringLiteral("--port needs a number from 1 to 65535"));

    std::unique_ptr<CoreDataStack> stack = openLibrary(library);
    if (!stack)
        return 2;
    auto manager = std::make_unique<MultiPeerManager>(
        OvalisMediaTransferViewModel::displayName(stack->mainContext()->countOfObjects(QStringLiteral("Case"))),
        QStringLiteral("ovalis-peer"));
    manager->setRequestedPort(quint16(port));
    // Answers are read as they come, so that joined peers are served and
    // invitations time out while a question waits.
    std::unique_ptr<TerminalInvitationPrompt> prompt;
    if (parser.isSet(QStringLiteral("accept-from-any"))) {
        manager->setInvitationHandler([](const PeerID &peer, const QString &code, std::function<void(bool)> reply) {
            print(QStringLiteral("Accepted “%1” (verification code %2)").arg(PrintableText::from(peer.displayName), code));
            reply(true);
        });
    } else {
        prompt = std::make_unique<TerminalInvitationPrompt>(STDIN_FILENO);
        TerminalInvitationPrompt *asking = prompt.get();
        manager->setInvitationHandler([asking](const PeerID &peer, const QString &code, std::function<void(bool)> reply) {
            asking->ask(peer, code, std::move(reply));
        });
        QObject::connect(manager.get(), &MultiPeerManager::invitationEnded, asking, [asking](const PeerID &peer) {
            asking->withdraw(peer);
        });
    }
    auto model = OvalisMediaTransferViewModel::forLibrary(*stack, std::move(manager));
    MultiPeerManager *peers = model->multiPeerManager();
    QObject::connect(peers, &MultiPeerManager::reachabilityChanged, [peers] {
        if (peers->listeningPort())
            print(QStringLiteral("Serving “%1” on port %2").arg(peers->name()).arg(peers->listeningPort()));
        else if (!peers->lastError().isEmpty())
            QCoreApplication::exit(fail(peers->lastError()));
        if (peers->discovery() && !peers->discovery()->unavailableReason().isEmpty())
            print(QStringLiteral("Not advertised nearby: %1; peers can connect to this address and port").arg(peers->discovery()->unavailableReason()));
    });
    QObject::connect(model.get(), &MediaTransferViewModel::changed, [&model, connected = false]() mutable {
        const bool now = model->connectionStatus() == ConnectionStatus::connected
            || model->connectionStatus() == ConnectionStatus::transferring;
        if (now != connected)
            print(now ? QStringLiteral("Connected to “%1”")
                            .arg(model->connectedRemote() ? PrintableText::from(model->connectedRemote()->label) : QString())
                      : QStringLiteral("Disconnected"));
        connected = now;
    });
    model->start();
    return QCoreApplication::exec();
}

} // namespace ovalis
