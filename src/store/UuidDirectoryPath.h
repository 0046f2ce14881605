#pragma once

#include <QString>

namespace ovalis {

// The folder path of a media file cut from its uuid: the first group split
// into two-character pieces joined by '/' (E621E1F8-… gives E6/21/E1/F8; an
// odd length ends with one character). A uuid without '-' is used whole as
// the first group. With allGroups, every '-' group is joined by '/' instead.
QString uuidDirectoryPath(const QString &uuid, bool allGroups = false);

} // namespace ovalis
