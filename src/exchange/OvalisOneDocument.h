#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <memory>
#include <optional>

#include "exchange/OvalisOneModel.h"
#include "exchange/OvalisOneObject.h"

struct sqlite3;

namespace ovalis {

// A version-1 document opened read-only: an SQLite file in the layout of the
// object store the first version was built on. Tables, columns and entity
// numbers are discovered from the file (Z_PRIMARYKEY, sqlite_master and
// table_info), never assumed:
//   - an entity's records live in "Z" + its root entity's upper-cased name,
//     with Z_PK and Z_ENT; sub-entities share the root's table;
//   - an attribute is the column "Z" + its upper-cased name;
//   - a to-one link is an integer column "Z" + the relationship's name
//     holding the target's Z_PK; a to-many link whose inverse is to-one is
//     that inverse column on the other side;
//   - a many-to-many link is a join table "Z_" + entity number + upper-cased
//     relationship name (of either side), with one column per side named
//     "Z_" + entity number + the name of the relationship pointing at it;
//   - a date is a REAL of seconds since 2001-01-01 00:00:00 UTC;
//   - a binary attribute that allows external storage starts with 0x01
//     (the value follows) or 0x02 (an ASCII UUID naming a file in
//     ".<document name>_SUPPORT/_EXTERNAL_DATA/" beside the document).
// A value whose stored type is not the model's is read as absent.
//
// Not thread-safe: use a document on one thread at a time.
class OvalisOneDocument
{
public:
    // Nothing, with the reason in error, when the file is missing, is not
    // an SQLite database or holds no entity table (Z_PRIMARYKEY).
    static std::unique_ptr<OvalisOneDocument> open(const QString &path, const OvalisOneModel &model, QString *error = nullptr);
    ~OvalisOneDocument();
    OvalisOneDocument(const OvalisOneDocument &) = delete;
    OvalisOneDocument &operator=(const OvalisOneDocument &) = delete;

    QString path() const { return m_path; }
    // The entity numbers the file gave, by entity name.
    QHash<QString, int> entityNumbers() const;

    // Every record of the entity (its sub-entities included) in key order;
    // nothing, with a message, when the file has no table for it.
    std::optional<QVector<OvalisOneObject>> fetchAll(const QString &entity, QString *error = nullptr);
    // The records a relationship leads to, in key order. Links to records
    // that do not exist and relationships the file does not hold give none.
    QVector<OvalisOneObject> related(const OvalisOneObject &object, const QString &relationship);
    // A binary attribute's bytes; nothing when absent, of another type, or
    // stored outside the file in a file that cannot be read (logged).
    std::optional<QByteArray> data(const OvalisOneObject &object, const QString &attribute);

private:
    struct EntityInfo {
        int number = 0;
        int superNumber = 0;
        QString name;
    };
    struct EntityTable {
        const OvalisOneModel::Entity *entity = nullptr;
        int number = 0;
        QString table;
        QString filter; // "" or a condition on Z_ENT
        QSet<QString> columns;
    };

    OvalisOneDocument(const QString &path, const OvalisOneModel &model, sqlite3 *database);
    bool readEntities(QString *error);
    const EntityTable *entityTable(const QString &entity);
    QSet<QString> columnsOf(const QString &table);
    std::optional<QVector<OvalisOneObject>> fetch(const EntityTable &table, const QString &condition,
                                                  const QVector<qint64> &arguments, QString *error);
    QVector<OvalisOneObject> manyToMany(const OvalisOneObject &object, const EntityTable &source,
                                        const OvalisOneModel::Relationship &relationship);
    std::optional<QByteArray> externalData(const QByteArray &reference, const QString &attribute);

    QString m_path;
    const OvalisOneModel &m_model;
    sqlite3 *m_database; // Owned.
    QHash<int, EntityInfo> m_entities; // by number
    QStringList m_tables;
    QHash<QString, QSet<QString>> m_columns;
    QHash<QString, std::optional<EntityTable>> m_entityTables;
};

} // namespace ovalis
