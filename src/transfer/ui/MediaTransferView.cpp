#include "transfer/ui/MediaTransferView.h"

#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "transfer/MirrorService.h"
#include "transfer/MultiPeerManager.h"
#include "transfer/PostgresConnection.h"
#include "transfer/PeerDiscovery.h"
#include "transfer/ui/PeerInvitationDialog.h"
#include "transfer/ui/RemoteLibraryView.h"
#include "transfer/ui/TransferSymbols.h"
#include "util/Log.h"
#include "util/PrintableText.h"

namespace ovalis {

namespace {

constexpr int progressSteps = 1000;

QLabel *heading(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

// Plain text in the grey of secondary lines.
void makeSecondary(QLabel *label)
{
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    QPalette secondary = label->palette();
    secondary.setColor(QPalette::WindowText, QColor(0x6e, 0x6e, 0x73));
    label->setPalette(secondary);
}

QString serverName(const QString &conninfo)
{
    const PostgresConnection::Target target = PostgresConnection::target(conninfo);
    if (target.withoutPassword.isEmpty())
        return QStringLiteral("A server whose connection string cannot be read");
    const QString host = target.host.isEmpty() ? QStringLiteral("this computer") : target.host;
    return target.database.isEmpty() ? host : QStringLiteral("%1 on %2").arg(target.database, host);
}

QString missingFilesText(qint64 count)
{
    if (count < 0)
        return QStringLiteral("The server cannot say which files it has.");
    if (count == 1)
        return QStringLiteral("The server has 1 media file that this library lacks.");
    return QStringLiteral("The server has %1 media files that this library lacks.").arg(count == 0 ? QStringLiteral("no") : QString::number(count));
}

} // namespace

MediaTransferView::MediaTransferView(std::unique_ptr<MediaTransferViewModel> model, QWidget *parent)
    : QWidget(parent)
    , m_model(std::move(model))
    , m_list(new QListWidget(this))
    , m_connectButton(new QPushButton(QStringLiteral("Connect"), this))
    , m_connectToAddressButton(new QPushButton(QStringLiteral("Connect to Address…"), this))
    , m_disconnectButton(new QPushButton(QStringLiteral("Disconnect"), this))
    , m_statusLabel(new QLabel(this))
    , m_shareSymbol(new QLabel(this))
    , m_reachabilityLabel(new QLabel(this))
    , m_progressBar(new QProgressBar(this))
    , m_stopButton(new QPushButton(QStringLiteral("Stop"), this))
    , m_fetchButton(new QPushButton(QStringLiteral("Fetch"), this))
    , m_serverSection(new QWidget(this))
    , m_serverNameLabel(new QLabel(m_serverSection))
    , m_serverCountLabel(new QLabel(m_serverSection))
    , m_serverStatusLabel(new QLabel(m_serverSection))
    , m_fetchFromServerButton(new QPushButton(QStringLiteral("Fetch from Server"), m_serverSection))
{
    setWindowTitle(QStringLiteral("Sync Media"));
    setFixedSize(500, 500);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->addWidget(heading(QStringLiteral("Nearby Libraries"), this));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(m_list, 1);

    auto *connectRow = new QHBoxLayout;
    connectRow->addWidget(m_connectToAddressButton);
    connectRow->addStretch(1);
    connectRow->addWidget(m_disconnectButton);
    connectRow->addWidget(m_connectButton);
    layout->addLayout(connectRow);

    // Lines that name other libraries, and the status line, are plain text.
    makeSecondary(m_reachabilityLabel);
    m_statusLabel->setTextFormat(Qt::PlainText);
    layout->addWidget(m_reachabilityLabel);

    auto *statusRow = new QHBoxLayout;
    QFont statusFont = m_statusLabel->font();
    statusFont.setStyleHint(QFont::System);
    statusFont.setFamilies({QStringLiteral("DejaVu Sans"), statusFont.family()}); // digits of equal width
    m_statusLabel->setFont(statusFont);
    statusRow->addWidget(m_statusLabel);
    m_shareSymbol->setPixmap(TransferSymbols::share(16));
    m_shareSymbol->setToolTip(QStringLiteral("Sending media files"));
    statusRow->addWidget(m_shareSymbol);
    statusRow->addStretch(1);
    layout->addLayout(statusRow);

    m_progressBar->setTextVisible(false);
    QSizePolicy keepSpace = m_progressBar->sizePolicy();
    keepSpace.setRetainSizeWhenHidden(true);
    m_progressBar->setSizePolicy(keepSpace);
    layout->addWidget(m_progressBar);

    auto *transferRow = new QHBoxLayout;
    transferRow->addStretch(1);
    transferRow->addWidget(m_stopButton);
    transferRow->addWidget(m_fetchButton);
    layout->addLayout(transferRow);

    // The mirror's server, below a line. What it says comes from the server
    // and the connection string: plain text only.
    auto *serverLayout = new QVBoxLayout(m_serverSection);
    serverLayout->setContentsMargins(0, 8, 0, 0);
    auto *line = new QFrame(m_serverSection);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    serverLayout->addWidget(line);
    serverLayout->addWidget(heading(QStringLiteral("Server"), m_serverSection));
    auto *serverRow = new QHBoxLayout;
    m_serverNameLabel->setTextFormat(Qt::PlainText);
    m_serverNameLabel->setWordWrap(true);
    serverRow->addWidget(m_serverNameLabel, 1);
    serverRow->addWidget(m_fetchFromServerButton, 0, Qt::AlignTop);
    serverLayout->addLayout(serverRow);
    makeSecondary(m_serverCountLabel);
    serverLayout->addWidget(m_serverCountLabel);
    m_serverStatusLabel->setTextFormat(Qt::PlainText);
    m_serverStatusLabel->setWordWrap(true);
    m_serverStatusLabel->setFont(statusFont);
    serverLayout->addWidget(m_serverStatusLabel);
    m_serverSection->hide();
    layout->addWidget(m_serverSection);

    connect(m_list, &QListWidget::itemSelectionChanged, this, &MediaTransferView::update);
    connect(m_connectButton, &QPushButton::clicked, this, &MediaTransferView::connectToSelected);
    connect(m_connectToAddressButton, &QPushButton::clicked, this, &MediaTransferView::connectToAddress);
    connect(m_disconnectButton, &QPushButton::clicked, m_model.get(), &MediaTransferViewModel::disconnectRemote);
    connect(m_stopButton, &QPushButton::clicked, m_model.get(), &MediaTransferViewModel::stopTransfer);
    connect(m_fetchButton, &QPushButton::clicked, m_model.get(), &MediaTransferViewModel::transfer);
    connect(m_fetchFromServerButton, &QPushButton::clicked, this, [this] {
        if (!m_mirror)
            return;
        m_fetching = true;
        m_serverResult.clear();
        m_mirror->fetchMissingFiles();
        updateServer();
    });
    connect(m_model.get(), &MediaTransferViewModel::changed, this, &MediaTransferView::update);
    MultiPeerManager *manager = m_model->multiPeerManager();
    connect(manager, &MultiPeerManager::reachabilityChanged, this, &MediaTransferView::updateReachability);
    QPointer<MediaTransferView> self(this);
    manager->setInvitationHandler([self](const PeerID &peer, const QString &code, std::function<void(bool)> reply) {
        if (self)
            self->askAboutInvitation(peer, code, std::move(reply));
        else
            reply(false);
    });
    update();
    updateReachability();
}

MediaTransferView::~MediaTransferView()
{
    if (m_started)
        m_model->stop();
}

void MediaTransferView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_started) {
        m_started = true;
        m_model->start();
    }
    if (offersServer())
        countServerFiles();
}

void MediaTransferView::setMirrorService(MirrorService *service)
{
    if (m_mirror)
        disconnect(m_mirror, nullptr, this, nullptr);
    m_mirror = service;
    m_fetching = false;
    m_serverResult.clear();
    if (service) {
        connect(service, &MirrorService::stateChanged, this, &MediaTransferView::updateServer);
        connect(service, &MirrorService::syncFinished, this, [this](const LibraryMirror::Report &report, bool requested) {
            serverSyncFinished(report.filesReceived, report.ok, report.cancelled ? QStringLiteral("Cancelled") : report.error,
                               requested);
        });
    }
    updateServer();
    if (isVisible() && offersServer())
        countServerFiles();
}

bool MediaTransferView::offersServer() const
{
    return m_mirror && !m_mirror->server().isEmpty() && m_mirror->isRunning() && m_mirror->keepsMediaOnServer();
}

void MediaTransferView::updateServer()
{
    const bool offered = offersServer();
    const bool appearing = offered && m_serverSection->isHidden();
    m_serverSection->setVisible(offered);
    if (!offered) {
        m_fetching = false; // a stopped mirror finishes no sync
        return;
    }
    const QString conninfo = m_mirror->server();
    m_serverNameLabel->setText(serverName(conninfo));
    m_serverNameLabel->setToolTip(PostgresConnection::target(conninfo).withoutPassword);
    const bool syncing = m_mirror->state() == MirrorService::State::Syncing;
    m_fetchFromServerButton->setEnabled(!syncing && !m_fetching);
    m_serverStatusLabel->setText(syncing ? m_mirror->stateText() : m_serverResult);
    // The mirror started while the window was open.
    if (appearing && isVisible())
        countServerFiles();
}

void MediaTransferView::countServerFiles()
{
    const int request = ++m_countRequest;
    m_serverCountLabel->setText(QStringLiteral("Counting the server's files that this library lacks…"));
    QPointer<MediaTransferView> self(this);
    m_mirror->countMissingFiles([self, request](qint64 count, const QString &error) {
        if (!self || request != self->m_countRequest)
            return;
        // The connection's own words, over several lines, go in the tool tip.
        self->m_serverCountLabel->setText(missingFilesText(count));
        self->m_serverCountLabel->setToolTip(count < 0 ? error : QString());
    });
}

void MediaTransferView::serverSyncFinished(qint64 filesReceived, bool ok, const QString &error, bool requested)
{
    if (requested && m_fetching) {
        m_fetching = false;
        m_serverResult = !ok ? error.simplified() // libpq's messages hold line breaks and tabs
                         : filesReceived == 1 ? QStringLiteral("Fetched 1 file")
                                              : QStringLiteral("Fetched %1 files").arg(filesReceived);
    }
    updateServer();
    if (filesReceived > 0) {
        m_model->recountMissingMedia();
        if (offersServer())
            countServerFiles();
    }
}

void MediaTransferView::closeEvent(QCloseEvent *event)
{
    if (m_started) {
        m_started = false;
        m_model->stop();
    }
    QWidget::closeEvent(event);
}

void MediaTransferView::rebuildList()
{
    const QList<RemoteMediaLibrary> &libraries = m_model->remoteLibraries();
    if (libraries == m_listed)
        return;
    QString selectedID;
    if (const QList<QListWidgetItem *> selected = m_list->selectedItems(); !selected.isEmpty())
        selectedID = selected.first()->data(Qt::UserRole).toString();
    const QSignalBlocker blocker(m_list);
    m_list->clear();
    for (const RemoteMediaLibrary &remote : libraries) {
        auto *item = new QListWidgetItem(m_list);
        item->setData(Qt::UserRole, remote.id.uniqueID);
        auto *row = new RemoteLibraryView(remote, m_list);
        item->setSizeHint(row->sizeHint());
        m_list->setItemWidget(item, row);
        if (remote.id.uniqueID == selectedID) {
            m_list->setCurrentItem(item);
            item->setSelected(true);
        }
    }
    m_listed = libraries;
}

void MediaTransferView::update()
{
    rebuildList();
    for (int i = 0; i < m_list->count(); ++i) {
        if (auto *row = qobject_cast<RemoteLibraryView *>(m_list->itemWidget(m_list->item(i))))
            row->setConnected(m_model->isConnected(row->remote()));
    }
    const ConnectionStatus status = m_model->connectionStatus();
    const bool selected = !m_list->selectedItems().isEmpty();
    m_connectButton->setEnabled(status == ConnectionStatus::standby && selected);
    m_connectToAddressButton->setEnabled(status == ConnectionStatus::standby);
    m_disconnectButton->setEnabled(status == ConnectionStatus::connected);
    m_stopButton->setEnabled(status == ConnectionStatus::transferring);
    m_fetchButton->setEnabled(status == ConnectionStatus::connected);
    m_statusLabel->setText(m_model->statusString());
    m_shareSymbol->setVisible(m_model->sentMedia());
    switch (status) {
    case ConnectionStatus::transferring:
        m_progressBar->setRange(0, progressSteps);
        m_progressBar->setValue(qRound(qBound(0.0f, m_model->fractionTransferred(), 1.0f) * progressSteps));
        m_progressBar->show();
        break;
    case ConnectionStatus::connecting:
        m_progressBar->setRange(0, 0); // indeterminate
        m_progressBar->show();
        break;
    default:
        m_progressBar->hide();
        break;
    }
    updateReachability();
}

void MediaTransferView::updateReachability()
{
    MultiPeerManager *manager = m_model->multiPeerManager();
    QStringList lines;
    if (manager->listeningPort())
        lines.append(QStringLiteral("This library listens on port %1.").arg(manager->listeningPort()));
    else if (!manager->lastError().isEmpty())
        lines.append(manager->lastError());
    const QString discoveryProblem = manager->discovery() ? manager->discovery()->unavailableReason()
                                                          : QStringLiteral("discovery is off");
    if (!discoveryProblem.isEmpty())
        lines.append(QStringLiteral("Nearby libraries cannot be found automatically (%1); use Connect to Address…")
                         .arg(discoveryProblem));
    // Both users compare the code while the invitation is pending and after.
    if (m_model->connectionStatus() != ConnectionStatus::standby) {
        for (const RemoteMediaLibrary &remote : m_model->remoteLibraries()) {
            const QString code = manager->verificationCode(remote.id);
            if (!code.isEmpty())
                lines.append(QStringLiteral("Verification code with “%1”: %2").arg(PrintableText::from(remote.label), code));
        }
    }
    m_reachabilityLabel->setText(lines.join(QLatin1Char('\n')));
}

void MediaTransferView::connectToSelected()
{
    const QList<QListWidgetItem *> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return;
    const int row = m_list->row(selected.first());
    if (row >= 0 && row < m_listed.size())
        m_model->connectRemote(m_listed[row]);
}

void MediaTransferView::connectToAddress()
{
    bool ok = false;
    const QString text = QInputDialog::getText(this, QStringLiteral("Connect to Address"),
                                               QStringLiteral("Address and port of the other library (host:port):"),
                                               QLineEdit::Normal, QString(), &ok)
                             .trimmed();
    if (!ok || text.isEmpty())
        return;
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    bool portOK = false;
    const uint port = colon > 0 ? text.mid(colon + 1).toUInt(&portOK) : 0;
    if (!portOK || port == 0 || port > 65535) {
        QMessageBox::warning(this, QStringLiteral("Connect to Address"),
                             QStringLiteral("“%1” is not an address followed by a port, such as 192.168.1.20:51234.").arg(text));
        return;
    }
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    m_model->connectToAddress(host, quint16(port));
}

void MediaTransferView::askAboutInvitation(const PeerID &peer, const QString &code, std::function<void(bool)> reply)
{
    Log::info(LogArea::UI, QStringLiteral("Invitation from %1").arg(peer.displayName));
    auto *dialog = new PeerInvitationDialog(peer.displayName, code, 30, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::finished, this, [reply](int result) { reply(result == QDialog::Accepted); });
    dialog->open();
}

} // namespace ovalis
