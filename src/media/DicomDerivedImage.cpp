#include "media/DicomDerivedImage.h"

#include <QBuffer>
#include <QFileInfo>

#include "media/MediaFileImport.h"
#include "store/Case.h"
#include "store/LibraryNotifications.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/MediaTypes.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/UndoManager.h"

namespace ovalis {

bool DicomDerivedImage::keepsOriginal(const Media *media)
{
    return media && MediaTypes::isDicom(MediaTypes::extensionOf(media->fileName()));
}

Media *DicomDerivedImage::add(Media *original, const QImage &image, const QString &suffix, const QString &actionName)
{
    Case *item = original ? original->itsCase() : nullptr;
    ManagedObjectContext *context = original ? original->managedObjectContext() : nullptr;
    UndoManager *undo = context ? context->undoManager() : nullptr;
    if (!item || !undo || image.isNull())
        return nullptr;
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        Log::error(LogArea::UI, QStringLiteral("Unable to encode the edited image of ") + original->description());
        return nullptr;
    }
    const QString name = QFileInfo(original->fileName()).completeBaseName() + QLatin1Char(' ') + suffix + QStringLiteral(".png");

    // Callers may have registration paused; the step registered below must be kept.
    int paused = 0;
    for (; !undo->isUndoRegistrationEnabled(); ++paused)
        undo->enableUndoRegistration();
    // The store's own undo stays off: the step is the import's undo of the new medium.
    undo->disableUndoRegistration();
    Media *added = item->addMedia(png, name);
    if (added && !added->fileExists()) {
        Log::error(LogArea::UI, QStringLiteral("Unable to write the edited image of ") + original->description());
        context->deleteObject(added);
        added = nullptr;
    }
    if (added) {
        // Right after the original, the later media moving one place on.
        QList<Media *> ordered = item->sortedMedia();
        ordered.removeOne(added);
        ordered.insert(ordered.indexOf(original) + 1, added);
        for (int i = 0; i < ordered.size(); ++i)
            ordered[i]->setOrderIndex(i);
    }
    undo->enableUndoRegistration();
    if (added) {
        undo->beginUndoGrouping();
        MediaFileImport::registerUndoOfAddedMedia(context, item->objectID(), {added->uuid()});
        undo->setActionName(actionName);
        undo->endUndoGrouping();
    }
    for (; paused > 0; --paused)
        undo->disableUndoRegistration();
    if (!added)
        return nullptr;
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedMedia);
    Log::info(LogArea::UI, QStringLiteral("Added ") + added->description() + QStringLiteral(" from ") + original->description());
    return added;
}

} // namespace ovalis
