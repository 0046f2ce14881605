#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "CliProcess.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "support/OvalisOneDocumentWriter.h"

using namespace ovalis;
using ovalis::test::OvalisOneDocumentWriter;
using ovalis::test::runCli;

namespace {

class CliImportV1Test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        OvalisOneDocumentWriter teaching(path(QStringLiteral("Teaching.ovalis")));
        for (int i = 0; i < 3; ++i) {
            const qint64 condition = teaching.insert(QStringLiteral("Condition"), {{QStringLiteral("system"), 5}});
            const qint64 study = teaching.insert(QStringLiteral("Study"), {{QStringLiteral("condition"), condition}});
            teaching.insert(QStringLiteral("Image"), {{QStringLiteral("imageData"), OvalisOneDocumentWriter::archivedImage("image")},
                                                      {QStringLiteral("study"), study}});
        }
        OvalisOneDocumentWriter neuro(path(QStringLiteral("Neuro.ovalis")));
        neuro.insert(QStringLiteral("Condition"), {{QStringLiteral("system"), 11}});
    }

    QString path(const QString &name) const { return m_home.filePath(name); }

    int caseCount()
    {
        CoreDataStack stack(m_home.filePath(QStringLiteral("Ovalis")));
        QString error;
        EXPECT_TRUE(stack.loadPersistentStores(&error)) << error.toStdString();
        return stack.mainContext()->countOfObjects(Case::entityName());
    }

    QTemporaryDir m_home;
};

TEST_F(CliImportV1Test, ImportsDocumentsAndSummarisesWhatWasCreated)
{
    const test::CliResult result = runCli({QStringLiteral("import-v1"), path(QStringLiteral("Teaching.ovalis")), path(QStringLiteral("Neuro.ovalis"))},
                                          m_home.path());

    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("Documents imported: 2 of 2\n"))) << result.out.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("Conditions: 4\n")));
    EXPECT_TRUE(result.out.contains(QStringLiteral("Cases created: 4\n")));
    EXPECT_TRUE(result.out.contains(QStringLiteral("Media created: 3\n")));
    // Teaching, Genital Tract (Female), Neuro, Neurological.
    EXPECT_TRUE(result.out.contains(QStringLiteral("Tags created: 4\n")));
    EXPECT_TRUE(result.err.contains(QStringLiteral("Importing Teaching: 3 of 3 conditions")));
    EXPECT_EQ(caseCount(), 4);
}

TEST_F(CliImportV1Test, ADocumentThatCannotBeOpenedIsNamedAndEndsTheRun)
{
    QFile damaged(path(QStringLiteral("Damaged.ovalis")));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("not a database at all, not even close to one");
    damaged.close();
    // A relative path is taken from the working directory.
    const QString workingDirectory = QDir::currentPath();
    QDir::setCurrent(m_home.path());
    const test::CliResult result =
        runCli({QStringLiteral("import-v1"), QStringLiteral("Neuro.ovalis"), path(QStringLiteral("Damaged.ovalis")), path(QStringLiteral("Teaching.ovalis"))},
               m_home.path());
    QDir::setCurrent(workingDirectory);

    EXPECT_EQ(result.exitCode, 3); // as every other import that fails
    EXPECT_TRUE(result.err.contains(QStringLiteral("could not open ") + path(QStringLiteral("Damaged.ovalis")))) << result.err.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("Documents imported: 1 of 3\n"))) << result.out.toStdString();
    EXPECT_EQ(caseCount(), 1);

    EXPECT_NE(runCli({QStringLiteral("import-v1")}, m_home.path()).exitCode, 0);
}

} // namespace
