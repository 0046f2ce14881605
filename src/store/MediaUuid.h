#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace ovalis {

// The text form a media record's uuid must have before it becomes part of a
// file path: 8-4-4-4-12 hexadecimal digits, in either letter case. Whatever
// a backup, a peer or an old record holds is checked here, so that no
// identifier can name a file outside its own folder of the media directory.
class MediaUuid
{
public:
    static bool isValid(QStringView text);
    // The uuid in upper case, or nothing when the text is not one.
    static std::optional<QString> canonical(QStringView text);
    // A new random uuid, upper case.
    static QString generate();
};

} // namespace ovalis
