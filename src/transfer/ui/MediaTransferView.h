#pragma once

#include <QWidget>
#include <memory>

#include "transfer/MediaTransferViewModel.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace ovalis {

// The "Sync Media" window (500 × 500): the nearby libraries, Connect and
// Disconnect, the status line with the share symbol while this side sends,
// the transfer's progress, Stop and Fetch. Owns its model; showing the window
// starts the model's peer service and closing it stops the service.
class MediaTransferView : public QWidget
{
    Q_OBJECT

public:
    explicit MediaTransferView(std::unique_ptr<MediaTransferViewModel> model, QWidget *parent = nullptr);
    ~MediaTransferView() override;

    MediaTransferViewModel *model() const { return m_model.get(); }
    QListWidget *libraryList() const { return m_list; }
    QPushButton *connectButton() const { return m_connectButton; }
    QPushButton *connectToAddressButton() const { return m_connectToAddressButton; }
    QPushButton *disconnectButton() const { return m_disconnectButton; }
    QPushButton *stopButton() const { return m_stopButton; }
    QPushButton *fetchButton() const { return m_fetchButton; }
    QLabel *statusLabel() const { return m_statusLabel; }
    QLabel *shareSymbol() const { return m_shareSymbol; }
    QLabel *reachabilityLabel() const { return m_reachabilityLabel; }
    QProgressBar *progressBar() const { return m_progressBar; }

public slots:
    void connectToSelected();
    // Asks for "host:port" and connects there.
    void connectToAddress();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void update();
    void rebuildList();
    void updateReachability();
    void askAboutInvitation(const PeerID &peer, const QString &code, std::function<void(bool)> reply);

    std::unique_ptr<MediaTransferViewModel> m_model;
    QList<RemoteMediaLibrary> m_listed;
    bool m_started = false;
    QListWidget *m_list;
    QPushButton *m_connectButton;
    QPushButton *m_connectToAddressButton;
    QPushButton *m_disconnectButton;
    QLabel *m_statusLabel;
    QLabel *m_shareSymbol;
    QLabel *m_reachabilityLabel;
    QProgressBar *m_progressBar;
    QPushButton *m_stopButton;
    QPushButton *m_fetchButton;
};

} // namespace ovalis
