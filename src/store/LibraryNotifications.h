#pragma once

#include <QString>

namespace ovalis {

// Names of the notifications the library's windows exchange through the
// default notification centre.
namespace LibraryNotifications {
inline const QString updatedTag = QStringLiteral("Updated Tag");
inline const QString updatedTagFromDetail = QStringLiteral("Updated Tag from Detail");
inline const QString updatedTagActivity = QStringLiteral("Updated Tag Activity");
inline const QString updatedMedia = QStringLiteral("Updated Media");
inline const QString updatedCaseDetail = QStringLiteral("Updated Case Detail");
inline const QString selectCaseInLibrary = QStringLiteral("Select Case In Library"); // "Case": Case *
inline const QString setFind = QStringLiteral("Set Find");                          // "Identifier": QString
inline const QString searchAll = QStringLiteral("Search All");                      // "SearchText": QString
inline const QString goNext = QStringLiteral("Go Next");
inline const QString goPrevious = QStringLiteral("Go Previous");
inline const QString showMedia = QStringLiteral("Show Media");
inline const QString selectRandomCase = QStringLiteral("Select Random Case");
} // namespace LibraryNotifications

} // namespace ovalis
