#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "CliProcess.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/Tag.h"
#include "util/SerialQueue.h"

using namespace ovalis;
using ovalis::test::runCli;

namespace {

class CliExchangeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        CoreDataStack stack(library());
        QString error;
        ASSERT_TRUE(stack.loadPersistentStores(&error)) << error.toStdString();
        ManagedObjectContext *context = stack.mainContext();
        Tag *chest = context->insertNew<Tag>();
        chest->setLabel(QStringLiteral("chest"));
        Case *first = context->insertNew<Case>();
        first->setPatientID(QStringLiteral("ABC1234"));
        first->setSummary(QStringLiteral("Pneumothorax"));
        first->setDateOfDiagnosis(QDateTime(QDate(2022, 3, 4), QTime(9, 0)));
        first->addToTags(chest);
        first->addMedia("image one", QStringLiteral("one.jpg"));
        first->addMedia("image two", QStringLiteral("two.png"));
        Case *second = context->insertNew<Case>();
        second->setPatientID(QStringLiteral("DEF5678"));
        second->addMedia("three", QStringLiteral("three.jpg"));
        context->saveWithParent(true);
    }

    QString library() const { return m_home.filePath(QStringLiteral("Ovalis")); }
    QString path(const QString &name) const { return m_home.filePath(name); }

    QTemporaryDir m_home;
};

TEST_F(CliExchangeTest, BackupRestoresIntoAnotherLibraryAndABadFileFails)
{
    const auto written = runCli({QStringLiteral("export-backup"), path(QStringLiteral("backup.json"))}, m_home.path());
    EXPECT_EQ(written.exitCode, 0) << written.err.toStdString();
    EXPECT_TRUE(written.out.startsWith(QStringLiteral("Wrote 2 cases to "))) << written.out.toStdString();

    const QStringList other{QStringLiteral("--library"), path(QStringLiteral("Other"))};
    const auto read = runCli(other + QStringList{QStringLiteral("restore-backup"), path(QStringLiteral("backup.json"))}, m_home.path());
    EXPECT_EQ(read.exitCode, 0) << read.err.toStdString();
    EXPECT_TRUE(read.out.startsWith(QStringLiteral("Read 2 cases from "))) << read.out.toStdString();
    EXPECT_TRUE(read.out.contains(QStringLiteral("(3 media records without files, 1 new tags)"))) << read.out.toStdString();
    const auto shown = runCli(other + QStringList{QStringLiteral("show"), QStringLiteral("ABC1234")}, m_home.path());
    EXPECT_TRUE(shown.out.contains(QStringLiteral("Pneumothorax")));
    EXPECT_TRUE(shown.out.contains(QStringLiteral("missing")));

    QFile bad(path(QStringLiteral("bad.json")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(R"([{"patient_identifier":"X","sex":"v","tags":7}])");
    bad.close();
    const auto refused = runCli(other + QStringList{QStringLiteral("restore-backup"), bad.fileName()}, m_home.path());
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("case record 1: \"tags\" is not a string"))) << refused.err.toStdString();
    const auto unwritable = runCli({QStringLiteral("export-backup"), path(QStringLiteral("no such folder/b.json"))}, m_home.path());
    EXPECT_NE(unwritable.exitCode, 0);
    EXPECT_TRUE(unwritable.err.contains(QStringLiteral("could not be written")));
}

TEST_F(CliExchangeTest, RestoreRefusesAnIdentifierThatIsNoUuidAndGivesAReusedOneItsOwnFile)
{
    // The path "..-secret" would name lies beside the media directory.
    QFile secret(library() + QStringLiteral("/..-secret.jpg"));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("secret");
    secret.close();
    QFile hostile(path(QStringLiteral("hostile.json")));
    ASSERT_TRUE(hostile.open(QIODevice::WriteOnly));
    hostile.write(R"([{"patient_identifier":"EVIL1","sex":"v","tags":"",
                       "media":[{"identifier":"..-secret","filename":"x.jpg"}]}])");
    hostile.close();
    const auto refused = runCli({QStringLiteral("restore-backup"), hostile.fileName()}, m_home.path());
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("case record 1, media 1: \"identifier\" is not a UUID"))) << refused.err.toStdString();
    const auto none = runCli({QStringLiteral("show"), QStringLiteral("EVIL1")}, m_home.path());
    EXPECT_EQ(none.exitCode, 4) << none.out.toStdString();
    EXPECT_TRUE(QFileInfo::exists(secret.fileName()));

    // Restoring a library's backup into that library: every media identifier is taken.
    const auto written = runCli({QStringLiteral("export-backup"), path(QStringLiteral("backup.json"))}, m_home.path());
    ASSERT_EQ(written.exitCode, 0) << written.err.toStdString();
    const auto read = runCli({QStringLiteral("restore-backup"), path(QStringLiteral("backup.json"))}, m_home.path());
    EXPECT_EQ(read.exitCode, 0) << read.err.toStdString();
    EXPECT_TRUE(read.out.contains(QStringLiteral("(0 media records without files, 0 new tags); "
                                                 "3 media identifiers already in use were replaced, 3 files copied")))
        << read.out.toStdString();
    const auto shown = runCli({QStringLiteral("show"), QStringLiteral("ABC1234")}, m_home.path());
    EXPECT_EQ(shown.out.count(QStringLiteral("Patient identifier: ABC1234")), 2);
    EXPECT_EQ(shown.out.count(QStringLiteral("\tpresent")), 4) << shown.out.toStdString();
    EXPECT_FALSE(shown.out.contains(QStringLiteral("\tmissing")));

    CoreDataStack stack(library());
    QString error;
    ASSERT_TRUE(stack.loadPersistentStores(&error)) << error.toStdString();
    ManagedObjectContext *context = stack.mainContext();
    QSet<QString> uuids;
    for (ManagedObject *object : context->arrayOfObjects(Media::entityName()))
        uuids.insert(static_cast<Media *>(object)->uuid());
    EXPECT_EQ(uuids.size(), 6);
    // Deleting the original case leaves the restored one its images.
    const QList<ManagedObject *> cases = context->arrayOfObjects(
        Case::entityName(), Predicate::fromFormat(QStringLiteral("patientID == %@"), {QStringLiteral("ABC1234")}),
        {{QStringLiteral("dateAdded"), true}});
    ASSERT_EQ(cases.size(), 2);
    context->deleteObject(cases[0]);
    context->saveWithParent(true);
    stack.fileDeletionQueue()->waitForDone();
    for (const Media *media : static_cast<Case *>(cases[1])->sortedMedia())
        EXPECT_TRUE(media->fileExists()) << media->description().toStdString();
}

TEST_F(CliExchangeTest, ExportMediaTakesTheListedCasesAndImportFolderReportsSkips)
{
    const auto exported = runCli({QStringLiteral("export-media"), QStringLiteral("--tag"), QStringLiteral("chest"),
                                  path(QStringLiteral("Export"))},
                                 m_home.path());
    EXPECT_EQ(exported.exitCode, 0) << exported.err.toStdString();
    EXPECT_TRUE(exported.out.startsWith(QStringLiteral("Exported 2 files of 1 cases into "))) << exported.out.toStdString();
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("Export/ABC1234/2022-03-04/00001.jpg"))));
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("Export/ABC1234/2022-03-04/00002.png"))));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("Export/DEF5678"))));
    // A plain file in the way of the case's folder fails the command, saying where.
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("Blocked"))));
    QFile blocker(path(QStringLiteral("Blocked/ABC1234")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto blocked = runCli({QStringLiteral("export-media"), QStringLiteral("--tag"), QStringLiteral("chest"),
                                 path(QStringLiteral("Blocked"))},
                                m_home.path());
    EXPECT_NE(blocked.exitCode, 0);
    EXPECT_TRUE(blocked.err.contains(QStringLiteral("ovalis-cli: not exported: ") + path(QStringLiteral("Blocked/ABC1234/2022-03-04: "))))
        << blocked.err.toStdString();

    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("Tree/Chest/Lung/CT"))));
    for (const QString &name : {QStringLiteral("Tree/Chest/Lung/CT/a.jpg"), QStringLiteral("Tree/Chest/Lung/CT/notes.txt")}) {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("data");
    }
    const auto imported = runCli({QStringLiteral("import-folder"), path(QStringLiteral("Tree"))}, m_home.path());
    EXPECT_EQ(imported.exitCode, 0) << imported.err.toStdString();
    EXPECT_TRUE(imported.out.startsWith(QStringLiteral("Imported 1 cases with 1 media files from "))) << imported.out.toStdString();
    EXPECT_TRUE(imported.out.contains(QStringLiteral("notes.txt: not an accepted image or movie type")));
    const auto listed = runCli({QStringLiteral("list"), QStringLiteral("--tag"), QStringLiteral("Tree")}, m_home.path());
    EXPECT_TRUE(listed.out.contains(QStringLiteral("Lung"))) << listed.out.toStdString();
    const auto missing = runCli({QStringLiteral("import-folder"), path(QStringLiteral("Nowhere"))}, m_home.path());
    EXPECT_NE(missing.exitCode, 0);
}

} // namespace
