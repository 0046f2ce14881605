#include "store/CaseLinks.h"

#include <QStringDecoder>
#include <QUrl>
#include <QUrlQuery>

#include "store/TextPattern.h"

namespace ovalis {

namespace {

const QString bullet = QStringLiteral("\u2022 ");
const QString entryEnd = QStringLiteral("\r\r");

// Strict percent-decoding: nothing when the bytes are not UTF-8.
std::optional<QString> percentDecoded(const QString &encoded)
{
    const QByteArray bytes = QByteArray::fromPercentEncoding(encoded.toUtf8());
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

StyledText CaseLinks::linksList(const QString &patientID, qsizetype patientCaseCount,
                                const QStringList &recognisedNHIs, const QString &detail)
{
    StyledText list;
    if (!patientID.isNull() && patientCaseCount >= 2) {
        list.append(bullet);
        list.appendLink(QStringLiteral("All Cases for This Patient"), patientLinkPrefix + patientID);
        list.append(entryEnd);
    }
    for (const QString &nhi : recognisedNHIs) {
        list.append(bullet);
        list.appendLink(nhi, patientLinkPrefix + nhi);
        list.append(entryEnd);
    }
    for (const QString &url : TextPattern::url().matches(detail)) {
        list.appendLink(url, url);
        list.append(entryEnd);
    }
    for (const QString &link : TextPattern::paperReference().matches(detail)) {
        const std::optional<PaperReference> reference = paperReference(link);
        if (!reference)
            continue;
        list.appendLink(reference->title, link);
        if (reference->year)
            list.append(QStringLiteral(" (%1)").arg(*reference->year));
        list.append(entryEnd);
    }
    if (list.isEmpty())
        list.append(QStringLiteral("No links"), StyledText::Style::Faded);
    return list;
}

bool CaseLinks::detailHasLinks(const QString &detail)
{
    return TextPattern::url().hasMatch(detail) || TextPattern::paperReference().hasMatch(detail);
}

std::optional<CaseLinks::PaperReference> CaseLinks::paperReference(const QString &link)
{
    const QUrl url(link, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    const QUrlQuery query(url);
    if (query.isEmpty())
        return std::nullopt;

    PaperReference reference{link, std::nullopt};
    if (query.hasQueryItem(QStringLiteral("title"))) {
        const std::optional<QString> title = percentDecoded(query.queryItemValue(QStringLiteral("title"), QUrl::FullyEncoded));
        if (title && !title->isEmpty())
            reference.title = *title;
    }
    if (query.hasQueryItem(QStringLiteral("date")))
        reference.year = query.queryItemValue(QStringLiteral("date"), QUrl::FullyDecoded).left(4);
    return reference;
}

} // namespace ovalis
