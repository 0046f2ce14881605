#include "PredicateTestLibrary.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include "store/SqlFunctions.h"
#include "util/TextFolding.h"

namespace ovalis {

namespace {

const EntityDescription &entityNamed(const QString &name)
{
    return *ManagedObjectModel::ovalisModel().entity(name);
}

void bind(sqlite3_stmt *statement, int index, const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::QString: {
        const QString text = value.toString();
        const void *data = text.isNull() ? static_cast<const void *>(u"") : static_cast<const void *>(text.utf16());
        sqlite3_bind_text16(statement, index, data, int(text.size() * 2), SQLITE_TRANSIENT);
        break;
    }
    case QMetaType::Bool: sqlite3_bind_int64(statement, index, value.toBool() ? 1 : 0); break;
    case QMetaType::Int:
    case QMetaType::LongLong: sqlite3_bind_int64(statement, index, value.toLongLong()); break;
    case QMetaType::Double: sqlite3_bind_double(statement, index, value.toDouble()); break;
    case QMetaType::QDateTime:
        sqlite3_bind_double(statement, index, double(value.toDateTime().toMSecsSinceEpoch()) / 1000.0);
        break;
    default: sqlite3_bind_null(statement, index); break;
    }
}

} // namespace

const QStringList &PredicateTestLibrary::texts()
{
    static const QStringList texts{
        QStringLiteral("Smith"), QStringLiteral("smith"), QStringLiteral("SMITH"), QStringLiteral("Smíth"),
        QStringLiteral("smíth"), QStringLiteral("SMÍTH"), QStringLiteral("Smi\u0301th"), QStringLiteral("Jones"),
        QStringLiteral(""), QStringLiteral("Chest CT"), QStringLiteral("chest ct"), QStringLiteral("CT chest"),
        QStringLiteral("Pneumonia"), QStringLiteral("pneumonía"), QStringLiteral("Ünal"), QStringLiteral("unal"),
        QStringLiteral("İstanbul"), QStringLiteral("istanbul"), QStringLiteral("Straße"), QStringLiteral("STRASSE"),
        QString::fromUcs4(U"\U0001F600 smile"), QStringLiteral("\uFF01 bang"), QStringLiteral("a*b"),
        QStringLiteral("a?b"), QStringLiteral("back\\slash"), QStringLiteral("say \"hi\""), QStringLiteral("Åse"),
        QStringLiteral("åse"), QStringLiteral("line\nbreak"), QStringLiteral("x"), QStringLiteral("ab"),
        QStringLiteral("abc"), QStringLiteral("ǅemal"),
    };
    return texts;
}

const QStringList &PredicateTestLibrary::tagLabels()
{
    static const QStringList labels{
        QStringLiteral("Chest"), QStringLiteral("chest"), QStringLiteral("CHEST"), QStringLiteral("Chést"),
        QStringLiteral("CT"),    QStringLiteral("ct"),    QStringLiteral("CT chest"), QStringLiteral(""),
        QStringLiteral("Neuro"), QStringLiteral("néuro"), QStringLiteral("MRI"), QString::fromUcs4(U"\U0001F600"),
    };
    return labels;
}

PredicateTestLibrary::PredicateTestLibrary(quint32 seed, int caseCount)
    : m_random(seed)
{
    if (sqlite3_open(":memory:", &m_db) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open an in-memory database";
        return;
    }
    registerSqlFunctions(m_db);
    for (const QString &statement : ManagedObjectModel::ovalisModel().schemaStatements())
        exec(statement);

    std::uniform_int_distribution<qint64> anyInstant(-946771200000LL, 1893456000000LL);
    for (int i = 0; i < 6; ++i)
        m_sharedDates << QDateTime::fromMSecsSinceEpoch(anyInstant(m_random), Qt::UTC);

    const auto chance = [this](double p) { return std::uniform_real_distribution<double>(0, 1)(m_random) < p; };
    const auto pick = [this](int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); };

    // Tags, one of which is deleted after being attached.
    const int tagCount = 12;
    QList<PredicateTestObject *> tags;
    for (int pk = 1; pk <= tagCount + 1; ++pk) {
        const QVariant label = chance(0.1) ? QVariant() : QVariant(tagLabels().at(pick(tagLabels().size())));
        const bool active = chance(0.3);
        const bool hasActiveCases = chance(0.5);
        insert(QStringLiteral("tags"), {{QStringLiteral("pk"), pk},
                                        {QStringLiteral("label"), label},
                                        {QStringLiteral("label_fold"), label.isValid() ? QVariant(foldForComparison(label.toString())) : QVariant()},
                                        {QStringLiteral("active"), active},
                                        {QStringLiteral("has_active_cases"), hasActiveCases}});
        if (pk > tagCount)
            continue;
        PredicateTestObject *tag = addObject(QStringLiteral("Tag"), pk);
        tag->setValue(QStringLiteral("label"), label);
        tag->setValue(QStringLiteral("active"), active);
        tag->setValue(QStringLiteral("hasActiveCases"), hasActiveCases);
        tags << tag;
    }

    // Cases, a few of which are deleted after their tags and media point at them.
    const int deletedCount = 5;
    QList<PredicateTestObject *> cases;
    QList<qint64> deletedCases;
    for (int pk = 1; pk <= caseCount + deletedCount; ++pk) {
        const bool deleted = pk > caseCount;
        QList<QPair<QString, QVariant>> row{{QStringLiteral("pk"), pk}};
        PredicateTestObject *object = deleted ? nullptr : addObject(QStringLiteral("Case"), pk);
        for (const AttributeDescription &attribute : entityNamed(QStringLiteral("Case")).attributes) {
            QVariant value;
            if (attribute.type == AttributeType::String)
                value = attribute.name == QLatin1String("patientID") && chance(0.3)
                            ? QVariant(QStringLiteral("P%1").arg(pick(20)))
                            : randomText(0.3);
            else if (attribute.type == AttributeType::Date)
                value = randomDate(0.3);
            else
                value = pick(4);
            row << qMakePair(attribute.column, value);
            if (!attribute.foldColumn.isEmpty())
                row << qMakePair(attribute.foldColumn,
                                 value.isValid() ? QVariant(foldForComparison(value.toString())) : QVariant());
            if (object)
                object->setValue(attribute.name, value);
        }
        insert(QStringLiteral("cases"), row);
        if (deleted)
            deletedCases << pk;
        else
            cases << object;
        QList<int> chosen;
        const int tagsOnCase = pick(4);
        for (int t = 0; t < tagsOnCase; ++t) {
            const int tagPk = 1 + pick(tagCount + 1);
            if (chosen.contains(tagPk))
                continue;
            chosen << tagPk;
            insert(QStringLiteral("case_tags"), {{QStringLiteral("case_pk"), pk}, {QStringLiteral("tag_pk"), tagPk}});
            if (object && tagPk <= tagCount) {
                object->addRelated(QStringLiteral("tags"), tags[tagPk - 1]);
                tags[tagPk - 1]->addRelated(QStringLiteral("cases"), object);
            }
        }
    }

    // Media: most on a case, some on none, some on a deleted case.
    static const QStringList fileNames{QStringLiteral("scan.jpg"), QStringLiteral("Scan.JPG"), QStringLiteral("scän.png"),
                                       QStringLiteral("movie.mov"), QStringLiteral(""), QStringLiteral("x")};
    for (int pk = 1; pk <= caseCount + caseCount / 4; ++pk) {
        QVariant casePk;
        const int where = pick(100);
        if (where < 70)
            casePk = cases[pick(int(cases.size()))]->pk();
        else if (where < 85)
            casePk = deletedCases[pick(int(deletedCases.size()))];
        const QVariant uuid = chance(0.1) ? QVariant() : QVariant(QStringLiteral("UUID-%1").arg(pick(caseCount)));
        const QVariant fileName = chance(0.2) ? randomText(0.3) : QVariant(fileNames.at(pick(int(fileNames.size()))));
        const int orderIndex = pick(8) - 2;
        const QVariant creationDate = randomDate(0.3);
        insert(QStringLiteral("media"),
               {{QStringLiteral("pk"), pk},
                {QStringLiteral("uuid"), uuid},
                {QStringLiteral("uuid_fold"), uuid.isValid() ? QVariant(foldForComparison(uuid.toString())) : QVariant()},
                {QStringLiteral("file_name"), fileName},
                {QStringLiteral("file_name_fold"),
                 fileName.isValid() ? QVariant(foldForComparison(fileName.toString())) : QVariant()},
                {QStringLiteral("order_index"), orderIndex},
                {QStringLiteral("creation_date"), creationDate},
                {QStringLiteral("case_pk"), casePk}});
        PredicateTestObject *media = addObject(QStringLiteral("Media"), pk);
        media->setValue(QStringLiteral("uuid"), uuid);
        media->setValue(QStringLiteral("fileName"), fileName);
        media->setValue(QStringLiteral("orderIndex"), orderIndex);
        media->setValue(QStringLiteral("creationDate"), creationDate);
        for (PredicateTestObject *owner : std::as_const(cases))
            if (casePk.isValid() && owner->pk() == casePk.toLongLong()) {
                media->addRelated(QStringLiteral("itsCase"), owner);
                owner->addRelated(QStringLiteral("media"), media);
            }
    }

    exec(QStringLiteral("DELETE FROM cases WHERE pk > %1").arg(caseCount));
    exec(QStringLiteral("DELETE FROM tags WHERE pk > %1").arg(tagCount));
}

PredicateTestLibrary::~PredicateTestLibrary()
{
    sqlite3_close(m_db);
}

QVariant PredicateTestLibrary::randomText(double absentChance)
{
    if (std::uniform_real_distribution<double>(0, 1)(m_random) < absentChance)
        return QVariant();
    const QStringList &pool = texts();
    std::uniform_int_distribution<int> pick(0, int(pool.size()) - 1);
    QString text = pool.at(pick(m_random));
    if (std::uniform_int_distribution<int>(0, 2)(m_random) == 0)
        text += QLatin1Char(' ') + pool.at(pick(m_random));
    return text;
}

QVariant PredicateTestLibrary::randomDate(double absentChance)
{
    std::uniform_real_distribution<double> unit(0, 1);
    if (unit(m_random) < absentChance)
        return QVariant();
    if (unit(m_random) < 0.5)
        return m_sharedDates.at(std::uniform_int_distribution<int>(0, int(m_sharedDates.size()) - 1)(m_random));
    return QDateTime::fromMSecsSinceEpoch(
        std::uniform_int_distribution<qint64>(-946771200000LL, 1893456000000LL)(m_random), Qt::UTC);
}

PredicateTestObject *PredicateTestLibrary::addObject(const QString &entityName, qint64 pk)
{
    m_owned.push_back(std::make_unique<PredicateTestObject>(entityNamed(entityName), pk));
    m_objects[entityName].append(m_owned.back().get());
    return m_owned.back().get();
}

QList<const PredicateTestObject *> PredicateTestLibrary::objects(const QString &entityName) const
{
    return m_objects.value(entityName);
}

void PredicateTestLibrary::exec(const QString &sql)
{
    char *message = nullptr;
    if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message) != SQLITE_OK)
        ADD_FAILURE() << sql.toStdString() << ": " << (message ? message : "");
    sqlite3_free(message);
}

void PredicateTestLibrary::insert(const QString &table, const QList<QPair<QString, QVariant>> &values)
{
    QStringList columns;
    QStringList placeholders;
    QVariantList bindings;
    for (const auto &[column, value] : values) {
        columns << column;
        placeholders << QStringLiteral("?");
        bindings << value;
    }
    QString error;
    if (!run(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                 .arg(table, columns.join(QLatin1String(", ")), placeholders.join(QLatin1String(", "))),
             bindings, nullptr, &error))
        ADD_FAILURE() << error.toStdString();
}

bool PredicateTestLibrary::run(const QString &sql, const QVariantList &bindings, QList<qint64> *firstColumn,
                               QString *error) const
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &statement, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(m_db)) + QStringLiteral(" in ") + sql;
        sqlite3_finalize(statement);
        return false;
    }
    if (sqlite3_bind_parameter_count(statement) != bindings.size()) {
        *error = QStringLiteral("%1 placeholders for %2 bindings in %3")
                     .arg(sqlite3_bind_parameter_count(statement))
                     .arg(bindings.size())
                     .arg(sql);
        sqlite3_finalize(statement);
        return false;
    }
    for (int i = 0; i < bindings.size(); ++i)
        bind(statement, i + 1, bindings[i]);
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW)
        if (firstColumn)
            firstColumn->append(sqlite3_column_int64(statement, 0));
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE) {
        *error = QString::fromUtf8(sqlite3_errmsg(m_db)) + QStringLiteral(" running ") + sql;
        return false;
    }
    return true;
}

QSet<qint64> PredicateTestLibrary::evaluate(const Predicate &predicate, const QString &entityName) const
{
    QSet<qint64> keys;
    for (const PredicateTestObject *object : m_objects.value(entityName))
        if (predicate.evaluate(*object))
            keys.insert(object->pk());
    return keys;
}

bool PredicateTestLibrary::select(const Predicate &predicate, const QString &entityName, QSet<qint64> *keys,
                                  QString *sql, QString *error) const
{
    const EntityDescription &entity = entityNamed(entityName);
    QString where;
    QVariantList bindings;
    if (!predicate.toSql(entity, QStringLiteral("t0"), &where, &bindings, error))
        return false;
    *sql = QStringLiteral("SELECT t0.pk FROM %1 t0 WHERE %2").arg(entity.table, where);
    QList<qint64> rows;
    if (!run(*sql, bindings, &rows, error))
        return false;
    *keys = QSet<qint64>(rows.begin(), rows.end());
    return true;
}

QStringList PredicateTestLibrary::queryPlan(const Predicate &predicate, const QString &entityName) const
{
    const EntityDescription &entity = entityNamed(entityName);
    QString where;
    QVariantList bindings;
    QString error;
    if (!predicate.toSql(entity, QStringLiteral("t0"), &where, &bindings, &error)) {
        ADD_FAILURE() << error.toStdString();
        return {};
    }
    const QString sql = QStringLiteral("EXPLAIN QUERY PLAN SELECT t0.pk FROM %1 t0 WHERE %2").arg(entity.table, where);
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &statement, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(m_db) << " in " << sql.toStdString();
        return {};
    }
    for (int i = 0; i < bindings.size(); ++i)
        bind(statement, i + 1, bindings[i]);
    QStringList details;
    while (sqlite3_step(statement) == SQLITE_ROW)
        details << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 3)));
    sqlite3_finalize(statement);
    return details;
}

} // namespace ovalis
