#include <random>

#include "support/StoreFixture.h"

using namespace ovalis;
using ovalis::test::StoreFixture;

// A fetch answers from SQL for what the context has not touched and from
// memory for what it has; both together must equal evaluating the predicate
// on every object the context can see.
class FetchConsistencyTest : public StoreFixture
{
protected:
    std::mt19937 random{4242};
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }

    const QStringList texts{QStringLiteral("Smith"), QStringLiteral("smíth"), QStringLiteral("SMITH"), QStringLiteral("jones"),
                            QStringLiteral(""), QStringLiteral("Ménétrier"), QStringLiteral("menetrier"), QStringLiteral("x y")};
    const QStringList labels{QStringLiteral("Neuro"), QStringLiteral("neuro"), QStringLiteral("Chest"), QStringLiteral("CT")};

    QString maybeText() { return pick(5) == 0 ? QString() : texts[pick(int(texts.size()))]; }

    Predicate randomPredicate(int depth = 0)
    {
        if (depth < 2 && pick(3) == 0) {
            QList<Predicate> members{randomPredicate(depth + 1), randomPredicate(depth + 1)};
            switch (pick(3)) {
            case 0: return Predicate::andPredicate(members);
            case 1: return Predicate::orPredicate(members);
            default: return Predicate::notPredicate(members.first());
            }
        }
        const QString key = QStringList{QStringLiteral("summary"), QStringLiteral("detail"), QStringLiteral("patientID")}[pick(3)];
        const QString text = texts[pick(int(texts.size()))];
        switch (pick(10)) {
        case 0: return Predicate::fromFormat(QStringLiteral("%K CONTAINS[cd] %@"), {key, text});
        case 1: return Predicate::fromFormat(QStringLiteral("%K BEGINSWITH[cd] %@"), {key, text});
        case 2: return Predicate::fromFormat(QStringLiteral("%K == %@"), {key, text});
        case 3: return Predicate::fromFormat(QStringLiteral("%K == nil OR %K.length == 0"), {key, key});
        case 4: return Predicate::fromFormat(QStringLiteral("ANY tags.label == %@"), {labels[pick(int(labels.size()))]});
        case 5: return Predicate::fromFormat(QStringLiteral("SUBQUERY(tags, $tag, $tag.label ==[cd] %@).@count > 0"),
                                             {labels[pick(int(labels.size()))]});
        case 6: return Predicate::fromFormat(QStringLiteral("media.@count > %d"), {pick(3)});
        case 7: return Predicate::fromFormat(QStringLiteral("sex == %d"), {pick(4)});
        case 8: return Predicate::fromFormat(QStringLiteral("dateOfBirth < %@"),
                                             {QDateTime(QDate(1960 + pick(40), 1, 1), QTime(0, 0), Qt::UTC)});
        default: return Predicate::fromFormat(QStringLiteral("tags.@count == %d"), {pick(3)});
        }
    }

    void randomEdit(QList<Case *> &cases, const QList<Tag *> &tags)
    {
        Case *item = cases[pick(int(cases.size()))];
        if (item->isDeleted())
            return;
        switch (pick(9)) {
        case 0: item->setSummary(maybeText()); break;
        case 1: item->setDetail(maybeText()); break;
        case 2: item->setPatientID(maybeText()); break;
        case 3: item->addToTags(tags[pick(int(tags.size()))]); break;
        case 4: item->removeFromTags(tags[pick(int(tags.size()))]); break;
        case 5: item->addToMedia(context()->insertNew<Media>()); break;
        case 6: if (!item->media().isEmpty()) context()->deleteObject(item->media().first()); break;
        case 7: context()->deleteObject(item); break;
        default: {
            Case *added = newCase(maybeText(), maybeText());
            added->setSex(pick(4));
            cases.append(added);
        }
        }
    }
};

TEST_F(FetchConsistencyTest, FetchesWithUnsavedChangesEqualInMemoryEvaluation)
{
    QList<Tag *> tags;
    for (const QString &label : labels)
        tags.append(newTag(label));
    QList<Case *> cases;
    for (int i = 0; i < 120; ++i) {
        Case *item = newCase(maybeText(), maybeText());
        item->setDetail(maybeText());
        item->setSex(pick(4));
        if (pick(4))
            item->setDateOfBirth(QDateTime(QDate(1940 + pick(70), 1 + pick(12), 1), QTime(0, 0), Qt::UTC));
        for (int t = pick(3); t > 0; --t)
            item->addToTags(tags[pick(int(tags.size()))]);
        for (int m = pick(3); m > 0; --m)
            item->addToMedia(context()->insertNew<Media>());
        cases.append(item);
    }
    context()->saveWithParent(true);

    for (int round = 0; round < 40; ++round) {
        for (int e = pick(8); e >= 0; --e)
            randomEdit(cases, tags);
        if (pick(6) == 0)
            tags[pick(int(tags.size()))]->setLabel(labels[pick(int(labels.size()))]);
        if (pick(5) == 0)
            context()->saveWithParent(true);
        // Every case the context can see, evaluated in memory.
        QList<Case *> visible;
        for (Case *item : std::as_const(cases))
            if (!item->isDeleted())
                visible.append(item);
        for (int p = 0; p < 15; ++p) {
            const Predicate predicate = randomPredicate();
            ASSERT_TRUE(predicate.isValid()) << predicate.errorString().toStdString();
            QSet<ManagedObject *> expected;
            for (Case *item : std::as_const(visible))
                if (predicate.evaluate(*item))
                    expected.insert(item);
            const QList<ManagedObject *> fetched = context()->arrayOfObjects(Case::entityName(), predicate);
            EXPECT_EQ(QSet<ManagedObject *>(fetched.cbegin(), fetched.cend()), expected)
                << "round " << round << ": " << predicate.format().toStdString();
            EXPECT_EQ(fetched.size(), expected.size()) << "duplicates for " << predicate.format().toStdString();
        }
    }

    // A child context sees the same, its parent's unsaved work included.
    const Predicate predicate = Predicate::fromFormat(QStringLiteral("summary CONTAINS[cd] %@ OR ANY tags.label == %@"),
                                                      {QStringLiteral("smith"), QStringLiteral("Neuro")});
    QSet<ObjectID> expected;
    for (Case *item : std::as_const(cases))
        if (!item->isDeleted() && predicate.evaluate(*item))
            expected.insert(item->objectID());
    auto child = m_stack->newBackgroundContext();
    QSet<ObjectID> seen;
    child->performAndWait([&] {
        for (ManagedObject *object : child->arrayOfObjects(Case::entityName(), predicate))
            seen.insert(object->objectID());
    });
    EXPECT_EQ(seen, expected);
}
