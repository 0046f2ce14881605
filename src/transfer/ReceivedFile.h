#pragma once

#include <QMetaType>
#include <QString>
#include <memory>

namespace ovalis {

// A received resource's file, handed from the connection's network thread to
// the main thread: removed when the last copy of this goes, on whichever
// thread that is, so that a file nobody took (its connection gone before the
// hand-over arrived) is not left behind.
class ReceivedFile
{
public:
    ReceivedFile() = default;
    explicit ReceivedFile(const QString &path);

    // Empty for a default-made one.
    QString path() const { return m_path ? *m_path : QString(); }

private:
    std::shared_ptr<const QString> m_path;
};

} // namespace ovalis

Q_DECLARE_METATYPE(ovalis::ReceivedFile)
