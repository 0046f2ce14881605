#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

struct sqlite3;

namespace ovalis::test {

// Writes version-1 documents the way the first version's object store laid
// them out in SQLite, so that the import can be tried on documents of every
// shape: entity numbers of our choosing, missing columns, values of the
// wrong type, links to records that do not exist and binary values kept
// outside the file.
class OvalisOneDocumentWriter
{
public:
    // The store numbered entities alphabetically.
    static QHash<QString, int> alphabeticalNumbers();

    // omittedColumns: columns ("ZSYSTEM") left out of their tables.
    explicit OvalisOneDocumentWriter(const QString &path, const QHash<QString, int> &entityNumbers = alphabeticalNumbers(),
                                     const QStringList &omittedColumns = {});
    ~OvalisOneDocumentWriter();
    OvalisOneDocumentWriter(const OvalisOneDocumentWriter &) = delete;
    OvalisOneDocumentWriter &operator=(const OvalisOneDocumentWriter &) = delete;

    // A record with attributes and to-one links by name: texts, integers,
    // dates (as seconds since 2001) and bytes (binary attributes that may be
    // stored outside are marked as stored inside). Answers its Z_PK.
    qint64 insert(const QString &entity, const QVariantMap &values = {});
    // A many-to-many link: Condition "albums" or Patient "linkedToPatients"
    // (and their inverses).
    void link(const QString &entity, qint64 primaryKey, const QString &relationship, qint64 targetKey);
    // Keeps a binary value outside the file, in the document's external-data
    // folder (or only refers to it, when writeFile is false).
    void storeExternally(const QString &entity, qint64 primaryKey, const QString &attribute, const QByteArray &data,
                         bool writeFile = true);
    // Stores a value in a column as it is, whatever its type.
    void setRaw(const QString &entity, qint64 primaryKey, const QString &column, const QVariant &value);

    QString path() const { return m_path; }
    static QByteArray archivedImage(const QByteArray &imageBytes);

private:
    void execute(const QString &sql, const QVariantList &arguments = {});
    QString joinTable(const QString &entity, const QString &relationship, QString *sourceColumn, QString *targetColumn) const;

    QString m_path;
    QHash<QString, int> m_numbers;
    sqlite3 *m_database = nullptr;
};

} // namespace ovalis::test
