#pragma once

#include <QString>
#include <QUrl>
#include <functional>

namespace ovalis {

// Acts on a link clicked in a case's links pane. A link to a patient's cases
// is not opened: its last path component is logged (category UI) and posted
// as the "Identifier" of a "Set Find" notification on the default centre.
// Any other URL is logged and handed to the opener. A text that is not a
// valid absolute URL (strict parsing, so a space or a stray '%' spoils it)
// is left alone.
class LinkActivator
{
public:
    enum class Outcome { FindPatient, Opened, OpenFailed, NotAURL };

    // Answers whether the URL could be opened.
    using Opener = std::function<bool(const QUrl &)>;

    // QDesktopServices::openUrl.
    static Opener systemOpener();

    explicit LinkActivator(Opener opener = systemOpener());

    Outcome activate(const QString &link) const;

private:
    Opener m_opener;
};

} // namespace ovalis
