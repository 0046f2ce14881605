#include "cli/FetchMissingCommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include "cli/AddressedPeerDiscovery.h"
#include "cli/CommandArguments.h"
#include "cli/PeerCommandSupport.h"
#include "store/CoreDataStack.h"
#include "transfer/OvalisMediaTransferViewModel.h"
#include "util/PrintableText.h"

namespace ovalis {

using namespace PeerCommandSupport;

namespace {

// Drives one fetch: wait for the missing count, connect, transfer, count again.
class FetchRun : public QObject
{
public:
    FetchRun(MediaTransferViewModel &model, const QString &host, quint16 port, int waitSeconds)
        : m_model(model)
        , m_host(host)
        , m_port(port)
    {
        m_deadline.setSingleShot(true);
        m_deadline.setInterval(waitSeconds * 1000);
        connect(&m_deadline, &QTimer::timeout, this, [this] {
            finish(fail(m_host.isEmpty() ? QStringLiteral("no library found nearby") : QStringLiteral("no connection to %1:%2").arg(m_host).arg(m_port)));
        });
        connect(&m_model, &MediaTransferViewModel::changed, this, &FetchRun::step);
    }

    int run()
    {
        m_model.start();
        return QCoreApplication::exec();
    }

private:
    enum class Stage { Counting, Connecting, Transferring, Recounting, Done };

    void finish(int code)
    {
        m_stage = Stage::Done;
        QCoreApplication::exit(code);
    }

    void progress(const QString &line)
    {
        QTextStream(stdout) << '\r' << line << QStringLiteral("\x1b[K") << Qt::flush;
    }

    void step()
    {
        switch (m_stage) {
        case Stage::Counting:
            if (!m_model.statusString().startsWith(QLatin1String("Missing ")))
                return;
            m_missing = m_model.missingMediaManager()->missingCount();
            if (m_missing == 0) {
                print(QStringLiteral("No missing media files"));
                finish(0);
                return;
            }
            print(m_model.statusString());
            m_stage = Stage::Connecting;
            m_deadline.start();
            if (!m_host.isEmpty())
                m_model.connectToAddress(m_host, m_port);
            [[fallthrough]];
        case Stage::Connecting:
            if (m_model.connectionStatus() == ConnectionStatus::connected) {
                m_deadline.stop();
                print(QStringLiteral("Connected to “%1” (verification code %2)")
                          .arg(PrintableText::from(m_model.connectedRemote()->label),
                               m_model.multiPeerManager()->verificationCode(m_model.connectedRemote()->id)));
                m_stage = Stage::Transferring;
                m_model.transfer();
            } else if (m_host.isEmpty() && m_model.connectionStatus() == ConnectionStatus::standby && !m_model.remoteLibraries().isEmpty()) {
                m_model.connectRemote(m_model.remoteLibraries().first());
            } else if (!m_host.isEmpty() && m_model.connectionStatus() == ConnectionStatus::standby) {
                finish(fail(QStringLiteral("the peer at %1:%2 did not accept the connection").arg(m_host).arg(m_port)));
            }
            return;
        case Stage::Transferring:
            if (m_model.connectionStatus() == ConnectionStatus::transferring) {
                progress(m_model.statusString());
            } else if (m_model.connectionStatus() == ConnectionStatus::standby) {
                print(QString());
                finish(fail(QStringLiteral("the connection ended before the transfer finished")));
            } else if (m_model.statusString() == QLatin1String("Finished transferring")) {
                progress(m_model.statusString());
                print(QString());
                m_stage = Stage::Recounting;
                m_model.missingMediaManager()->refreshMissingMedia([this] {
                    const int remaining = m_model.missingMediaManager()->missingCount();
                    print(QStringLiteral("Fetched %1 of %2 missing media files; %3 still missing")
                              .arg(m_missing - remaining).arg(m_missing).arg(remaining));
                    m_model.disconnectRemote();
                    finish(0);
                });
            }
            return;
        case Stage::Recounting:
        case Stage::Done:
            return;
        }
    }

    MediaTransferViewModel &m_model;
    QString m_host;
    quint16 m_port;
    QTimer m_deadline;
    Stage m_stage = Stage::Counting;
    int m_missing = 0;
};

} // namespace

int runFetchMissing(const QString &library, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Fetch this library's missing media files from a peer."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("peer"), QStringLiteral("The peer's address and port (default: the first library found nearby)."),
                      QStringLiteral("HOST:PORT")});
    parser.addOption({QStringLiteral("wait"), QStringLiteral("Seconds to wait for a peer and its answer to the invitation (default 60)."),
                      QStringLiteral("SECONDS"), QStringLiteral("60")});
    CommandArguments::parse(parser, QStringLiteral("fetch-missing"), arguments);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("fetch-missing takes no arguments"));
    QString host;
    uint port = 0;
    if (parser.isSet(QStringLiteral("peer"))) {
        const QString peer = parser.value(QStringLiteral("peer"));
        const qsizetype colon = peer.lastIndexOf(QLatin1Char(':'));
        bool ok = false;
        port = colon > 0 ? peer.mid(colon + 1).toUInt(&ok) : 0;
        if (!ok || port == 0 || port > 65535)
            return fail(QStringLiteral("--peer needs HOST:PORT"));
        host = peer.left(colon);
    }
    bool waitOK = false;
    const int wait = parser.value(QStringLiteral("wait")).toInt(&waitOK);
    if (!waitOK || wait <= 0)
        return fail(QStringLiteral("--wait needs a number of seconds"));

    std::unique_ptr<CoreDataStack> stack = openLibrary(library);
    if (!stack)
        return 2;
    auto model = OvalisMediaTransferViewModel::forLibrary(*stack);
    // A peer named by its address needs no looking for, nor advertising.
    if (!host.isEmpty())
        model->multiPeerManager()->setDiscovery(std::make_unique<AddressedPeerDiscovery>());
    FetchRun run(*model, host, quint16(port), wait);
    return run.run();
}

} // namespace ovalis
