#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <random>
#include <thread>

#include "exchange/FolderHierarchyImport.h"
#include "exchange/JSONImporter.h"
#include "store/LibraryNotifications.h"
#include "LibraryViewFixture.h"
#include "support/EncodedImage.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"

using namespace ovalis;
using ovalis::test::LibraryViewFixture;
using Scope = LibraryQuery::SearchScope;

class LibraryWithTagsViewControllerTest : public LibraryViewFixture
{
protected:
    // The definition of the second degree, one fetch per tag.
    static bool hasActiveCasesByDefinition(Tag *tag)
    {
        if (Tag::activeTags(tag->managedObjectContext()).isEmpty())
            return true;
        return !tag->casesTaggedWithThisAndActiveTags().isEmpty();
    }
};

TEST_F(LibraryWithTagsViewControllerTest, SetUpListsEveryCaseAndTagWithTheirLogLines)
{
    Tag *a = newTag(QStringLiteral("A"));
    newTag(QStringLiteral("b"));
    newTag(QStringLiteral("C"));
    taggedCase(QStringLiteral("P1"), {a});
    newCase(QStringLiteral("P2"));
    LogCapture log;
    load({{QStringLiteral("patientID"), true}});

    EXPECT_TRUE(log.contains(QStringLiteral("Set up Cases FRC")));
    EXPECT_TRUE(log.contains(QStringLiteral("Set up Tags FRC")));
    EXPECT_TRUE(log.contains(QStringLiteral("Update UI for tags FRC changed")));
    EXPECT_TRUE(log.contains(QStringLiteral("Update UI for cases FRC changed")));
    EXPECT_EQ(controller().casesFetchedResultsController()->cacheName(), QStringLiteral("Library cases with tags cache"));
    EXPECT_EQ(controller().tagsFetchedResultsController()->cacheName(), QStringLiteral("Tags cache"));
    EXPECT_EQ(displayedIDs(), (QStringList{QStringLiteral("P1"), QStringLiteral("P2")}));
    EXPECT_EQ(listedTagLabels(), (QStringList{QStringLiteral("A"), QStringLiteral("b"), QStringLiteral("C")}));
    EXPECT_TRUE(controller().tagPredicate().isNull());
}

TEST_F(LibraryWithTagsViewControllerTest, ASearchLeavesTheTagListInPlaceAndItsCountsFollowTheActiveTags)
{
    Tag *a = newTag(QStringLiteral("A"));
    Tag *b = newTag(QStringLiteral("B"));
    taggedCase(QStringLiteral("P1"), {a, b}, QStringLiteral("smith"));
    taggedCase(QStringLiteral("P2"), {a});
    taggedCase(QStringLiteral("P3"), {b});
    load({{QStringLiteral("patientID"), true}});
    controller().viewWillAppear();
    TagTableModel *model = controller().tagsModel();
    const auto count = [&](Tag *tag) {
        return model->data(model->index(model->rowOfObject(tag), TagTableModel::CountColumn)).toString();
    };
    ASSERT_EQ(count(b), Tag::countText(2));

    // Searching lists other cases but the same tags: the tag list is not
    // fetched and laid out again for every keystroke.
    QSignalSpy resets(model, &QAbstractItemModel::modelReset);
    search(QStringLiteral("smi"));
    search(QStringLiteral("smith"));
    EXPECT_EQ(displayedIDs(), QStringList{QStringLiteral("P1")});
    EXPECT_EQ(resets.count(), 0);

    // A, which every tag shares a case with, switched on: the same tags are
    // listed, but B now counts only the cases that carry A too.
    search(QString());
    controller().toggleTagFiltering(model->rowOfObject(a));
    EXPECT_EQ(listedTagLabels(), (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
    EXPECT_EQ(count(b), Tag::countText(1));
    EXPECT_EQ(count(a), Tag::countText(2));
}

TEST_F(LibraryWithTagsViewControllerTest, SearchMatchesAnyScopeKeyIgnoringCaseAndAccentsAndKeepsTheTagFilter)
{
    Tag *a = newTag(QStringLiteral("A"));
    taggedCase(QStringLiteral("S1"), {a}, QStringLiteral("Mr Smith's knee"));
    newCase(QStringLiteral("S2"))->setDetail(QStringLiteral("Referred by Dr SMITH."));
    newCase(QStringLiteral("smíth-3"));
    taggedCase(QStringLiteral("J1"), {a}, QStringLiteral("Jones"));
    newCase(QStringLiteral("J2"), QStringLiteral("Smyth"));
    load({{QStringLiteral("patientID"), true}});

    search(QStringLiteral("smith"));
    EXPECT_EQ(displayedIDs(), (QStringList{QStringLiteral("S1"), QStringLiteral("S2"), QStringLiteral("smíth-3")}));
    search(QStringLiteral("SMITH"), Scope::Summary);
    EXPECT_EQ(displayedIDs(), QStringList{QStringLiteral("S1")});
    search(QStringLiteral("Smith"), Scope::PatientIdentifier);
    EXPECT_EQ(displayedIDs(), QStringList{QStringLiteral("smíth-3")});

    a->setActive(true);
    controller().refreshTagActivity();
    search(QStringLiteral("smith"));
    EXPECT_EQ(displayedIDs(), QStringList{QStringLiteral("S1")});
    EXPECT_TRUE(controller().casePredicate().format().contains(QStringLiteral("ANY tags.label == \"A\"")));

    // Emptying the search removes the term; the tag filter stays.
    search(QString());
    EXPECT_TRUE(controller().searchPredicate().isNull());
    EXPECT_EQ(displayedIDs(), (QStringList{QStringLiteral("J1"), QStringLiteral("S1")}));
}

TEST_F(LibraryWithTagsViewControllerTest, ActiveTagsCombineAndShrinkTheTagList)
{
    // New tags post "Updated Tag", which refreshes the activity.
    controller().viewWillAppear();
    Tag *a = newTag(QStringLiteral("A"));
    Tag *b = newTag(QStringLiteral("B"));
    Tag *c = newTag(QStringLiteral("C"));
    Tag *d = newTag(QStringLiteral("D"));
    taggedCase(QStringLiteral("AB"), {a, b});
    taggedCase(QStringLiteral("ABC"), {a, b, c});
    taggedCase(QStringLiteral("AD"), {a, d});
    taggedCase(QStringLiteral("BD"), {b, d});
    load({{QStringLiteral("patientID"), true}});

    // Nothing active: every case, every tag, each with active cases.
    EXPECT_EQ(displayedIDs().size(), 4);
    EXPECT_EQ(listedTagLabels().size(), 4);
    for (Tag *tag : {a, b, c, d})
        EXPECT_TRUE(tag->hasActiveCases());

    LogCapture log;
    controller().toggleTagActivity(tagRow(a));
    controller().toggleTagActivity(tagRow(b));
    EXPECT_EQ(displayedIDs(), (QStringList{QStringLiteral("AB"), QStringLiteral("ABC")}));
    EXPECT_EQ(listedTagLabels(), (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));
    EXPECT_FALSE(d->hasActiveCases());
    EXPECT_TRUE(log.contains(QStringLiteral("Update tags FRC predicate (3")));
    EXPECT_TRUE(log.containsPrefix(QStringLiteral("Compound tags/search predicate =\r")));

    // No case carries A, B and D: no case, and the tag list collapses to every tag.
    ASSERT_EQ(tagRow(d), -1);
    d->setActive(true);
    controller().refreshTagActivity();
    controller().refreshFilters();
    EXPECT_TRUE(displayedIDs().isEmpty());
    EXPECT_TRUE(controller().tagPredicate().isNull());
    EXPECT_EQ(listedTagLabels().size(), 4);

    // Double-clicking an active tag switches it off and brings back its cases.
    controller().toggleTagActivity(tagRow(d));
    controller().toggleTagActivity(tagRow(b));
    EXPECT_FALSE(b->active());
    EXPECT_EQ(displayedIDs(), (QStringList{QStringLiteral("AB"), QStringLiteral("ABC"), QStringLiteral("AD")}));
    // Every tag occurs with A: the predicate would list all of them, so it is none.
    EXPECT_TRUE(controller().tagPredicate().isNull());

    // No row selected: nothing happens.
    log.clear();
    controller().toggleTagActivity(-1);
    EXPECT_TRUE(log.entries().isEmpty());
    controller().toggleTagActivity(99);
    EXPECT_TRUE(log.contains(QStringLiteral("Can't get tag from array"), LogLevel::Error));
}

TEST_F(LibraryWithTagsViewControllerTest, TagActivityInOnePassEqualsTheDefinitionPerTag)
{
    // Duplicate labels, a tag without a label, one with an empty label,
    // cases without tags, and unsaved changes on top of saved ones.
    std::mt19937 random(7);
    const QList<Tag *> tags = tagsWithAwkwardLabels({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                                                     QStringLiteral("D"), QStringLiteral("E")});
    QList<Case *> cases = savedRandomlyTaggedCases(40, tags, random, 4);
    for (int i = 0; i < 10; ++i) // unsaved re-tagging
        cases[random() % cases.size()]->addToTags(tags[random() % tags.size()]);
    cases[3]->removeFromTags(tags[0]);
    load();

    // Rounds with the tagging edited in memory, then saved (only activity
    // flags changed since), then a renamed tag.
    for (int round = 0; round < 60; ++round) {
        if (round == 20)
            context()->saveWithParent(false);
        if (round == 40)
            tags[2]->setLabel(QStringLiteral("B"));
        for (Tag *tag : tags)
            tag->setActive(random() % 5 == 0);
        controller().refreshTagActivity();
        for (Tag *tag : tags)
            EXPECT_EQ(tag->hasActiveCases(), hasActiveCasesByDefinition(tag))
                << "round " << round << ", tag " << tag->description().toStdString();
    }
}

TEST_F(LibraryWithTagsViewControllerTest, FilterTagsToSelectionActivatesExactlyTheSelectedCasesTags)
{
    Tag *a = newTag(QStringLiteral("A"));
    Tag *b = newTag(QStringLiteral("B"));
    Tag *c = newTag(QStringLiteral("C"));
    Case *onlyA = taggedCase(QStringLiteral("1-A"), {a});
    Case *ab = taggedCase(QStringLiteral("2-AB"), {a, b});
    taggedCase(QStringLiteral("3-ABC"), {a, b, c});
    taggedCase(QStringLiteral("4-C"), {c});
    Case *untagged = newCase(QStringLiteral("5-none"));
    c->setActive(true);
    load({{QStringLiteral("patientID"), true}});
    controller().viewWillAppear();
    controller().refreshTagActivity();
    controller().refreshFilters();
    EXPECT_EQ(displayedIDs(), (QStringList{QStringLiteral("3-ABC"), QStringLiteral("4-C")}));

    c->setActive(false);
    controller().refreshTagActivity();
    controller().refreshFilters();
    select({onlyA, ab});
    controller().filterTagsToSelection();
    EXPECT_TRUE(a->active() && b->active());
    EXPECT_FALSE(c->active());
    // "Updated Tag Activity" re-queried both lists before the command returned.
    EXPECT_EQ(displayedIDs(), (QStringList{QStringLiteral("2-AB"), QStringLiteral("3-ABC")}));
    EXPECT_EQ(selectedIDs(), QStringList{QStringLiteral("2-AB")}); // 1-A is no longer listed

    // No selection, or selected cases without tags, clear every filter.
    controller().selectCaseRows({});
    controller().filterTagsToSelection();
    settle();
    for (Tag *tag : {a, b, c}) {
        EXPECT_FALSE(tag->active());
        EXPECT_TRUE(tag->hasActiveCases());
    }
    EXPECT_EQ(displayedIDs().size(), 5);
    select({untagged});
    a->setActive(true);
    controller().filterTagsToSelection();
    settle();
    EXPECT_FALSE(a->active());
    EXPECT_EQ(displayedIDs().size(), 5);
}

TEST_F(LibraryWithTagsViewControllerTest, TagNotificationsRunOnTheMainThreadUntilTheObserversAreTornDown)
{
    Tag *a = newTag(QStringLiteral("A"));
    Tag *b = newTag(QStringLiteral("B"));
    Case *ab = taggedCase(QStringLiteral("AB"), {b, a});
    taggedCase(QStringLiteral("B"), {b});
    load({{QStringLiteral("patientID"), true}});
    controller().viewWillAppear();
    QSignalSpy detail(&controller(), &LibraryWithTagsViewController::detailTagLabelsChanged);

    // Context menu: "Updated Tag Activity" re-queries before the post returns.
    controller().toggleTagFiltering(tagRow(a));
    EXPECT_EQ(displayedIDs(), QStringList{QStringLiteral("AB")});

    // "Updated Tag" refreshes the activity and gives the detail side the labels
    // of the one selected case, sorted; an empty list without a single selection.
    select({ab});
    a->setActive(false);
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedTag);
    EXPECT_TRUE(detail.isEmpty());
    settle();
    ASSERT_EQ(detail.count(), 1);
    EXPECT_EQ(detail.takeFirst().at(0).toStringList(), (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
    controller().selectCaseRows({});
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedTagFromDetail);
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedTag);
    settle();
    ASSERT_EQ(detail.count(), 1);
    EXPECT_TRUE(detail.takeFirst().at(0).toStringList().isEmpty());

    // Posted from another thread: handled later, on the main thread.
    a->setActive(false);
    controller().refreshTagActivity();
    std::thread([] { NotificationCenter::defaultCenter().post(LibraryNotifications::updatedTagActivity); }).join();
    EXPECT_EQ(displayedIDs(), QStringList{QStringLiteral("AB")});
    settle();
    EXPECT_EQ(displayedIDs().size(), 2);

    // Posted before the view left the screen, delivered after: dropped; and
    // nothing is heard afterwards.
    a->setActive(true);
    controller().refreshTagActivity();
    select({ab});
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedTag);
    std::thread([] { NotificationCenter::defaultCenter().post(LibraryNotifications::updatedTagActivity); }).join();
    LogCapture log;
    controller().viewDidDisappear();
    EXPECT_TRUE(log.contains(QStringLiteral("Tear down observers")));
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedTagActivity);
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedTag);
    settle();
    EXPECT_EQ(displayedIDs().size(), 2);
    EXPECT_TRUE(detail.isEmpty());

    // Back on screen, it listens again.
    controller().viewWillAppear();
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedTagActivity);
    EXPECT_EQ(displayedIDs(), QStringList{QStringLiteral("AB")});
}

TEST_F(LibraryWithTagsViewControllerTest, SelectionSurvivesReQueriesAndDroppedCasesAreDeselectedSilently)
{
    QList<Case *> cases;
    for (int i = 0; i < 30; ++i)
        cases.append(newCase(QStringLiteral("P%1").arg(i, 2, 10, QLatin1Char('0')),
                             i % 3 == 0 ? QStringLiteral("knee") : QStringLiteral("hip")));
    load({{QStringLiteral("patientID"), true}});
    QSignalSpy scroll(&controller(), &LibraryWithTagsViewController::scrollToCaseRowRequested);

    select({cases[27], cases[4], cases[3]});
    EXPECT_EQ(selectedIDs(), (QStringList{QStringLiteral("P03"), QStringLiteral("P04"), QStringLiteral("P27")}));
    LogCapture log;
    search(QStringLiteral("knee"));
    // P04 is gone; P03 and P27 are now rows 1 and 9.
    EXPECT_EQ(selectedIDs(), (QStringList{QStringLiteral("P03"), QStringLiteral("P27")}));
    EXPECT_FALSE(log.contains(QStringLiteral("Can't get case from array")));
    const QList<LogCapture::Entry> entries = log.entries();
    EXPECT_EQ(std::count_if(entries.cbegin(), entries.cend(), [](const LogCapture::Entry &e) { return e.level == LogLevel::Error; }), 0);
    // The scroll waits for the main loop, then goes to the last selected row.
    scroll.clear();
    settle();
    ASSERT_FALSE(scroll.isEmpty());
    EXPECT_EQ(scroll.last().at(0).toInt(), 9);

    search(QString());
    EXPECT_EQ(selectedIDs(), (QStringList{QStringLiteral("P03"), QStringLiteral("P27")}));

    // A sort change keeps the same cases selected in their new rows.
    controller().setCaseSortDescriptors({{QStringLiteral("patientID"), false}});
    EXPECT_EQ(displayedIDs().first(), QStringLiteral("P29"));
    EXPECT_EQ(selectedIDs(), (QStringList{QStringLiteral("P27"), QStringLiteral("P03")}));

    // Everything selected, then a search that keeps a third.
    QList<int> all;
    for (int row = 0; row < 30; ++row)
        all.append(row);
    controller().selectCaseRows(all);
    search(QStringLiteral("knee"));
    EXPECT_EQ(controller().selectedCases().size(), 10);

    // No selected case listed any more: nothing selected, no scroll.
    controller().selectCaseRows({0});
    search(QStringLiteral("no such text"));
    EXPECT_TRUE(controller().selectedCases().isEmpty());
    scroll.clear();
    settle();
    EXPECT_TRUE(scroll.isEmpty());

    EXPECT_EQ(controller().caseAtRow(0), nullptr);
    EXPECT_TRUE(log.contains(QStringLiteral("Can't get case from array"), LogLevel::Error));
}

TEST_F(LibraryWithTagsViewControllerTest, AgeOrderSortsByAgeAtDiagnosisWithIdentifiersAscendingOnTies)
{
    const QDateTime diagnosis(QDate(2020, 6, 1), QTime(12, 0), QTimeZone::utc());
    const auto withAge = [&](const QString &id, int years) {
        Case *item = newCase(id);
        item->setDateOfDiagnosis(diagnosis);
        item->setDateOfBirth(diagnosis.addYears(-years));
        return item;
    };
    withAge(QStringLiteral("b-40"), 40);
    withAge(QStringLiteral("C-40"), 40);
    withAge(QStringLiteral("a-40"), 40);
    Case *young = withAge(QStringLiteral("z-5"), 5);
    withAge(QStringLiteral("y-70"), 70);
    newCase(QStringLiteral("n-nodates"));
    newCase(QStringLiteral("m-nodates"));
    load({{QStringLiteral("patientID"), true}});

    LogCapture log;
    controller().setCaseSortDescriptors(CaseTableModel::sortDescriptorsFor(CaseTableModel::AgeSexColumn, Qt::AscendingOrder));
    EXPECT_TRUE(log.contains(QStringLiteral("Sort descriptors changed to [(dateOfBirth, ascending, compare:)]")));
    EXPECT_TRUE(controller().usesAgeOrder());
    const QStringList ascending{QStringLiteral("m-nodates"), QStringLiteral("n-nodates"), QStringLiteral("z-5"),
                                QStringLiteral("a-40"),      QStringLiteral("b-40"),      QStringLiteral("C-40"),
                                QStringLiteral("y-70")};
    EXPECT_EQ(displayedIDs(), ascending);
    EXPECT_EQ(controller().casesModel()->rows().size(), ascending.size());
    EXPECT_EQ(controller().casesModel()->caseAtRow(2), young);

    controller().setCaseSortDescriptors(CaseTableModel::sortDescriptorsFor(CaseTableModel::AgeSexColumn, Qt::DescendingOrder));
    EXPECT_EQ(displayedIDs(), (QStringList{QStringLiteral("y-70"), QStringLiteral("a-40"), QStringLiteral("b-40"),
                                           QStringLiteral("C-40"), QStringLiteral("z-5"), QStringLiteral("m-nodates"),
                                           QStringLiteral("n-nodates")}));

    // Still in the age order after a re-query, and after a store change.
    search(QStringLiteral("40"));
    EXPECT_EQ(displayedIDs(), (QStringList{QStringLiteral("a-40"), QStringLiteral("b-40"), QStringLiteral("C-40")}));
    search(QString());
    young->setDateOfBirth(diagnosis.addYears(-90));
    settle();
    EXPECT_EQ(displayedIDs().first(), QStringLiteral("z-5"));
    EXPECT_EQ(controller().casesModel()->caseAtRow(0), young);
    // A new identifier moves a case among those of its age.
    static_cast<Case *>(controller().casesModel()->caseAtRow(2))->setPatientID(QStringLiteral("D-40"));
    settle();
    EXPECT_EQ(displayedIDs().mid(2, 3), (QStringList{QStringLiteral("b-40"), QStringLiteral("C-40"), QStringLiteral("D-40")}));

    // Leaving the age order sorts the live list again.
    controller().setCaseSortDescriptors(CaseTableModel::sortDescriptorsFor(CaseTableModel::PatientIDColumn, Qt::AscendingOrder));
    EXPECT_FALSE(controller().usesAgeOrder());
    EXPECT_EQ(displayedIDs().first(), QStringLiteral("b-40"));
}

TEST_F(LibraryWithTagsViewControllerTest, CountTextFollowsTheListedCases)
{
    newCase(QStringLiteral("one"), QStringLiteral("unique"));
    newCase(QStringLiteral("two"), QStringLiteral("common"));
    newCase(QStringLiteral("three"), QStringLiteral("common"));
    QSignalSpy count(&controller(), &LibraryWithTagsViewController::caseCountChanged);
    load();
    ASSERT_FALSE(count.isEmpty());
    EXPECT_EQ(count.last().at(0).toString(), QStringLiteral("Showing 3 cases"));
    search(QStringLiteral("unique"));
    EXPECT_EQ(count.last().at(0).toString(), QStringLiteral("Showing 1 case"));
    EXPECT_EQ(controller().caseCountText(), QStringLiteral("Showing 1 case"));
    search(QStringLiteral("nothing"));
    EXPECT_EQ(count.last().at(0).toString(), QStringLiteral("Showing 0 cases"));

    // A store change counts again once its batch is applied.
    search(QString());
    newCase(QStringLiteral("four"));
    settle();
    EXPECT_EQ(count.last().at(0).toString(), QStringLiteral("Showing 4 cases"));
}

TEST_F(LibraryWithTagsViewControllerTest, BatchesKeepTheSelectionAndTagLabelsAreSortedPlainly)
{
    Tag *zebra = newTag(QStringLiteral("zebra"));
    Tag *apple = newTag(QStringLiteral("Apple"));
    Tag *unlabelled = newTag(QString());
    Case *first = taggedCase(QStringLiteral("B"), {zebra, apple, unlabelled});
    Case *second = newCase(QStringLiteral("D"));
    load({{QStringLiteral("patientID"), true}});
    EXPECT_EQ(LibraryWithTagsViewController::tagLabelsSorted(first), (QStringList{QStringLiteral("Apple"), QStringLiteral("zebra")}));
    EXPECT_TRUE(LibraryWithTagsViewController::tagLabelsSorted(nullptr).isEmpty());

    select({second, first});
    newCase(QStringLiteral("A"));
    newCase(QStringLiteral("C"));
    settle();
    EXPECT_EQ(displayedIDs(), (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D")}));
    EXPECT_EQ(selectedIDs(), (QStringList{QStringLiteral("B"), QStringLiteral("D")}));
    context()->deleteObject(first);
    settle();
    EXPECT_EQ(selectedIDs(), QStringList{QStringLiteral("D")});
}

class ArrivingTagsTest : public LibraryViewFixture
{
protected:
    static void waitFor(const bool &done)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 60000)) << "the background run did not finish";
    }

    // Every tag of the library by label, and whether the tag list dims it.
    QStringList dimmedLabels()
    {
        settle();
        QStringList dimmed;
        TagTableModel *model = controller().tagsModel();
        for (ManagedObject *object : context()->arrayOfObjects(Tag::entityName())) {
            auto *tag = static_cast<Tag *>(object);
            const int row = model->rowOfObject(tag);
            EXPECT_GE(row, 0) << tag->label().toStdString();
            if (!tag->hasActiveCases() || model->data(model->index(row, TagTableModel::LabelColumn), Qt::ForegroundRole).isValid())
                dimmed.append(tag->label());
        }
        return dimmed;
    }

    // Imports a folder tree whose one case folder lies under Teaching/<region>/<finding>.
    void importTree(const QString &region, const QString &finding)
    {
        QTemporaryDir tree;
        const QString folder = QStringLiteral("Teaching/%1/%2").arg(region, finding);
        ASSERT_TRUE(QDir(tree.path()).mkpath(folder));
        QFile image(tree.filePath(folder + QStringLiteral("/a.jpg")));
        ASSERT_TRUE(image.open(QIODevice::WriteOnly));
        image.write(test::encodedImage(QSize(4, 4), Qt::gray));
        image.close();
        bool imported = false;
        FolderHierarchyImport::importFolderHierarchy(tree.filePath(QStringLiteral("Teaching")), context(),
                                                     [&](const auto &) { imported = true; });
        waitFor(imported);
        settle();
    }
};

TEST_F(ArrivingTagsTest, ArrivingTagsLeaveAnUnfilteredTagListAsItIsAndAreWeighedAgainstAFilter)
{
    Tag *kept = newTag(QStringLiteral("Kept"));
    taggedCase(QStringLiteral("P1"), {kept});
    context()->saveWithParent(false);
    load();
    controller().viewWillAppear();
    controller().refreshTagActivity();
    settle();

    // Without a filter the new tags join the listed ones in place: the list is
    // not fetched and laid out again for each batch of an import.
    QSignalSpy resets(controller().tagsModel(), &QAbstractItemModel::modelReset);
    importTree(QStringLiteral("Chest"), QStringLiteral("Pneumothorax"));
    EXPECT_EQ(context()->countOfObjects(Tag::entityName()), 4);
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(dimmedLabels(), QStringList());

    // With a tag switched on, a new tag that shares no case with it has no
    // active cases and stays out of the filtered tag list.
    controller().toggleTagFiltering(controller().tagsModel()->rowOfObject(kept));
    settle();
    importTree(QStringLiteral("Abdomen"), QStringLiteral("Appendicitis"));
    EXPECT_EQ(context()->countOfObjects(Tag::entityName()), 6);
    QStringList listed;
    for (int row = 0; row < controller().tagsModel()->rowCount(); ++row)
        listed.append(controller().tagsModel()->tagAtRow(row)->label());
    EXPECT_EQ(listed, QStringList{QStringLiteral("Kept")});
    for (ManagedObject *object : context()->arrayOfObjects(Tag::entityName())) {
        auto *tag = static_cast<Tag *>(object);
        EXPECT_EQ(tag->hasActiveCases(), tag == kept) << tag->label().toStdString();
    }
}

TEST_F(ArrivingTagsTest, TagsFromAFolderImportOrARestoreAreNotDimmedWithoutAFilter)
{
    taggedCase(QStringLiteral("P1"), {newTag(QStringLiteral("Kept"))});
    context()->saveWithParent(false);
    load();
    controller().viewWillAppear();
    controller().refreshTagActivity(); // as the window does when it opens
    ASSERT_TRUE(dimmedLabels().isEmpty());

    // A folder tree: its tags are made on a worker thread and arrive with its save.
    importTree(QStringLiteral("Chest"), QStringLiteral("Pneumothorax"));
    EXPECT_EQ(context()->countOfObjects(Tag::entityName()), 4);
    EXPECT_EQ(dimmedLabels(), QStringList());

    // A backup of the library restored into an emptied one: every tag is new again.
    QTemporaryDir folder;
    const QString backup = folder.filePath(QStringLiteral("backup.json"));
    ASSERT_TRUE(JSONImporter(QUrl::fromLocalFile(backup)).exportDatabase(context()).error.isEmpty());
    for (const QString &entity : {Case::entityName(), Tag::entityName()})
        for (ManagedObject *object : context()->arrayOfObjects(entity))
            context()->deleteObject(object);
    context()->saveWithParent(false);
    settle();
    ASSERT_EQ(context()->countOfObjects(Tag::entityName()), 0);
    bool restored = false;
    JSONImporter(QUrl::fromLocalFile(backup)).importBackup(context(), [&](const auto &) { restored = true; });
    waitFor(restored);
    EXPECT_EQ(context()->countOfObjects(Tag::entityName()), 4);
    EXPECT_EQ(dimmedLabels(), QStringList());
}
