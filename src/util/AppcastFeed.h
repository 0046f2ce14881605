#pragma once

#include "util/AppcastItem.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace ovalis {

// Reads an update feed in the appcast format: an RSS channel whose items carry
// the version (sparkle:version, on the item or its enclosure), the short
// version string, an optional sparkle:channel, a release notes link or a
// description (kept as plain text, whatever markup it holds) and an enclosure
// with url, length and an optional sparkle:edSignature.
class AppcastFeed
{
public:
    // Items without a version or an enclosure address are left out; a
    // document that is not well-formed XML yields no items and an error.
    static QList<AppcastItem> parse(const QByteArray &xml, QString *error = nullptr);
};

} // namespace ovalis
