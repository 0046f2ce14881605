#include "transfer/MissingMediaManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "store/MediaFileStore.h"
#include "transfer/MediaRequestMessage.h"
#include "transfer/MultiPeerManager.h"
#include "util/Log.h"

namespace ovalis {

MissingMediaManager::~MissingMediaManager() = default;

float MissingMediaManager::fractionComplete(int outstandingRequests) const
{
    if (m_initialNumberOfMissingFiles == 0)
        return 0;
    return float(m_initialNumberOfMissingFiles - missingCount() - outstandingRequests) / float(m_initialNumberOfMissingFiles);
}

void MissingMediaManager::refreshMissingMedia(std::function<void()>)
{
}

void MissingMediaManager::storeReceivedFile(const QString &, const QUrl &, std::function<void()>)
{
}

void MissingMediaManager::setMissingMedia(int initialNumber, const QList<MissingMediaItem> &items)
{
    m_initialNumberOfMissingFiles = initialNumber;
    m_missingMediaArray = items;
}

std::optional<QByteArray> MissingMediaManager::nextRequestData()
{
    if (m_missingMediaArray.isEmpty()) {
        Log::info(LogArea::Multipeer, QStringLiteral("No further missing UUIDs to request"));
        refreshMissingMedia();
        return std::nullopt;
    }
    const MissingMediaItem item = m_missingMediaArray.takeLast();
    QString error;
    std::optional<QByteArray> data = MediaRequestMessage{item.uuidString, item.pathExtension}.encode(&error);
    if (!data)
        Log::error(LogArea::Multipeer, QStringLiteral("Failed to encode dictionary: %1").arg(error));
    return data;
}

std::optional<QUrl> MissingMediaManager::fileURL(const QString &uuid, const QString &extension) const
{
    if (!m_baseDirectoryURL || !MediaRequestMessage::isCanonicalUuid(uuid)
        || !MediaRequestMessage::isPlainExtension(extension))
        return std::nullopt;
    return MediaFileStore::mediaFileURL(*m_baseDirectoryURL, uuid, extension);
}

bool MissingMediaManager::isInsideBaseDirectory(const QString &path) const
{
    // Symbolic links inside the media directory must not lead a peer out of it.
    const QString base = QFileInfo(m_baseDirectoryURL->toLocalFile()).canonicalFilePath();
    const QString file = QFileInfo(path).canonicalFilePath();
    return !base.isEmpty() && file.startsWith(base + QLatin1Char('/'));
}

void MissingMediaManager::handleReceivedData(const QByteArray &data, MultiPeerManager *manager,
                                             std::function<void()> notAvailable)
{
    MediaRequestMessage message;
    QString error;
    switch (MediaRequestMessage::decode(data, &message, &error)) {
    case MediaRequestMessage::DecodeResult::Undecodable:
        Log::error(LogArea::Multipeer, QStringLiteral("Failed to decode data: %1").arg(error));
        return;
    case MediaRequestMessage::DecodeResult::Ignored:
        return;
    case MediaRequestMessage::DecodeResult::Decoded:
        break;
    }
    if (!message.isNotAvailableReply()) {
        answerRequest(message.uuid, message.fileExtension, manager);
        return;
    }
    Log::error(LogArea::Multipeer, QStringLiteral("Empty file UUID - file does not exist on peer"));
    if (notAvailable)
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(notAvailable), Qt::QueuedConnection);
}

void MissingMediaManager::answerRequest(const QString &uuid, const QString &extension, MultiPeerManager *manager)
{
    const std::optional<QUrl> url = fileURL(uuid, extension);
    bool exists = false;
    if (!url) {
        // A peer must not name a file outside the media directory.
        Log::error(LogArea::Multipeer, QStringLiteral("Refused request for UUID '%1' with extension '%2': not a media file name")
                                           .arg(uuid.left(64), extension.left(64)));
    } else if (QFileInfo(url->toLocalFile()).isFile()) {
        exists = isInsideBaseDirectory(url->toLocalFile());
        if (!exists)
            Log::error(LogArea::Multipeer, QStringLiteral("Refused request for %1: the file lies outside the media directory")
                                               .arg(url->toLocalFile()));
    }
    if (!manager)
        return;
    if (exists) {
        manager->sendFile(*url, uuid);
        return;
    }
    QString error;
    const std::optional<QByteArray> reply = MediaRequestMessage{uuid, extension}.notAvailableReply().encode(&error);
    if (!reply) {
        Log::error(LogArea::Multipeer, QStringLiteral("Failed to decode data: %1").arg(error));
        return;
    }
    manager->sendData(*reply);
}

} // namespace ovalis
