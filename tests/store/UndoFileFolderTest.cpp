#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store/UndoFileFolder.h"
#include "support/StoreFixture.h"

using namespace ovalis;

namespace {

const QString abandonedName = QStringLiteral("0A1B2C3D-0000-4000-8000-000000000001");
const QString heldName = QStringLiteral("0A1B2C3D-0000-4000-8000-000000000002");

class UndoFileFolderTest : public test::StoreFixture
{
protected:
    static QString root() { return UndoFileFolder::defaultRoot(); }

    static void write(const QString &path, const QByteArray &data)
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
    }

    static unsigned mode(const QString &path)
    {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 0;
    }

    // What a library that ended without closing leaves: its folder with a
    // copy in it, and a lock file nobody holds.
    void leaveAbandonedFolder(const QString &name)
    {
        write(root() + u'/' + name + QStringLiteral("/9F3B2C1D-0000-4000-8000-000000000000/scan.png"), "copy");
        write(root() + u'/' + name + QStringLiteral(".lock"), QByteArray());
    }
};

} // namespace

TEST_F(UndoFileFolderTest, EachLibraryHasAPrivateFolderWithAFreshPlaceForEachCopy)
{
    // In the user's cache folder ($XDG_CACHE_HOME, here the test's own).
    EXPECT_TRUE(root().startsWith(m_directory.filePath(QStringLiteral("cache/"))));
    EXPECT_TRUE(root().endsWith(QStringLiteral("/undo")));
    UndoFileFolder folder;
    EXPECT_FALSE(QFileInfo::exists(root())); // made on first use only
    const QString path = folder.path();
    ASSERT_FALSE(path.isEmpty());
    EXPECT_EQ(QFileInfo(path).path(), root());
    EXPECT_EQ(mode(root()), 0700u);
    EXPECT_EQ(mode(path), 0700u);
    EXPECT_TRUE(QFileInfo::exists(path + QStringLiteral(".lock")));

    const QUrl file = QUrl::fromLocalFile(QStringLiteral("/library/Media/0A/1B/2C/3D/0A1B2C3D-1111-4222-8333-444455556666.png"));
    const QUrl backup = folder.makeBackupURL(file);
    const QUrl another = folder.makeBackupURL(file);
    const QRegularExpression shape(QStringLiteral("^") + QRegularExpression::escape(path)
                                   + QStringLiteral("/[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}/"
                                                    "0A1B2C3D-1111-4222-8333-444455556666\\.png$"));
    EXPECT_TRUE(shape.match(backup.toLocalFile()).hasMatch()) << backup.toLocalFile().toStdString();
    EXPECT_NE(QFileInfo(backup.toLocalFile()).path(), QFileInfo(another.toLocalFile()).path());

    // A second library open at the same time has a folder of its own.
    UndoFileFolder other;
    EXPECT_NE(other.path(), path);
    EXPECT_EQ(UndoFileFolder::removeAbandoned(root()), 0);

    // Closing the library takes its folder, with whatever is left in it.
    write(backup.toLocalFile(), "copy");
    auto closing = std::make_unique<UndoFileFolder>();
    write(closing->makeBackupURL(file).toLocalFile(), "copy");
    const QString closingPath = closing->path();
    ASSERT_TRUE(QFileInfo::exists(closingPath));
    closing.reset();
    EXPECT_FALSE(QFileInfo::exists(closingPath));
    EXPECT_FALSE(QFileInfo::exists(closingPath + QStringLiteral(".lock")));
    EXPECT_TRUE(QFileInfo::exists(backup.toLocalFile()));
}

TEST_F(UndoFileFolderTest, FoldersLeftByACrashGoAtTheNextStartAndHeldOnesStay)
{
    leaveAbandonedFolder(abandonedName);
    // A folder whose lock another process holds (here another open file of the same lock).
    leaveAbandonedFolder(heldName);
    const QByteArray heldLock = QFile::encodeName(root() + u'/' + heldName + QStringLiteral(".lock"));
    const int holder = ::open(heldLock.constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    // Names the folder never gives are not its to remove.
    write(root() + QStringLiteral("/notes.txt"), "mine");

    // Opening the library is the next start.
    reopen();
    EXPECT_FALSE(QFileInfo::exists(root() + u'/' + abandonedName));
    EXPECT_FALSE(QFileInfo::exists(root() + u'/' + abandonedName + QStringLiteral(".lock")));
    EXPECT_TRUE(QFileInfo::exists(root() + u'/' + heldName + QStringLiteral("/9F3B2C1D-0000-4000-8000-000000000000/scan.png")));
    EXPECT_TRUE(QFileInfo::exists(root() + QStringLiteral("/notes.txt")));

    // The library in use keeps its own folder; the other goes once let go of.
    const QString own = m_stack->undoFiles().path();
    ::close(holder);
    EXPECT_EQ(UndoFileFolder::removeAbandoned(root()), 1);
    EXPECT_FALSE(QFileInfo::exists(root() + u'/' + heldName));
    EXPECT_TRUE(QFileInfo::exists(own));
}
