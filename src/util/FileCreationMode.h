#pragma once

#include <QString>
#include <sys/types.h>

namespace ovalis {

// The permissions a file created by this process gets from the user's umask
// (0644 under the usual 022), for files that arrive by another way than
// creation with those permissions, such as a private temporary file renamed
// into place.
class FileCreationMode
{
public:
    // 0666 without the umask's bits.
    static mode_t forNewFile();
    // Gives the file those permissions; false with the system's reason.
    static bool applyTo(const QString &path, QString *error = nullptr);
};

} // namespace ovalis
