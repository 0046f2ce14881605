#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <memory>
#include <random>
#include <vector>

#include "PredicateTestObject.h"
#include "store/Predicate.h"

struct sqlite3;

namespace ovalis {

// A random library held twice: in an in-memory SQLite database with the
// store's schema (fold columns filled, dangling references left behind by
// deleted cases and tags) and as PredicateTestObjects related the way the
// rows are, so that a predicate can be run both ways and the answers compared.
class PredicateTestLibrary
{
public:
    explicit PredicateTestLibrary(quint32 seed, int caseCount = 70);
    ~PredicateTestLibrary();
    PredicateTestLibrary(const PredicateTestLibrary &) = delete;
    PredicateTestLibrary &operator=(const PredicateTestLibrary &) = delete;

    sqlite3 *database() const { return m_db; }
    QList<const PredicateTestObject *> objects(const QString &entityName) const;

    // The primary keys of the objects predicate.evaluate accepts.
    QSet<qint64> evaluate(const Predicate &predicate, const QString &entityName) const;
    // The primary keys "SELECT pk FROM <table> t0 WHERE <toSql>" returns; the
    // statement goes to sql.
    bool select(const Predicate &predicate, const QString &entityName, QSet<qint64> *keys, QString *sql,
                QString *error) const;
    // The detail lines of EXPLAIN QUERY PLAN for the same statement.
    QStringList queryPlan(const Predicate &predicate, const QString &entityName) const;
    bool run(const QString &sql, const QVariantList &bindings, QList<qint64> *firstColumn, QString *error) const;

    // Texts the library stores, with accents, case variants, decomposed
    // forms, characters beyond the BMP, wildcards and empty strings.
    static const QStringList &texts();
    static const QStringList &tagLabels();
    // Dates that several records share, so that equality can hold.
    const QList<QDateTime> &sharedDates() const { return m_sharedDates; }

private:
    void insert(const QString &table, const QList<QPair<QString, QVariant>> &values);
    void exec(const QString &sql);
    PredicateTestObject *addObject(const QString &entityName, qint64 pk);
    QVariant randomText(double absentChance);
    QVariant randomDate(double absentChance);

    sqlite3 *m_db = nullptr;
    std::mt19937 m_random;
    std::vector<std::unique_ptr<PredicateTestObject>> m_owned;
    QHash<QString, QList<const PredicateTestObject *>> m_objects;
    QList<QDateTime> m_sharedDates;
};

} // namespace ovalis
