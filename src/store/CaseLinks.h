#pragma once

#include <QLatin1String>
#include <QString>
#include <QStringList>
#include <optional>

#include "store/StyledText.h"

namespace ovalis {

// The links found in a case's text, as listed in its links pane.
class CaseLinks
{
public:
    // A link to all cases of a patient is this prefix followed by the patient
    // identifier as stored (not percent-encoded).
    static constexpr QLatin1String patientLinkScheme{"ovalis-patient-id"};
    static constexpr QLatin1String patientLinkPrefix{"ovalis-patient-id://localhost/"};

    // What a paper reference shows: its title and the year of its date.
    struct PaperReference {
        QString title;                // the decoded title, else the whole link
        std::optional<QString> year;  // the first four characters of the date
    };

    // The list, in this order: the patient entry when patientCaseCount is at
    // least two and patientID is not null; an entry per recognised NHI; each
    // web address in detail; each paper reference in detail that parses. Each
    // entry ends with two carriage returns; patient and NHI entries start with
    // a bullet. "No links", faded, when there is no entry.
    static StyledText linksList(const QString &patientID, qsizetype patientCaseCount,
                                const QStringList &recognisedNHIs, const QString &detail);

    // Whether the detail holds a web address or a paper reference (parsable or not).
    static bool detailHasLinks(const QString &detail);

    // Nothing for a link that is not a valid URL or has no query items. The
    // title is the first "title" item with percent-encoding removed; the
    // whole link stands in when that item is missing, empty or not valid
    // UTF-8 once decoded.
    static std::optional<PaperReference> paperReference(const QString &link);
};

} // namespace ovalis
