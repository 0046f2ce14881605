#pragma once

#include "util/AppcastItem.h"

#include <QList>
#include <QNetworkRequest>
#include <QSet>
#include <QString>
#include <optional>

namespace ovalis {

// The application's answers to the update checker: which channels a check may
// offer (the running build's own channel, or one forced by the keys held when
// the check starts), which feed item is best when a channel is forced, and the
// credential every update download carries.
class UpdateDelegate
{
public:
    // The keys that force a channel: Ctrl with Alt forces "alpha", Ctrl alone
    // "beta".
    struct Modifiers {
        bool control = false;
        bool alt = false;
    };

    static inline const QString alphaChannel = QStringLiteral("alpha");
    static inline const QString betaChannel = QStringLiteral("beta");
    static inline const QString downloadCredential = QStringLiteral("updtuser:k7w2p9x4q1");

    explicit UpdateDelegate(QString shortVersionString);

    // "alpha" when the running version contains "a", else "beta" when it
    // contains "b", else none (a release build).
    std::optional<QString> applicationPreferredChannel() const;

    // Resets the forced channel, then forces one from the keys held now.
    QSet<QString> allowedChannels(Modifiers modifiers);

    std::optional<QString> forcedChannel() const { return m_forcedChannel; }

    // With a forced channel, that channel's item with the greatest version in
    // plain text order; otherwise none (the checker chooses by itself).
    std::optional<AppcastItem> bestValidUpdate(const QList<AppcastItem> &items) const;

    // Logs the request and adds the Basic authorisation header once.
    void willDownloadUpdate(QNetworkRequest &request) const;

    static QByteArray authorizationValue();

private:
    QString m_shortVersionString;
    std::optional<QString> m_forcedChannel;
};

} // namespace ovalis
