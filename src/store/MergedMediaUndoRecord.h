#pragma once

#include <QString>

#include "store/ObjectID.h"

namespace ovalis {

// What undo and redo of a media merge need to know about one copied media:
// the original to copy again, and the copy with the uuid, file name and
// place that a redo gives back to it (so that its file returns to the same
// path).
struct MergedMediaUndoRecord {
    ObjectID sourceMediaObjectID;
    ObjectID copiedMediaObjectID;
    QString copiedMediaUUID;
    QString copiedMediaFileName;
    qint32 copiedMediaOrderIndex = 0;
};

} // namespace ovalis
