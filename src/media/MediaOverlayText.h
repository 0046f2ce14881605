#pragma once

#include <QString>

namespace ovalis {

// The texts of the display's case overlays. Cases are shown to an audience,
// so the overlays leave out patient identifiers and web addresses.
class MediaOverlayText
{
public:
    // Longer details are cut to this many characters (user-perceived
    // characters, not code units) followed by "…".
    static constexpr int detailCharacterLimit = 1000;

    // The text with every web address ("https?://\S+") removed and, when
    // removeIdentifiers, every match of the NHI pattern too, check digit or
    // not. Empty for a null text.
    static QString cleaned(const QString &text, bool removeIdentifiers);
    static QString summaryText(const QString &summary, bool removeIdentifiers);
    // Cleaned; from detailCharacterLimit characters on, cut to that many and
    // followed by "…".
    static QString detailText(const QString &detail, bool removeIdentifiers);
    // Age and sex joined by one space, empty ones left out.
    static QString demographicsText(const QString &ageString, const QString &sexString);
};

} // namespace ovalis
