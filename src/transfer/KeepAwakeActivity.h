#pragma once

#include <QString>

namespace ovalis {

// Keeps the machine from idling into sleep while it exists, through a
// logind inhibitor lock. Without logind (or without permission) it holds
// nothing and says so in the log; nothing else fails.
class KeepAwakeActivity
{
public:
    explicit KeepAwakeActivity(const QString &reason);
    ~KeepAwakeActivity();
    KeepAwakeActivity(const KeepAwakeActivity &) = delete;
    KeepAwakeActivity &operator=(const KeepAwakeActivity &) = delete;

    bool isHeld() const { return m_descriptor >= 0; }
    QString reason() const { return m_reason; }

private:
    QString m_reason;
    int m_descriptor = -1;
};

} // namespace ovalis
