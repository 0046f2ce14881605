#include "store/LinkActivator.h"

#include <QDesktopServices>

#include "store/CaseLinks.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"

namespace ovalis {

LinkActivator::Opener LinkActivator::systemOpener()
{
    return [](const QUrl &url) { return QDesktopServices::openUrl(url); };
}

LinkActivator::LinkActivator(Opener opener)
    : m_opener(std::move(opener))
{
}

LinkActivator::Outcome LinkActivator::activate(const QString &link) const
{
    const QUrl url(link, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return Outcome::NotAURL;

    if (url.scheme() == CaseLinks::patientLinkScheme) {
        const QStringList components = url.path(QUrl::FullyDecoded).split(QLatin1Char('/'), Qt::SkipEmptyParts);
        const QString identifier = components.isEmpty() ? QString() : components.last();
        Log::info(LogArea::UI, QStringLiteral("Clicked on link with patientID: ") + identifier);
        NotificationCenter::defaultCenter().post(QStringLiteral("Set Find"), nullptr,
                                                 {{QStringLiteral("Identifier"), identifier}});
        return Outcome::FindPatient;
    }

    Log::info(LogArea::UI, QStringLiteral("Clicked on generic URL: ") + link);
    return m_opener && m_opener(url) ? Outcome::Opened : Outcome::OpenFailed;
}

} // namespace ovalis
