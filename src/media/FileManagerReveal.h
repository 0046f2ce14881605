#pragma once

#include <QList>
#include <QUrl>

namespace ovalis {

// Shows files in the desktop's file manager, selected in their folder.
class FileManagerReveal
{
public:
    // Asks the file manager over the session bus
    // (org.freedesktop.FileManager1.ShowItems); when none answers, opens the
    // first file's folder instead. Returns at once: the answer is awaited
    // in the event loop. On the UI thread.
    static void reveal(const QList<QUrl> &files);
};

} // namespace ovalis
