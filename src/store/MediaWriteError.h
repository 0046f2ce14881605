#pragma once

#include <QString>

namespace ovalis {

// The failure of a media file operation, carrying the message that callers
// log. Operations that can fail return false (or nothing) and fill in a
// MediaWriteError when given one.
class MediaWriteError
{
public:
    MediaWriteError() = default;
    static MediaWriteError runtimeError(const QString &message) { return MediaWriteError(message); }

    QString message() const { return m_message; }

private:
    explicit MediaWriteError(const QString &message)
        : m_message(message)
    {
    }

    QString m_message;
};

} // namespace ovalis
