#include <QTimeZone>
#include <sqlite3.h>
#include <gmock/gmock.h>

#include "OvalisOneImportFixture.h"
#include "exchange/EncodedCase.h"
#include "exchange/LabelledProgressInfo.h"
#include "support/EncodedImage.h"
#include "util/KeyedArchive.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"

namespace ovalis::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

QDateTime utc(int year, int month, int day, int hour = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, 0), QTimeZone::utc());
}

class OvalisOneImporterTest : public OvalisOneImportFixture
{
};

TEST_F(OvalisOneImporterTest, EveryAttributeOfAConditionReachesItsCase)
{
    const QByteArray png = encodedImage(QSize(4, 3), Qt::red, "PNG");
    const QByteArray jpeg = encodedImage(QSize(5, 5), Qt::blue);
    const QByteArray pdf = QByteArrayLiteral("%PDF-1.4 not really");
    {
        OvalisOneDocumentWriter writer(documentPath(QStringLiteral("Teaching")));
        const qint64 patient = writer.insert(QStringLiteral("Patient"), {{QStringLiteral("identifier"), QStringLiteral("ABC1235")},
                                                                         {QStringLiteral("dateOfBirth"), utc(1960, 2, 29)},
                                                                         {QStringLiteral("gender"), 2}});
        const qint64 condition = writer.insert(QStringLiteral("Condition"),
                                               {{QStringLiteral("conditionDescription"), QStringLiteral("Pneumothorax")},
                                                {QStringLiteral("dateOfOnset"), utc(2009, 7, 14, 9)},
                                                {QStringLiteral("conditionRegion"), 4},
                                                {QStringLiteral("system"), 5},
                                                {QStringLiteral("pathology"), 13},
                                                {QStringLiteral("patient"), patient}});
        const qint64 study = writer.insert(QStringLiteral("Study"), {{QStringLiteral("studyDescription"), QStringLiteral("Erect film")},
                                                                     {QStringLiteral("studyRegion"), 1},
                                                                     {QStringLiteral("modality"), 2},
                                                                     {QStringLiteral("condition"), condition}});
        writer.insert(QStringLiteral("Image"), {{QStringLiteral("imageData"), OvalisOneDocumentWriter::archivedImage(jpeg)},
                                                {QStringLiteral("fileName"), QStringLiteral("second.jpg")},
                                                {QStringLiteral("order"), 2},
                                                {QStringLiteral("study"), study}});
        writer.insert(QStringLiteral("Image"), {{QStringLiteral("imageData"), OvalisOneDocumentWriter::archivedImage(png)},
                                                {QStringLiteral("order"), 1},
                                                {QStringLiteral("study"), study}});
        writer.insert(QStringLiteral("File"), {{QStringLiteral("fileData"), pdf},
                                               {QStringLiteral("fileName"), QStringLiteral("report.pdf")},
                                               {QStringLiteral("order"), 0},
                                               {QStringLiteral("study"), study}});
        const qint64 album = writer.insert(QStringLiteral("Album"), {{QStringLiteral("label"), QStringLiteral("Exam")}});
        writer.link(QStringLiteral("Condition"), condition, QStringLiteral("albums"), album);
        // An album without a label adds no tag.
        writer.link(QStringLiteral("Condition"), condition, QStringLiteral("albums"), writer.insert(QStringLiteral("Album")));
    }

    const OvalisOneImportResult result = runImport({documentPath(QStringLiteral("Teaching"))});

    EXPECT_TRUE(result.succeeded());
    EXPECT_EQ(result.conditions, 1);
    EXPECT_EQ(result.cases, 1);
    EXPECT_EQ(result.media, 3);
    EXPECT_EQ(result.tagsCreated, 7);
    Case *item = caseWithSummary(QStringLiteral("Pneumothorax"));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->patientID(), QStringLiteral("ABC1235"));
    EXPECT_EQ(item->dateOfBirth(), utc(1960, 2, 29));
    EXPECT_EQ(item->sex(), 2);
    EXPECT_EQ(item->dateOfDiagnosis(), utc(2009, 7, 14, 9));
    EXPECT_EQ(item->dateAdded(), utc(2009, 7, 14, 9));
    EXPECT_EQ(item->detail(), QStringLiteral("Erect film"));
    EXPECT_EQ(labels(item), (QStringList{QStringLiteral("CT"), QStringLiteral("Chest"), QStringLiteral("Exam"),
                                         QStringLiteral("Genital Tract (Female)"), QStringLiteral("Head"),
                                         QStringLiteral("Neoplastic"), QStringLiteral("Teaching")}));
    // Images by order, then the files; an image without a name is "Untitled".
    EXPECT_EQ(mediaNames(item), (QStringList{QStringLiteral("Untitled"), QStringLiteral("second.jpg"), QStringLiteral("report.pdf")}));
    const QList<Media *> media = item->sortedMedia();
    ASSERT_EQ(media.size(), 3);
    EXPECT_EQ(fileContents(media[0]), png);
    EXPECT_EQ(fileContents(media[1]), jpeg);
    EXPECT_EQ(fileContents(media[2]), pdf);

    // The import is on disk, not only in the main context.
    reopen();
    EXPECT_EQ(fetchCases(QStringLiteral("ANY tags.label == %@"), {QStringLiteral("Teaching")}).size(), 1);
}

TEST_F(OvalisOneImporterTest, NumbersSelectTagsFromTheirTablesAndOthersAddNone)
{
    struct Row {
        const char *summary;
        QVariantMap condition;
        QVariantMap study;
        QStringList expected;
    };
    const QList<Row> rows = {
        {"first entries", {{"conditionRegion", 1}, {"system", 1}, {"pathology", 1}}, {{"studyRegion", 1}, {"modality", 1}},
         {"Artifact", "Breast", "CR", "Head"}},
        {"last entries", {{"conditionRegion", 8}, {"system", 15}, {"pathology", 17}}, {{"studyRegion", 7}, {"modality", 9}},
         {"Lower Limb", "Upper Limb", "Vascular", "XA"}},
        {"one past the end", {{"conditionRegion", 9}, {"system", 16}, {"pathology", 18}}, {{"studyRegion", 9}, {"modality", 10}}, {}},
        {"zero and below", {{"conditionRegion", 0}, {"system", 0}, {"pathology", -1}}, {{"studyRegion", -8}, {"modality", 0}}, {}},
        {"huge", {{"system", Q_INT64_C(4294967301)}}, {{"modality", Q_INT64_C(-4294967295)}}, {}},
        {"system 5", {{"system", 5}, {"pathology", 6}}, {{"modality", 5}}, {"Drug Related", "Genital Tract (Female)", "MR"}},
    };
    {
        OvalisOneDocumentWriter writer(documentPath(QStringLiteral("Numbers")));
        for (const Row &row : rows) {
            QVariantMap condition = row.condition;
            condition.insert(QStringLiteral("conditionDescription"), QString::fromLatin1(row.summary));
            QVariantMap study = row.study;
            study.insert(QStringLiteral("condition"), writer.insert(QStringLiteral("Condition"), condition));
            writer.insert(QStringLiteral("Study"), study);
        }
    }

    runImport({documentPath(QStringLiteral("Numbers"))});

    for (const Row &row : rows) {
        Case *item = caseWithSummary(QString::fromLatin1(row.summary));
        ASSERT_NE(item, nullptr);
        QStringList expected = row.expected;
        expected.append(QStringLiteral("Numbers"));
        expected.sort();
        EXPECT_EQ(labels(item), expected) << row.summary;
    }
    // "Vascular" is both a system and a pathology: one tag.
    EXPECT_EQ(context()->arrayOfObjects(Tag::entityName(), Predicate::fromFormat(QStringLiteral("label == %@"), {QStringLiteral("Vascular")})).size(), 1);
}

TEST_F(OvalisOneImporterTest, StudiesAreTakenInDateOrderWithUndatedOnesFirst)
{
    {
        OvalisOneDocumentWriter writer(documentPath(QStringLiteral("Order")));
        const qint64 condition = writer.insert(QStringLiteral("Condition"), {{QStringLiteral("conditionDescription"), QStringLiteral("c")}});
        const auto study = [&](const QString &description, const QVariant &date, const QString &imageName) {
            QVariantMap values{{QStringLiteral("studyDescription"), description}, {QStringLiteral("condition"), condition}};
            if (date.isValid())
                values.insert(QStringLiteral("dateOfStudy"), date);
            const qint64 key = writer.insert(QStringLiteral("Study"), values);
            writer.insert(QStringLiteral("Image"), {{QStringLiteral("imageData"), OvalisOneDocumentWriter::archivedImage("x")},
                                                    {QStringLiteral("fileName"), imageName},
                                                    {QStringLiteral("study"), key}});
        };
        study(QStringLiteral("Follow-up 2003."), utc(2003, 3, 1), QStringLiteral("2003.jpg"));
        study(QStringLiteral("Undated A."), QVariant(), QStringLiteral("a.jpg"));
        study(QStringLiteral("Initial 2001."), utc(2001, 3, 1), QStringLiteral("2001.jpg"));
        study(QStringLiteral("Undated B."), QVariant(), QStringLiteral("b.jpg"));
        study(QStringLiteral("Also 2003."), utc(2003, 3, 1), QStringLiteral("2003b.jpg"));
    }

    runImport({documentPath(QStringLiteral("Order"))});

    Case *item = caseWithSummary(QStringLiteral("c"));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->detail(), QStringLiteral("Undated A. Undated B. Initial 2001. Follow-up 2003. Also 2003."));
    EXPECT_EQ(mediaNames(item), (QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.jpg"), QStringLiteral("2001.jpg"),
                                             QStringLiteral("2003.jpg"), QStringLiteral("2003b.jpg")}));
}

TEST_F(OvalisOneImporterTest, LinkedPatientsAreNamedOnASeeLine)
{
    {
        OvalisOneDocumentWriter writer(documentPath(QStringLiteral("Links")));
        const auto patient = [&](const QVariant &identifier) {
            return writer.insert(QStringLiteral("Patient"),
                                 identifier.isValid() ? QVariantMap{{QStringLiteral("identifier"), identifier}} : QVariantMap());
        };
        const qint64 linked = patient(QStringLiteral("ZZZ0016"));
        const qint64 first = patient(QStringLiteral("AAA0001"));
        const qint64 second = patient(QStringLiteral("BBB0002"));
        const qint64 anonymous = patient(QVariant());
        const qint64 lonely = patient(QStringLiteral("CCC0003"));
        // One link each way, one patient linked both ways, one without identifier.
        writer.link(QStringLiteral("Patient"), linked, QStringLiteral("linkedToPatients"), first);
        writer.link(QStringLiteral("Patient"), second, QStringLiteral("linkedToPatients"), linked);
        writer.link(QStringLiteral("Patient"), linked, QStringLiteral("linkedToPatients"), second);
        writer.link(QStringLiteral("Patient"), lonely, QStringLiteral("linkedFromPatients"), anonymous);

        const auto condition = [&](const QString &summary, qint64 patientKey, const QStringList &descriptions) {
            const qint64 key = writer.insert(QStringLiteral("Condition"),
                                             {{QStringLiteral("conditionDescription"), summary}, {QStringLiteral("patient"), patientKey}});
            for (const QString &description : descriptions)
                writer.insert(QStringLiteral("Study"), {{QStringLiteral("studyDescription"), description}, {QStringLiteral("condition"), key}});
            // A study without a description adds nothing to the detail.
            writer.insert(QStringLiteral("Study"), {{QStringLiteral("condition"), key}});
        };
        condition(QStringLiteral("with descriptions"), linked, {QStringLiteral("CT head."), QStringLiteral("MRI.")});
        condition(QStringLiteral("without descriptions"), linked, {});
        condition(QStringLiteral("linked from"), first, {QStringLiteral("Plain film.")});
        condition(QStringLiteral("linked to nobody named"), lonely, {QStringLiteral("US.")});
    }
    LogCapture log;

    runImport({documentPath(QStringLiteral("Links"))});

    EXPECT_EQ(caseWithSummary(QStringLiteral("with descriptions"))->detail(),
              QStringLiteral("CT head. MRI.\rSee AAA0001, BBB0002"));
    EXPECT_EQ(caseWithSummary(QStringLiteral("without descriptions"))->detail(), QStringLiteral("See AAA0001, BBB0002"));
    EXPECT_EQ(caseWithSummary(QStringLiteral("linked from"))->detail(), QStringLiteral("Plain film.\rSee ZZZ0016"));
    EXPECT_EQ(caseWithSummary(QStringLiteral("linked to nobody named"))->detail(), QStringLiteral("US."));
    EXPECT_EQ(log.count(QStringLiteral("Got linked patient: AAA0001")), 2);
    EXPECT_EQ(log.count(QStringLiteral("Got linked patient: ZZZ0016")), 1);
}

TEST_F(OvalisOneImporterTest, ImageDataThatDoesNotDecodeIsSkippedAndExternalDataIsFollowed)
{
    const QByteArray inside = encodedImage(QSize(2, 2), Qt::green, "PNG");
    const QByteArray outside = encodedImage(QSize(3, 2), Qt::yellow, "PNG");
    const QByteArray outsideFile = QByteArrayLiteral("a large movie");
    {
        OvalisOneDocumentWriter writer(documentPath(QStringLiteral("Media")));
        const qint64 condition = writer.insert(QStringLiteral("Condition"), {{QStringLiteral("conditionDescription"), QStringLiteral("m")}});
        const qint64 study = writer.insert(QStringLiteral("Study"), {{QStringLiteral("condition"), condition}});
        const auto image = [&](const QString &name, int order, const QVariant &data) {
            QVariantMap values{{QStringLiteral("fileName"), name}, {QStringLiteral("order"), order}, {QStringLiteral("study"), study}};
            if (data.isValid())
                values.insert(QStringLiteral("imageData"), data);
            return writer.insert(QStringLiteral("Image"), values);
        };
        image(QStringLiteral("raw.png"), 1, inside); // image bytes, not an archive
        image(QStringLiteral("text.png"), 2, KeyedArchive::archive(QStringLiteral("not bytes")).value());
        image(QStringLiteral("truncated.png"), 3, OvalisOneDocumentWriter::archivedImage(inside).left(40));
        image(QStringLiteral("none.png"), 4, QVariant());
        image(QStringLiteral("good.png"), 5, OvalisOneDocumentWriter::archivedImage(inside));
        writer.storeExternally(QStringLiteral("Image"), image(QStringLiteral("outside.png"), 6, QVariant()), QStringLiteral("imageData"),
                               OvalisOneDocumentWriter::archivedImage(outside));
        writer.storeExternally(QStringLiteral("Image"), image(QStringLiteral("lost.png"), 7, QVariant()), QStringLiteral("imageData"),
                               OvalisOneDocumentWriter::archivedImage(outside), false);
        const qint64 file = writer.insert(QStringLiteral("File"), {{QStringLiteral("fileName"), QStringLiteral("movie.mov")},
                                                                   {QStringLiteral("study"), study}});
        writer.storeExternally(QStringLiteral("File"), file, QStringLiteral("fileData"), outsideFile);
        // Text where bytes belong.
        writer.insert(QStringLiteral("File"), {{QStringLiteral("fileName"), QStringLiteral("text.txt")},
                                               {QStringLiteral("fileData"), QStringLiteral("text")},
                                               {QStringLiteral("study"), study}});
    }
    LogCapture log;

    const OvalisOneImportResult result = runImport({documentPath(QStringLiteral("Media"))});

    Case *item = caseWithSummary(QStringLiteral("m"));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(mediaNames(item), (QStringList{QStringLiteral("good.png"), QStringLiteral("outside.png"), QStringLiteral("movie.mov")}));
    EXPECT_EQ(result.media, 3);
    const QList<Media *> media = item->sortedMedia();
    ASSERT_EQ(media.size(), 3);
    EXPECT_EQ(fileContents(media[0]), inside);
    EXPECT_EQ(fileContents(media[1]), outside);
    EXPECT_EQ(fileContents(media[2]), outsideFile);
    EXPECT_TRUE(log.containsPrefix(QStringLiteral("Unable to read external data of imageData at ")));
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to read imageData of lost.png in ") + item->description(), LogLevel::Error));
}

TEST_F(OvalisOneImporterTest, MissingWronglyTypedAndDanglingValuesLeaveTheirAttributesUnset)
{
    {
        OvalisOneDocumentWriter writer(documentPath(QStringLiteral("Damaged")), OvalisOneDocumentWriter::alphabeticalNumbers(),
                                       {QStringLiteral("ZSYSTEM"), QStringLiteral("ZMODALITY"), QStringLiteral("ZGENDER")});
        const qint64 patient = writer.insert(QStringLiteral("Patient"), {{QStringLiteral("identifier"), QStringLiteral("ABC1235")}});
        writer.setRaw(QStringLiteral("Patient"), patient, QStringLiteral("ZDATEOFBIRTH"), QStringLiteral("1960-02-29"));
        const qint64 typed = writer.insert(QStringLiteral("Condition"), {{QStringLiteral("conditionDescription"), QStringLiteral("typed")},
                                                                        {QStringLiteral("patient"), patient}});
        writer.setRaw(QStringLiteral("Condition"), typed, QStringLiteral("ZDATEOFONSET"), QStringLiteral("yesterday"));
        writer.setRaw(QStringLiteral("Condition"), typed, QStringLiteral("ZPATHOLOGY"), QStringLiteral("five"));
        writer.setRaw(QStringLiteral("Condition"), typed, QStringLiteral("ZCONDITIONREGION"), 4.5);
        const qint64 study = writer.insert(QStringLiteral("Study"), {{QStringLiteral("condition"), typed}});
        writer.setRaw(QStringLiteral("Study"), study, QStringLiteral("ZSTUDYDESCRIPTION"), QByteArray("\x00\x01", 2));
        writer.setRaw(QStringLiteral("Study"), study, QStringLiteral("ZDATEOFSTUDY"), QStringLiteral("soon"));
        const qint64 image = writer.insert(QStringLiteral("Image"), {{QStringLiteral("imageData"), OvalisOneDocumentWriter::archivedImage("i")},
                                                                    {QStringLiteral("study"), study}});
        writer.setRaw(QStringLiteral("Image"), image, QStringLiteral("ZFILENAME"), QByteArray("name"));

        // A description that is not text, a patient and an album that do not exist.
        const qint64 dangling = writer.insert(QStringLiteral("Condition"), {{QStringLiteral("patient"), 999}});
        writer.setRaw(QStringLiteral("Condition"), dangling, QStringLiteral("ZCONDITIONDESCRIPTION"), QByteArray("blob"));
        writer.link(QStringLiteral("Condition"), dangling, QStringLiteral("albums"), 77);
        // A study of a condition that does not exist belongs to no case.
        writer.insert(QStringLiteral("Study"), {{QStringLiteral("studyDescription"), QStringLiteral("orphan")}, {QStringLiteral("condition"), 555}});
    }

    const QDateTime beforeImport = QDateTime::currentDateTimeUtc();
    const OvalisOneImportResult result = runImport({documentPath(QStringLiteral("Damaged"))});

    EXPECT_TRUE(result.succeeded());
    EXPECT_EQ(result.cases, 2);
    Case *typed = caseWithSummary(QStringLiteral("typed"));
    ASSERT_NE(typed, nullptr);
    EXPECT_EQ(typed->patientID(), QStringLiteral("ABC1235"));
    EXPECT_FALSE(typed->dateOfBirth().isValid());
    // A new case's own dates stay: it was added now.
    EXPECT_GE(typed->dateOfDiagnosis(), beforeImport);
    EXPECT_EQ(typed->dateAdded(), typed->dateOfDiagnosis());
    EXPECT_EQ(typed->sex(), 0);
    EXPECT_TRUE(typed->detail().isNull());
    EXPECT_EQ(labels(typed), QStringList{QStringLiteral("Damaged")});
    EXPECT_EQ(mediaNames(typed), QStringList{QStringLiteral("Untitled")});

    const QList<Case *> untitled = fetchCases(QStringLiteral("summary == nil"));
    ASSERT_EQ(untitled.size(), 1);
    EXPECT_TRUE(untitled[0]->patientID().isNull());
    EXPECT_TRUE(untitled[0]->detail().isNull());
    EXPECT_EQ(labels(untitled[0]), QStringList{QStringLiteral("Damaged")});
}

TEST_F(OvalisOneImporterTest, ASexValueNoSexHasIsImportedAsUnknownAndLogged)
{
    const QList<std::pair<qint64, int>> values{{3, 3}, {0, 0}, {4, 0}, {-1, 0}, {Q_INT64_C(4294967297), 0}};
    {
        OvalisOneDocumentWriter writer(documentPath(QStringLiteral("Sexes")));
        for (const auto &[raw, expected] : values) {
            const qint64 patient = writer.insert(QStringLiteral("Patient"), {{QStringLiteral("identifier"), QStringLiteral("P%1").arg(raw)},
                                                                             {QStringLiteral("gender"), raw}});
            writer.insert(QStringLiteral("Condition"), {{QStringLiteral("conditionDescription"), QStringLiteral("sex %1").arg(raw)},
                                                        {QStringLiteral("patient"), patient}});
        }
    }
    LogCapture log;
    runImport({documentPath(QStringLiteral("Sexes"))});

    const QList<LogCapture::Entry> entries = log.entries();
    for (const auto &[raw, expected] : values) {
        Case *item = caseWithSummary(QStringLiteral("sex %1").arg(raw));
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->sex(), expected) << raw;
        // Every imported case can go through a backup and back.
        EXPECT_EQ(EncodedCase::fromCase(item).sexValue(), expected) << raw;
        const bool logged = std::any_of(entries.cbegin(), entries.cend(), [&](const LogCapture::Entry &entry) {
            return entry.level == LogLevel::Error && entry.message.startsWith(QStringLiteral("Unknown sex value %1 for P%1 ").arg(raw));
        });
        EXPECT_EQ(logged, raw != expected) << raw;
    }
}

TEST_F(OvalisOneImporterTest, ADocumentThatCannotBeOpenedEndsTheRunAfterTheEarlierOnes)
{
    for (const QString &name : {QStringLiteral("First"), QStringLiteral("Third")}) {
        OvalisOneDocumentWriter writer(documentPath(name));
        writer.insert(QStringLiteral("Condition"), {{QStringLiteral("conditionDescription"), name}});
    }
    QFile damaged(documentPath(QStringLiteral("Second")));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray(4096, 'x'));
    damaged.close();
    LogCapture log;

    const OvalisOneImportResult result =
        runImport({documentPath(QStringLiteral("First")), documentPath(QStringLiteral("Second")), documentPath(QStringLiteral("Third"))});

    EXPECT_FALSE(result.succeeded());
    EXPECT_EQ(result.importedDocuments, QStringList{documentPath(QStringLiteral("First"))});
    EXPECT_EQ(result.failedDocument, documentPath(QStringLiteral("Second")));
    EXPECT_FALSE(result.failureReason.isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to add persistent store at ")
                             + QUrl::fromLocalFile(documentPath(QStringLiteral("Second"))).toString()));
    EXPECT_FALSE(log.contains(QStringLiteral("Import ") + documentPath(QStringLiteral("Third"))));
    reopen();
    EXPECT_EQ(fetchCases(QString()).size(), 1);
    EXPECT_EQ(fetchCases(QStringLiteral("summary == %@"), {QStringLiteral("First")}).size(), 1);
}

TEST_F(OvalisOneImporterTest, AnEmptyDocumentImportsNothingAndOneWhoseConditionsCannotBeReadIsSkipped)
{
    {
        OvalisOneDocumentWriter writer(documentPath(QStringLiteral("Empty")));
    }
    {
        OvalisOneDocumentWriter writer(documentPath(QStringLiteral("Broken")));
        writer.insert(QStringLiteral("Condition"));
    }
    {
        // The entity is listed, but its table is gone.
        sqlite3 *database = nullptr;
        ASSERT_EQ(sqlite3_open(documentPath(QStringLiteral("Broken")).toUtf8().constData(), &database), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(database, "DROP TABLE ZCONDITION", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(database);
        OvalisOneDocumentWriter writer(documentPath(QStringLiteral("Last")));
        writer.insert(QStringLiteral("Condition"), {{QStringLiteral("conditionDescription"), QStringLiteral("last")}});
    }
    LogCapture log;

    const OvalisOneImportResult result = runImport(
        {documentPath(QStringLiteral("Empty")), documentPath(QStringLiteral("Broken")), documentPath(QStringLiteral("Last"))});

    EXPECT_TRUE(result.succeeded());
    EXPECT_EQ(result.skippedDocuments, QStringList{documentPath(QStringLiteral("Broken"))});
    EXPECT_EQ(result.importedDocuments,
              (QStringList{documentPath(QStringLiteral("Empty")), documentPath(QStringLiteral("Last"))}));
    EXPECT_TRUE(log.contains(QStringLiteral("Failed to fetch conditions"), LogLevel::Error));
    EXPECT_EQ(log.count(QStringLiteral("Imported 0")), 1);
    EXPECT_EQ(fetchCases(QString()).size(), 1);
}

TEST_F(OvalisOneImporterTest, ProgressCountsConditionsAndSavesEveryFiveHundred)
{
    constexpr int conditions = 501;
    {
        OvalisOneDocumentWriter writer(documentPath(QStringLiteral("Big Library")));
        for (int i = 0; i < conditions; ++i)
            writer.insert(QStringLiteral("Condition"), {{QStringLiteral("system"), 1 + i % 15}});
    }
    QMutex mutex;
    QList<QVariantMap> posts;
    const ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        LabelledProgressInfo::notificationName, nullptr, [&](const Notification &notification) {
            QMutexLocker locker(&mutex);
            posts.append(notification.userInfo);
        });
    LogCapture log;

    const OvalisOneImportResult result = runImport({documentPath(QStringLiteral("Big Library"))});

    EXPECT_EQ(result.cases, conditions);
    EXPECT_EQ(result.tagsCreated, 16);
    QMutexLocker locker(&mutex);
    ASSERT_EQ(posts.size(), conditions + 1);
    for (int i = 0; i < conditions; ++i) {
        EXPECT_EQ(posts[i].value(LabelledProgressInfo::count).toInt(), i + 1);
        EXPECT_EQ(posts[i].value(LabelledProgressInfo::total).toInt(), conditions);
        EXPECT_EQ(posts[i].value(LabelledProgressInfo::label).toString(), QStringLiteral("Importing Big Library"));
    }
    EXPECT_EQ(posts.last(), LabelledProgressInfo::userInfo(0, 0));
    // The main context before the run, the private one after 500 conditions and at the end.
    EXPECT_EQ(log.count(QStringLiteral("Save MOC, asking parent true")), 3);
    EXPECT_TRUE(log.contains(QStringLiteral("Importing 1")));
    EXPECT_TRUE(log.contains(QStringLiteral("Import from Ovalis1")));
    EXPECT_TRUE(log.contains(QStringLiteral("Imported 501")));
}

TEST_F(OvalisOneImporterTest, ImportingTwiceDoublesTheCasesAndSharesTheTags)
{
    newTag(QStringLiteral("Chest"));
    context()->saveWithParent(true);
    {
        OvalisOneDocumentWriter writer(documentPath(QStringLiteral("Teaching")));
        writer.insert(QStringLiteral("Condition"), {{QStringLiteral("conditionRegion"), 4}});
    }

    EXPECT_EQ(runImport({documentPath(QStringLiteral("Teaching"))}).tagsCreated, 1);
    EXPECT_EQ(runImport({documentPath(QStringLiteral("Teaching"))}).tagsCreated, 0);

    EXPECT_EQ(fetchCases(QStringLiteral("ANY tags.label == %@"), {QStringLiteral("Teaching")}).size(), 2);
    EXPECT_EQ(context()->countOfObjects(Tag::entityName()), 2);
    const QList<Case *> chest = fetchCases(QStringLiteral("ANY tags.label == %@"), {QStringLiteral("Chest")});
    EXPECT_EQ(chest.size(), 2);
}

TEST_F(OvalisOneImporterTest, EntityNumbersAndJoinTablesAreFoundInTheFile)
{
    // Numbers unlike the alphabetical ones, so that the album links sit in a
    // table named after the condition side.
    const QHash<QString, int> numbers{{QStringLiteral("Study"), 1}, {QStringLiteral("Patient"), 2}, {QStringLiteral("Image"), 3},
                                      {QStringLiteral("Condition"), 4}, {QStringLiteral("File"), 8}, {QStringLiteral("Album"), 12}};
    {
        OvalisOneDocumentWriter writer(documentPath(QStringLiteral("Renumbered")), numbers);
        const qint64 patient = writer.insert(QStringLiteral("Patient"), {{QStringLiteral("identifier"), QStringLiteral("P")}});
        const qint64 other = writer.insert(QStringLiteral("Patient"), {{QStringLiteral("identifier"), QStringLiteral("Q")}});
        writer.link(QStringLiteral("Patient"), other, QStringLiteral("linkedFromPatients"), patient);
        const qint64 condition = writer.insert(QStringLiteral("Condition"), {{QStringLiteral("patient"), patient}});
        for (const QString &label : {QStringLiteral("Exam"), QStringLiteral("Favourites")})
            writer.link(QStringLiteral("Album"), writer.insert(QStringLiteral("Album"), {{QStringLiteral("label"), label}}),
                        QStringLiteral("conditions"), condition);
    }

    runImport({documentPath(QStringLiteral("Renumbered"))});

    const QList<Case *> cases = fetchCases(QString());
    ASSERT_EQ(cases.size(), 1);
    EXPECT_EQ(cases[0]->patientID(), QStringLiteral("P"));
    EXPECT_EQ(cases[0]->detail(), QStringLiteral("See Q"));
    EXPECT_EQ(labels(cases[0]), (QStringList{QStringLiteral("Exam"), QStringLiteral("Favourites"), QStringLiteral("Renumbered")}));
}

TEST_F(OvalisOneImporterTest, WithoutTheModelNothingIsImported)
{
    {
        OvalisOneDocumentWriter writer(documentPath(QStringLiteral("Teaching")));
        writer.insert(QStringLiteral("Condition"));
    }
    EXPECT_EQ(OvalisOneModel::load(QStringLiteral("OvalisTwo")), nullptr);

    const OvalisOneImportResult result = runImport({documentPath(QStringLiteral("Teaching"))}, nullptr);

    EXPECT_TRUE(result.modelMissing);
    EXPECT_FALSE(result.succeeded());
    EXPECT_TRUE(fetchCases(QString()).isEmpty());
}

} // namespace
} // namespace ovalis::test
