#pragma once

#include <QHash>
#include <QList>
#include <QStringList>

#include "exchange/EncodedCase.h"

namespace ovalis {

class Case;
class ManagedObjectContext;
class Media;

// The tag labels and the media (in display order) of every case of a
// context, read in one pass over the tags and one fetch of the media: far
// cheaper than asking each of many cases for its own when thousands are
// written out. Valid while the context's objects are.
struct CaseRelations {
    QHash<const Case *, QStringList> labels;
    QHash<const Case *, QList<Media *>> media;

    // On the context's thread.
    static CaseRelations gather(ManagedObjectContext *context);
    // The backup record of a case of the context.
    EncodedCase encoded(const Case *item) const;
};

} // namespace ovalis
