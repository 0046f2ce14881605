#pragma once

#include <QDir>
#include <QFile>
#include <QTest>

#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/MediaFileStore.h"
#include "transfer/MissingMediaManager.h"

namespace ovalis::test {

// Media records with or without their files, for the missing-media tests.
struct MissingMediaLibrary {
    static Media *addMedia(ManagedObjectContext *context, Case *owner, const QString &fileName, const QString &uuid = {})
    {
        auto *media = context->insertNew<Media>();
        if (!uuid.isNull())
            media->setUuid(uuid);
        if (!fileName.isNull())
            media->setFileName(fileName);
        media->setItsCase(owner);
        return media;
    }

    // Writes the file, making its folders first.
    static bool writeAt(const QUrl &url, const QByteArray &bytes)
    {
        return MediaFileStore::createDirectory(MediaFileStore::folderURL(url)) && MediaFileStore::writeDataAtomically(bytes, url);
    }

    static void writeFile(const CoreDataStack &stack, const QString &uuid, const QString &extension, const QByteArray &bytes)
    {
        const QUrl url = MediaFileStore::mediaFileURL(MediaFileStore::mediaDirectoryURL(stack), uuid, extension);
        ASSERT_TRUE(writeAt(url, bytes)) << url.toLocalFile().toStdString();
    }

    static QByteArray readFile(const CoreDataStack &stack, const QString &uuid, const QString &extension)
    {
        QFile file(MediaFileStore::mediaFileURL(MediaFileStore::mediaDirectoryURL(stack), uuid, extension).toLocalFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Runs a refresh and waits for its completion.
    static bool refresh(MissingMediaManager &manager)
    {
        bool done = false;
        manager.refreshMissingMedia([&done] { done = true; });
        return QTest::qWaitFor([&done] { return done; }, 10000);
    }
};

} // namespace ovalis::test
