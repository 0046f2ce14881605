#pragma once

#include <QDBusMessage>
#include <QString>

namespace ovalis {

// A logind inhibitor lock held while it exists: what it inhibits ("sleep",
// "idle", ...) and how ("delay" lets the operation wait a few seconds for
// the holder, "block" stops it). Without logind (or without permission) it
// holds nothing and says so in the log; nothing else fails.
class KeepAwakeActivity
{
public:
    KeepAwakeActivity(const QString &what, const QString &mode, const QString &reason);
    ~KeepAwakeActivity();
    KeepAwakeActivity(const KeepAwakeActivity &) = delete;
    KeepAwakeActivity &operator=(const KeepAwakeActivity &) = delete;

    bool isHeld() const { return m_descriptor >= 0; }
    // What was asked of logind, as the request carried it.
    QString what() const;
    QString mode() const;
    QString reason() const;

private:
    QDBusMessage m_request;
    int m_descriptor = -1;
};

} // namespace ovalis
