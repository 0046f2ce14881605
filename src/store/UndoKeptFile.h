#pragma once

#include <QUrl>
#include <memory>

#include "store/MediaWriteError.h"

namespace ovalis {

class UndoFileFolder;

// A file kept for undo: a media file as it was before a crop, an external
// edit or an annotation, or the file of a deleted media record. The undo
// and redo steps that can use it share it; when the last of them is dropped
// (the history cleared, the step fallen off the stack, the library closed)
// the file is removed, with the folder made for it.
//
// Used on the thread of the undo manager that holds it (the main thread).
class UndoKeptFile
{
public:
    enum class Place {
        UndoFolder, // in a folder of its own in an UndoFileFolder
        Library,    // left at its place in the library's media directory
    };

    UndoKeptFile(const QUrl &url, Place place);
    ~UndoKeptFile();
    UndoKeptFile(const UndoKeptFile &) = delete;
    UndoKeptFile &operator=(const UndoKeptFile &) = delete;

    // A copy of the file in a fresh folder of the undo folder; nothing, with
    // error filled in, when it cannot be made.
    static std::shared_ptr<UndoKeptFile> copyOf(UndoFileFolder &folder, const QUrl &file, MediaWriteError *error = nullptr);
    // The file itself moved into a fresh folder of the undo folder.
    static std::shared_ptr<UndoKeptFile> moveAside(UndoFileFolder &folder, const QUrl &file,
                                                   MediaWriteError *error = nullptr);

    QUrl url() const { return m_url; }
    Place place() const { return m_place; }
    // The kept content now lives at url (a swap moved it there).
    void setURL(const QUrl &url) { m_url = url; }
    // Moves the kept file to destination, making its folder; from then on
    // nothing is kept. A file already at destination only stops being kept.
    bool moveBack(const QUrl &destination, MediaWriteError *error = nullptr);
    // Puts a copy back at destination when nothing is there (a replacement
    // that failed after the old file went); the file stays kept.
    void standIn(const QUrl &destination) const;

private:
    QUrl m_url;
    Place m_place;
    bool m_kept = true;
};

} // namespace ovalis
