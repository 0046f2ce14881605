#include "find/AdvancedFindField.h"

namespace ovalis {

QString advancedFindFieldTitle(AdvancedFindField field)
{
    switch (field) {
    case AdvancedFindField::summary: return QStringLiteral("Summary");
    case AdvancedFindField::detail: return QStringLiteral("Detail");
    case AdvancedFindField::patientID: return QStringLiteral("Patient ID");
    case AdvancedFindField::dateAdded: return QStringLiteral("Date Added");
    case AdvancedFindField::dateModified: return QStringLiteral("Date Modified");
    case AdvancedFindField::dateOfBirth: return QStringLiteral("Date of Birth");
    case AdvancedFindField::dateOfDiagnosis: return QStringLiteral("Date of Diagnosis");
    case AdvancedFindField::sex: return QStringLiteral("Sex");
    case AdvancedFindField::hasMedia: return QStringLiteral("Has Media");
    case AdvancedFindField::hasTags: return QStringLiteral("Has Tags");
    case AdvancedFindField::tag: return QStringLiteral("Tag");
    }
    return {};
}

QString advancedFindFieldKeyPath(AdvancedFindField field)
{
    switch (field) {
    case AdvancedFindField::summary: return QStringLiteral("summary");
    case AdvancedFindField::detail: return QStringLiteral("detail");
    case AdvancedFindField::patientID: return QStringLiteral("patientID");
    case AdvancedFindField::dateAdded: return QStringLiteral("dateAdded");
    case AdvancedFindField::dateModified: return QStringLiteral("dateModified");
    case AdvancedFindField::dateOfBirth: return QStringLiteral("dateOfBirth");
    case AdvancedFindField::dateOfDiagnosis: return QStringLiteral("dateOfDiagnosis");
    case AdvancedFindField::sex: return QStringLiteral("sex");
    case AdvancedFindField::hasMedia: return QStringLiteral("media");
    case AdvancedFindField::hasTags:
    case AdvancedFindField::tag: return QStringLiteral("tags");
    }
    return {};
}

AdvancedFindFieldGroup advancedFindFieldGroup(AdvancedFindField field)
{
    switch (field) {
    case AdvancedFindField::summary:
    case AdvancedFindField::detail:
    case AdvancedFindField::patientID: return AdvancedFindFieldGroup::text;
    case AdvancedFindField::dateAdded:
    case AdvancedFindField::dateModified:
    case AdvancedFindField::dateOfBirth:
    case AdvancedFindField::dateOfDiagnosis: return AdvancedFindFieldGroup::date;
    case AdvancedFindField::sex: return AdvancedFindFieldGroup::sex;
    case AdvancedFindField::hasMedia:
    case AdvancedFindField::hasTags: return AdvancedFindFieldGroup::presence;
    case AdvancedFindField::tag: return AdvancedFindFieldGroup::tag;
    }
    return AdvancedFindFieldGroup::text;
}

bool advancedFindFieldEndsMenuGroup(AdvancedFindField field)
{
    if (field == AdvancedFindField::tag)
        return false;
    return advancedFindFieldGroup(field) != advancedFindFieldGroup(AdvancedFindField(int(field) + 1));
}

} // namespace ovalis
