#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "store/ContextQueue.h"
#include "store/PersistentStore.h"
#include "store/UuidDirectoryPath.h"
#include "support/StoreFixture.h"
#include "transfer/BusyMainThread.h"
#include "transfer/MediaRequestMessage.h"
#include "transfer/MissingMediaLibrary.h"
#include "transfer/OvalisMissingMediaManager.h"
#include "util/Log.h"

using namespace ovalis;
using namespace ovalis::test;

namespace {

// The name of a private context's worker thread.
const QByteArray privateContext = "Private context";

class OvalisMissingMediaManagerTest : public StoreFixture
{
protected:
    MediaRequestMessage decodeRequest(const std::optional<QByteArray> &data)
    {
        MediaRequestMessage message;
        EXPECT_TRUE(data.has_value());
        if (data) {
            EXPECT_EQ(MediaRequestMessage::decode(*data, &message), MediaRequestMessage::DecodeResult::Decoded);
        }
        return message;
    }
};

mode_t permissions(const QString &path)
{
    struct stat info {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0) << path.toStdString();
    return info.st_mode & 07777;
}

// Sets the process's umask while it exists.
class UmaskScope
{
public:
    explicit UmaskScope(mode_t mask)
        : m_previous(::umask(mask))
    {
    }
    ~UmaskScope() { ::umask(m_previous); }

private:
    mode_t m_previous;
};

} // namespace

TEST_F(OvalisMissingMediaManagerTest, ScansStillRunningEndWithTheirManager)
{
    Case *item = newCase(QStringLiteral("ABC1234"));
    for (int i = 0; i < 2000; ++i)
        MissingMediaLibrary::addMedia(context(), item, QStringLiteral("scan%1.jpg").arg(i));
    const int before = threadsNamed(privateContext);
    bool completed = false;
    {
        LogCapture log;
        OvalisMissingMediaManager manager(*m_stack);
        manager.refreshMissingMedia([&completed] { completed = true; });
        // As at the end of a fetch: the empty worklist starts a scan of its own.
        EXPECT_FALSE(manager.nextRequestData().has_value());
        // The first scan is reading when the manager goes.
        ASSERT_TRUE(becomesTrueWithoutEventLoop([&log] { return log.count(QStringLiteral("ABC1234")) > 0; }));
    }
    // No scan is left to read the store once the manager (and then the
    // stack) is gone, and none reports back to the manager.
    EXPECT_TRUE(threadsNamedSettleAt(privateContext, before)) << threadsNamed(privateContext) - before << " scans left";
    m_stack.reset();
    QCoreApplication::processEvents();
    ContextQueue::mainQueue()->drain();
    QCoreApplication::processEvents();
    EXPECT_FALSE(completed);
}

TEST_F(OvalisMissingMediaManagerTest, AScanReadsTheRecordsWhileTheMainThreadIsBusy)
{
    Case *item = newCase(QStringLiteral("ABC1234"));
    for (int i = 0; i < 3; ++i)
        MissingMediaLibrary::addMedia(context(), item, QStringLiteral("scan%1.jpg").arg(i));
    LogCapture log;
    OvalisMissingMediaManager manager(*m_stack);
    bool completed = false;
    manager.refreshMissingMedia([&completed] { completed = true; });
    // While the main thread is busy the scan still reads every record and
    // finds each one's case.
    EXPECT_TRUE(becomesTrueWithoutEventLoop([&log] { return log.count(QStringLiteral("ABC1234")) == 3; }))
        << "the scan waited for the main thread";
    EXPECT_FALSE(completed);
    ASSERT_TRUE(QTest::qWaitFor([&completed] { return completed; }, 10000));
    EXPECT_EQ(manager.missingCount(), 3);
}

TEST_F(OvalisMissingMediaManagerTest, EditsTheMainContextHasNotSavedAreJudgedAsItHasThem)
{
    Case *item = newCase(QStringLiteral("ABC1234"));
    Media *removed = MissingMediaLibrary::addMedia(context(), item, QStringLiteral("removed.png"));
    Media *renamed = MissingMediaLibrary::addMedia(context(), item, QStringLiteral("renamed.jpg"));
    MissingMediaLibrary::writeFile(*m_stack, renamed->uuid(), QStringLiteral("jpg"), "old file");
    Media *removedLater = MissingMediaLibrary::addMedia(context(), item, QStringLiteral("later.png"));
    ASSERT_TRUE(context()->save());
    // Unsaved: one added, one deleted, one given a name whose file is not there.
    Media *added = MissingMediaLibrary::addMedia(context(), item, QStringLiteral("added.gif"));
    const QString removedUuid = removed->uuid();
    context()->deleteObject(removed);
    renamed->setFileName(QStringLiteral("renamed.png"));
    const auto listed = [](const OvalisMissingMediaManager &manager) {
        QStringList uuids;
        for (const MissingMediaItem &missing : manager.missingMediaArray())
            uuids.append(missing.uuidString + QLatin1Char('.') + missing.pathExtension);
        uuids.sort();
        return uuids;
    };
    const auto expected = [](QStringList uuids) {
        uuids.sort();
        return uuids;
    };
    OvalisMissingMediaManager manager(*m_stack);

    // A library that cannot be saved is scanned as it is in the file, with
    // the edits laid over it.
    {
        LogCapture log;
        m_stack->persistentStore()->setSaveFailureForTesting(QStringLiteral("The disk is full."));
        ASSERT_TRUE(MissingMediaLibrary::refresh(manager));
        m_stack->persistentStore()->setSaveFailureForTesting(QString());
        EXPECT_TRUE(log.containsPrefix(QStringLiteral("Unable to save before looking for missing media: ")));
        EXPECT_EQ(listed(manager), expected({added->uuid() + QStringLiteral(".gif"), renamed->uuid() + QStringLiteral(".png"),
                                             removedLater->uuid() + QStringLiteral(".png")}));
        EXPECT_EQ(manager.initialNumberOfMissingFiles(), 3);
    }

    // Otherwise the scan saves them first and hands back permanent records;
    // what changes while it reads is judged when it ends.
    bool completed = false;
    manager.refreshMissingMedia([&completed] { completed = true; });
    EXPECT_FALSE(context()->hasChanges());
    EXPECT_FALSE(added->objectID().isTemporary());
    Media *addedLater = MissingMediaLibrary::addMedia(context(), item, QStringLiteral("added-later.jpg"));
    context()->deleteObject(removedLater);
    ASSERT_TRUE(QTest::qWaitFor([&completed] { return completed; }, 10000));
    EXPECT_EQ(listed(manager), expected({added->uuid() + QStringLiteral(".gif"), renamed->uuid() + QStringLiteral(".png"),
                                         addedLater->uuid() + QStringLiteral(".jpg")}));
    EXPECT_EQ(manager.initialNumberOfMissingFiles(), 3);
    EXPECT_FALSE(listed(manager).join(QString()).contains(removedUuid));

    // A file received for a record listed is stored at its place.
    QTemporaryDir incoming;
    const QString received = incoming.filePath(QStringLiteral("resource"));
    ASSERT_TRUE(MediaFileStore::writeDataAtomically("added", QUrl::fromLocalFile(received)));
    int stored = 0;
    manager.storeReceivedFile(added->uuid(), QUrl::fromLocalFile(received), [&stored] { ++stored; });
    ASSERT_TRUE(QTest::qWaitFor([&stored] { return stored == 1; }, 5000));
    EXPECT_EQ(MissingMediaLibrary::readFile(*m_stack, added->uuid(), QStringLiteral("gif")), QByteArray("added"));
}

TEST_F(OvalisMissingMediaManagerTest, AReceivedFileGetsTheModeOfAnImportedFile)
{
    Case *item = newCase(QStringLiteral("ABC1234"));
    Media *received = MissingMediaLibrary::addMedia(context(), item, QStringLiteral("received.jpg"));
    QTemporaryDir incoming;
    OvalisMissingMediaManager manager(*m_stack);
    for (const mode_t mask : {mode_t(022), mode_t(027)}) {
        const UmaskScope umask(mask);
        // The session writes what arrives to a private temporary file.
        QTemporaryFile resource(incoming.filePath(QStringLiteral(".resource-XXXXXX")));
        ASSERT_TRUE(resource.open());
        resource.write("the scan");
        resource.close();
        resource.setAutoRemove(false);
        ASSERT_EQ(permissions(resource.fileName()), mode_t(0600));

        const QString uuid = received->uuid();
        int completions = 0;
        manager.storeReceivedFile(uuid, QUrl::fromLocalFile(resource.fileName()), [&completions] { ++completions; });
        ASSERT_TRUE(QTest::qWaitFor([&completions] { return completions == 1; }, 5000));
        const QUrl stored = MediaFileStore::mediaFileURL(MediaFileStore::mediaDirectoryURL(*m_stack), uuid, QStringLiteral("jpg"));
        const QUrl imported = MediaFileStore::urlWithExtension(stored, QStringLiteral("imported"));
        // An import copies the file into the media directory.
        ASSERT_TRUE(MediaFileStore::copyFileUnsynced(stored.toLocalFile(), imported));
        EXPECT_EQ(permissions(stored.toLocalFile()), mode_t(0666 & ~mask));
        EXPECT_EQ(permissions(stored.toLocalFile()), permissions(imported.toLocalFile()));
        ASSERT_TRUE(QFile::remove(stored.toLocalFile()));
        ASSERT_TRUE(QFile::remove(imported.toLocalFile()));
    }
}

TEST_F(OvalisMissingMediaManagerTest, ALibraryWithEveryFileHasNothingToFetch)
{
    Case *item = newCase(QStringLiteral("ABC1234"));
    Media *media = MissingMediaLibrary::addMedia(context(), item, QStringLiteral("scan.jpg"));
    MissingMediaLibrary::writeFile(*m_stack, media->uuid(), QStringLiteral("jpg"), "jpeg bytes");
    OvalisMissingMediaManager manager(*m_stack);
    EXPECT_EQ(manager.baseDirectoryURL(), MediaFileStore::mediaDirectoryURL(*m_stack));
    ASSERT_TRUE(MissingMediaLibrary::refresh(manager));
    EXPECT_EQ(manager.initialNumberOfMissingFiles(), 0);
    EXPECT_TRUE(manager.missingMediaArray().isEmpty());
    EXPECT_EQ(manager.fractionComplete(), 0.0f);
}

TEST_F(OvalisMissingMediaManagerTest, RecordsWithoutFileNameAreCountedButNotRequestedAndRecordsWithoutCaseAreLeftOut)
{
    Case *item = newCase(QStringLiteral("ABC1234"));
    for (int i = 0; i < 3; ++i)
        MissingMediaLibrary::addMedia(context(), item, QString());
    Media *missing = MissingMediaLibrary::addMedia(context(), item, QStringLiteral("x-ray.png"));
    MissingMediaLibrary::addMedia(context(), nullptr, QStringLiteral("orphan.png"));
    Media *present = MissingMediaLibrary::addMedia(context(), item, QStringLiteral("here.jpg"));
    MissingMediaLibrary::writeFile(*m_stack, present->uuid(), QStringLiteral("jpg"), "here");

    LogCapture log;
    OvalisMissingMediaManager manager(*m_stack);
    ASSERT_TRUE(MissingMediaLibrary::refresh(manager));
    EXPECT_EQ(manager.initialNumberOfMissingFiles(), 4);
    EXPECT_EQ(manager.missingMediaArray(), (QList<MissingMediaItem>{{missing->uuid(), QStringLiteral("png")}}));
    EXPECT_FLOAT_EQ(manager.fractionComplete(), 0.75f);
    EXPECT_EQ(log.countPrefix(QStringLiteral("Unable to create URL: ")), 3);
    EXPECT_TRUE(log.contains(QStringLiteral("Got 4 missing media")));
    EXPECT_EQ(log.count(QStringLiteral("?")), 1); // the orphan
}

TEST_F(OvalisMissingMediaManagerTest, RequestsAreMadeFromTheEndOfTheWorklistUntilItIsEmpty)
{
    Case *item = newCase(QStringLiteral("ABC1234"));
    QHash<QString, QString> extensions; // by uuid
    for (const QString &name : {QStringLiteral("a.jpg"), QStringLiteral("b.mov"), QStringLiteral("no-extension")})
        extensions.insert(MissingMediaLibrary::addMedia(context(), item, name)->uuid(), QFileInfo(name).suffix());
    OvalisMissingMediaManager manager(*m_stack);
    ASSERT_TRUE(MissingMediaLibrary::refresh(manager));
    ASSERT_EQ(manager.missingCount(), 3);

    // (The worklist is in the order the store lists the records.)
    const QList<MissingMediaItem> worklist = manager.missingMediaArray();
    for (qsizetype i = worklist.size() - 1; i >= 0; --i) {
        const MediaRequestMessage request = decodeRequest(manager.nextRequestData());
        EXPECT_EQ(request.uuid, worklist[i].uuidString);
        EXPECT_EQ(request.fileExtension, extensions.value(request.uuid));
        extensions.remove(request.uuid);
    }
    EXPECT_TRUE(extensions.isEmpty());
    EXPECT_FLOAT_EQ(manager.fractionComplete(), 1.0f);

    // An empty worklist answers nothing and looks again: the three are still missing.
    LogCapture log;
    EXPECT_FALSE(manager.nextRequestData().has_value());
    EXPECT_TRUE(log.contains(QStringLiteral("No further missing UUIDs to request")));
    ASSERT_TRUE(QTest::qWaitFor([&manager] { return manager.missingCount() == 3; }, 10000));
    EXPECT_EQ(manager.initialNumberOfMissingFiles(), 3);
}

TEST_F(OvalisMissingMediaManagerTest, ReceivedFilesAreStoredForTheirRecordOnlyOnce)
{
    Case *item = newCase(QStringLiteral("ABC1234"));
    Media *media = MissingMediaLibrary::addMedia(context(), item, QStringLiteral("scan.JPG"));
    QTemporaryDir incoming;
    const QString received = incoming.filePath(QStringLiteral("resource"));
    ASSERT_TRUE(MediaFileStore::writeDataAtomically("the scan", QUrl::fromLocalFile(received)));
    OvalisMissingMediaManager manager(*m_stack);

    int completions = 0;
    manager.storeReceivedFile(media->uuid(), QUrl::fromLocalFile(received), [&completions] { ++completions; });
    ASSERT_TRUE(QTest::qWaitFor([&completions] { return completions == 1; }, 5000));
    EXPECT_EQ(MissingMediaLibrary::readFile(*m_stack, media->uuid(), QStringLiteral("JPG")), QByteArray("the scan"));
    EXPECT_TRUE(media->fileExists());

    // The same file again cannot replace the first; a name that is no
    // record's uuid, or no uuid at all, leaves everything alone.
    ASSERT_FALSE(QFile::exists(received));
    ASSERT_TRUE(MediaFileStore::writeDataAtomically("another scan", QUrl::fromLocalFile(received)));
    LogCapture log;
    manager.storeReceivedFile(media->uuid(), QUrl::fromLocalFile(received), [&completions] { ++completions; });
    EXPECT_TRUE(log.containsPrefix(QStringLiteral("Unable to copy resource: ")));
    const QString stranger = QStringLiteral("0A1B2C3D-0000-4000-8000-000000000000");
    manager.storeReceivedFile(stranger, QUrl::fromLocalFile(received), [&completions] { ++completions; });
    manager.storeReceivedFile(QStringLiteral("../../evil"), QUrl::fromLocalFile(received), [&completions] { ++completions; });
    QCoreApplication::processEvents();
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(QFile::exists(received));
    EXPECT_EQ(MissingMediaLibrary::readFile(*m_stack, media->uuid(), QStringLiteral("JPG")), QByteArray("the scan"));
    // (Its whole folder path: the record's random uuid may share the first group's start.)
    EXPECT_FALSE(QDir(MediaFileStore::mediaDirectoryURL(*m_stack).toLocalFile()).exists(uuidDirectoryPath(stranger)));
}

TEST_F(OvalisMissingMediaManagerTest, FilesForScannedRecordsAreStoredUnlessTheRecordWasDeletedSince)
{
    Case *item = newCase(QStringLiteral("ABC1234"));
    Media *kept = MissingMediaLibrary::addMedia(context(), item, QStringLiteral("kept.png"));
    Media *deleted = MissingMediaLibrary::addMedia(context(), item, QStringLiteral("deleted.png"));
    OvalisMissingMediaManager manager(*m_stack);
    ASSERT_TRUE(MissingMediaLibrary::refresh(manager));
    ASSERT_EQ(manager.missingCount(), 2);
    const QString deletedUuid = deleted->uuid();
    context()->deleteObject(deleted);

    QTemporaryDir incoming;
    const QString first = incoming.filePath(QStringLiteral("first"));
    const QString second = incoming.filePath(QStringLiteral("second"));
    ASSERT_TRUE(MediaFileStore::writeDataAtomically("kept", QUrl::fromLocalFile(first)));
    ASSERT_TRUE(MediaFileStore::writeDataAtomically("deleted", QUrl::fromLocalFile(second)));
    int completions = 0;
    manager.storeReceivedFile(kept->uuid(), QUrl::fromLocalFile(first), [&completions] { ++completions; });
    manager.storeReceivedFile(deletedUuid, QUrl::fromLocalFile(second), [&completions] { ++completions; });
    ASSERT_TRUE(QTest::qWaitFor([&completions] { return completions == 1; }, 5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(MissingMediaLibrary::readFile(*m_stack, kept->uuid(), QStringLiteral("png")), QByteArray("kept"));
    EXPECT_TRUE(MissingMediaLibrary::readFile(*m_stack, deletedUuid, QStringLiteral("png")).isEmpty());
    EXPECT_TRUE(QFile::exists(second));
}

TEST_F(OvalisMissingMediaManagerTest, ARecordWhoseUuidIsNoUuidIsMissingButNeverRequested)
{
    // Where "..-secret" would lead, beside the media directory, a file is waiting.
    ASSERT_TRUE(QDir().mkpath(libraryPath() + QStringLiteral("/Media")));
    ASSERT_TRUE(MissingMediaLibrary::writeAt(QUrl::fromLocalFile(libraryPath() + QStringLiteral("/..-secret.jpg")), "secret"));
    Case *item = newCase(QStringLiteral("ABC1234"));
    MissingMediaLibrary::addMedia(context(), item, QStringLiteral("s.jpg"), QStringLiteral("..-secret"));
    OvalisMissingMediaManager manager(*m_stack);
    ASSERT_TRUE(MissingMediaLibrary::refresh(manager));
    EXPECT_EQ(manager.initialNumberOfMissingFiles(), 1);
    EXPECT_TRUE(manager.missingMediaArray().isEmpty());
}
