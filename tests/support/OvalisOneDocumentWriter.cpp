#include "support/OvalisOneDocumentWriter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "util/KeyedArchive.h"

namespace ovalis::test {

namespace {

struct Table {
    QString entity;
    QStringList columns; // "ZNAME TYPE"
};

const QList<Table> &tables()
{
    static const QList<Table> list = {
        {QStringLiteral("Album"), {QStringLiteral("ZLABEL VARCHAR")}},
        {QStringLiteral("Condition"),
         {QStringLiteral("ZCONDITIONREGION INTEGER"), QStringLiteral("ZPATHOLOGY INTEGER"), QStringLiteral("ZSYSTEM INTEGER"),
          QStringLiteral("ZPATIENT INTEGER"), QStringLiteral("ZDATEOFONSET TIMESTAMP"), QStringLiteral("ZCONDITIONDESCRIPTION VARCHAR")}},
        {QStringLiteral("File"),
         {QStringLiteral("ZORDER INTEGER"), QStringLiteral("ZSTUDY INTEGER"), QStringLiteral("ZFILENAME VARCHAR"),
          QStringLiteral("ZFILEDATA BLOB")}},
        {QStringLiteral("Image"),
         {QStringLiteral("ZORDER INTEGER"), QStringLiteral("ZSTUDY INTEGER"), QStringLiteral("ZFILENAME VARCHAR"),
          QStringLiteral("ZIMAGEDATA BLOB")}},
        {QStringLiteral("Patient"),
         {QStringLiteral("ZGENDER INTEGER"), QStringLiteral("ZDATEOFBIRTH TIMESTAMP"), QStringLiteral("ZIDENTIFIER VARCHAR")}},
        {QStringLiteral("Study"),
         {QStringLiteral("ZMODALITY INTEGER"), QStringLiteral("ZSTUDYREGION INTEGER"), QStringLiteral("ZCONDITION INTEGER"),
          QStringLiteral("ZDATEOFSTUDY TIMESTAMP"), QStringLiteral("ZSTUDYDESCRIPTION VARCHAR")}},
    };
    return list;
}

// The two many-to-many relationships: each side's entity and name.
struct ManyToMany {
    QString entity, relationship, inverseEntity, inverse;
};

const QList<ManyToMany> &manyToMany()
{
    static const QList<ManyToMany> list = {
        {QStringLiteral("Condition"), QStringLiteral("albums"), QStringLiteral("Album"), QStringLiteral("conditions")},
        {QStringLiteral("Patient"), QStringLiteral("linkedToPatients"), QStringLiteral("Patient"), QStringLiteral("linkedFromPatients")},
    };
    return list;
}

QString tableOf(const QString &entity)
{
    return QLatin1Char('Z') + entity.toUpper();
}

} // namespace

QHash<QString, int> OvalisOneDocumentWriter::alphabeticalNumbers()
{
    return {{QStringLiteral("Album"), 1}, {QStringLiteral("Condition"), 2}, {QStringLiteral("File"), 3},
            {QStringLiteral("Image"), 4}, {QStringLiteral("Patient"), 5}, {QStringLiteral("Study"), 6}};
}

OvalisOneDocumentWriter::OvalisOneDocumentWriter(const QString &path, const QHash<QString, int> &entityNumbers,
                                                 const QStringList &omittedColumns)
    : m_path(path)
    , m_numbers(entityNumbers)
{
    QFile::remove(path);
    EXPECT_EQ(sqlite3_open(path.toUtf8().constData(), &m_database), SQLITE_OK);
    // A scratch document: no need to wait for the disk after every row.
    execute(QStringLiteral("PRAGMA synchronous = OFF"));
    execute(QStringLiteral("CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER)"));
    execute(QStringLiteral("CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB)"));
    execute(QStringLiteral("INSERT INTO Z_METADATA VALUES (1, ?, NULL)"), {QUuid::createUuid().toString(QUuid::WithoutBraces)});
    for (const Table &table : tables()) {
        QStringList columns{QStringLiteral("Z_PK INTEGER PRIMARY KEY"), QStringLiteral("Z_ENT INTEGER"), QStringLiteral("Z_OPT INTEGER")};
        for (const QString &column : table.columns)
            if (!omittedColumns.contains(column.section(QLatin1Char(' '), 0, 0)))
                columns.append(column);
        execute(QStringLiteral("CREATE TABLE %1 (%2)").arg(tableOf(table.entity), columns.join(QStringLiteral(", "))));
        execute(QStringLiteral("INSERT INTO Z_PRIMARYKEY VALUES (?, ?, 0, 0)"), {m_numbers.value(table.entity), table.entity});
    }
    for (const ManyToMany &relationship : manyToMany()) {
        QString source, target;
        const QString table = joinTable(relationship.entity, relationship.relationship, &source, &target);
        execute(QStringLiteral("CREATE TABLE %1 (%2 INTEGER, %3 INTEGER, PRIMARY KEY (%2, %3))").arg(table, source, target));
    }
}

OvalisOneDocumentWriter::~OvalisOneDocumentWriter()
{
    sqlite3_close(m_database);
}

// The join table is named after the side with the lower entity number (the
// first relationship for an entity linked to itself); each column after the
// entity whose key it holds and the relationship pointing at that entity.
QString OvalisOneDocumentWriter::joinTable(const QString &entity, const QString &relationship, QString *sourceColumn,
                                           QString *targetColumn) const
{
    for (const ManyToMany &candidate : manyToMany()) {
        const bool forward = candidate.entity == entity && candidate.relationship == relationship;
        const bool backward = candidate.inverseEntity == entity && candidate.inverse == relationship;
        if (!forward && !backward)
            continue;
        const int number = m_numbers.value(candidate.entity);
        const int inverseNumber = m_numbers.value(candidate.inverseEntity);
        const QString ownerColumn = QStringLiteral("Z_%1%2").arg(number).arg(candidate.inverse.toUpper());
        const QString inverseColumn = QStringLiteral("Z_%1%2").arg(inverseNumber).arg(candidate.relationship.toUpper());
        *sourceColumn = forward ? ownerColumn : inverseColumn;
        *targetColumn = forward ? inverseColumn : ownerColumn;
        return number <= inverseNumber ? QStringLiteral("Z_%1%2").arg(number).arg(candidate.relationship.toUpper())
                                       : QStringLiteral("Z_%1%2").arg(inverseNumber).arg(candidate.inverse.toUpper());
    }
    ADD_FAILURE() << "no many-to-many relationship " << relationship.toStdString();
    return {};
}

qint64 OvalisOneDocumentWriter::insert(const QString &entity, const QVariantMap &values)
{
    QStringList columns{QStringLiteral("Z_ENT"), QStringLiteral("Z_OPT")};
    QVariantList arguments{m_numbers.value(entity), 1};
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        columns.append(QLatin1Char('Z') + it.key().toUpper());
        QVariant value = it.value();
        if (value.typeId() == QMetaType::QDateTime)
            value = double(value.toDateTime().toMSecsSinceEpoch()) / 1000.0 - 978307200.0;
        else if (value.typeId() == QMetaType::QByteArray && (it.key() == QLatin1String("imageData") || it.key() == QLatin1String("fileData")))
            value = QByteArray(1, '\x01') + value.toByteArray();
        arguments.append(value);
    }
    QStringList marks;
    for (int i = 0; i < columns.size(); ++i)
        marks.append(QStringLiteral("?"));
    execute(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(tableOf(entity), columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))),
            arguments);
    const qint64 key = sqlite3_last_insert_rowid(m_database);
    execute(QStringLiteral("UPDATE Z_PRIMARYKEY SET Z_MAX = max(Z_MAX, ?) WHERE Z_NAME = ?"), {key, entity});
    return key;
}

void OvalisOneDocumentWriter::link(const QString &entity, qint64 primaryKey, const QString &relationship, qint64 targetKey)
{
    QString source, target;
    const QString table = joinTable(entity, relationship, &source, &target);
    execute(QStringLiteral("INSERT INTO %1 (%2, %3) VALUES (?, ?)").arg(table, source, target), {primaryKey, targetKey});
}

void OvalisOneDocumentWriter::storeExternally(const QString &entity, qint64 primaryKey, const QString &attribute,
                                              const QByteArray &data, bool writeFile)
{
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QFileInfo document(m_path);
    const QString folder = document.dir().filePath(QLatin1Char('.') + document.completeBaseName() + QStringLiteral("_SUPPORT/_EXTERNAL_DATA"));
    if (writeFile) {
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile file(folder + QLatin1Char('/') + uuid);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
    }
    setRaw(entity, primaryKey, QLatin1Char('Z') + attribute.toUpper(), QByteArray(1, '\x02') + uuid.toLatin1() + '\0');
}

void OvalisOneDocumentWriter::setRaw(const QString &entity, qint64 primaryKey, const QString &column, const QVariant &value)
{
    execute(QStringLiteral("UPDATE %1 SET %2 = ? WHERE Z_PK = ?").arg(tableOf(entity), column), {value, primaryKey});
}

QByteArray OvalisOneDocumentWriter::archivedImage(const QByteArray &imageBytes)
{
    return KeyedArchive::archive(QVariant(imageBytes)).value_or(QByteArray());
}

void OvalisOneDocumentWriter::execute(const QString &sql, const QVariantList &arguments)
{
    sqlite3_stmt *statement = nullptr;
    const QByteArray text = sql.toUtf8();
    ASSERT_EQ(sqlite3_prepare_v2(m_database, text.constData(), -1, &statement, nullptr), SQLITE_OK)
        << sql.toStdString() << ": " << sqlite3_errmsg(m_database);
    for (int i = 0; i < arguments.size(); ++i) {
        const QVariant &value = arguments[i];
        switch (value.typeId()) {
        case QMetaType::QString: {
            const QByteArray utf8 = value.toString().toUtf8();
            sqlite3_bind_text(statement, i + 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
            break;
        }
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            sqlite3_bind_blob(statement, i + 1, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        case QMetaType::Double:
            sqlite3_bind_double(statement, i + 1, value.toDouble());
            break;
        case QMetaType::UnknownType:
            sqlite3_bind_null(statement, i + 1);
            break;
        default:
            sqlite3_bind_int64(statement, i + 1, value.toLongLong());
        }
    }
    EXPECT_EQ(sqlite3_step(statement), SQLITE_DONE) << sql.toStdString() << ": " << sqlite3_errmsg(m_database);
    sqlite3_finalize(statement);
}

} // namespace ovalis::test
