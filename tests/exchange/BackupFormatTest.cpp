#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringEncoder>
#include <gtest/gtest.h>

#include "exchange/CalendarDateText.h"
#include "exchange/EncodedCase.h"
#include "exchange/JsonText.h"
#include "support/StoreFixture.h"
#include "support/ZoneScope.h"
#include "util/Log.h"

namespace ovalis::test {
namespace {

class BackupFormatTest : public StoreFixture
{
protected:
    // The file written for the cases, read back as JSON.
    static QJsonArray written(const QList<EncodedCase> &cases)
    {
        const QByteArray bytes = BackupFile::encode(cases);
        EXPECT_TRUE(bytes.startsWith("\xFF\xFE")) << "UTF-16 little-endian with a byte-order mark";
        const QString text = QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData() + 2), (bytes.size() - 2) / 2);
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        return document.array();
    }

    static std::optional<QList<EncodedCase>> read(const QByteArray &utf8, QString *error = nullptr)
    {
        QString message;
        auto cases = BackupFile::decode(utf8, error ? error : &message);
        return cases;
    }
};

TEST_F(BackupFormatTest, SexIsWrittenLowerCaseAndReadOnlyWhenExactlyEqual)
{
    QJsonArray cases;
    for (Sex sex : allSexes()) {
        Case *item = newCase(QStringLiteral("ABC1234"));
        item->setSex(sex);
        cases = written({EncodedCase::fromCase(item)});
        const QString expected = QStringList{"v", "male", "female", "non-binary"}.at(int(sex));
        EXPECT_EQ(cases[0].toObject().value("sex").toString(), expected);
    }
    const auto decoded = read(R"([{"patient_identifier":"A","sex":"male","tags":""},
                                  {"patient_identifier":"B","sex":"Male","tags":""},
                                  {"patient_identifier":"C","sex":"Female","tags":""},
                                  {"patient_identifier":"D","sex":"non-binary","tags":""},
                                  {"patient_identifier":"E","sex":"v","tags":""}])");
    ASSERT_TRUE(decoded);
    EXPECT_EQ((*decoded)[0].sexValue(), int(Sex::male));
    EXPECT_EQ((*decoded)[1].sexValue(), std::nullopt);
    EXPECT_EQ((*decoded)[2].sexValue(), std::nullopt);
    EXPECT_EQ((*decoded)[3].sexValue(), int(Sex::nonbinary));
    EXPECT_EQ((*decoded)[4].sexValue(), int(Sex::unknown));
}

TEST_F(BackupFormatTest, TagsAreOneCommaJoinedStringAndCommasSplitLabels)
{
    Case *item = newCase(QStringLiteral("ABC1234"));
    item->addToTags(newTag(QStringLiteral("chest")));
    item->addToTags(newTag(QStringLiteral("paeds")));
    item->addToTags(newTag(QString())); // no label: left out
    const QString tags = written({EncodedCase::fromCase(item)})[0].toObject().value("tags").toString();
    EXPECT_TRUE(tags == "chest,paeds" || tags == "paeds,chest") << tags.toStdString();

    EncodedCase record;
    record.tags = QStringLiteral("Fracture, distal radius");
    EXPECT_EQ(record.tagLabels(), (QStringList{"Fracture", " distal radius"}));
    record.tags = QString();
    EXPECT_TRUE(record.tagLabels().isEmpty());
    Case *untagged = newCase(QStringLiteral("DEF5678"));
    EXPECT_EQ(written({EncodedCase::fromCase(untagged)})[0].toObject().value("tags"), QJsonValue(QString()));
}

TEST_F(BackupFormatTest, MediaKeyIsAbsentWithoutMediaAndEmptyWhenNoneHasAUuid)
{
    Case *without = newCase(QStringLiteral("ABC1234"));
    Case *uuidless = newCase(QStringLiteral("DEF5678"));
    Media *blank = context()->insertNew<Media>();
    blank->setUuid(QString());
    blank->setItsCase(uuidless);
    Case *two = newCase(QStringLiteral("GHJ9012"));
    Media *second = context()->insertNew<Media>();
    second->setFileName(QStringLiteral("b.png"));
    second->setOrderIndex(1);
    second->setCreationDate(QDateTime(QDate(2020, 3, 4), QTime(10, 0)));
    second->setItsCase(two);
    Media *first = context()->insertNew<Media>();
    first->setFileName(QStringLiteral("a.jpg"));
    first->setOrderIndex(0);
    first->setItsCase(two);

    const QJsonArray cases = written({EncodedCase::fromCase(without), EncodedCase::fromCase(uuidless), EncodedCase::fromCase(two)});
    EXPECT_FALSE(cases[0].toObject().contains("media"));
    EXPECT_EQ(cases[1].toObject().value("media"), QJsonValue(QJsonArray()));
    const QJsonArray media = cases[2].toObject().value("media").toArray();
    ASSERT_EQ(media.size(), 2);
    EXPECT_EQ(media[0].toObject().value("identifier").toString(), first->uuid());
    EXPECT_EQ(media[0].toObject().value("filename").toString(), QStringLiteral("a.jpg"));
    EXPECT_EQ(media[1].toObject().value("identifier").toString(), second->uuid());
    EXPECT_EQ(media[1].toObject().value("date_of_creation").toString(), QStringLiteral("2020-03-04"));
}

TEST_F(BackupFormatTest, AbsentOptionalsAreLeftOutAndACaseWithoutIdentifierIsKept)
{
    Case *item = context()->insertNew<Case>();
    item->setDateOfDiagnosis(QDateTime());
    item->setDateAdded(QDateTime());
    const QJsonObject object = written({EncodedCase::fromCase(item)})[0].toObject();
    EXPECT_EQ(object.keys(), (QStringList{"patient_identifier", "sex", "tags"}));
    EXPECT_EQ(object.value("patient_identifier"), QJsonValue(QString()));
    EncodedCase record = EncodedCase::fromCase(item);
    EXPECT_TRUE(record.restoredPatientID().isNull());

    // Text with quotes, backslashes, control characters and non-Latin letters survives.
    item->setSummary(QStringLiteral("\"Quoted\" \\ back\tslash\nnew line \u0001 Ωmega 🙂"));
    item->setDetail(QStringLiteral(""));
    const QJsonObject texts = written({EncodedCase::fromCase(item)})[0].toObject();
    EXPECT_EQ(texts.value("summary").toString(), item->summary());
    EXPECT_EQ(texts.value("detail"), QJsonValue(QStringLiteral("")));
}

TEST_F(BackupFormatTest, LateEveningDatesKeepTheirCalendarDayAcrossTimeZones)
{
    QByteArray file;
    {
        ZoneScope auckland("Pacific/Auckland");
        Case *item = newCase(QStringLiteral("ABC1234"));
        item->setDateOfBirth(QDateTime(QDate(1990, 6, 15), QTime(23, 30)));
        item->setDateOfDiagnosis(QDateTime(QDate(2020, 12, 31), QTime(23, 59)));
        const QJsonObject object = written({EncodedCase::fromCase(item)})[0].toObject();
        EXPECT_EQ(object.value("date_of_birth").toString(), QStringLiteral("1990-06-15"));
        EXPECT_EQ(object.value("date_of_diagnosis").toString(), QStringLiteral("2020-12-31"));
        file = BackupFile::encode({EncodedCase::fromCase(item)});
    }
    ZoneScope newYork("America/New_York");
    const auto decoded = BackupFile::decode(file, nullptr);
    ASSERT_TRUE(decoded);
    const QDateTime birth = CalendarDateText::parse(*decoded->first().dateOfBirth);
    EXPECT_EQ(birth.toLocalTime().date(), QDate(1990, 6, 15));
    EXPECT_EQ(birth.toLocalTime().time(), QTime(0, 0));
    EXPECT_FALSE(CalendarDateText::parse(QStringLiteral("15/06/1990")).isValid());
    EXPECT_FALSE(CalendarDateText::parse(QStringLiteral("2021-02-30")).isValid());
}

TEST_F(BackupFormatTest, AMissingRequiredKeyOrWrongTypeRejectsTheWholeFile)
{
    const QString good = QStringLiteral(R"({"patient_identifier":"A","sex":"v","tags":""})");
    const QList<std::pair<QString, QString>> bad{
        {R"({"patient_identifier":"B","sex":"v"})", "case record 2: the key \"tags\" is missing"},
        {R"({"patient_identifier":"B","tags":""})", "case record 2: the key \"sex\" is missing"},
        {R"({"sex":"v","tags":""})", "case record 2: the key \"patient_identifier\" is missing"},
        {R"({"patient_identifier":null,"sex":"v","tags":""})", "case record 2: the key \"patient_identifier\" is missing"},
        {R"({"patient_identifier":7,"sex":"v","tags":""})", "case record 2: \"patient_identifier\" is not a string"},
        {R"({"patient_identifier":"B","sex":"v","tags":["a"]})", "case record 2: \"tags\" is not a string"},
        {R"({"patient_identifier":"B","sex":"v","tags":"","summary":3})", "case record 2: \"summary\" is not a string"},
        {R"({"patient_identifier":"B","sex":"v","tags":"","media":{}})", "case record 2: \"media\" is not an array"},
        {R"({"patient_identifier":"B","sex":"v","tags":"","media":[{"filename":"a.jpg"}]})",
         "case record 2, media 1: the key \"identifier\" is missing"},
        {R"("B")", "case record 2: not an object"},
    };
    for (const auto &[record, message] : bad) {
        QString error;
        EXPECT_FALSE(read(QStringLiteral("[%1,%2]").arg(good, record).toUtf8(), &error)) << record.toStdString();
        EXPECT_EQ(error, message);
    }
    QString error;
    EXPECT_FALSE(read("{\"patient_identifier\":\"A\"}", &error));
    EXPECT_FALSE(read("[{\"patient_identifier\":", &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(BackupFormatTest, MediaIdentifiersMustBeUuidsAndAreKeptInUpperCase)
{
    const QString record = QStringLiteral(R"([{"patient_identifier":"A","sex":"v","tags":""},
        {"patient_identifier":"B","sex":"v","tags":"","media":[{"identifier":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"},
                                                              {"identifier":"%1","filename":"x.jpg"}]}])");
    for (const QString &identifier : {QStringLiteral("..-secret"), QStringLiteral("U1"), QString(), QStringLiteral("../E621E1F8"),
                                      QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F/.."),
                                      QStringLiteral("{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}")}) {
        QString error;
        EXPECT_FALSE(read(record.arg(identifier).toUtf8(), &error)) << identifier.toStdString();
        EXPECT_EQ(error, QStringLiteral("case record 2, media 2: \"identifier\" is not a UUID"));
    }
    const auto decoded = read(record.arg(QStringLiteral("0a1b2c3d-0000-4000-8000-00000000abcd")).toUtf8());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->at(1).media->at(1).identifier, QStringLiteral("0A1B2C3D-0000-4000-8000-00000000ABCD"));

    // A record whose uuid no restore would accept is left out of a backup,
    // so that the rest of the library can still be restored from it.
    Case *item = newCase(QStringLiteral("ABC1234"));
    Media *hostile = context()->insertNew<Media>();
    hostile->setUuid(QStringLiteral("..-secret"));
    hostile->setFileName(QStringLiteral("x.jpg"));
    hostile->setItsCase(item);
    Media *good = context()->insertNew<Media>();
    good->setFileName(QStringLiteral("y.jpg"));
    good->setOrderIndex(1);
    good->setItsCase(item);
    LogCapture log;
    const QByteArray file = BackupFile::encode({EncodedCase::fromCase(item)});
    EXPECT_TRUE(log.contains(QStringLiteral("Left out of the backup, its identifier is not a UUID: ") + hostile->description(), LogLevel::Error));
    const auto restored = BackupFile::decode(file, nullptr);
    ASSERT_TRUE(restored);
    ASSERT_EQ(restored->first().media->size(), 1);
    EXPECT_EQ(restored->first().media->first().identifier, good->uuid());
}

TEST_F(BackupFormatTest, ALoneSurrogateRefusesTheFileNamingTheRecord)
{
    const QString good = QStringLiteral(R"({"patient_identifier":"A","sex":"v","tags":""})");
    const QList<std::pair<QString, QString>> bad{
        {R"({"patient_identifier":"B","sex":"v","tags":"","summary":"before \ud800 after"})",
         "case record 2: \"summary\" holds a lone UTF-16 surrogate"},
        {R"({"patient_identifier":"B\udc00","sex":"v","tags":""})", "case record 2: \"patient_identifier\" holds a lone UTF-16 surrogate"},
        {R"({"patient_identifier":"B","sex":"v","tags":"","detail":"\udc00\ud800"})", "case record 2: \"detail\" holds a lone UTF-16 surrogate"},
        {R"({"patient_identifier":"B","sex":"v","tags":"","media":[{"identifier":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","filename":"\ud83d.jpg"}]})",
         "case record 2, media 1: \"filename\" holds a lone UTF-16 surrogate"},
    };
    for (const auto &[record, message] : bad) {
        QString error;
        EXPECT_FALSE(read(QStringLiteral("[%1,%2]").arg(good, record).toUtf8(), &error)) << record.toStdString();
        EXPECT_EQ(error, message);
    }

    // In a UTF-16 file the half can also stand there unescaped.
    const auto utf16 = [](const QString &text) { return BackupFile::fileBytes(QChar(0xFEFF) + text); };
    const QString raw = QStringLiteral(R"([%1,{"patient_identifier":"B","sex":"v","tags":"","summary":"%2"}])");
    const QList<QString> halves{QString(QChar(0xD800)), QString(QChar(0xDC00)),
                                // Beside an escaped half that would pair with it.
                                QString(QChar(0xD800)) + QStringLiteral("\\udc00"), QStringLiteral("\\ud800") + QChar(0xDC00)};
    for (const QString &half : halves) {
        QString error;
        EXPECT_FALSE(read(utf16(raw.arg(good, half)), &error));
        EXPECT_EQ(error, QStringLiteral("case record 2: \"summary\" holds a lone UTF-16 surrogate"));
    }
    // Behind a backslash, or an escaped one.
    QString error;
    for (const QString &backslashes : {QStringLiteral("\\"), QStringLiteral("\\\\")}) {
        EXPECT_FALSE(read(utf16(raw.arg(good, backslashes + QChar(0xD800))), &error));
        EXPECT_EQ(error, QStringLiteral("case record 2: \"summary\" holds a lone UTF-16 surrogate"));
    }

    // Whole pairs, escaped or not, are the characters they make.
    for (const QByteArray &bytes : {utf16(raw.arg(good, QStringLiteral("🙂"))), utf16(raw.arg(good, QStringLiteral("\\ud83d\\ude42"))),
                                    raw.arg(good, QStringLiteral("\\ud83d\\ude42")).toUtf8()}) {
        const auto decoded = read(bytes, &error);
        ASSERT_TRUE(decoded) << error.toStdString();
        EXPECT_EQ(decoded->at(1).summary, QStringLiteral("🙂"));
    }
}

TEST_F(BackupFormatTest, ALargeFileKeepsItsOrderAndReportsItsFirstFailure)
{
    // Large files are checked in several runs at once.
    const auto file = [](const QList<int> &broken) {
        QStringList records;
        for (int i = 1; i <= 12000; ++i)
            records << (broken.contains(i) ? QStringLiteral(R"({"patient_identifier":"P%1","sex":"v"})").arg(i)
                                           : QStringLiteral(R"({"patient_identifier":"P%1","sex":"v","tags":"t"})").arg(i));
        return (QLatin1Char('[') + records.join(QLatin1Char(',')) + QLatin1Char(']')).toUtf8();
    };
    const auto decoded = read(file({}));
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 12000);
    for (qsizetype i = 0; i < decoded->size(); ++i)
        ASSERT_EQ(decoded->at(i).patientIdentifier, QStringLiteral("P%1").arg(i + 1));
    QString error;
    EXPECT_FALSE(read(file({11500, 3000}), &error));
    EXPECT_EQ(error, QStringLiteral("case record 3000: the key \"tags\" is missing"));
    EXPECT_FALSE(read(file({11500}), &error));
    EXPECT_EQ(error, QStringLiteral("case record 11500: the key \"tags\" is missing"));
}

TEST_F(BackupFormatTest, ReaderIgnoresUnknownKeysAcceptsCamelCaseNullsAndBothEncodings)
{
    const QString text = QStringLiteral(R"([
      {"patient_identifier":"ÄBC/1","sex":"female","tags":"x,y","favourite_colour":"blue","summary":null,
       "date_added":"2019-04-05","media":[{"identifier":"0a1b2c3d-0000-4000-8000-00000000000f","extra":1,"date_of_creation":"bad"}]},
      {"patientIdentifier":"B","sex":"v","tags":"","dateOfBirth":"2000-01-02"}
    ])");
    QStringEncoder utf16(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
    QStringEncoder utf16be(QStringConverter::Utf16BE, QStringConverter::Flag::WriteBom);
    for (const QByteArray &bytes : {text.toUtf8(), QByteArray("\xEF\xBB\xBF") + text.toUtf8(), QByteArray(utf16.encode(text)),
                                    QByteArray(utf16be.encode(text))}) {
        const auto decoded = read(bytes);
        ASSERT_TRUE(decoded);
        ASSERT_EQ(decoded->size(), 2);
        const EncodedCase &first = decoded->at(0);
        EXPECT_EQ(first.patientIdentifier, QStringLiteral("ÄBC/1"));
        EXPECT_EQ(first.summary, std::nullopt);
        EXPECT_EQ(first.dateAdded, QStringLiteral("2019-04-05"));
        ASSERT_TRUE(first.media);
        EXPECT_EQ(first.media->first().identifier, QStringLiteral("0A1B2C3D-0000-4000-8000-00000000000F"));
        EXPECT_EQ(first.media->first().filename, std::nullopt);
        EXPECT_EQ(decoded->at(1).patientIdentifier, QStringLiteral("B"));
        EXPECT_EQ(decoded->at(1).dateOfBirth, QStringLiteral("2000-01-02"));
        EXPECT_EQ(decoded->at(1).media, std::nullopt);
    }
    // What the writer writes, the reader reads back unchanged.
    const QList<EncodedCase> cases = *read(text.toUtf8());
    EXPECT_EQ(BackupFile::decode(BackupFile::encode(cases), nullptr), cases);
    EXPECT_EQ(BackupFile::decode(BackupFile::encode({}), nullptr), QList<EncodedCase>());
}

TEST(CalendarDateTextTest, DatesArePaddedAndReadBackOutOfRangeYearsAreLeftOut)
{
    for (const QDate &date : {QDate(33, 1, 5), QDate(2024, 12, 31), QDate(9999, 9, 9), QDate(1970, 10, 1)}) {
        const QString text = CalendarDateText::format(date.startOfDay());
        EXPECT_EQ(text, date.toString(QStringLiteral("yyyy-MM-dd")));
        EXPECT_EQ(CalendarDateText::parse(text).date(), date);
    }
    EXPECT_TRUE(CalendarDateText::format(QDate(10000, 1, 1).startOfDay()).isEmpty());
    EXPECT_TRUE(CalendarDateText::format(QDate(-5, 1, 1).startOfDay()).isEmpty());
    EXPECT_TRUE(CalendarDateText::format(QDateTime()).isEmpty());

    // Short fields are read, as older backups wrote them; anything else is no date.
    EXPECT_EQ(CalendarDateText::parse(QStringLiteral("990-1-2")).date(), QDate(990, 1, 2));
    EXPECT_EQ(CalendarDateText::parse(QStringLiteral("2024-02-29\n")).date(), QDate(2024, 2, 29));
    EXPECT_EQ(CalendarDateText::parse(QStringLiteral("2024-02-29")).timeSpec(), Qt::LocalTime);
    for (const char *text : {"", "2024", "2024-02", "2024-02-", "-02-03", "12345-01-01", "2024-123-01", "2024-01-123",
                             "2024-01-01 ", " 2024-01-01", "2024/01/01", "2024-01-01\n\n", "2024-1a-01", "2023-02-29",
                             "2024-00-10", "\u0662\u0660\u0662\u0664-01-01"})
        EXPECT_FALSE(CalendarDateText::parse(QString::fromUtf8(text)).isValid()) << text;
}

TEST(JsonTextTest, KeysConvertBetweenCamelAndSnakeCase)
{
    EXPECT_EQ(JsonText::snakeCase(u"patientIdentifier"), QStringLiteral("patient_identifier"));
    EXPECT_EQ(JsonText::snakeCase(u"dateOfCreation"), QStringLiteral("date_of_creation"));
    EXPECT_EQ(JsonText::camelCaseFromSnakeCase(QStringLiteral("date_of_creation")), QStringLiteral("dateOfCreation"));
    EXPECT_EQ(JsonText::camelCaseFromSnakeCase(QStringLiteral("dateOfCreation")), QStringLiteral("dateOfCreation"));
    EXPECT_EQ(JsonText::camelCaseFromSnakeCase(QStringLiteral("_private_key_")), QStringLiteral("_privateKey_"));
    EXPECT_EQ(JsonText::camelCaseFromSnakeCase(QStringLiteral("___")), QStringLiteral("___"));
}

} // namespace
} // namespace ovalis::test
