#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

#include "CliProcess.h"
#include "support/DicomTestFiles.h"

using namespace ovalis;
using ovalis::test::runCli;
using ovalis::test::TestDicom;

namespace {

class CliDicomTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("in"))));
        for (int n = 1; n <= 3; ++n)
            ASSERT_TRUE(m_image.instance(1, n).write(path(QStringLiteral("in/1-%1.dcm").arg(n))));
        ASSERT_TRUE(m_image.instance(4, 1).write(path(QStringLiteral("in/4-1.dcm"))));
        QFile fake(path(QStringLiteral("in/fake.dcm")));
        ASSERT_TRUE(fake.open(QIODevice::WriteOnly));
        fake.write("not a DICOM file");
    }

    QString path(const QString &name) const { return m_home.filePath(name); }
    QStringList library() const { return {QStringLiteral("--library"), path(QStringLiteral("Ovalis"))}; }

    QStringList storedFiles() const
    {
        QStringList files;
        QDirIterator it(path(QStringLiteral("Ovalis/Media")), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files.append(it.next());
        return files;
    }

    QTemporaryDir m_home;
    TestDicom m_image;
};

TEST_F(CliDicomTest, ImportStoresDeidentifiedImagesOnceAndFailsForABrokenFileAfterTheRest)
{
    // A DICOM file that ends early.
    ASSERT_TRUE(m_image.instance(4, 2).write(path(QStringLiteral("in/4-2.dcm"))));
    const QByteArray whole = test::readAll(path(QStringLiteral("in/4-2.dcm")));
    QFile cut(path(QStringLiteral("in/4-2.dcm")));
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(whole.left(whole.size() - 8));
    cut.close();

    const auto first = runCli(library() + QStringList{QStringLiteral("import-dicom"), path(QStringLiteral("in")), QStringLiteral("--verbose")},
                              m_home.path());
    EXPECT_EQ(first.exitCode, 3) << first.err.toStdString();
    EXPECT_TRUE(first.out.startsWith(QStringLiteral("Imported 4 images into 1 new cases; 0 already in the library\n")))
        << first.out.toStdString();
    EXPECT_TRUE(first.out.contains(QStringLiteral("Not DICOM: ") + path(QStringLiteral("in/fake.dcm")))) << first.out.toStdString();
    EXPECT_TRUE(first.err.contains(QStringLiteral("ovalis-cli: could not import ") + path(QStringLiteral("in/4-2.dcm")) + QStringLiteral(": ")))
        << first.err.toStdString();
    const QStringList stored = storedFiles();
    EXPECT_EQ(stored.size(), 4);
    for (const QString &file : stored) {
        EXPECT_TRUE(file.endsWith(QStringLiteral(".dcm"))) << file.toStdString();
        const QByteArray bytes = test::readAll(file);
        for (const QString &value : m_image.identifyingValues())
            EXPECT_FALSE(bytes.contains(value.toLatin1())) << value.toStdString();
    }
    const auto shown = runCli(library() + QStringList{QStringLiteral("show"), m_image.patientId}, m_home.path());
    EXPECT_EQ(shown.exitCode, 0) << shown.err.toStdString();
    EXPECT_TRUE(shown.out.contains(QStringLiteral("Summary:            ") + m_image.studyDescription)) << shown.out.toStdString();

    QFile::remove(path(QStringLiteral("in/4-2.dcm")));
    const auto again = runCli(library() + QStringList{QStringLiteral("import-dicom"), path(QStringLiteral("in"))}, m_home.path());
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_EQ(again.out, QStringLiteral("Imported 0 images into 0 new cases; 4 already in the library\n"));
    EXPECT_FALSE(again.out.contains(QStringLiteral("fake.dcm")));
    EXPECT_EQ(storedFiles().size(), 4);
}

TEST_F(CliDicomTest, SeriesAndCaseOptionsChooseWhatIsImportedWhere)
{
    const auto chosen = runCli(library() + QStringList{QStringLiteral("import-dicom"), QStringLiteral("--series"), QStringLiteral("4"),
                                                       QStringLiteral("--case"), QStringLiteral("TEACH-9"), path(QStringLiteral("in"))},
                               m_home.path());
    EXPECT_EQ(chosen.exitCode, 0) << chosen.err.toStdString();
    EXPECT_TRUE(chosen.out.startsWith(QStringLiteral("Imported 1 images into 1 new cases"))) << chosen.out.toStdString();
    const auto shown = runCli(library() + QStringList{QStringLiteral("show"), QStringLiteral("TEACH-9")}, m_home.path());
    EXPECT_EQ(shown.exitCode, 0) << shown.err.toStdString();
    EXPECT_EQ(shown.out.count(QStringLiteral(".dcm")), 1) << shown.out.toStdString();
    const auto rest = runCli(library() + QStringList{QStringLiteral("import-dicom"), QStringLiteral("--case"), QStringLiteral("TEACH-9"),
                                                     path(QStringLiteral("in"))},
                             m_home.path());
    EXPECT_TRUE(rest.out.startsWith(QStringLiteral("Imported 3 images into 0 new cases; 1 already in the library"))) << rest.out.toStdString();

    for (const QStringList &wrong : {QStringList{QStringLiteral("--series"), QStringLiteral("9")},
                                     QStringList{QStringLiteral("--series"), QStringLiteral("x")},
                                     QStringList{QStringLiteral("--case"), QStringLiteral("A"), QStringLiteral("--case-per-study")},
                                     QStringList{QStringLiteral("--all-series"), QStringLiteral("--series"), QStringLiteral("1")},
                                     QStringList{}}) {
        const QStringList arguments = library() + QStringList{QStringLiteral("import-dicom")} + wrong
                                      + (wrong.isEmpty() ? QStringList{} : QStringList{path(QStringLiteral("in"))});
        const auto refused = runCli(arguments, m_home.path());
        EXPECT_EQ(refused.exitCode, 1) << wrong.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(refused.err.startsWith(QStringLiteral("ovalis-cli: "))) << refused.err.toStdString();
    }
    EXPECT_EQ(storedFiles().size(), 4);
    const auto missing = runCli(library() + QStringList{QStringLiteral("import-dicom"), path(QStringLiteral("nowhere"))}, m_home.path());
    EXPECT_EQ(missing.exitCode, 3);
    // Nothing to import: --verbose still says what was passed over.
    const auto nothing = runCli(library() + QStringList{QStringLiteral("import-dicom"), QStringLiteral("--verbose"),
                                                        path(QStringLiteral("in/fake.dcm"))},
                                m_home.path());
    EXPECT_EQ(nothing.exitCode, 3);
    EXPECT_TRUE(nothing.out.contains(QStringLiteral("Not DICOM: ") + path(QStringLiteral("in/fake.dcm")))) << nothing.out.toStdString();
    EXPECT_TRUE(nothing.err.contains(QStringLiteral("1 not DICOM"))) << nothing.err.toStdString();
}

TEST_F(CliDicomTest, ExportForTeachingWritesNothingIdentifyingAndRefusesAFileThatLostItsDeidentification)
{
    const auto imported = runCli(library() + QStringList{QStringLiteral("import-dicom"), path(QStringLiteral("in"))}, m_home.path());
    ASSERT_EQ(imported.exitCode, 0) << imported.err.toStdString();
    const auto exported = runCli(library() + QStringList{QStringLiteral("export-teaching"), QStringLiteral("--search"),
                                                         m_image.studyDescription, path(QStringLiteral("out"))},
                                 m_home.path());
    EXPECT_EQ(exported.exitCode, 0) << exported.err.toStdString();
    EXPECT_EQ(exported.out, QStringLiteral("Exported 4 DICOM files and 4 renders of 1 cases into %1\n").arg(path(QStringLiteral("out"))));
    QDirIterator files(path(QStringLiteral("out")), QDir::Files, QDirIterator::Subdirectories);
    int count = 0;
    while (files.hasNext()) {
        const QByteArray bytes = test::readAll(files.next());
        ++count;
        for (const QString &value : m_image.identifyingValues())
            EXPECT_FALSE(bytes.contains(value.toLatin1())) << value.toStdString() << " in " << files.filePath().toStdString();
    }
    EXPECT_EQ(count, 9); // four files, their renders and case.json

    // A stored file replaced by one that still names the patient is refused, and named.
    const QString stored = storedFiles().first();
    ASSERT_TRUE(QFile::remove(stored) && m_image.write(stored));
    const auto refused = runCli(library() + QStringList{QStringLiteral("export-teaching"), path(QStringLiteral("again"))}, m_home.path());
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("ovalis-cli: refused: ") + stored)) << refused.err.toStdString();
    EXPECT_TRUE(refused.out.startsWith(QStringLiteral("Exported 3 DICOM files"))) << refused.out.toStdString();
}

TEST_F(CliDicomTest, AnImportKilledHalfWayTakesEachImageOnceWhenRunAgain)
{
    // Images large enough that the import is still writing when it is killed.
    TestDicom large = m_image;
    large.rows = 256;
    large.columns = 256;
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("many"))));
    constexpr int count = 400;
    for (int n = 1; n <= count; ++n)
        ASSERT_TRUE(large.instance(2, n).write(path(QStringLiteral("many/%1.dcm").arg(n))));

    QProcess import;
    test::startCli(import, library() + QStringList{QStringLiteral("import-dicom"), path(QStringLiteral("many"))}, m_home.path());
    ASSERT_TRUE(import.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return storedFiles().size() >= 250 || import.state() == QProcess::NotRunning; }, 60000));
    ASSERT_EQ(import.state(), QProcess::Running) << "the import ended before it could be killed";
    ::kill(pid_t(import.processId()), SIGKILL);
    ASSERT_TRUE(import.waitForFinished(10000));

    const auto again = runCli(library() + QStringList{QStringLiteral("import-dicom"), path(QStringLiteral("many"))}, m_home.path());
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    // Some of the images were saved before the kill and are not taken again.
    EXPECT_FALSE(again.out.contains(QStringLiteral("; 0 already in the library"))) << again.out.toStdString();
    const auto stats = runCli(library() + QStringList{QStringLiteral("stats")}, m_home.path());
    EXPECT_TRUE(stats.out.contains(QStringLiteral("Cases: 1\n"))) << stats.out.toStdString();
    EXPECT_TRUE(stats.out.contains(QStringLiteral("Media: %1\n").arg(count))) << stats.out.toStdString();
}

} // namespace
