#include <QBuffer>
#include <QJsonDocument>
#include <QStringDecoder>
#include <QStringEncoder>
#include <gtest/gtest.h>

#include "exchange/BackupReader.h"
#include "exchange/EncodedCase.h"

namespace ovalis::test {
namespace {

struct Read {
    std::optional<QList<EncodedCase>> cases;
    QString error;
};

// The records of the file, read through a reader taking chunks of
// chunkSize bytes and giving out batches of two.
Read readBackup(QByteArray bytes, qsizetype chunkSize, qsizetype recordLimit = BackupReader::defaultRecordLimit)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    BackupReader reader(&buffer, recordLimit, chunkSize);
    Read read;
    if (!reader.check(&read.error))
        return read;
    QList<EncodedCase> cases;
    while (const std::optional<QList<EncodedCase>> batch = reader.nextBatch(2, &read.error)) {
        if (batch->isEmpty()) {
            EXPECT_EQ(cases.size(), reader.count());
            read.cases = cases;
            return read;
        }
        EXPECT_LE(batch->size(), 2);
        cases.append(*batch);
    }
    return read;
}

QByteArray utf16(const QString &text, QStringConverter::Encoding encoding)
{
    QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
    return encoder.encode(text);
}

// Records whose strings hold what a scanner of the file's structure could
// take for structure: braces, brackets, escaped quotes and backslashes, and
// characters beyond the first plane, whose UTF-16 is a surrogate pair.
QList<EncodedCase> trickyRecords()
{
    EncodedCase first;
    first.patientIdentifier = QStringLiteral("A{1}[2]");
    first.sex = QStringLiteral("female");
    first.summary = QStringLiteral("\"}\" ends nothing, nor does \\\"]\\ or \\\\\"");
    first.detail = QStringLiteral("🙂 beside {[ and 𝄞,\"\n");
    first.tags = QStringLiteral("x],{y");
    EncodedMedia media;
    media.identifier = QStringLiteral("0A1B2C3D-0000-4000-8000-00000000ABCD");
    media.filename = QStringLiteral("}🙂{.jpg");
    first.media = QList<EncodedMedia>{media};
    EncodedCase second;
    second.sex = QStringLiteral("v");
    second.tags = QStringLiteral("Ωmega");
    second.media = QList<EncodedMedia>();
    return {first, second, first};
}

TEST(BackupReaderTest, RecordsSplitAtEveryByteReadAsWholeInBothEncodings)
{
    const QList<EncodedCase> records = trickyRecords();
    const QByteArray written = BackupFile::encode(records);
    const QString text = QStringDecoder(QStringConverter::Utf16LE)(QByteArrayView(written).sliced(2));
    // A surrogate half alone stands in the third record, unescaped in the
    // UTF-16 and beside an escaped half that would pair with it.
    const QString lone = text.left(text.lastIndexOf(QStringLiteral("𝄞"))) + QChar(0xD834) + QStringLiteral("\\udd1e")
                         + text.mid(text.lastIndexOf(QStringLiteral("𝄞")) + 2);
    const QList<QByteArray> files{written, utf16(text, QStringConverter::Utf16BE), text.toUtf8(),
                                  QByteArray("\xEF\xBB\xBF") + text.toUtf8()};
    for (const QByteArray &file : files) {
        // Each chunk size puts a boundary at its own position, and at its multiples.
        for (qsizetype chunkSize = 1; chunkSize <= file.size(); ++chunkSize) {
            const Read read = readBackup(file, chunkSize);
            ASSERT_TRUE(read.cases) << "chunks of " << chunkSize << ": " << read.error.toStdString();
            ASSERT_EQ(*read.cases, records) << "chunks of " << chunkSize;
        }
    }
    for (const QByteArray &file : {utf16(lone, QStringConverter::Utf16LE), utf16(lone, QStringConverter::Utf16BE)}) {
        for (qsizetype chunkSize = 1; chunkSize <= file.size(); ++chunkSize) {
            const Read read = readBackup(file, chunkSize);
            ASSERT_FALSE(read.cases) << "chunks of " << chunkSize;
            ASSERT_EQ(read.error, QStringLiteral("case record 3: \"detail\" holds a lone UTF-16 surrogate")) << "chunks of " << chunkSize;
        }
    }
}

// The message a damaged file gets when its UTF-8 text is parsed whole.
QString wholeFileFailure(const QByteArray &utf8)
{
    QJsonParseError error;
    QJsonDocument::fromJson(utf8, &error);
    if (error.error == QJsonParseError::NoError)
        return QString();
    return QStringLiteral("The file is not valid JSON (%1 at offset %2)").arg(error.errorString()).arg(error.offset);
}

TEST(BackupReaderTest, ADamagedFileFailsWhereParsingItWholeFails)
{
    const QString text = QStringLiteral(R"( [
      {"patient_identifier":"A{\"}","sex":"v","tags":"]","summary":null,"extra":[-12.5e3,true,false,{}],"media":[]},
      {"patient_identifier":"Ωé","sex":"male","tags":"","detail":"x\\","number":0}
    ] )");
    const QByteArray utf8 = text.toUtf8();
    const auto check = [](const QByteArray &file, const QByteArray &asUtf8, const std::string &what) {
        const QString expected = wholeFileFailure(asUtf8);
        for (qsizetype chunkSize : {qsizetype(3), qsizetype(64), BackupReader::defaultChunkSize}) {
            const Read read = readBackup(file, chunkSize);
            if (expected.isEmpty())
                EXPECT_TRUE(read.cases || read.error.startsWith(QStringLiteral("case record"))) << what << ": " << read.error.toStdString();
            else
                EXPECT_EQ(read.error.toStdString(), expected.toStdString()) << what << " in chunks of " << chunkSize;
        }
    };
    for (qsizetype length = 0; length <= utf8.size(); ++length)
        check(utf8.left(length), utf8.left(length), "cut at " + std::to_string(length));
    const QByteArray wide = utf16(text, QStringConverter::Utf16LE);
    for (qsizetype length = 2; length <= wide.size(); ++length) {
        // A byte left over at the end reads as a replacement character.
        const QString cut = QStringDecoder(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless)(QByteArrayView(wide).sliced(2, length - 2));
        check(wide.left(length), cut.toUtf8(), "UTF-16 cut at " + std::to_string(length));
    }
    for (qsizetype at = 0; at < utf8.size(); ++at) {
        check(QByteArray(utf8).remove(at, 1), QByteArray(utf8).remove(at, 1), "byte " + std::to_string(at) + " left out");
        for (char replacement : {'"', '\\', '{', '}', '[', ']', ',', ':', ' ', 'x', '1'}) {
            QByteArray damaged = utf8;
            damaged[at] = replacement;
            check(damaged, damaged, "byte " + std::to_string(at) + " made " + replacement);
        }
    }
}

TEST(BackupReaderTest, AFileThatChangesAfterItsCheckStopsTheReadingOfItsRecords)
{
    QStringList records;
    for (int i = 1; i <= 6; ++i)
        records << QStringLiteral(R"({"patient_identifier":"P%1","sex":"v","tags":""})").arg(i);
    const QByteArray checked = (QLatin1Char('[') + records.join(QLatin1Char(',')) + QLatin1Char(']')).toUtf8();
    QStringList mistyped = records;
    mistyped[4] = QStringLiteral(R"({"patient_identifier":"P5","sex":"v","tags":5})");
    // What was changed, and the records given out before the change is found.
    const QList<std::pair<QStringList, qsizetype>> changes{{records.mid(0, 5), 4}, {records + records.mid(0, 1), 6}, {mistyped, 4}};
    for (const auto &[changed, before] : changes) {
        QBuffer buffer;
        buffer.setData(checked);
        buffer.open(QIODevice::ReadOnly);
        BackupReader reader(&buffer);
        QString error;
        ASSERT_TRUE(reader.check(&error)) << error.toStdString();
        buffer.buffer() = (QLatin1Char('[') + changed.join(QLatin1Char(',')) + QLatin1Char(']')).toUtf8();
        qsizetype read = 0;
        std::optional<QList<EncodedCase>> batch;
        while ((batch = reader.nextBatch(2, &error)) && !batch->isEmpty())
            read += batch->size();
        EXPECT_FALSE(batch) << read << " records read of " << changed.size();
        EXPECT_EQ(error.toStdString(), "The file changed while it was read");
        EXPECT_EQ(read, before);
    }
}

// The text of a file whose second record never ends, as far as it is read;
// it ends after limit bytes.
class EndlessRecordDevice : public QIODevice
{
public:
    explicit EndlessRecordDevice(qint64 limit)
        : m_limit(limit)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    qint64 handedOut() const { return m_handedOut; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        static const QByteArray head = R"([{"patient_identifier":"A","sex":"v","tags":""},{"patient_identifier":"B","summary":")";
        qint64 size = 0;
        for (; size < maxSize && m_handedOut < m_limit; ++size, ++m_handedOut)
            data[size] = m_handedOut < head.size() ? head[m_handedOut] : "{[\""[m_handedOut % 2];
        return size;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    qint64 m_limit;
    qint64 m_handedOut = 0;
};

TEST(BackupReaderTest, ARecordLongerThanTheLimitFailsTheFileBeforeMoreIsRead)
{
    constexpr qsizetype limit = 1024 * 1024;
    constexpr qsizetype chunkSize = 64 * 1024;
    EndlessRecordDevice device(32 * limit);
    BackupReader reader(&device, limit, chunkSize);
    QString error;
    EXPECT_FALSE(reader.check(&error));
    EXPECT_EQ(error.toStdString(), "case record 2: larger than 1 MB");
    EXPECT_LE(device.handedOut(), limit + 2 * chunkSize);

    // A long record within the limit is read.
    const QString summary(limit / 2, QLatin1Char('{'));
    const QByteArray file = QStringLiteral(R"([{"patient_identifier":"A","sex":"v","tags":"","summary":"%1"}])").arg(summary).toUtf8();
    const Read read = readBackup(file, chunkSize, limit);
    ASSERT_TRUE(read.cases) << read.error.toStdString();
    EXPECT_EQ(read.cases->first().summary, summary);
}

} // namespace
} // namespace ovalis::test
