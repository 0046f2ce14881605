#include "util/UpdateDelegate.h"

#include "util/Log.h"

#include <QStringList>
#include <algorithm>

namespace ovalis {

namespace {

QString describe(const QNetworkRequest &request)
{
    return QStringLiteral("<QNetworkRequest %1 %2>").arg(request.url().toDisplayString(QUrl::RemoveUserInfo),
                                                         QString::fromLatin1(request.rawHeaderList().join(", ")));
}

} // namespace

UpdateDelegate::UpdateDelegate(QString shortVersionString)
    : m_shortVersionString(std::move(shortVersionString))
{
}

std::optional<QString> UpdateDelegate::applicationPreferredChannel() const
{
    if (m_shortVersionString.contains(u'a'))
        return alphaChannel;
    if (m_shortVersionString.contains(u'b'))
        return betaChannel;
    return std::nullopt;
}

QSet<QString> UpdateDelegate::allowedChannels(Modifiers modifiers)
{
    Log::info(LogArea::Networking, QStringLiteral("Allowed channels?"));
    QSet<QString> channels;
    if (const std::optional<QString> preferred = applicationPreferredChannel()) {
        Log::info(LogArea::Networking, QStringLiteral("App's preferred channel: ") + *preferred);
        channels.insert(*preferred);
    }
    m_forcedChannel.reset();
    if (modifiers.control && modifiers.alt) {
        channels.insert(alphaChannel);
        m_forcedChannel = alphaChannel;
    } else if (modifiers.control) {
        channels.insert(betaChannel);
        m_forcedChannel = betaChannel;
    }
    QStringList names(channels.cbegin(), channels.cend());
    names.sort();
    Log::info(LogArea::Networking, QStringLiteral("Additional channels for Sparkle update check: %1 [%2]")
                                       .arg(names.join(QStringLiteral(", ")), m_forcedChannel.value_or(QStringLiteral("no force"))));
    return channels;
}

std::optional<AppcastItem> UpdateDelegate::bestValidUpdate(const QList<AppcastItem> &items) const
{
    if (!m_forcedChannel) {
        Log::info(LogArea::Networking, QStringLiteral("No forced channel preference"));
        return std::nullopt;
    }
    QList<AppcastItem> candidates;
    std::copy_if(items.cbegin(), items.cend(), std::back_inserter(candidates),
                 [this](const AppcastItem &item) { return item.channel == m_forcedChannel; });
    // Plain text order, character by character: "10" sorts before "9".
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const AppcastItem &a, const AppcastItem &b) { return a.versionString < b.versionString; });
    for (const AppcastItem &item : std::as_const(candidates))
        Log::info(LogArea::Networking, item.displayVersionString + QStringLiteral(" (") + item.versionString);
    if (candidates.isEmpty())
        return std::nullopt;
    return candidates.last();
}

QByteArray UpdateDelegate::authorizationValue()
{
    return QByteArrayLiteral("Basic ") + downloadCredential.toUtf8().toBase64();
}

void UpdateDelegate::willDownloadUpdate(QNetworkRequest &request) const
{
    Log::info(LogArea::Networking, QStringLiteral("Will download update, using request: ") + describe(request));
    request.setRawHeader(QByteArrayLiteral("Authorization"), authorizationValue());
}

} // namespace ovalis
