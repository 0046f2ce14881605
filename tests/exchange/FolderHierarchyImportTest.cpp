#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include "exchange/FolderHierarchyImport.h"
#include "ExchangeFixture.h"
#include "store/PersistentStore.h"
#include "util/Log.h"

namespace ovalis::test {
namespace {

class FolderHierarchyImportTest : public ExchangeFixture
{
protected:
    void SetUp() override
    {
        ExchangeFixture::SetUp();
        ASSERT_TRUE(m_tree.isValid());
    }

    // A file at a path relative to the tree; its folders are made.
    QString addFile(const QString &relativePath, const QByteArray &data = "image data")
    {
        const QString path = m_tree.filePath(relativePath);
        EXPECT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return path;
    }

    QString root(const QString &name) const { return m_tree.filePath(name); }

    FolderHierarchyImport::Summary import(const QString &rootFolder)
    {
        bool done = false;
        FolderHierarchyImport::Summary result;
        FolderHierarchyImport::importFolderHierarchy(rootFolder, context(), [&](const auto &summary) {
            result = summary;
            done = true;
        });
        waitFor(done);
        return result;
    }

    Case *caseWithSummary(const QString &summary)
    {
        const QList<Case *> found = fetchCases(QStringLiteral("summary == %@"), {summary});
        EXPECT_EQ(found.size(), 1) << summary.toStdString();
        return found.value(0);
    }

    static QStringList mediaNames(const Case *item)
    {
        QStringList names;
        for (const Media *media : item->sortedMedia())
            names.append(media->fileName());
        return names;
    }

    QTemporaryDir m_tree;
};

TEST_F(FolderHierarchyImportTest, ViewFoldersAreStrippedByTheirPatternsOnly)
{
    const QStringList &patterns = FolderHierarchyImport::viewFolderPatterns();
    ASSERT_EQ(patterns.size(), 22);
    const auto strip = [&](const QString &path) { return FolderHierarchyImport::stripTrailingFolders(path, patterns); };
    EXPECT_EQ(strip(QStringLiteral("/t/Case 1/MRI/sag T1")), QStringLiteral("/t/Case 1"));
    EXPECT_EQ(strip(QStringLiteral("/t/Lesion/sagittal T2")), QStringLiteral("/t/Lesion/sagittal T2"));
    EXPECT_EQ(strip(QStringLiteral("/t/Lesion/pod 3")), QStringLiteral("/t/Lesion/pod 3"));
    EXPECT_EQ(strip(QStringLiteral("/t/Lesion/POD 3")), QStringLiteral("/t/Lesion"));
    EXPECT_EQ(strip(QStringLiteral("/t/Lesion/Day 3")), QStringLiteral("/t/Lesion"));
    EXPECT_EQ(strip(QStringLiteral("/t/Lesion/scan_2")), QStringLiteral("/t/Lesion"));
    EXPECT_EQ(strip(QStringLiteral("/t/Lesion/AXR")), QStringLiteral("/t/Lesion"));
    EXPECT_EQ(strip(QStringLiteral("/t/Lesion/Ultrasound left/Photos")), QStringLiteral("/t/Lesion"));
    EXPECT_EQ(strip(QStringLiteral("/t/Lesion/Coronal")), QStringLiteral("/t/Lesion"));
    EXPECT_EQ(strip(QStringLiteral("/t/Lesion/Coronal T2")), QStringLiteral("/t/Lesion/Coronal T2"));
    // Never above the root.
    EXPECT_EQ(FolderHierarchyImport::stripTrailingFolders(QStringLiteral("/t/CT/MRI"), patterns, QStringLiteral("/t/CT")),
              QStringLiteral("/t/CT"));
    const QStringList caseNumber{FolderHierarchyImport::caseNumberPattern()};
    EXPECT_EQ(FolderHierarchyImport::stripTrailingFolders(QStringLiteral("/t/Meningioma/CASE 12"), caseNumber),
              QStringLiteral("/t/Meningioma"));
    EXPECT_EQ(FolderHierarchyImport::stripTrailingFolders(QStringLiteral("/t/Case 12b"), caseNumber), QStringLiteral("/t/Case 12b"));
    EXPECT_FALSE(FolderHierarchyImport::matches(QStringLiteral("(unclosed"), QStringLiteral("(unclosed")));
}

TEST_F(FolderHierarchyImportTest, ExaminationFoldersOfOneCaseMakeOneCaseWithMediaInPathOrder)
{
    addFile(QStringLiteral("Teaching/Neuro/Medulloblastoma/Case 1/MRI/sag T1/1.jpg"), "first");
    const QString ct = addFile(QStringLiteral("Teaching/Neuro/Medulloblastoma/Case 1/CT/2.png"), "second");
    addFile(QStringLiteral("Teaching/Neuro/Medulloblastoma/Case 1/CT/notes.txt"));
    addFile(QStringLiteral("Teaching/Neuro/Medulloblastoma/Case 1/CT/.DS_Store"));
    // A DICOM file still names its patient; only the DICOM import takes it in.
    addFile(QStringLiteral("Teaching/Neuro/Medulloblastoma/Case 1/CT/IM0001.dcm"));
    QFile ctFile(ct);
    ASSERT_TRUE(ctFile.open(QIODevice::ReadWrite));
    const QDateTime modified(QDate(2018, 4, 5), QTime(6, 7, 8));
    ASSERT_TRUE(ctFile.setFileTime(modified, QFileDevice::FileModificationTime));
    ctFile.close();

    LogCapture log;
    const FolderHierarchyImport::Summary summary = import(root(QStringLiteral("Teaching")));
    EXPECT_EQ(summary.casesImported, 1);
    EXPECT_EQ(summary.mediaCopied, 2);
    ASSERT_EQ(summary.skippedFiles.size(), 2);
    EXPECT_TRUE(summary.skippedFiles.join(' ').contains(QStringLiteral("notes.txt")));
    EXPECT_TRUE(summary.skippedFiles.join(' ').contains(QStringLiteral("IM0001.dcm")));
    ASSERT_EQ(allCases().size(), 1);
    Case *item = caseWithSummary(QStringLiteral("Medulloblastoma"));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->detail(), QStringLiteral("Neuro/Medulloblastoma/Case 1"));
    EXPECT_EQ(labelsOf(item), (QStringList{"Medulloblastoma", "Neuro", "Teaching"}));
    EXPECT_EQ(mediaNames(item), (QStringList{"2.png", "1.jpg"}));
    EXPECT_TRUE(item->sortedMedia().first()->fileExists());
    QFile copy(item->sortedMedia().first()->filePath());
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), QByteArray("second"));
    // The copies went through temporary names; none is left behind.
    QDirIterator media(QFileInfo(copy.fileName()).path(), QDir::Files | QDir::Hidden);
    QStringList names;
    while (media.hasNext())
        names.append(QFileInfo(media.next()).fileName());
    EXPECT_EQ(names, QStringList{QFileInfo(copy.fileName()).fileName()});
    EXPECT_EQ(item->dateModified(), modified);
    EXPECT_TRUE(log.contains(QStringLiteral("Will import 1 from ") + root(QStringLiteral("Teaching"))));
    EXPECT_EQ(progress(), (std::vector<Progress>{{1, 100, QStringLiteral("Preparing…")},
                                                 {1, 1, QStringLiteral("Importing…")},
                                                 {100, 100, QStringLiteral("Fixing tags…")},
                                                 {0, 0, std::nullopt}}));
}

TEST_F(FolderHierarchyImportTest, NamesOfLeavesDecideWhichFoldersAreCases)
{
    addFile(QStringLiteral("Root/Lesion A/sagittal T2/a.jpg"));
    addFile(QStringLiteral("Root/Lesion B/pod 3/b.jpg"));
    addFile(QStringLiteral("Root/Lesion C/Day 3/c.jpg"));
    addFile(QStringLiteral("Root/Lesion D/scan_2/d.jpg"));
    addFile(QStringLiteral("Root/Case 12/e.jpg"));
    addFile(QStringLiteral("Root/Hidden only/.thumbs"));
    addFile(QStringLiteral("Root/Text only/read me.txt"));
    addFile(QStringLiteral("Root/Upper/scan.JPG"));
    ASSERT_TRUE(QDir().mkpath(root(QStringLiteral("Root/Empty"))));
    import(root(QStringLiteral("Root")));

    QStringList summaries;
    for (const Case *item : allCases())
        summaries.append(item->summary() + QLatin1Char('|') + item->detail());
    summaries.sort();
    EXPECT_EQ(summaries, (QStringList{"Lesion C|Lesion C", "Lesion D|Lesion D",
                                      "Root|Case 12", "Text only|Text only", "Upper|Upper", "pod 3|Lesion B/pod 3",
                                      "sagittal T2|Lesion A/sagittal T2"}));
    Case *numbered = caseWithSummary(QStringLiteral("Root"));
    ASSERT_NE(numbered, nullptr);
    EXPECT_EQ(labelsOf(numbered), QStringList{"Root"});
    EXPECT_TRUE(mediaNames(caseWithSummary(QStringLiteral("Text only"))).isEmpty());
    EXPECT_TRUE(mediaNames(caseWithSummary(QStringLiteral("Upper"))).isEmpty());
    EXPECT_EQ(labelsOf(caseWithSummary(QStringLiteral("pod 3"))), (QStringList{"Lesion B", "Root", "pod 3"}));
}

TEST_F(FolderHierarchyImportTest, ARootWithoutSubfoldersIsOneCaseAndStrippingStaysInsideTheRoot)
{
    addFile(QStringLiteral("Loose images/a.jpg"));
    addFile(QStringLiteral("Other/CT chest/MRI/b.jpg"));
    addFile(QStringLiteral("Other/c.jpg"));
    import(root(QStringLiteral("Loose images")));
    Case *loose = caseWithSummary(QStringLiteral("Loose images"));
    ASSERT_NE(loose, nullptr);
    EXPECT_EQ(loose->detail(), root(QStringLiteral("Loose images")));
    EXPECT_EQ(labelsOf(loose), QStringList{"Loose images"});

    // "CT chest" matches a view pattern, but as the chosen root it is the
    // case folder: nothing of "Other" is read.
    import(root(QStringLiteral("Other/CT chest")));
    Case *chest = caseWithSummary(QStringLiteral("CT chest"));
    ASSERT_NE(chest, nullptr);
    EXPECT_EQ(chest->detail(), root(QStringLiteral("Other/CT chest")));
    EXPECT_EQ(mediaNames(chest), QStringList{"b.jpg"});
    EXPECT_EQ(labelsOf(chest), QStringList{"CT chest"});
}

TEST_F(FolderHierarchyImportTest, TagWalkStopsAtAFolderNamedLikeTheRootAndSymbolicLinksAreNotFollowed)
{
    addFile(QStringLiteral("Teaching/Chest/Teaching/Pneumonia/a.jpg"));
    addFile(QStringLiteral("Elsewhere/Secret/s.jpg"));
    ASSERT_TRUE(QFile::link(root(QStringLiteral("Elsewhere")), root(QStringLiteral("Teaching/Linked"))));
    ASSERT_TRUE(QFile::link(root(QStringLiteral("Teaching")), root(QStringLiteral("Teaching/Chest/Loop"))));
    import(root(QStringLiteral("Teaching")));
    ASSERT_EQ(allCases().size(), 1);
    Case *item = caseWithSummary(QStringLiteral("Pneumonia"));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(labelsOf(item), (QStringList{"Pneumonia", "Teaching"}));
}

TEST_F(FolderHierarchyImportTest, CaseTagsMadeByTheRunAreRemovedButTheUsersOwnStay)
{
    newTag(QStringLiteral("Case studies"));
    context()->saveWithParent(true);
    addFile(QStringLiteral("Case studies/Cases/Lung/a.jpg"));
    addFile(QStringLiteral("Case studies/cases 2/Liver/b.jpg"));
    import(root(QStringLiteral("Case studies")));
    EXPECT_EQ(tagLabels(), (QStringList{"Case studies", "Liver", "Lung"}));
    EXPECT_EQ(labelsOf(caseWithSummary(QStringLiteral("Lung"))), (QStringList{"Case studies", "Lung"}));

    // A run without case folders deletes nothing.
    ASSERT_TRUE(QDir().mkpath(root(QStringLiteral("Nothing here/Case 1"))));
    import(root(QStringLiteral("Nothing here")));
    EXPECT_EQ(tagLabels(), (QStringList{"Case studies", "Liver", "Lung"}));
    EXPECT_EQ(progress().back(), (Progress{0, 0, std::nullopt}));
}

TEST_F(FolderHierarchyImportTest, TheHundredthCaseFolderSavesOnTheWay)
{
    const auto savesFor = [&](const QString &name, int folders) {
        for (int i = 0; i < folders; ++i)
            addFile(QStringLiteral("%1/Case folder %2/notes.txt").arg(name).arg(i, 3, 10, QLatin1Char('0')));
        // Each save that reaches the file is one transaction of its history.
        PersistentStore *store = context()->persistentStore();
        const qsizetype before = store->historySince(0, false).size();
        import(root(name));
        return int(store->historySince(0, false).size() - before);
    };
    EXPECT_EQ(savesFor(QStringLiteral("Ninety-nine"), 99), 1);
    EXPECT_EQ(savesFor(QStringLiteral("Hundred and one"), 101), 2);
    EXPECT_EQ(allCases().size(), 200);
}

} // namespace
} // namespace ovalis::test
