#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace ovalis {

// What the About window says about this application.
struct AboutDelegate {
    static inline const QString mainDescription = QStringLiteral("Organise your radiology library");
    static inline const QString secondaryDescription =
        QStringLiteral("\u2022 Tag, link and search\n\u2022 Make notes\n\u2022 Present cases");

    // One Markdown link per open-source component the program is built on.
    static QStringList thirdParties();

    // The maker's web site, configurable at build time.
    static QString websiteURL();

    // No user guide button: the guide is in the Help menu.
    static std::optional<QString> userGuideURL() { return std::nullopt; }
};

} // namespace ovalis
