#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "exchange/OvalisOneDocument.h"
#include "support/OvalisOneDocumentWriter.h"

namespace ovalis::test {
namespace {

class OvalisOneDocumentTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_directory.isValid()); }

    QString path(const QString &name) const { return m_directory.filePath(name); }
    const OvalisOneModel &model() const { return *OvalisOneModel::load(QStringLiteral("OvalisOne")); }

    std::unique_ptr<OvalisOneDocument> open(const QString &name)
    {
        QString error;
        auto document = OvalisOneDocument::open(path(name), model(), &error);
        EXPECT_TRUE(document) << error.toStdString();
        return document;
    }

    static void execute(const QString &file, const char *sql)
    {
        sqlite3 *database = nullptr;
        ASSERT_EQ(sqlite3_open(file.toUtf8().constData(), &database), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(database, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(database);
        sqlite3_close(database);
    }

    static QStringList identifiers(const QVector<OvalisOneObject> &objects)
    {
        QStringList list;
        for (const OvalisOneObject &object : objects)
            list.append(object.text(QStringLiteral("identifier")).value_or(QStringLiteral("?")));
        return list;
    }

    QTemporaryDir m_directory;
};

TEST_F(OvalisOneDocumentTest, FilesThatAreNotDocumentsDoNotOpenAndSayWhy)
{
    QFile text(path(QStringLiteral("text.ovalis")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write(QByteArray("SQLite format 2 and then some text that is long enough to be a header of a database file....").repeated(10));
    text.close();
    execute(path(QStringLiteral("other.ovalis")), "CREATE TABLE ZCONDITION (Z_PK INTEGER PRIMARY KEY)");
    ASSERT_TRUE(QDir().mkdir(path(QStringLiteral("folder.ovalis"))));

    const QStringList names{QStringLiteral("missing.ovalis"), QStringLiteral("folder.ovalis"), QStringLiteral("text.ovalis"),
                            QStringLiteral("other.ovalis")};
    QStringList reasons;
    for (const QString &name : names) {
        QString error;
        EXPECT_EQ(OvalisOneDocument::open(path(name), model(), &error), nullptr) << name.toStdString();
        EXPECT_FALSE(error.isEmpty()) << name.toStdString();
        reasons.append(error);
    }
    reasons.removeDuplicates();
    EXPECT_EQ(reasons.size(), names.size()) << reasons.join(QLatin1Char('|')).toStdString();
    // Nothing was written beside the files that were refused.
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("missing.ovalis"))));
}

TEST_F(OvalisOneDocumentTest, ReadingLeavesTheDocumentAsItWas)
{
    {
        OvalisOneDocumentWriter writer(path(QStringLiteral("Teaching.ovalis")));
        writer.insert(QStringLiteral("Condition"), {{QStringLiteral("conditionDescription"), QStringLiteral("a")}});
    }
    const auto digest = [&] {
        QFile file(path(QStringLiteral("Teaching.ovalis")));
        return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256) : QByteArray();
    };
    const QByteArray before = digest();
    {
        auto document = open(QStringLiteral("Teaching.ovalis"));
        ASSERT_TRUE(document);
        EXPECT_EQ(document->fetchAll(QStringLiteral("Condition"))->size(), 1);
    }
    EXPECT_EQ(digest(), before);
    EXPECT_EQ(QDir(m_directory.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Teaching.ovalis")});
}

TEST_F(OvalisOneDocumentTest, DatesCountFromTwoThousandAndOneInUniversalTime)
{
    {
        OvalisOneDocumentWriter writer(path(QStringLiteral("Dates.ovalis")));
        for (const QVariant &seconds : {QVariant(0.0), QVariant(-978307200.0), QVariant(86400.5), QVariant(31536000), QVariant(1e300)}) {
            const qint64 key = writer.insert(QStringLiteral("Patient"));
            writer.setRaw(QStringLiteral("Patient"), key, QStringLiteral("ZDATEOFBIRTH"), seconds);
        }
    }
    auto document = open(QStringLiteral("Dates.ovalis"));
    ASSERT_TRUE(document);
    const QVector<OvalisOneObject> patients = document->fetchAll(QStringLiteral("Patient")).value();
    ASSERT_EQ(patients.size(), 5);
    const auto date = [&](int i) { return patients[i].date(QStringLiteral("dateOfBirth")); };
    EXPECT_EQ(date(0), QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc()));
    EXPECT_EQ(date(1), QDateTime(QDate(1970, 1, 1), QTime(0, 0), QTimeZone::utc()));
    EXPECT_EQ(date(2), QDateTime(QDate(2001, 1, 2), QTime(0, 0, 0, 500), QTimeZone::utc()));
    EXPECT_EQ(date(3), QDateTime(QDate(2002, 1, 1), QTime(0, 0), QTimeZone::utc()));
    EXPECT_FALSE(date(4).has_value());
}

TEST_F(OvalisOneDocumentTest, RelationshipsLeadBothWaysAndDanglingLinksLeadNowhere)
{
    qint64 first = 0, second = 0, third = 0, condition = 0, orphan = 0;
    {
        OvalisOneDocumentWriter writer(path(QStringLiteral("Links.ovalis")));
        first = writer.insert(QStringLiteral("Patient"), {{QStringLiteral("identifier"), QStringLiteral("one")}});
        second = writer.insert(QStringLiteral("Patient"), {{QStringLiteral("identifier"), QStringLiteral("two")}});
        third = writer.insert(QStringLiteral("Patient"), {{QStringLiteral("identifier"), QStringLiteral("three")}});
        writer.link(QStringLiteral("Patient"), first, QStringLiteral("linkedToPatients"), second);
        writer.link(QStringLiteral("Patient"), first, QStringLiteral("linkedToPatients"), third);
        writer.link(QStringLiteral("Patient"), first, QStringLiteral("linkedToPatients"), 404);
        condition = writer.insert(QStringLiteral("Condition"), {{QStringLiteral("patient"), second}});
        orphan = writer.insert(QStringLiteral("Condition"), {{QStringLiteral("patient"), 404}});
    }
    auto document = open(QStringLiteral("Links.ovalis"));
    ASSERT_TRUE(document);
    const QVector<OvalisOneObject> patients = document->fetchAll(QStringLiteral("Patient")).value();
    ASSERT_EQ(patients.size(), 3);
    EXPECT_EQ(identifiers(document->related(patients[0], QStringLiteral("linkedToPatients"))),
              (QStringList{QStringLiteral("two"), QStringLiteral("three")}));
    EXPECT_TRUE(document->related(patients[0], QStringLiteral("linkedFromPatients")).isEmpty());
    EXPECT_EQ(identifiers(document->related(patients[2], QStringLiteral("linkedFromPatients"))), QStringList{QStringLiteral("one")});

    const QVector<OvalisOneObject> conditions = document->fetchAll(QStringLiteral("Condition")).value();
    ASSERT_EQ(conditions.size(), 2);
    EXPECT_EQ(conditions[0].primaryKey, condition);
    EXPECT_EQ(identifiers(document->related(conditions[0], QStringLiteral("patient"))), QStringList{QStringLiteral("two")});
    EXPECT_EQ(conditions[1].primaryKey, orphan);
    EXPECT_TRUE(document->related(conditions[1], QStringLiteral("patient")).isEmpty());
    EXPECT_EQ(document->related(patients[1], QStringLiteral("conditions")).size(), 1);
    // A name the model does not know leads nowhere.
    EXPECT_TRUE(document->related(patients[1], QStringLiteral("relatives")).isEmpty());
}

TEST_F(OvalisOneDocumentTest, SubEntitiesAreReadFromTheirRootEntitysTable)
{
    const QString file = path(QStringLiteral("Inherited.ovalis"));
    execute(file,
            "CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);"
            "INSERT INTO Z_PRIMARYKEY VALUES (1, 'Attachment', 0, 3), (2, 'File', 1, 0), (3, 'Image', 1, 0), (4, 'Study', 0, 1);"
            "CREATE TABLE ZATTACHMENT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZORDER INTEGER, ZSTUDY INTEGER,"
            "  ZFILENAME VARCHAR, ZIMAGEDATA BLOB, ZFILEDATA BLOB);"
            "INSERT INTO ZATTACHMENT VALUES (1, 3, 1, 1, 1, 'image.jpg', x'01AA', NULL), (2, 2, 1, 2, 1, 'notes.pdf', NULL, x'01BB'),"
            "  (3, 3, 1, 3, 1, 'second.jpg', x'01CC', NULL);"
            "CREATE TABLE ZSTUDY (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER);"
            "INSERT INTO ZSTUDY VALUES (1, 4, 1);");
    auto document = open(QStringLiteral("Inherited.ovalis"));
    ASSERT_TRUE(document);
    const QVector<OvalisOneObject> images = document->fetchAll(QStringLiteral("Image")).value();
    ASSERT_EQ(images.size(), 2);
    EXPECT_EQ(images[0].text(QStringLiteral("fileName")), QStringLiteral("image.jpg"));
    EXPECT_EQ(document->data(images[1], QStringLiteral("imageData")), QByteArray("\xCC"));
    const QVector<OvalisOneObject> study = document->fetchAll(QStringLiteral("Study")).value();
    ASSERT_EQ(study.size(), 1);
    const QVector<OvalisOneObject> files = document->related(study[0], QStringLiteral("files"));
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(document->data(files[0], QStringLiteral("fileData")), QByteArray("\xBB"));
    // Entities the file does not hold have no records to fetch.
    QString error;
    EXPECT_FALSE(document->fetchAll(QStringLiteral("Condition"), &error).has_value());
    EXPECT_FALSE(error.isEmpty());
}

} // namespace
} // namespace ovalis::test
