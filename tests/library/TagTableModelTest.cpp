#include <QAbstractItemModelTester>
#include <QFont>
#include <random>

#include "LibraryViewFixture.h"
#include "library/ValueTransformer.h"

using namespace ovalis;
using ovalis::test::LibraryViewFixture;

class TagTableModelTest : public LibraryViewFixture
{
};

TEST_F(TagTableModelTest, ActiveTagsStandOutAndTagsWithoutActiveCasesAreDimmed)
{
    controller().viewWillAppear(); // new tags refresh the activity
    Tag *active = newTag(QStringLiteral("Active"));
    Tag *together = newTag(QStringLiteral("Together"));
    Tag *apart = newTag(QStringLiteral("Apart"));
    taggedCase(QStringLiteral("1"), {active, together});
    taggedCase(QStringLiteral("2"), {active, together});
    taggedCase(QStringLiteral("3"), {apart});
    load();
    TagTableModel *model = controller().tagsModel();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const auto data = [&](Tag *tag, int column, int role) { return model->data(model->index(model->rowOfObject(tag), column), role); };

    // Nothing active: plain labels and every tag's own count.
    EXPECT_EQ(data(together, TagTableModel::CountColumn, Qt::DisplayRole).toString(), QStringLiteral("2"));
    EXPECT_EQ(data(apart, TagTableModel::CountColumn, Qt::DisplayRole).toString(), QStringLiteral("1"));
    EXPECT_FALSE(data(apart, TagTableModel::LabelColumn, Qt::ForegroundRole).isValid());
    EXPECT_FALSE(data(active, TagTableModel::LabelColumn, Qt::FontRole).isValid());

    controller().toggleTagActivity(model->rowOfObject(active));
    // The list shrank to the tags on cases with "Active"; show every tag to see "Apart".
    EXPECT_EQ(model->rowOfObject(apart), -1);
    EXPECT_EQ(data(active, TagTableModel::LabelColumn, Qt::DisplayRole).toString(), QStringLiteral("Active"));
    EXPECT_TRUE(data(active, TagTableModel::LabelColumn, Qt::FontRole).value<QFont>().bold());
    EXPECT_EQ(data(active, TagTableModel::LabelColumn, Qt::ForegroundRole).value<QColor>(), ValueTransformer::accentLabelColor());
    EXPECT_FALSE(data(together, TagTableModel::LabelColumn, Qt::ForegroundRole).isValid());
    EXPECT_EQ(data(together, TagTableModel::CountColumn, Qt::DisplayRole).toString(), QStringLiteral("2"));

    // A case that leaves "Together" changes its count once the batch is applied.
    together->removeFromCases(together->cases().first());
    settle();
    EXPECT_EQ(data(together, TagTableModel::CountColumn, Qt::DisplayRole).toString(), QStringLiteral("1"));

    controller().tagsFetchedResultsController()->setPredicate(Predicate());
    model->reload();
    EXPECT_EQ(data(apart, TagTableModel::LabelColumn, Qt::ForegroundRole).value<QColor>(),
              ValueTransformer::secondaryLabelColor());
    EXPECT_EQ(data(apart, TagTableModel::CountColumn, Qt::DisplayRole).toString(), QStringLiteral("0"));

    // Saved, the store counts; a new case shows once its batch is applied.
    context()->saveWithParent(false);
    model->reload();
    EXPECT_EQ(data(together, TagTableModel::CountColumn, Qt::DisplayRole).toString(), QStringLiteral("1"));
    taggedCase(QStringLiteral("4"), {active, together});
    settle();
    EXPECT_EQ(data(together, TagTableModel::CountColumn, Qt::DisplayRole).toString(), QStringLiteral("2"));
}

TEST_F(TagTableModelTest, CountsMadeTogetherEqualEachTagsOwnCount)
{
    // Duplicate labels, a tag without a label, one with an empty label, and
    // tagging edited after the last save.
    std::mt19937 random(3);
    const QList<Tag *> tags = tagsWithAwkwardLabels({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")});
    QList<Case *> cases = savedRandomlyTaggedCases(30, tags, random, 3);
    load();
    TagTableModel *model = controller().tagsModel();
    for (int round = 0; round < 20; ++round) {
        cases[random() % cases.size()]->addToTags(tags[random() % tags.size()]);
        cases[random() % cases.size()]->removeFromTags(tags[random() % tags.size()]);
        if (round % 7 == 3)
            context()->deleteObject(cases.takeAt(random() % cases.size()));
        for (Tag *tag : tags)
            tag->setActive(random() % 4 == 0);
        controller().refreshTagActivity();
        controller().refreshFilters();
        settle();
        for (int row = 0; row < model->rowCount(); ++row)
            EXPECT_EQ(model->data(model->index(row, TagTableModel::CountColumn)).toString(),
                      model->tagAtRow(row)->numberOfCasesTaggedWithThisAndActiveTagsString())
                << "round " << round << ", " << model->tagAtRow(row)->description().toStdString();
    }
}

TEST_F(TagTableModelTest, ABatchOfScatteredTagsIsCountedOnceHoweverOftenAViewAsks)
{
    // Forty tags; every other one gains a case in one batch, so the batch
    // reloads twenty scattered rows. A view sizing the count column to its
    // contents reads every row's count after each change it hears of.
    QList<Tag *> tags;
    for (int i = 0; i < 40; ++i)
        tags.append(newTag(QStringLiteral("Tag %1").arg(i, 2, 10, QLatin1Char('0'))));
    for (int i = 0; i < 40; ++i)
        taggedCase(QStringLiteral("C%1").arg(i), {tags[i]});
    context()->saveWithParent(false);
    load();
    TagTableModel *model = controller().tagsModel();
    int reloadedRuns = 0;
    QObject::connect(model, &QAbstractItemModel::dataChanged, model, [&] {
        ++reloadedRuns;
        for (int row = 0; row < model->rowCount(); ++row)
            model->data(model->index(row, TagTableModel::CountColumn));
    });
    for (int row = 0; row < model->rowCount(); ++row)
        model->data(model->index(row, TagTableModel::CountColumn));
    const int passesBefore = model->countingPasses();

    Case *extra = taggedCase(QStringLiteral("X"), {});
    for (int i = 0; i < 40; i += 2)
        tags[i]->addToCases(extra);
    settle();

    EXPECT_GE(reloadedRuns, 1) << "the batch should reload the rows";
    EXPECT_LE(model->countingPasses() - passesBefore, 2);
    // And the counts are the batch's.
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(model->data(model->index(model->rowOfObject(tags[i]), TagTableModel::CountColumn)).toString(),
                  QString::number(i % 2 == 0 ? 2 : 1))
            << i;
}
