#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>

#include "transfer/MediaTransferViewModel.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace ovalis {

class MirrorService;

// The "Sync Media" window (500 × 500): the nearby libraries, Connect and
// Disconnect, the status line with the share symbol while this side sends,
// the transfer's progress, Stop and Fetch. Owns its model; showing the window
// starts the model's peer service and closing it stops the service.
// With a mirror that keeps media files on its server, the server is a
// source too: its name, how many of the missing files it has, and Fetch
// from Server, under the nearby libraries.
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

    // The mirror whose server is offered as a source; none shows no server.
    void setMirrorService(MirrorService *service);
    QWidget *serverSection() const { return m_serverSection; }
    QLabel *serverNameLabel() const { return m_serverNameLabel; }
    QLabel *serverCountLabel() const { return m_serverCountLabel; }
    QLabel *serverStatusLabel() const { return m_serverStatusLabel; }
    QPushButton *fetchFromServerButton() const { return m_fetchFromServerButton; }

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
    bool offersServer() const;
    void updateServer();
    void countServerFiles();
    void serverSyncFinished(qint64 filesReceived, bool ok, const QString &error, bool requested);
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

    QPointer<MirrorService> m_mirror;
    QWidget *m_serverSection;
    QLabel *m_serverNameLabel;
    QLabel *m_serverCountLabel;
    QLabel *m_serverStatusLabel;
    QPushButton *m_fetchFromServerButton;
    QString m_serverResult;    // the last fetch's outcome, until the next sync
    bool m_fetching = false;   // Fetch from Server was clicked and has not finished
    int m_countRequest = 0;    // only the latest count is shown
};

} // namespace ovalis
