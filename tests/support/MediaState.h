#pragma once

#include <QDirIterator>
#include <QStringList>

#include "store/Case.h"
#include "store/Media.h"

namespace ovalis::test {

// "orderIndex fileName uuid" for each media of the case, in order.
inline QStringList mediaState(const Case *item)
{
    QStringList lines;
    for (const Media *media : item->sortedMedia())
        lines << QStringLiteral("%1 %2 %3").arg(media->orderIndex()).arg(media->fileName(), media->uuid());
    return lines;
}

// Every file and folder below the library's media directory, sorted.
inline QStringList mediaDirectoryEntries(const QString &libraryPath)
{
    QStringList entries;
    const QString root = libraryPath + QStringLiteral("/Media");
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << it.next().mid(root.size());
    entries.sort();
    return entries;
}

} // namespace ovalis::test
