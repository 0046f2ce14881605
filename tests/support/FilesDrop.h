#pragma once

#include <QMimeData>
#include <QStringList>
#include <QUrl>
#include <memory>

namespace ovalis::test {

// A drop of local files with these names (they need not exist).
inline std::unique_ptr<QMimeData> filesDrop(const QStringList &names, const QString &folder = QStringLiteral("/tmp/drop/"))
{
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString &name : names)
        urls.append(QUrl::fromLocalFile(folder + name));
    data->setUrls(urls);
    return data;
}

} // namespace ovalis::test
