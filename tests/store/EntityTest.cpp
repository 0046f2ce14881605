#include <QFile>
#include <QRegularExpression>

#include "support/StoreFixture.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/SerialQueue.h"

using namespace ovalis;
using ovalis::test::StoreFixture;

class EntityTest : public StoreFixture
{
};

TEST_F(EntityTest, NewCaseHasEqualDiagnosisAndAddedDatesUnknownSexAndNoOptionalValues)
{
    Case *item = context()->insertNew<Case>();
    EXPECT_TRUE(item->dateOfDiagnosis().isValid());
    EXPECT_EQ(item->dateOfDiagnosis(), item->dateAdded());
    EXPECT_EQ(item->sex(), 0);
    EXPECT_EQ(item->sexString(), QStringLiteral("v"));
    EXPECT_EQ(item->abbreviatedSex(), QString());
    EXPECT_TRUE(item->patientID().isNull());
    EXPECT_TRUE(item->summary().isNull());
    EXPECT_FALSE(item->dateOfBirth().isValid());
    EXPECT_FALSE(item->dateModified().isValid());
    EXPECT_EQ(item->age(), 0);
    EXPECT_EQ(item->description(), QStringLiteral("? ( ) '?' []"));

    item->setSex(Sex::female);
    item->setDateOfDiagnosis(QDateTime());
    EXPECT_EQ(item->abbreviatedAgeAndSexString(), QStringLiteral("F"));
    item->setSex(7);
    EXPECT_EQ(item->sexString(), QString());
    EXPECT_EQ(item->abbreviatedSex(), QString());
    EXPECT_FALSE(sexFromRawValue(4).has_value());
    EXPECT_EQ(sexFromRawValue(3), Sex::nonbinary);
}

TEST_F(EntityTest, AgeIsDiagnosisMinusBirthInSeconds)
{
    Case *item = context()->insertNew<Case>();
    const QDateTime birth(QDate(1980, 1, 1), QTime(0, 0), Qt::UTC);
    item->setDateOfBirth(birth);
    item->setDateOfDiagnosis(birth.addDays(10));
    EXPECT_DOUBLE_EQ(item->age(), 10 * 24 * 3600.0);
}

TEST_F(EntityTest, TagListSortsByCodePointAndSkipsAbsentLabels)
{
    Case *item = newCase(QStringLiteral("AB"));
    for (const QString &label : {QStringLiteral("b"), QStringLiteral("A"), QStringLiteral("a"), QStringLiteral("Zebra")})
        item->addToTags(newTag(label));
    item->addToTags(context()->insertNew<Tag>()); // no label
    EXPECT_EQ(item->tagList(), QStringLiteral("A | Zebra | a | b"));
    EXPECT_EQ(item->description(), QStringLiteral("AB ( ) '?' [A | Zebra | a | b]"));
}

TEST_F(EntityTest, DateAddedIsRepairedOnSaveWithOneLogLineAndNoFurtherChange)
{
    Case *item = newCase(QStringLiteral("XYZ"), QStringLiteral("Meningioma"));
    context()->saveWithParent(true);
    item->setDateAdded(QDateTime());
    int changes = 0;
    QObject guard;
    QObject::connect(context(), &ManagedObjectContext::objectsDidChange, &guard, [&](const ObjectsChange &) { ++changes; });
    LogCapture capture;
    context()->saveWithParent(true);
    EXPECT_EQ(capture.countPrefix(QStringLiteral("Case dateAdded is nil - set to now (")), 1);
    EXPECT_TRUE(capture.contains(QStringLiteral("Case dateAdded is nil - set to now (XYZ ( ) 'Meningioma' []")));
    EXPECT_TRUE(item->dateAdded().isValid());
    EXPECT_FALSE(context()->hasChanges());
    EXPECT_LE(changes, 1); // the edit itself, not the repair

    reopen();
    const QList<Case *> cases = fetchCases(QString());
    ASSERT_EQ(cases.size(), 1);
    EXPECT_TRUE(cases.first()->dateAdded().isValid()); // the repair was saved
}

TEST_F(EntityTest, MediaGetsUpperCaseUuidAndDescriptionFromItsFolderPath)
{
    Media *media = context()->insertNew<Media>();
    static const QRegularExpression canonical(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    EXPECT_TRUE(canonical.match(media->uuid()).hasMatch()) << media->uuid().toStdString();
    EXPECT_TRUE(media->creationDate().isValid());
    media->setUuid(QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
    media->setFileName(QStringLiteral("scan.jpg"));
    media->setOrderIndex(2);
    EXPECT_EQ(media->description(), QStringLiteral("#2 scan.jpg (E6/21/E1/F8)"));
    EXPECT_EQ(media->filePath(), libraryPath() + QStringLiteral("/Media/E6/21/E1/F8/E621E1F8-C36C-495A-93FC-0C247A3E6E5F.jpg"));
    media->setUuid(QString());
    media->setFileName(QString());
    EXPECT_EQ(media->description(), QStringLiteral("#2 ? (?)"));
}

TEST_F(EntityTest, DeletingMediaLeavesItsCaseAndRemovesTheFileLater)
{
    Case *item = newCase(QStringLiteral("P1"));
    Media *first = context()->insertNew<Media>();
    Media *second = context()->insertNew<Media>();
    first->setFileName(QStringLiteral("a.jpg"));
    item->addToMedia(first);
    item->addToMedia(second);
    context()->saveWithParent(true);
    const QString path = first->filePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("jpeg");
    file.close();

    context()->deleteObject(first);
    EXPECT_EQ(item->media(), QList<Media *>{second});
    EXPECT_EQ(first->itsCase(), nullptr);
    m_stack->fileDeletionQueue()->waitForDone();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(m_stack->fileDeletionQueue()->label(), QStringLiteral("nz.org.vantor.ovalis.file-deletion"));
}

TEST_F(EntityTest, SortedMediaAndRationalisedIndexes)
{
    Case *item = newCase(QStringLiteral("P1"));
    QList<Media *> media;
    for (int index : {5, 2, 9}) {
        Media *m = context()->insertNew<Media>();
        m->setOrderIndex(index);
        item->addToMedia(m);
        media.append(m);
    }
    EXPECT_EQ(item->sortedMedia(), (QList<Media *>{media[1], media[0], media[2]}));
    LogCapture capture;
    item->rationaliseOrderIndexes();
    EXPECT_TRUE(capture.contains(QStringLiteral("Rationalising 3 media order indexes for: ") + item->description()));
    EXPECT_EQ(media[1]->orderIndex(), 0);
    EXPECT_EQ(media[0]->orderIndex(), 1);
    EXPECT_EQ(media[2]->orderIndex(), 2);
    EXPECT_TRUE(item->hasMedia());
    EXPECT_TRUE(newCase(QStringLiteral("P2"))->sortedMedia().isEmpty());
}

TEST_F(EntityTest, InsertingATagPostsUpdatedTag)
{
    int posts = 0;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("Updated Tag"), nullptr, [&](const Notification &) { ++posts; });
    Tag *tag = newTag(QStringLiteral("Neuro"));
    EXPECT_EQ(posts, 1);
    // Fetching an existing tag is no insertion.
    context()->saveWithParent(true);
    reopen();
    EXPECT_EQ(context()->arrayOfObjects(Tag::entityName()).size(), 1);
    EXPECT_EQ(posts, 1);
    Q_UNUSED(tag);
}

TEST_F(EntityTest, TagDescriptionAndCountText)
{
    Tag *tag = newTag(QStringLiteral("Neuro"));
    EXPECT_EQ(tag->description(), QStringLiteral("Neuro - /"));
    tag->setActive(true);
    tag->setHasActiveCases(true);
    EXPECT_EQ(tag->description(), QStringLiteral("Neuro - 1\u00B0 Active/2\u00B0 Active"));
    EXPECT_EQ(Tag::countText(0), QStringLiteral("0"));
    EXPECT_EQ(Tag::countText(1000), QStringLiteral("1000"));
    EXPECT_EQ(Tag::countText(1001), QStringLiteral("1K"));
    EXPECT_EQ(Tag::countText(2999), QStringLiteral("2K"));
}

TEST_F(EntityTest, CasesTaggedWithThisAndActiveTagsAndPatientCases)
{
    Tag *a = newTag(QStringLiteral("A"));
    Tag *b = newTag(QStringLiteral("B"));
    Case *both = newCase(QStringLiteral("XAB1"));
    both->addToTags(a);
    both->addToTags(b);
    Case *onlyA = newCase(QStringLiteral("ab"));
    onlyA->addToTags(a);
    Case *other = newCase(QStringLiteral("Q9"));
    EXPECT_EQ(a->casesTaggedWithThisAndActiveTags().size(), 2);
    EXPECT_EQ(a->numberOfCasesTaggedWithThisAndActiveTagsString(), QStringLiteral("2"));
    b->setActive(true);
    EXPECT_EQ(a->casesTaggedWithThisAndActiveTags(), QList<Case *>{both});
    EXPECT_EQ(Tag::activeTags(context()), QList<Tag *>{b});

    Case *ab = newCase(QStringLiteral("AB"));
    const QList<Case *> patientCases = ab->casesForThisPatient();
    EXPECT_EQ(QSet<Case *>(patientCases.cbegin(), patientCases.cend()), (QSet<Case *>{both, onlyA, ab}));
    EXPECT_EQ(other->casesForThisPatient().size(), 1);
    Case *anonymous = context()->insertNew<Case>();
    EXPECT_EQ(anonymous->casesForThisPatient(), QList<Case *>{anonymous});
}

TEST_F(EntityTest, DerivedValueObserversHearOfTheirStoredKeys)
{
    Case *item = newCase(QStringLiteral("P1"));
    QStringList heard;
    for (const QString &key : {QStringLiteral("abbreviatedAgeAndSexString"), QStringLiteral("hasMedia"),
                               QStringLiteral("tagList"), QStringLiteral("hasLinks"), QStringLiteral("patientIDisValid")})
        item->addObserver(key, [&heard, key] { heard << key; });
    item->setSex(Sex::male);
    item->setDetail(QStringLiteral("see https://example.org"));
    item->setPatientID(QStringLiteral("ZAC5361"));
    item->addToMedia(context()->insertNew<Media>());
    item->addToTags(newTag(QStringLiteral("A")));
    EXPECT_EQ(heard, (QStringList{QStringLiteral("abbreviatedAgeAndSexString"), QStringLiteral("hasLinks"),
                                  QStringLiteral("patientIDisValid"), QStringLiteral("hasMedia"), QStringLiteral("tagList")}));
    heard.clear();
    item->setSex(Sex::male); // unchanged value: nobody is told
    EXPECT_TRUE(heard.isEmpty());
}
