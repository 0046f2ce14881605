#pragma once

#include "util/AppcastItem.h"
#include "util/UpdateDelegate.h"

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QTemporaryFile>
#include <QSet>
#include <QSslConfiguration>
#include <QUrl>
#include <memory>
#include <optional>

class QNetworkAccessManager;


namespace ovalis {

// Looks for a newer version in the update feed and downloads it.
//
// Releases are told apart by build number: the feed's version is compared
// with this build's number, and the short versions are only shown.
//
// Everything goes over HTTPS: a feed, an enclosure or a redirect to plain HTTP
// is refused. Redirects are followed here, not by the network layer, so that
// the download credential goes only to the feed's own host; a redirect to
// another host is followed without it. When the build carries an Ed25519
// public key, an item without a signature is refused, and a download is
// written under a hidden name and given its own name only once its signature
// has been verified; on a mismatch it is removed.
class UpdateChecker : public QObject
{
    Q_OBJECT

public:
    // currentBuild is this build's number (empty when the build has none, and
    // then no update can be told newer); shortVersionString is shown.
    UpdateChecker(QString currentBuild, QString shortVersionString, QObject *parent = nullptr);
    ~UpdateChecker() override;

    UpdateDelegate &delegate() { return m_delegate; }

    // Extra certificate authorities (the tests' local server).
    void setSslConfiguration(const QSslConfiguration &configuration) { m_sslConfiguration = configuration; }
    void setPublicKey(const QString &base64) { m_publicKey = base64; }

    // The feed to use: the Settings value "UpdateFeedURL" when set, else the
    // address this build was configured with; empty when neither is.
    static QUrl configuredFeedUrl();
    static QUrl builtInFeedUrl();
    static QString configuredPublicKey();

    // Reads the feed and answers with updateFound, noUpdateFound, updateRefused
    // or checkFailed.
    void checkForUpdates(const QUrl &feedUrl, UpdateDelegate::Modifiers modifiers);

    // The item a check should offer among the feed's items: the forced
    // channel's best item when a channel is forced, else the newest release or
    // allowed-channel item; none when its build is not newer than this one.
    std::optional<AppcastItem> chooseUpdate(const QList<AppcastItem> &items, const QSet<QString> &allowedChannels) const;

    // Saves the item's file in folder (a free name like "name (1).ext" when
    // taken), answering with downloadFinished once it is complete and, with
    // a public key, verified; else with downloadFailed.
    void download(const AppcastItem &item, const QString &folder);
    void cancelDownload();
    bool isBusy() const { return m_reply != nullptr; }

signals:
    void updateFound(const ovalis::AppcastItem &item);
    void noUpdateFound(const QString &shortVersionString);
    // A newer item that may not be offered: unsigned while a key is configured.
    void updateRefused(const ovalis::AppcastItem &item, const QString &message);
    void checkFailed(const QString &message);
    void downloadProgress(qint64 received, qint64 total);
    void downloadFinished(const QString &path);
    void downloadFailed(const QString &message);

private:
    enum class Purpose { Feed, Download };

    void get(const QUrl &url, int redirectsLeft);
    void replyFinished(QNetworkReply *reply, int redirectsLeft);
    void feedArrived(const QByteArray &data);
    void downloadArrived(QNetworkReply *reply);
    QString signatureRefusal() const;
    void fail(const QString &message);
    bool carriesCredential(const QUrl &url) const;
    static QString freePath(const QString &folder, const QString &fileName);

    UpdateDelegate m_delegate;
    QString m_currentBuild;
    QString m_shortVersionString;
    QNetworkAccessManager *m_network;
    QSslConfiguration m_sslConfiguration;
    QString m_publicKey;
    QPointer<QNetworkReply> m_reply;
    Purpose m_purpose = Purpose::Feed;
    QUrl m_feedUrl;
    QSet<QString> m_allowedChannels;
    AppcastItem m_downloadItem;
    QString m_downloadFolder;
    std::unique_ptr<QTemporaryFile> m_file; // hidden until complete and verified
};

} // namespace ovalis
