#include "transfer/ui/MediaTransferView.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "transfer/MultiPeerManager.h"
#include "transfer/PeerDiscovery.h"
#include "transfer/ui/PeerInvitationDialog.h"
#include "transfer/ui/RemoteLibraryView.h"
#include "transfer/ui/TransferSymbols.h"
#include "util/Log.h"
#include "util/PrintableText.h"

namespace ovalis {

namespace {

constexpr int progressSteps = 1000;

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
{
    setWindowTitle(QStringLiteral("Sync Media"));
    setFixedSize(500, 500);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    auto *heading = new QLabel(QStringLiteral("Nearby Libraries"), this);
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    heading->setFont(headingFont);
    layout->addWidget(heading);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(m_list, 1);

    auto *connectRow = new QHBoxLayout;
    connectRow->addWidget(m_connectToAddressButton);
    connectRow->addStretch(1);
    connectRow->addWidget(m_disconnectButton);
    connectRow->addWidget(m_connectButton);
    layout->addLayout(connectRow);

    // Lines that name other libraries, and the status line, are plain text.
    m_reachabilityLabel->setTextFormat(Qt::PlainText);
    m_reachabilityLabel->setWordWrap(true);
    m_statusLabel->setTextFormat(Qt::PlainText);
    QPalette secondary = m_reachabilityLabel->palette();
    secondary.setColor(QPalette::WindowText, QColor(0x6e, 0x6e, 0x73));
    m_reachabilityLabel->setPalette(secondary);
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

    connect(m_list, &QListWidget::itemSelectionChanged, this, &MediaTransferView::update);
    connect(m_connectButton, &QPushButton::clicked, this, &MediaTransferView::connectToSelected);
    connect(m_connectToAddressButton, &QPushButton::clicked, this, &MediaTransferView::connectToAddress);
    connect(m_disconnectButton, &QPushButton::clicked, m_model.get(), &MediaTransferViewModel::disconnectRemote);
    connect(m_stopButton, &QPushButton::clicked, m_model.get(), &MediaTransferViewModel::stopTransfer);
    connect(m_fetchButton, &QPushButton::clicked, m_model.get(), &MediaTransferViewModel::transfer);
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
