#include "transfer/ReceivedFile.h"

#include <QFile>

namespace ovalis {

ReceivedFile::ReceivedFile(const QString &path)
    : m_path(new QString(path), [](const QString *gone) {
        QFile::remove(*gone);
        delete gone;
    })
{
}

} // namespace ovalis
