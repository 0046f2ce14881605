#include "MirrorServer.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimeZone>

#include "store/MediaUuid.h"

namespace ovalis {

namespace {

// Tables of schema version 1. Numbers come from one sequence, so that a
// machine asks for everything after the last number it has seen.
const char *const schemaScript = R"(
CREATE SEQUENCE changes;
CREATE TABLE meta (key text PRIMARY KEY, value text NOT NULL);
CREATE TABLE objects (entity text NOT NULL, uuid text NOT NULL, vals jsonb NOT NULL, stamps jsonb NOT NULL,
  deleted_at bigint, deleted_by text, seq bigint NOT NULL, PRIMARY KEY (entity, uuid));
CREATE INDEX objects_by_seq ON objects (seq);
CREATE INDEX tags_by_label ON objects ((vals->>'label')) WHERE entity = 'Tag' AND deleted_at IS NULL;
CREATE TABLE links (case_uuid text NOT NULL, tag_uuid text NOT NULL, present boolean NOT NULL,
  saved_at bigint NOT NULL, machine text NOT NULL, seq bigint NOT NULL, PRIMARY KEY (case_uuid, tag_uuid));
CREATE INDEX links_by_seq ON links (seq);
CREATE INDEX links_by_tag ON links (tag_uuid);
CREATE TABLE contents (sha256 text PRIMARY KEY, size bigint NOT NULL, complete boolean NOT NULL DEFAULT false);
CREATE TABLE content_chunks (sha256 text NOT NULL, n integer NOT NULL, data bytea NOT NULL, PRIMARY KEY (sha256, n));
CREATE TABLE files (media_uuid text PRIMARY KEY, sha256 text NOT NULL, size bigint NOT NULL, extension text NOT NULL,
  saved_at bigint NOT NULL, machine text NOT NULL, seq bigint NOT NULL);
CREATE INDEX files_by_seq ON files (seq);
)";

QByteArray number(qint64 value)
{
    return QByteArray::number(value);
}

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject jsonObject(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object();
}

qint64 stampTime(const QJsonObject &stamps, const QString &property, bool *present = nullptr)
{
    const QJsonValue stamp = stamps.value(property);
    if (present)
        *present = stamp.isArray();
    return stamp.isArray() ? qint64(stamp.toArray().at(0).toDouble()) : 0;
}

QString stampMachine(const QJsonObject &stamps, const QString &property)
{
    return stamps.value(property).toArray().at(1).toString();
}

QString timeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

QString valueText(const QJsonValue &value)
{
    if (value.isString())
        return QLatin1Char('"') + value.toString() + QLatin1Char('"');
    if (value.isNull() || value.isUndefined())
        return QStringLiteral("nothing");
    return QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
}

} // namespace

bool MirrorServer::connect(const QString &conninfo, const QString &password, QString *error)
{
    m_schema.clear();
    return m_connection.connect(conninfo, password, 10, error);
}

bool MirrorServer::isValidLibraryId(const QString &id)
{
    static const QRegularExpression form(QStringLiteral("^[0-9a-f]{32}$"));
    return form.match(id).hasMatch();
}

QString MirrorServer::channel() const
{
    return m_schema;
}

bool MirrorServer::libraryIds(QStringList *ids, QString *error)
{
    PostgresConnection::Result result;
    if (!m_connection.exec(QStringLiteral("SELECT nspname FROM pg_namespace WHERE nspname LIKE 'ovalis\\_%' ORDER BY 1"),
                           {}, &result, error))
        return false;
    ids->clear();
    for (int row = 0; row < result.rows(); ++row) {
        const QString id = result.text(row, 0).mid(7);
        if (isValidLibraryId(id))
            *ids << id;
    }
    return true;
}

bool MirrorServer::rollback(QString *error, const QString &message)
{
    m_connection.execScript(QStringLiteral("ROLLBACK"), nullptr);
    if (error && !message.isEmpty())
        *error = message;
    return false;
}

bool MirrorServer::openLibrary(const QString &libraryId, QString *error)
{
    if (!isValidLibraryId(libraryId)) {
        if (error)
            *error = QStringLiteral("not a library id: %1").arg(libraryId);
        return false;
    }
    const QString schema = QStringLiteral("ovalis_") + libraryId;
    QString failure;
    if (!m_connection.execScript(QStringLiteral("BEGIN"), &failure))
        return rollback(error, failure);
    PostgresConnection::Result exists;
    if (!m_connection.exec(QStringLiteral("SELECT 1 FROM pg_namespace WHERE nspname = $1"), {schema.toUtf8()}, &exists,
                           &failure))
        return rollback(error, failure);
    if (exists.rows() == 0) {
        if (!m_connection.execScript(QStringLiteral("CREATE SCHEMA %1; SET LOCAL search_path TO %1;")
                                         .arg(PostgresConnection::quoteIdentifier(schema)),
                                     &failure)
            || !m_connection.execScript(QString::fromUtf8(schemaScript), &failure)
            || !m_connection.exec(QStringLiteral("INSERT INTO meta (key, value) VALUES ('schema_version', $1)"),
                                  {number(schemaVersion)}, nullptr, &failure))
            // Another machine making it at the same moment: its schema is used.
            if (!failure.contains(QStringLiteral("already exists")))
                return rollback(error, failure);
    }
    if (!m_connection.execScript(QStringLiteral("COMMIT"), &failure))
        return rollback(error, failure);
    if (!m_connection.execScript(QStringLiteral("SET search_path TO %1").arg(PostgresConnection::quoteIdentifier(schema)),
                                 &failure))
        return rollback(error, failure);
    PostgresConnection::Result version;
    if (!m_connection.exec(QStringLiteral("SELECT value FROM meta WHERE key = 'schema_version'"), {}, &version, &failure)
        || version.rows() != 1)
        return rollback(error, failure.isEmpty() ? QStringLiteral("the server's library has no version") : failure);
    if (version.integer(0, 0) > schemaVersion) {
        if (error)
            *error = QStringLiteral("the server's library was written by a newer version of Ovalis (version %1)")
                         .arg(version.integer(0, 0));
        return false;
    }
    // Version 1 is the first; later versions upgrade here, in one transaction.
    m_schema = schema;
    return true;
}

bool MirrorServer::lockForWriting(qint64 *latest, QString *error)
{
    PostgresConnection::Result result;
    if (!m_connection.execScript(QStringLiteral("BEGIN; LOCK TABLE objects, links, files IN EXCLUSIVE MODE"), error)
        || !m_connection.exec(QStringLiteral("SELECT GREATEST((SELECT max(seq) FROM objects), (SELECT max(seq) FROM links), "
                                             "(SELECT max(seq) FROM files), 0)"),
                              {}, &result, error))
        return rollback(error, QString());
    *latest = result.integer(0, 0);
    return true;
}

bool MirrorServer::latest(qint64 *seq, QString *error)
{
    PostgresConnection::Result result;
    if (!m_connection.exec(QStringLiteral("SELECT GREATEST((SELECT max(seq) FROM objects), (SELECT max(seq) FROM links), "
                                          "(SELECT max(seq) FROM files), 0)"),
                           {}, &result, error))
        return false;
    *seq = result.integer(0, 0);
    return true;
}

bool MirrorServer::countAfter(qint64 after, qint64 *count, QString *error)
{
    PostgresConnection::Result result;
    if (!m_connection.exec(QStringLiteral("SELECT (SELECT count(*) FROM objects WHERE seq > $1) + (SELECT count(*) FROM "
                                          "links WHERE seq > $1) + (SELECT count(*) FROM files WHERE seq > $1)"),
                           {number(after)}, &result, error))
        return false;
    *count = result.integer(0, 0);
    return true;
}

bool MirrorServer::readRecords(const QString &where, const QVector<QByteArray> &parameters,
                               QVector<MirrorRecord> *records, QString *error, bool withStamps)
{
    PostgresConnection::Result result;
    if (!m_connection.exec(QStringLiteral("SELECT entity, uuid, vals, %1, deleted_at, deleted_by, seq FROM objects ")
                                   .arg(withStamps ? QStringLiteral("stamps") : QStringLiteral("NULL"))
                               + where,
                           parameters, &result, error))
        return false;
    records->reserve(records->size() + result.rows());
    for (int row = 0; row < result.rows(); ++row) {
        MirrorRecord record;
        record.entity = result.text(row, 0);
        record.uuid = result.text(row, 1);
        record.values = jsonObject(result.value(row, 2));
        if (withStamps)
            record.stamps = jsonObject(result.value(row, 3));
        record.deleted = !result.isNull(row, 4);
        record.deletedAt = result.integer(row, 4);
        record.deletedBy = result.text(row, 5);
        record.seq = result.integer(row, 6);
        records->append(record);
    }
    return true;
}

bool MirrorServer::records(const QVector<QPair<QString, QString>> &keys, QVector<MirrorRecord> *records, QString *error)
{
    QVector<QByteArray> entities, uuids;
    for (const auto &key : keys) {
        entities << key.first.toUtf8();
        uuids << key.second.toUtf8();
    }
    return readRecords(QStringLiteral("WHERE (entity, uuid) IN (SELECT * FROM unnest($1::text[], $2::text[]))"),
                       {PostgresConnection::arrayLiteral(entities), PostgresConnection::arrayLiteral(uuids)}, records,
                       error);
}

namespace {

void readLinks(const PostgresConnection::Result &result, QVector<MirrorLink> *links)
{
    for (int row = 0; row < result.rows(); ++row)
        links->append({result.text(row, 0), result.text(row, 1), result.value(row, 2) == "t", result.integer(row, 3),
                       result.text(row, 4), result.integer(row, 5)});
}

void readFiles(const PostgresConnection::Result &result, QVector<MirrorFile> *files)
{
    for (int row = 0; row < result.rows(); ++row)
        files->append({result.text(row, 0), result.text(row, 1), result.integer(row, 2), result.text(row, 3),
                       result.integer(row, 4), result.text(row, 5), result.integer(row, 6)});
}

} // namespace

bool MirrorServer::links(const QVector<QPair<QString, QString>> &keys, QVector<MirrorLink> *links, QString *error)
{
    QVector<QByteArray> cases, tags;
    for (const auto &key : keys) {
        cases << key.first.toUtf8();
        tags << key.second.toUtf8();
    }
    PostgresConnection::Result result;
    if (!m_connection.exec(QStringLiteral("SELECT case_uuid, tag_uuid, present, saved_at, machine, seq FROM links "
                                          "WHERE (case_uuid, tag_uuid) IN (SELECT * FROM unnest($1::text[], $2::text[]))"),
                           {PostgresConnection::arrayLiteral(cases), PostgresConnection::arrayLiteral(tags)}, &result,
                           error))
        return false;
    readLinks(result, links);
    return true;
}

bool MirrorServer::deletedAmong(const QVector<QPair<QString, QString>> &keys, QSet<QPair<QString, QString>> *deleted,
                                QString *error)
{
    QSet<QPair<QString, QString>> distinct(keys.cbegin(), keys.cend());
    QVector<QByteArray> entities, uuids;
    for (const auto &key : std::as_const(distinct)) {
        entities << key.first.toUtf8();
        uuids << key.second.toUtf8();
    }
    PostgresConnection::Result result;
    if (!m_connection.exec(QStringLiteral("SELECT entity, uuid FROM objects WHERE deleted_at IS NOT NULL AND (entity, uuid) IN "
                                          "(SELECT * FROM unnest($1::text[], $2::text[]))"),
                           {PostgresConnection::arrayLiteral(entities), PostgresConnection::arrayLiteral(uuids)}, &result,
                           error))
        return false;
    for (int row = 0; row < result.rows(); ++row)
        deleted->insert({result.text(row, 0), result.text(row, 1)});
    return true;
}

bool MirrorServer::writeRecords(const QVector<MirrorRecord> &records, QString *error)
{
    if (records.isEmpty())
        return true;
    QVector<QByteArray> entities, uuids, values, stamps, deletedAt, deletedBy;
    for (const MirrorRecord &record : records) {
        entities << record.entity.toUtf8();
        uuids << record.uuid.toUtf8();
        values << json(record.values);
        stamps << json(record.stamps);
        deletedAt << (record.deleted ? number(record.deletedAt) : QByteArray());
        deletedBy << (record.deleted ? record.deletedBy.toUtf8() : QByteArray());
    }
    return m_connection.exec(
        QStringLiteral("INSERT INTO objects (entity, uuid, vals, stamps, deleted_at, deleted_by, seq) "
                       "SELECT e, u, v::jsonb, s::jsonb, d, b, nextval('changes') FROM "
                       "unnest($1::text[], $2::text[], $3::text[], $4::text[], $5::bigint[], $6::text[]) "
                       "WITH ORDINALITY AS t(e, u, v, s, d, b, o) ORDER BY o "
                       "ON CONFLICT (entity, uuid) DO UPDATE SET vals = excluded.vals, stamps = excluded.stamps, "
                       "deleted_at = excluded.deleted_at, deleted_by = excluded.deleted_by, seq = excluded.seq"),
        {PostgresConnection::arrayLiteral(entities), PostgresConnection::arrayLiteral(uuids),
         PostgresConnection::arrayLiteral(values), PostgresConnection::arrayLiteral(stamps),
         PostgresConnection::arrayLiteral(deletedAt), PostgresConnection::arrayLiteral(deletedBy)},
        nullptr, error);
}

bool MirrorServer::writeLinks(const QVector<MirrorLink> &links, QString *error)
{
    if (links.isEmpty())
        return true;
    QVector<QByteArray> cases, tags, present, savedAt, machines;
    for (const MirrorLink &link : links) {
        cases << link.caseUuid.toUtf8();
        tags << link.tagUuid.toUtf8();
        present << (link.present ? "t" : "f");
        savedAt << number(link.savedAt);
        machines << link.machine.toUtf8();
    }
    return m_connection.exec(
        QStringLiteral("INSERT INTO links (case_uuid, tag_uuid, present, saved_at, machine, seq) "
                       "SELECT c, t, p, s, m, nextval('changes') FROM "
                       "unnest($1::text[], $2::text[], $3::boolean[], $4::bigint[], $5::text[]) "
                       "WITH ORDINALITY AS x(c, t, p, s, m, o) ORDER BY o "
                       "ON CONFLICT (case_uuid, tag_uuid) DO UPDATE SET present = excluded.present, "
                       "saved_at = excluded.saved_at, machine = excluded.machine, seq = excluded.seq"),
        {PostgresConnection::arrayLiteral(cases), PostgresConnection::arrayLiteral(tags),
         PostgresConnection::arrayLiteral(present), PostgresConnection::arrayLiteral(savedAt),
         PostgresConnection::arrayLiteral(machines)},
        nullptr, error);
}

bool MirrorServer::push(const QVector<MirrorRecord> &records, const QVector<MirrorLink> &links, const QString &machine,
                        PushResult *result, QString *error)
{
    *result = PushResult();
    QString failure;
    if (!lockForWriting(&result->latestBefore, error))
        return false;

    QVector<MirrorRecord> existing;
    if (!records.isEmpty()) {
        QVector<QPair<QString, QString>> keys;
        keys.reserve(records.size());
        for (const MirrorRecord &record : records)
            keys.append({record.entity, record.uuid});
        if (!this->records(keys, &existing, &failure))
            return rollback(error, failure);
    }
    QHash<QPair<QString, QString>, MirrorRecord> held;
    for (const MirrorRecord &record : std::as_const(existing))
        held.insert({record.entity, record.uuid}, record);

    QVector<MirrorRecord> writes;
    QStringList pushedLabels;
    QSet<QPair<QString, QString>> deletedHere; // deleted on the server, by uuid
    for (const MirrorRecord &incoming : records) {
        const QPair<QString, QString> key{incoming.entity, incoming.uuid};
        auto found = held.find(key);
        if (found == held.end()) {
            MirrorRecord written = incoming;
            written.deletedBy = incoming.deleted ? machine : QString();
            writes << written;
            held.insert(key, written);
            if (!incoming.deleted && incoming.entity == QLatin1String("Tag") && incoming.values.contains(QStringLiteral("label")))
                pushedLabels << incoming.values.value(QStringLiteral("label")).toString();
            continue;
        }
        MirrorRecord &current = *found;
        if (current.deleted) {
            if (!incoming.deleted) {
                result->conflicts << QStringLiteral("%1 %2 was deleted on %3; the changes from %4 are not kept")
                                         .arg(incoming.entity, incoming.uuid, current.deletedBy, machine);
                result->refetch.append(key);
            }
            continue;
        }
        if (incoming.deleted) {
            for (auto it = current.stamps.constBegin(); it != current.stamps.constEnd(); ++it)
                if (stampTime(current.stamps, it.key()) > incoming.deletedAt && stampMachine(current.stamps, it.key()) != machine)
                    result->conflicts << QStringLiteral("%1 %2 was deleted on %3; the change of %4 on %5 at %6 is not kept")
                                             .arg(incoming.entity, incoming.uuid, machine, it.key(),
                                                  stampMachine(current.stamps, it.key()),
                                                  timeText(stampTime(current.stamps, it.key())));
            current.deleted = true;
            current.deletedAt = incoming.deletedAt;
            current.deletedBy = machine;
            writes << current;
            deletedHere.insert(key);
            continue;
        }
        bool changed = false;
        bool lost = false;
        for (auto it = incoming.values.constBegin(); it != incoming.values.constEnd(); ++it) {
            const QString &property = it.key();
            bool held = false;
            const qint64 heldAt = stampTime(current.stamps, property, &held);
            const qint64 sentAt = stampTime(incoming.stamps, property);
            const QJsonValue heldValue = current.values.value(property);
            if (!held || sentAt > heldAt) {
                if (held && heldValue != it.value() && stampMachine(current.stamps, property) != machine)
                    result->conflicts << QStringLiteral("%1 %2 %3: %4 from %5 (saved %6) replaces %7 from %8 (saved %9)")
                                             .arg(incoming.entity, incoming.uuid, property, valueText(it.value()), machine,
                                                  timeText(sentAt), valueText(heldValue),
                                                  stampMachine(current.stamps, property), timeText(heldAt));
                current.values.insert(property, it.value());
                current.stamps.insert(property, incoming.stamps.value(property));
                changed = true;
                if (property == QLatin1String("label") && incoming.entity == QLatin1String("Tag"))
                    pushedLabels << it.value().toString();
            } else if (heldValue != it.value()) {
                result->conflicts << QStringLiteral("%1 %2 %3: %4 from %5 (saved %6) is kept over %7 from %8 (saved %9)")
                                         .arg(incoming.entity, incoming.uuid, property, valueText(heldValue),
                                              stampMachine(current.stamps, property), timeText(heldAt),
                                              valueText(it.value()), machine, timeText(sentAt));
                lost = true;
            }
        }
        if (changed)
            writes << current;
        if (lost)
            result->refetch.append(key);
    }
    if (!writeRecords(writes, &failure))
        return rollback(error, failure);

    // Links: per link, the later save wins; a link to a deleted record is
    // taken back by the deletion and not written.
    if (!links.isEmpty()) {
        QVector<QPair<QString, QString>> keys;
        QVector<QPair<QString, QString>> endpoints;
        for (const MirrorLink &link : links) {
            keys.append({link.caseUuid, link.tagUuid});
            endpoints.append({QStringLiteral("Case"), link.caseUuid});
            endpoints.append({QStringLiteral("Tag"), link.tagUuid});
        }
        QVector<MirrorLink> heldLinks;
        QSet<QPair<QString, QString>> gone;
        if (!this->links(keys, &heldLinks, &failure) || !deletedAmong(endpoints, &gone, &failure))
            return rollback(error, failure);
        QHash<QPair<QString, QString>, MirrorLink> linkByKey;
        for (const MirrorLink &link : std::as_const(heldLinks))
            linkByKey.insert({link.caseUuid, link.tagUuid}, link);
        QVector<MirrorLink> linkWrites;
        for (MirrorLink link : links) {
            const QPair<QString, QString> key{link.caseUuid, link.tagUuid};
            if (gone.contains({QStringLiteral("Case"), link.caseUuid}) || gone.contains({QStringLiteral("Tag"), link.tagUuid})) {
                if (link.present)
                    result->refetchLinks.append(key);
                continue;
            }
            const auto current = linkByKey.constFind(key);
            if (current != linkByKey.constEnd() && link.savedAt <= current->savedAt) {
                if (current->present != link.present) {
                    result->conflicts << QStringLiteral("Link of case %1 and tag %2: %3 on %4 (saved %5) is kept over %6 on %7 (saved %8)")
                                             .arg(link.caseUuid, link.tagUuid,
                                                  current->present ? QStringLiteral("added") : QStringLiteral("removed"),
                                                  current->machine, timeText(current->savedAt),
                                                  link.present ? QStringLiteral("added") : QStringLiteral("removed"), machine,
                                                  timeText(link.savedAt));
                    result->refetchLinks.append(key);
                }
                continue;
            }
            if (current == linkByKey.constEnd() && !link.present)
                continue; // never known to the server: nothing to take back
            link.machine = machine;
            linkWrites << link;
            linkByKey.insert(key, link);
        }
        if (!writeLinks(linkWrites, &failure))
            return rollback(error, failure);
    }

    if (!pushedLabels.isEmpty() && !mergeTagsByLabel(pushedLabels, machine, result, &failure))
        return rollback(error, failure);

    PostgresConnection::Result after;
    if (!m_connection.exec(QStringLiteral("SELECT GREATEST((SELECT max(seq) FROM objects), (SELECT max(seq) FROM links), "
                                          "(SELECT max(seq) FROM files), 0)"),
                           {}, &after, &failure))
        return rollback(error, failure);
    result->latestAfter = after.integer(0, 0);
    if (result->latestAfter != result->latestBefore
        && !m_connection.exec(QStringLiteral("SELECT pg_notify($1, $2)"), {channel().toUtf8(), m_sender.toUtf8()}, nullptr,
                              &failure))
        return rollback(error, failure);
    if (!m_connection.execScript(QStringLiteral("COMMIT"), &failure))
        return rollback(error, failure);
    return true;
}

bool MirrorServer::mergeTagsByLabel(const QStringList &labels, const QString &machine, PushResult *result, QString *error)
{
    QVector<QByteArray> texts;
    for (const QString &label : labels)
        texts << label.toUtf8();
    QVector<MirrorRecord> tags;
    if (!readRecords(QStringLiteral("WHERE entity = 'Tag' AND deleted_at IS NULL AND vals->>'label' = ANY($1::text[]) "
                                    "ORDER BY vals->>'label', uuid"),
                     {PostgresConnection::arrayLiteral(texts)}, &tags, error))
        return false;
    QVector<MirrorRecord> losers;
    QHash<QString, QString> survivorOf; // loser uuid -> survivor uuid
    for (int i = 1; i < tags.size(); ++i) {
        const QString label = tags[i].values.value(QStringLiteral("label")).toString();
        int first = i - 1;
        while (first > 0 && tags[first - 1].values.value(QStringLiteral("label")).toString() == label)
            --first;
        if (tags[first].values.value(QStringLiteral("label")).toString() != label)
            continue;
        MirrorRecord loser = tags[i];
        loser.deleted = true;
        loser.deletedAt = QDateTime::currentMSecsSinceEpoch();
        loser.deletedBy = machine;
        losers << loser;
        survivorOf.insert(loser.uuid, tags[first].uuid);
        result->conflicts << QStringLiteral("Tags %1 and %2 are both labelled \"%3\": %1 is kept and takes the cases of %2")
                                 .arg(tags[first].uuid, loser.uuid, label);
    }
    if (losers.isEmpty())
        return true;
    result->changedOthers = true;
    if (!writeRecords(losers, error))
        return false;
    QVector<QByteArray> loserUuids;
    for (auto it = survivorOf.constBegin(); it != survivorOf.constEnd(); ++it)
        loserUuids << it.key().toUtf8();
    PostgresConnection::Result moved;
    if (!m_connection.exec(QStringLiteral("SELECT case_uuid, tag_uuid, present, saved_at, machine, seq FROM links "
                                          "WHERE tag_uuid = ANY($1::text[]) AND present"),
                           {PostgresConnection::arrayLiteral(loserUuids)}, &moved, error))
        return false;
    QVector<MirrorLink> loserLinks;
    readLinks(moved, &loserLinks);
    QVector<QPair<QString, QString>> keys;
    for (const MirrorLink &link : std::as_const(loserLinks))
        keys.append({link.caseUuid, survivorOf.value(link.tagUuid)});
    QVector<MirrorLink> heldLinks;
    if (!links(keys, &heldLinks, error))
        return false;
    QHash<QPair<QString, QString>, MirrorLink> held;
    for (const MirrorLink &link : std::as_const(heldLinks))
        held.insert({link.caseUuid, link.tagUuid}, link);
    QVector<MirrorLink> writes;
    for (MirrorLink link : std::as_const(loserLinks)) {
        link.tagUuid = survivorOf.value(link.tagUuid);
        const auto current = held.constFind({link.caseUuid, link.tagUuid});
        if (current != held.constEnd() && (current->present || current->savedAt >= link.savedAt))
            continue;
        writes << link;
    }
    return writeLinks(writes, error);
}

bool MirrorServer::pull(qint64 after, int limit, QVector<MirrorRecord> *records, QVector<MirrorLink> *links,
                        QVector<MirrorFile> *files, qint64 *upTo, QString *error)
{
    QString failure;
    if (!m_connection.execScript(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"), &failure))
        return rollback(error, failure);
    PostgresConnection::Result bound;
    if (!m_connection.exec(QStringLiteral("SELECT seq FROM (SELECT seq FROM objects WHERE seq > $1 UNION ALL "
                                          "SELECT seq FROM links WHERE seq > $1 UNION ALL SELECT seq FROM files WHERE seq > $1) s "
                                          "ORDER BY seq OFFSET $2 LIMIT 1"),
                           {number(after), number(qMax(1, limit) - 1)}, &bound, &failure))
        return rollback(error, failure);
    qint64 last = 0;
    if (bound.rows() == 1) {
        last = bound.integer(0, 0);
    } else {
        PostgresConnection::Result highest;
        if (!m_connection.exec(QStringLiteral("SELECT GREATEST((SELECT max(seq) FROM objects), (SELECT max(seq) FROM links), "
                                              "(SELECT max(seq) FROM files), $1::bigint)"),
                               {number(after)}, &highest, &failure))
            return rollback(error, failure);
        last = highest.integer(0, 0);
    }
    if (last > after) {
        PostgresConnection::Result linkRows, fileRows;
        if (!readRecords(QStringLiteral("WHERE seq > $1 AND seq <= $2 ORDER BY seq"), {number(after), number(last)}, records,
                         &failure, false)
            || !m_connection.exec(QStringLiteral("SELECT case_uuid, tag_uuid, present, saved_at, machine, seq FROM links "
                                                 "WHERE seq > $1 AND seq <= $2 ORDER BY seq"),
                                  {number(after), number(last)}, &linkRows, &failure)
            || !m_connection.exec(QStringLiteral("SELECT media_uuid, sha256, size, extension, saved_at, machine, seq FROM files "
                                                 "WHERE seq > $1 AND seq <= $2 ORDER BY seq"),
                                  {number(after), number(last)}, &fileRows, &failure))
            return rollback(error, failure);
        readLinks(linkRows, links);
        readFiles(fileRows, files);
    }
    if (!m_connection.execScript(QStringLiteral("COMMIT"), &failure))
        return rollback(error, failure);
    *upTo = qMax(after, last);
    return true;
}

bool MirrorServer::hasContent(const QString &sha256, bool *complete, QString *error)
{
    PostgresConnection::Result result;
    if (!m_connection.exec(QStringLiteral("SELECT complete FROM contents WHERE sha256 = $1"), {sha256.toUtf8()}, &result, error))
        return false;
    *complete = result.rows() == 1 && result.value(0, 0) == "t";
    return true;
}

bool MirrorServer::uploadContent(const QString &sha256, const QString &path, const std::function<bool()> &cancelled,
                                 QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    const qint64 size = file.size();
    PostgresConnection::Result present;
    if (!m_connection.exec(QStringLiteral("INSERT INTO contents (sha256, size) VALUES ($1, $2) ON CONFLICT DO NOTHING"),
                           {sha256.toUtf8(), number(size)}, nullptr, error)
        || !m_connection.exec(QStringLiteral("SELECT n FROM content_chunks WHERE sha256 = $1"), {sha256.toUtf8()}, &present,
                              error))
        return false;
    QSet<qint64> sent;
    for (int row = 0; row < present.rows(); ++row)
        sent.insert(present.integer(row, 0));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const qint64 chunks = (size + chunkSize - 1) / chunkSize;
    for (qint64 n = 0; n < chunks; ++n) {
        if (cancelled && cancelled()) {
            if (error)
                *error = QStringLiteral("cancelled");
            return false;
        }
        const QByteArray data = file.read(chunkSize);
        hash.addData(data);
        if (sent.contains(n))
            continue;
        if (!m_connection.execBinary(QStringLiteral("INSERT INTO content_chunks (sha256, n, data) VALUES ($1, $2, $3) "
                                                    "ON CONFLICT DO NOTHING"),
                                     {sha256.toUtf8(), number(n), data}, {2}, false, nullptr, error))
            return false;
    }
    if (QString::fromLatin1(hash.result().toHex()) != sha256) {
        if (error)
            *error = QStringLiteral("%1 changed while it was sent").arg(path);
        m_connection.exec(QStringLiteral("DELETE FROM content_chunks WHERE sha256 = $1"), {sha256.toUtf8()}, nullptr, nullptr);
        return false;
    }
    return m_connection.exec(QStringLiteral("UPDATE contents SET complete = true WHERE sha256 = $1"), {sha256.toUtf8()},
                             nullptr, error);
}

bool MirrorServer::downloadContent(const QString &sha256, qint64 size, const QString &path, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const qint64 chunks = (size + chunkSize - 1) / chunkSize;
    qint64 written = 0;
    for (qint64 n = 0; n < chunks; ++n) {
        PostgresConnection::Result chunk;
        if (!m_connection.execBinary(QStringLiteral("SELECT data FROM content_chunks WHERE sha256 = $1 AND n = $2 "
                                                    "AND length(data) <= $3"),
                                     {sha256.toUtf8(), number(n), number(chunkSize)}, {}, true, &chunk, error))
            return false;
        if (chunk.rows() != 1) {
            if (error)
                *error = QStringLiteral("the server does not have all of the file %1").arg(sha256);
            return false;
        }
        const QByteArray data = chunk.value(0, 0);
        written += data.size();
        if (written > size)
            break;
        hash.addData(data);
        if (file.write(data) != data.size()) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(path, file.errorString());
            return false;
        }
    }
    if (written != size || QString::fromLatin1(hash.result().toHex()) != sha256) {
        if (error)
            *error = QStringLiteral("the server's copy of the file %1 is damaged").arg(sha256);
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool MirrorServer::pushFile(const MirrorFile &file, bool *won, QString *error)
{
    qint64 before = 0;
    if (!lockForWriting(&before, error))
        return false;
    QString failure;
    PostgresConnection::Result held;
    if (!m_connection.exec(QStringLiteral("SELECT saved_at, sha256 FROM files WHERE media_uuid = $1"), {file.mediaUuid.toUtf8()},
                           &held, &failure))
        return rollback(error, failure);
    // The same content as held is no change; otherwise the later version wins.
    const bool same = held.rows() == 1 && held.text(0, 1) == file.sha256;
    *won = held.rows() == 0 || same || file.savedAt > held.integer(0, 0);
    if (*won && !same) {
        if (!m_connection.exec(QStringLiteral("INSERT INTO files (media_uuid, sha256, size, extension, saved_at, machine, seq) "
                                              "VALUES ($1, $2, $3, $4, $5, $6, nextval('changes')) ON CONFLICT (media_uuid) DO "
                                              "UPDATE SET sha256 = excluded.sha256, size = excluded.size, extension = "
                                              "excluded.extension, saved_at = excluded.saved_at, machine = excluded.machine, "
                                              "seq = excluded.seq"),
                               {file.mediaUuid.toUtf8(), file.sha256.toUtf8(), number(file.size), file.extension.toUtf8(),
                                number(file.savedAt), file.machine.toUtf8()},
                               nullptr, &failure)
            || !m_connection.exec(QStringLiteral("SELECT pg_notify($1, $2)"), {channel().toUtf8(), m_sender.toUtf8()},
                                  nullptr, &failure))
            return rollback(error, failure);
    }
    if (!m_connection.execScript(QStringLiteral("COMMIT"), &failure))
        return rollback(error, failure);
    return true;
}

bool MirrorServer::files(const QStringList &mediaUuids, QVector<MirrorFile> *files, QString *error)
{
    QVector<QByteArray> uuids;
    for (const QString &uuid : mediaUuids)
        uuids << uuid.toUtf8();
    PostgresConnection::Result result;
    if (!m_connection.exec(QStringLiteral("SELECT media_uuid, sha256, size, extension, saved_at, machine, seq FROM files "
                                          "WHERE media_uuid = ANY($1::text[])"),
                           {PostgresConnection::arrayLiteral(uuids)}, &result, error))
        return false;
    readFiles(result, files);
    return true;
}

} // namespace ovalis
