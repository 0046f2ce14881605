#pragma once

#include <QList>
#include <QLoggingCategory>
#include <QMutex>
#include <QString>

namespace ovalis {

// The areas a log line belongs to; each is a logging category of its own.
enum class LogArea { CoreData, UI, Startup, TearDown, Filing, Importing, Multipeer, Networking };

// Default is progress, Error is a failure, Debug is chatter.
enum class LogLevel { Default, Error, Debug };

namespace Log {

const QLoggingCategory &category(LogArea area);
QString categoryName(LogArea area);

// Writes one line. Thread-safe; captures see the line even when the category
// is filtered out of the output.
void write(LogArea area, LogLevel level, const QString &message);

inline void info(LogArea area, const QString &message) { write(area, LogLevel::Default, message); }
inline void error(LogArea area, const QString &message) { write(area, LogLevel::Error, message); }
inline void debug(LogArea area, const QString &message) { write(area, LogLevel::Debug, message); }

// Installs the message handler: lines go to stderr as "[Category] message"
// (and to the journal through Qt's own handler when running under systemd).
void install();

} // namespace Log

// Records every line written while it exists, on any thread. Tests use it to
// assert that a line was (or was not) logged.
class LogCapture
{
public:
    struct Entry {
        LogArea area;
        LogLevel level;
        QString message;
    };

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QList<Entry> entries() const;
    QStringList messages() const;
    int count(const QString &message) const;
    bool contains(const QString &message) const { return count(message) > 0; }
    bool contains(const QString &message, LogLevel level) const;
    bool containsPrefix(const QString &prefix) const;
    int countPrefix(const QString &prefix) const;
    void clear();

private:
    friend void Log::write(LogArea, LogLevel, const QString &);
    void append(const Entry &entry);
    mutable QMutex *m_mutex; // Owned.
    QList<Entry> m_entries;
};

} // namespace ovalis
