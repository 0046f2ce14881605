#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

class QMimeData;

namespace ovalis {

// What a media grid puts on the clipboard when its thumbnails are dragged,
// and which drops it takes.
class MediaDragAndDrop
{
public:
    enum class DropOperation { None, Copy, Move };

    // The type of a drag inside a grid; its value lists the dragged items'
    // positions in the grid as decimal numbers, one a line.
    static QString mediaDragType();

    // A drag carrying only the positions: no file or image goes with it, so
    // only a media grid takes it. The caller owns the result.
    static QMimeData *mimeDataForIndexes(const QList<int> &indexes);
    static bool isMediaDrag(const QMimeData *data);
    // The dragged positions; lines that are not decimal numbers are skipped.
    static QList<int> draggedIndexes(const QMimeData *data);

    // Whether a dropped file is an image of an accepted type or a movie: its
    // extension is one of the table's, in any letter case.
    static bool isAcceptedDropFile(const QUrl &url);
    // Move for a drag inside the grid, Copy when every dropped file is
    // accepted or the drop holds DICOM (see dicomDropPaths), None otherwise
    // (also without a case to add to). Logs when the drop carries no files.
    static DropOperation validateDrop(const QMimeData *data, bool hasCase);
    // The local paths of a drop that goes to the DICOM import: one that holds
    // a folder or a file that is DICOM by its content (whatever its name)
    // among its first entries. Empty for any other drop.
    static QStringList dicomDropPaths(const QMimeData *data);

    // The open panel's name filters for the image types, all of them first.
    static QStringList importNameFilters();
};

} // namespace ovalis
