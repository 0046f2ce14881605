#pragma once

#include <QString>
#include <QUrl>
#include <optional>

namespace ovalis {

// One release offered by an update feed: an RSS item with the version it
// installs, the channel it belongs to (none for a release), its notes and the
// file to download. Every text comes from the feed and is shown as plain text.
struct AppcastItem {
    QString title;
    QString versionString;        // the build number, compared with the running build's
    QString displayVersionString; // the short version shown to the user
    std::optional<QString> channel;
    QString notes; // the item's description, reduced to plain text
    QUrl releaseNotesLink;
    QUrl enclosureUrl;
    qint64 enclosureLength = 0;
    QString edSignature; // Base64 Ed25519 signature of the download, when signed

    // The version shown to the user: the short version when the feed gives one.
    QString shownVersion() const { return displayVersionString.isEmpty() ? versionString : displayVersionString; }
};

} // namespace ovalis
