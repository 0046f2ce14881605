#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

#include "util/IndexSet.h"

class QMimeData;

namespace ovalis {

// What the case list puts on the clipboard when its rows are dragged, and
// which drops the case list and the tag list take.
class CaseListDragAndDrop
{
public:
    // Copy, Link and Any (whatever the user proposes) accept the drop.
    enum class DropOperation { None, Copy, Link, Any };
    enum class DropPosition { OnRow, BetweenRows, OutsideRows };

    // Dragged case rows: a keyed archive of their index set.
    static QString caseDragType();
    // A DOI dragged from the companion reference program: one string.
    static QString doiDragType();

    // Logs "Write rows at " and the rows. Nothing, with the reason logged,
    // when the rows cannot be archived. The caller owns the result.
    static QMimeData *mimeDataForRows(const IndexSet &rows);
    // The dragged rows; nothing when the data holds no readable row set.
    static std::optional<IndexSet> draggedRows(const QMimeData *data);
    // The dragged DOI, or nothing when there is none.
    static std::optional<QString> droppedDOI(const QMimeData *data);
    // The local files of the drop; empty when any URL is not a local file.
    static QList<QUrl> droppedFiles(const QMimeData *data);

    // Where a point y falls in a row spanning top … top + height - 1: near
    // either edge it lies between rows, as the table draws it.
    static DropPosition positionInRow(int y, int top, int height);

    // Only drops onto a row. The tag list takes dragged cases, as a copy.
    static DropOperation validateTagListDrop(const QMimeData *data, DropPosition position);
    // The case list takes, on a row, a DOI (a link), files that are all
    // accepted images or movies (a copy), or exactly one dragged case (any
    // operation); anywhere, files and folders holding DICOM (a copy).
    static DropOperation validateCaseListDrop(const QMimeData *data, DropPosition position);
};

} // namespace ovalis
