#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTimeZone>
#include <random>

#include "LibraryViewFixture.h"

using namespace ovalis;
using ovalis::test::LibraryViewFixture;

namespace {

// Counts what a model tells its views.
struct ModelSignals {
    explicit ModelSignals(QAbstractItemModel *model)
        : resets(model, &QAbstractItemModel::modelReset)
        , removals(model, &QAbstractItemModel::rowsRemoved)
        , insertions(model, &QAbstractItemModel::rowsInserted)
        , changes(model, &QAbstractItemModel::dataChanged)
    {
    }
    void clear()
    {
        resets.clear();
        removals.clear();
        insertions.clear();
        changes.clear();
    }
    QSignalSpy resets, removals, insertions, changes;
};

} // namespace

class ResultTableModelTest : public LibraryViewFixture
{
protected:
    // The cases of a populated, settled library, as a model's source.
    QList<ManagedObject *> settledCases(int count)
    {
        populate(count);
        settle();
        QList<ManagedObject *> source;
        for (Case *item : std::as_const(m_cases))
            source.append(item);
        return source;
    }

    // A library whose cases carry a few tags; some have dates of birth.
    void populate(int count)
    {
        for (const char *label : {"Neuro", "Chest", "MSK", "Paeds", "Spine"})
            m_tags.append(newTag(QString::fromLatin1(label)));
        for (int i = 0; i < count; ++i)
            m_cases.append(randomCase());
    }

    Case *randomCase()
    {
        Case *item = newCase(QStringLiteral("ID%1").arg(m_random() % 25, 3, 10, QLatin1Char('0')),
                             QStringLiteral("case %1").arg(m_random() % 100));
        const QDateTime diagnosis(QDate(2021, 3, 1), QTime(9, 0), QTimeZone::utc());
        item->setDateOfDiagnosis(diagnosis);
        if (m_random() % 4)
            item->setDateOfBirth(diagnosis.addDays(-qint64(m_random() % 30000)));
        for (Tag *tag : std::as_const(m_tags))
            if (m_random() % 3 == 0)
                item->addToTags(tag);
        return item;
    }

    // One batch of mixed inserts, deletes, edits and sort-key changes.
    void changeSomeCases()
    {
        for (int i = 0; i < 3; ++i)
            m_cases.append(randomCase());
        for (int i = 0; i < 2 && m_cases.size() > 10; ++i)
            context()->deleteObject(m_cases.takeAt(qsizetype(m_random() % m_cases.size())));
        for (int i = 0; i < 6; ++i) {
            Case *item = m_cases[qsizetype(m_random() % m_cases.size())];
            switch (m_random() % 5) {
            case 0: item->setSummary(QStringLiteral("edited %1").arg(m_random() % 100)); break;
            case 1: item->setPatientID(QStringLiteral("ID%1").arg(m_random() % 25, 3, 10, QLatin1Char('0'))); break;
            case 2: item->setDateOfBirth(item->dateOfDiagnosis().addDays(-qint64(m_random() % 30000))); break;
            case 3: item->addToTags(m_tags[qsizetype(m_random() % m_tags.size())]); break;
            default: item->removeFromTags(m_tags[qsizetype(m_random() % m_tags.size())]); break;
            }
        }
    }

    std::mt19937 m_random{11};
    QList<Tag *> m_tags;
    QList<Case *> m_cases;
};

TEST_F(ResultTableModelTest, BothListsFollowBatchesRowByRowWithoutResets)
{
    populate(200);
    load(CaseTableModel::sortDescriptorsFor(CaseTableModel::PatientIDColumn, Qt::AscendingOrder));
    QAbstractItemModelTester casesTester(controller().casesModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QAbstractItemModelTester tagsTester(controller().tagsModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    ModelSignals cases(controller().casesModel());
    ModelSignals tags(controller().tagsModel());

    // A filtered list (one tag and a search) and then, in the age order, the
    // rows of the live list are not the rows shown.
    const auto check = [&](const char *stage, int round) {
        QList<ManagedObject *> displayed;
        for (Case *item : controller().displayedCases())
            displayed.append(item);
        ASSERT_EQ(controller().casesModel()->rows(), displayed) << stage << " round " << round;
        ASSERT_EQ(controller().tagsModel()->rows(), controller().tagsFetchedResultsController()->fetchedObjects())
            << stage << " round " << round;
        EXPECT_EQ(cases.resets.count(), 0) << stage << " round " << round;
        EXPECT_EQ(tags.resets.count(), 0) << stage << " round " << round;
        EXPECT_TRUE(controller().caseCountText().startsWith(QStringLiteral("Showing %1 ").arg(displayed.size())))
            << stage << " round " << round;
    };
    for (int round = 0; round < 15; ++round) {
        changeSomeCases();
        settle();
        check("unfiltered", round);
    }
    EXPECT_GT(cases.removals.count() + cases.insertions.count(), 0);
    EXPECT_GT(cases.changes.count(), 0);

    m_tags[0]->setActive(true);
    controller().refreshTagActivity();
    controller().setSearchPredicate(LibraryQuery::searchPredicate(QStringLiteral("1"), LibraryQuery::SearchScope::All));
    controller().refreshFilters();
    settle();
    cases.clear();
    tags.clear();
    for (int round = 0; round < 15; ++round) {
        changeSomeCases();
        settle();
        check("filtered", round);
    }

    controller().setCaseSortDescriptors(CaseTableModel::sortDescriptorsFor(CaseTableModel::AgeSexColumn, Qt::DescendingOrder));
    cases.clear();
    tags.clear();
    for (int round = 0; round < 15; ++round) {
        changeSomeCases();
        settle();
        check("age order", round);
        // Placing the changed cases gives the order a full sort gives.
        QList<Case *> sorted;
        for (ManagedObject *object : controller().casesFetchedResultsController()->fetchedObjects())
            sorted.append(static_cast<Case *>(object));
        LibraryQuery::sortByAge(sorted, false);
        ASSERT_EQ(controller().displayedCases(), sorted) << "round " << round;
    }
}

TEST_F(ResultTableModelTest, EditsInTheAgeOrderRedrawTheRowTheCaseIsShownIn)
{
    populate(40);
    load(CaseTableModel::sortDescriptorsFor(CaseTableModel::AgeSexColumn, Qt::AscendingOrder));
    QAbstractItemModelTester tester(controller().casesModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    ModelSignals cases(controller().casesModel());

    // Pick a case whose row in the age order is not its row in the live list.
    Case *edited = nullptr;
    for (Case *item : std::as_const(m_cases))
        if (controller().rowOfCase(item) != controller().casesFetchedResultsController()->indexOf(item)) {
            edited = item;
            break;
        }
    ASSERT_NE(edited, nullptr);
    const int shownRow = controller().rowOfCase(edited);
    edited->setSummary(QStringLiteral("a new summary"));
    settle();
    EXPECT_EQ(cases.resets.count(), 0);
    EXPECT_EQ(cases.removals.count() + cases.insertions.count(), 0);
    ASSERT_EQ(cases.changes.count(), CaseTableModel::ColumnCount);
    for (const QList<QVariant> &change : std::as_const(cases.changes)) {
        EXPECT_EQ(change.at(0).toModelIndex().row(), shownRow);
        EXPECT_EQ(change.at(1).toModelIndex().row(), shownRow);
    }
}

TEST_F(ResultTableModelTest, BatchThatDoesNotDescribeTheSourceEndsInAReset)
{
    QList<ManagedObject *> source = settledCases(5);
    CaseTableModel model;
    model.setSource([&source] { return source; });
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    ModelSignals seen(&model);

    // A correct batch: remove rows 4 and 1, insert a new object at 0.
    Case *added = randomCase();
    source.removeAt(4);
    source.removeAt(1);
    source.prepend(added);
    model.beginUpdates();
    model.removeRows({4, 1});
    model.insertRows({0});
    model.reloadRows({2}, CaseTableModel::SummaryColumn);
    model.endUpdates();
    EXPECT_EQ(model.rows(), source);
    EXPECT_EQ(seen.resets.count(), 0);
    EXPECT_EQ(seen.removals.count(), 2); // rows 4 and 1 are no range
    EXPECT_EQ(seen.insertions.count(), 1);
    EXPECT_EQ(model.objectAtRow(0), added);

    // A batch that misses a change, and one with rows outside the list.
    std::swap(source[0], source[2]);
    model.beginUpdates();
    model.reloadRows({0, 2}, 0);
    model.endUpdates();
    EXPECT_EQ(seen.resets.count(), 1);
    EXPECT_EQ(model.rows(), source);
    source.removeLast();
    model.beginUpdates();
    model.removeRows({17});
    model.endUpdates();
    EXPECT_EQ(seen.resets.count(), 2);
    EXPECT_EQ(model.rows(), source);
    EXPECT_EQ(model.rowOfObject(added), source.indexOf(added));
    EXPECT_EQ(model.objectAtRow(int(source.size())), nullptr);
}

TEST_F(ResultTableModelTest, RowsReloadedAllOverTheListGoOutAsOneSpanAndAFewRunsOneByOne)
{
    QList<ManagedObject *> source = settledCases(40);
    CaseTableModel model;
    model.setSource([&source] { return source; });
    ModelSignals seen(&model);

    // Every third row: one signal from the first to the last, whatever lies between.
    QList<int> scattered;
    for (int row = 1; row < 40; row += 3)
        scattered.append(row);
    model.reloadRows(scattered, CaseTableModel::SummaryColumn);
    ASSERT_EQ(seen.changes.count(), 1);
    EXPECT_EQ(seen.changes.first().at(0).value<QModelIndex>().row(), 1);
    EXPECT_EQ(seen.changes.first().at(1).value<QModelIndex>().row(), 37);
    EXPECT_EQ(seen.changes.first().at(0).value<QModelIndex>().column(), int(CaseTableModel::SummaryColumn));

    // A few runs stay apart, so that a view repaints only them.
    seen.clear();
    model.reloadRows({2, 3, 10, 30, 31}, CaseTableModel::SummaryColumn);
    ASSERT_EQ(seen.changes.count(), 3);
    EXPECT_EQ(seen.changes.at(1).at(0).value<QModelIndex>().row(), 10);
    EXPECT_EQ(seen.changes.at(2).at(1).value<QModelIndex>().row(), 31);
}
