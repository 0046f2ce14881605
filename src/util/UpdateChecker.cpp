#include "util/UpdateChecker.h"

#include "util/AppcastFeed.h"
#include "util/Log.h"
#include "util/Settings.h"
#include "util/UpdateSignature.h"
#include "util/VersionComparator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace ovalis {

namespace {

constexpr int maximumRedirects = 5;
// A feed lists a few releases; anything larger is not read into memory.
constexpr qint64 maximumFeedSize = 4 * 1024 * 1024;

#ifdef OVALIS_UPDATE_FEED_URL
const QString buildFeedUrl = QStringLiteral(OVALIS_UPDATE_FEED_URL);
#else
const QString buildFeedUrl;
#endif
#ifdef OVALIS_UPDATE_PUBLIC_KEY
const QString buildPublicKey = QStringLiteral(OVALIS_UPDATE_PUBLIC_KEY);
#else
const QString buildPublicKey;
#endif

bool isHttps(const QUrl &url)
{
    return url.isValid() && url.scheme().compare(QStringLiteral("https"), Qt::CaseInsensitive) == 0 && !url.host().isEmpty();
}

QString refusal(const QUrl &url)
{
    return QStringLiteral("Updates are only fetched over a secure connection (https), not from %1.")
        .arg(url.toDisplayString(QUrl::RemoveUserInfo));
}

// A name for the download that cannot climb out of its folder.
QString safeFileName(const QUrl &url)
{
    QString name = url.fileName();
    name.replace(u'/', u'_');
    if (name.isEmpty() || name.startsWith(u'.'))
        name.prepend(QStringLiteral("Ovalis-update"));
    return name;
}

} // namespace

UpdateChecker::UpdateChecker(QString currentBuild, QString shortVersionString, QObject *parent)
    : QObject(parent)
    , m_delegate(shortVersionString)
    , m_currentBuild(std::move(currentBuild))
    , m_shortVersionString(std::move(shortVersionString))
    , m_network(new QNetworkAccessManager(this))
    , m_sslConfiguration(QSslConfiguration::defaultConfiguration())
    , m_publicKey(configuredPublicKey())
{
    m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

UpdateChecker::~UpdateChecker()
{
    cancelDownload();
}

QUrl UpdateChecker::configuredFeedUrl()
{
    const QString setting = Settings::shared().value(QStringLiteral("UpdateFeedURL")).toString().trimmed();
    return setting.isEmpty() ? builtInFeedUrl() : QUrl(setting);
}

QUrl UpdateChecker::builtInFeedUrl()
{
    return QUrl(buildFeedUrl);
}

QString UpdateChecker::configuredPublicKey()
{
    return buildPublicKey;
}

void UpdateChecker::checkForUpdates(const QUrl &feedUrl, UpdateDelegate::Modifiers modifiers)
{
    if (m_reply)
        return;
    m_allowedChannels = m_delegate.allowedChannels(modifiers);
    m_purpose = Purpose::Feed;
    m_feedUrl = feedUrl;
    if (!isHttps(feedUrl)) {
        Log::error(LogArea::Networking, QStringLiteral("Refused update feed ") + feedUrl.toDisplayString(QUrl::RemoveUserInfo));
        emit checkFailed(refusal(feedUrl));
        return;
    }
    if (m_currentBuild.isEmpty()) {
        const QString message = QStringLiteral("This build has no build number, so it cannot tell whether an update is newer. "
                                               "Install updates through your package manager.");
        Log::error(LogArea::Networking, message);
        emit checkFailed(message);
        return;
    }
    Log::info(LogArea::Networking, QStringLiteral("Checking for updates at ") + feedUrl.toDisplayString(QUrl::RemoveUserInfo));
    get(feedUrl, maximumRedirects);
}

std::optional<AppcastItem> UpdateChecker::chooseUpdate(const QList<AppcastItem> &items, const QSet<QString> &allowedChannels) const
{
    std::optional<AppcastItem> best = m_delegate.bestValidUpdate(items);
    if (!best) {
        for (const AppcastItem &item : items) {
            if (item.channel && !allowedChannels.contains(*item.channel))
                continue;
            if (!best || VersionComparator::compare(item.versionString, best->versionString) > 0)
                best = item;
        }
    }
    if (best && !m_currentBuild.isEmpty() && VersionComparator::compare(best->versionString, m_currentBuild) > 0)
        return best;
    return std::nullopt;
}

bool UpdateChecker::carriesCredential(const QUrl &url) const
{
    return isHttps(url) && url.host().compare(m_feedUrl.host(), Qt::CaseInsensitive) == 0
        && url.port(443) == m_feedUrl.port(443);
}

void UpdateChecker::get(const QUrl &url, int redirectsLeft)
{
    QNetworkRequest request(url);
    request.setSslConfiguration(m_sslConfiguration);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (m_purpose == Purpose::Download) {
        if (carriesCredential(url))
            m_delegate.willDownloadUpdate(request);
        else
            Log::info(LogArea::Networking, QStringLiteral("Downloading update from another host without credentials: ")
                                               + url.toDisplayString(QUrl::RemoveUserInfo));
    }
    QNetworkReply *reply = m_network->get(request);
    m_reply = reply;
    if (m_purpose == Purpose::Feed) {
        connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64) {
            if (reply != m_reply || received <= maximumFeedSize)
                return;
            m_reply = nullptr;
            reply->abort();
            fail(QStringLiteral("The update feed could not be read: it is larger than %1 MB.").arg(maximumFeedSize / (1024 * 1024)));
        });
    } else {
        connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if (m_file && status == 200 && m_file->write(reply->readAll()) < 0)
                fail(QStringLiteral("The update could not be saved: ") + m_file->errorString());
        });
        connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64 total) {
            if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200)
                emit downloadProgress(received, total > 0 ? total : m_downloadItem.enclosureLength);
        });
    }
    connect(reply, &QNetworkReply::finished, this, [this, reply, redirectsLeft] { replyFinished(reply, redirectsLeft); });
}

void UpdateChecker::replyFinished(QNetworkReply *reply, int redirectsLeft)
{
    reply->deleteLater();
    if (reply != m_reply)
        return;
    m_reply = nullptr;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 300 && status < 400 && reply->hasRawHeader(QByteArrayLiteral("Location"))) {
        const QUrl target = reply->url().resolved(QUrl::fromEncoded(reply->rawHeader(QByteArrayLiteral("Location"))));
        if (!isHttps(target))
            return fail(refusal(target));
        if (redirectsLeft <= 0)
            return fail(QStringLiteral("The update server redirected too many times."));
        Log::info(LogArea::Networking, QStringLiteral("Update request redirected to ") + target.toDisplayString(QUrl::RemoveUserInfo));
        return get(target, redirectsLeft - 1);
    }
    if (reply->error() != QNetworkReply::NoError || status != 200) {
        // The status says more than Qt's text for it ("server replied: Not Found").
        const QString reason = status >= 300 ? QStringLiteral("the server answered %1").arg(status) : reply->errorString();
        return fail(m_purpose == Purpose::Feed ? QStringLiteral("The update feed could not be read: ") + reason
                                               : QStringLiteral("The update could not be downloaded: ") + reason);
    }
    if (m_purpose == Purpose::Feed)
        feedArrived(reply->readAll());
    else
        downloadArrived(reply);
}

void UpdateChecker::feedArrived(const QByteArray &data)
{
    QString error;
    const QList<AppcastItem> items = AppcastFeed::parse(data, &error);
    if (!error.isEmpty())
        return fail(error);
    const std::optional<AppcastItem> update = chooseUpdate(items, m_allowedChannels);
    if (!update) {
        Log::info(LogArea::Networking, QStringLiteral("No update newer than build ") + m_currentBuild);
        emit noUpdateFound(m_shortVersionString);
        return;
    }
    if (!m_publicKey.isEmpty() && update->edSignature.isEmpty()) {
        Log::error(LogArea::Networking, QStringLiteral("Refused unsigned update ") + update->versionString);
        emit updateRefused(*update, signatureRefusal());
        return;
    }
    Log::info(LogArea::Networking, QStringLiteral("Update available: ") + update->shownVersion());
    emit updateFound(*update);
}

void UpdateChecker::download(const AppcastItem &item, const QString &folder)
{
    if (m_reply)
        return;
    m_purpose = Purpose::Download;
    m_downloadItem = item;
    m_downloadFolder = folder;
    if (!isHttps(item.enclosureUrl))
        return fail(refusal(item.enclosureUrl));
    if (!m_publicKey.isEmpty() && item.edSignature.isEmpty())
        return fail(signatureRefusal());
    if (!m_feedUrl.isValid())
        m_feedUrl = configuredFeedUrl();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("The folder %1 could not be created.").arg(folder));
    m_file = std::make_unique<QTemporaryFile>(QDir(folder).filePath(QStringLiteral(".ovalis-download-XXXXXX")));
    if (!m_file->open()) {
        const QString reason = m_file->errorString();
        m_file.reset();
        return fail(QStringLiteral("The update could not be saved: ") + reason);
    }
    get(item.enclosureUrl, maximumRedirects);
}

QString UpdateChecker::signatureRefusal() const
{
    return QStringLiteral("The update carries no signature, and this build accepts only signed updates.");
}

void UpdateChecker::downloadArrived(QNetworkReply *reply)
{
    if (m_file->write(reply->readAll()) < 0 || !m_file->flush())
        return fail(QStringLiteral("The update could not be saved: ") + m_file->errorString());
    if (!m_publicKey.isEmpty()) {
        // The file is checked where it lies, without reading it into memory.
        const qint64 size = m_file->size();
        uchar *mapped = size > 0 ? m_file->map(0, size) : nullptr;
        if (size > 0 && !mapped)
            return fail(QStringLiteral("The downloaded update could not be read back: ") + m_file->errorString());
        QString error;
        const bool verified = UpdateSignature::verify(QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), size),
                                                      m_downloadItem.edSignature, m_publicKey, &error);
        if (mapped)
            m_file->unmap(mapped);
        if (!verified) {
            Log::error(LogArea::Networking, QStringLiteral("Removed update that failed its signature check: ")
                                                + m_downloadItem.enclosureUrl.toDisplayString(QUrl::RemoveUserInfo));
            return fail(error);
        }
    }
    m_file->close();
    // Only now does the download take its own name; renaming never replaces a file.
    const QString path = freePath(m_downloadFolder, safeFileName(m_downloadItem.enclosureUrl));
    if (!QFile::rename(m_file->fileName(), path))
        return fail(QStringLiteral("The update could not be saved as ") + path);
    m_file->setAutoRemove(false);
    m_file.reset();
    Log::info(LogArea::Networking, QStringLiteral("Downloaded update to ") + path);
    emit downloadFinished(path);
}

void UpdateChecker::cancelDownload()
{
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        reply->abort();
    }
    m_file.reset(); // removes the hidden partial file
}

void UpdateChecker::fail(const QString &message)
{
    Log::error(LogArea::Networking, message);
    if (m_purpose == Purpose::Feed) {
        emit checkFailed(message);
        return;
    }
    cancelDownload();
    emit downloadFailed(message);
}

QString UpdateChecker::freePath(const QString &folder, const QString &fileName)
{
    const QDir dir(folder);
    const QFileInfo info(fileName);
    const QString base = info.baseName();
    const QString suffix = info.completeSuffix().isEmpty() ? QString() : QStringLiteral(".") + info.completeSuffix();
    QString candidate = dir.filePath(fileName);
    for (int n = 1; QFileInfo::exists(candidate); ++n)
        candidate = dir.filePath(QStringLiteral("%1 (%2)%3").arg(base, QString::number(n), suffix));
    return candidate;
}

} // namespace ovalis
