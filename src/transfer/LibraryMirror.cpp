#include "LibraryMirror.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSysInfo>
#include <QTimeZone>
#include <QUuid>
#include <algorithm>
#include <future>

#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/MediaFileStore.h"
#include "store/MediaTypes.h"
#include "store/MediaUuid.h"
#include "store/PersistentStore.h"
#include "store/SharedBackgroundContext.h"
#include "store/Tag.h"
#include "util/Log.h"

namespace ovalis {

namespace {

const QString caseName = QStringLiteral("Case");
const QString mediaName = QStringLiteral("Media");
const QString tagName = QStringLiteral("Tag");
const QString caseProperty = QStringLiteral("case");
constexpr int batchSize = 2000;
constexpr int pullLimit = 5000;
// Pages of a download whose state is written to Mirror.sqlite in one transaction.
constexpr int statePagesPerCommit = 10;
// Bounds on what a server may make this machine take in.
constexpr qint64 largestFile = qint64(16) << 30;
constexpr int longestText = 4 << 20;

const ManagedObjectModel &model()
{
    return ManagedObjectModel::ovalisModel();
}

int entityIndex(const QString &name)
{
    return model().entityIndex(name);
}

// The attributes a machine shares with the others: everything but the
// uuid (the record's name everywhere) and the tag's filter state, which is
// this machine's own.
QVector<int> mirroredAttributes(int entity)
{
    if (entity == entityIndex(caseName))
        return {Case::PatientID, Case::SexAttribute, Case::DateOfBirth, Case::DateOfDiagnosis, Case::DateAdded,
                Case::DateModified, Case::Summary, Case::Detail};
    if (entity == entityIndex(mediaName))
        return {Media::FileName, Media::OrderIndex, Media::CreationDate};
    return {Tag::Label};
}

int uuidAttribute(int entity)
{
    if (entity == entityIndex(caseName))
        return Case::Uuid;
    if (entity == entityIndex(mediaName))
        return Media::Uuid;
    return Tag::Uuid;
}

QJsonValue toJson(const QVariant &value, AttributeType type)
{
    if (!value.isValid() || value.isNull())
        return QJsonValue::Null;
    switch (type) {
    case AttributeType::String: return value.toString();
    case AttributeType::Integer16:
    case AttributeType::Integer32: return double(value.toLongLong());
    case AttributeType::Boolean: return value.toBool();
    case AttributeType::Date: return double(value.toDateTime().toMSecsSinceEpoch());
    }
    return QJsonValue::Null;
}

// A value from the server in the attribute's type; nothing for a missing
// or wrongly typed one.
QVariant fromJson(const QJsonValue &value, const AttributeDescription &attribute)
{
    switch (attribute.type) {
    case AttributeType::String:
        return value.isString() && value.toString().size() <= longestText ? QVariant(value.toString()) : QVariant();
    case AttributeType::Integer16:
        return value.isDouble() && std::abs(value.toDouble()) < 32768 ? QVariant(int(value.toDouble())) : QVariant();
    case AttributeType::Integer32:
        return value.isDouble() && std::abs(value.toDouble()) < 2147483647.0 ? QVariant(int(value.toDouble())) : QVariant();
    case AttributeType::Boolean: return value.isBool() ? QVariant(value.toBool()) : QVariant();
    case AttributeType::Date:
        return value.isDouble() && std::abs(value.toDouble()) < 1e15
                   ? QVariant(QDateTime::fromMSecsSinceEpoch(qint64(value.toDouble()), Qt::UTC))
                   : QVariant();
    }
    return {};
}

QJsonArray stamp(qint64 time, const QString &machine)
{
    return QJsonArray{double(time), machine};
}

qint64 ms(const QVariant &date)
{
    const QDateTime time = date.toDateTime();
    return time.isValid() ? time.toMSecsSinceEpoch() : 0;
}

// When a record that predates the mirror was last saved, as well as it is known.
qint64 initialTime(const ObjectSnapshot &snapshot)
{
    if (snapshot.id.entity == entityIndex(caseName)) {
        const qint64 modified = ms(snapshot.attributes.value(Case::DateModified));
        return modified ? modified : ms(snapshot.attributes.value(Case::DateAdded));
    }
    if (snapshot.id.entity == entityIndex(mediaName))
        return ms(snapshot.attributes.value(Media::CreationDate));
    return 0;
}

QString sha256Of(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

bool isSha256(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^[0-9a-f]{64}$"));
    return form.match(text).hasMatch();
}

} // namespace

QString LibraryMirror::defaultMachineName()
{
    const QString name = QSysInfo::machineHostName();
    return name.isEmpty() ? QStringLiteral("this machine") : name;
}

LibraryMirror::LibraryMirror(CoreDataStack *stack)
    : m_stack(stack)
    , m_machine(defaultMachineName())
{
}

LibraryMirror::~LibraryMirror() = default;

bool LibraryMirror::open(QString *error)
{
    return m_state.open(m_stack->libraryDirectory(), error);
}

void LibraryMirror::setServer(const QString &conninfo)
{
    if (conninfo == server())
        return;
    // Another server holds another copy: everything is compared afresh.
    m_server.connection().close();
    m_state.setServer(conninfo);
}

QString LibraryMirror::libraryId() const
{
    return m_state.value(QStringLiteral("libraryId"));
}

QString LibraryMirror::keptFilesFolder() const
{
    return QDir(m_stack->libraryDirectory()).filePath(QStringLiteral("Mirror Kept Files"));
}

void LibraryMirror::waitForMerges()
{
    if (m_writer)
        m_writer->waitForQueuedParentWork();
}

void LibraryMirror::disconnect()
{
    m_server.connection().close();
}

bool LibraryMirror::connectToServer(QString *error, bool *offline)
{
    *offline = false;
    if (m_server.isConnected() && !m_server.channel().isEmpty())
        return true;
    if (server().isEmpty()) {
        *error = QStringLiteral("No server is set for this library.");
        return false;
    }
    QString failure;
    if (!m_server.connect(server(), m_password, &failure)) {
        *offline = true;
        *error = QStringLiteral("Could not connect to the server: ") + failure;
        return false;
    }
    QString id = libraryId();
    if (id.isEmpty()) {
        QStringList ids;
        if (!m_server.libraryIds(&ids, &failure)) {
            *error = QStringLiteral("The server could not list its libraries: ") + failure;
            return false;
        }
        if (ids.size() > 1) {
            *error = QStringLiteral("The server's database holds %1 libraries (%2); this library can only join one of "
                                    "them. Give each library a database of its own.")
                         .arg(ids.size())
                         .arg(ids.join(QStringLiteral(", ")));
            return false;
        }
        id = ids.isEmpty() ? QUuid::createUuid().toString(QUuid::Id128) : ids.first();
    }
    if (!m_server.openLibrary(id, &failure)) {
        m_server.connection().close();
        *error = QStringLiteral("The server cannot hold the library: ") + failure;
        return false;
    }
    m_state.setValue(QStringLiteral("libraryId"), id);
    return true;
}

bool LibraryMirror::testConnection(QString *error)
{
    bool offline = false;
    m_server.connection().close();
    return connectToServer(error, &offline);
}

QString LibraryMirror::uuidOf(int entity, qint64 key)
{
    QString uuid = m_state.uuidForKey(entity, key);
    if (!uuid.isEmpty())
        return uuid;
    QVector<ObjectSnapshot> snapshots;
    if (m_stack->persistentStore()->fetchSnapshotsForKeys(entity, {key}, &snapshots, nullptr) && snapshots.size() == 1)
        uuid = snapshots.first().attributes.value(uuidAttribute(entity)).toString();
    return uuid;
}

bool LibraryMirror::recordsFor(int entity, const QVector<qint64> &keys, const QHash<qint64, QHash<QString, qint64>> &times,
                               qint64 defaultTime, QVector<MirrorRecord> *records, QString *error)
{
    QVector<ObjectSnapshot> snapshots;
    if (!m_stack->persistentStore()->fetchSnapshotsForKeys(entity, keys, &snapshots, error))
        return false;
    const EntityDescription &description = model().entities()[entity];
    const QVector<int> attributes = mirroredAttributes(entity);
    const bool isMedia = entity == entityIndex(mediaName);
    for (const ObjectSnapshot &snapshot : std::as_const(snapshots)) {
        MirrorRecord record;
        record.entity = description.name;
        record.uuid = snapshot.attributes.value(uuidAttribute(entity)).toString();
        if (!MediaUuid::isValid(record.uuid))
            continue;
        record.seq = snapshot.id.key; // the local key, until the server numbers it
        const auto changed = times.constFind(snapshot.id.key);
        const qint64 fallback = defaultTime >= 0 ? defaultTime : initialTime(snapshot);
        auto timeOf = [&](const QString &name) -> std::optional<qint64> {
            if (changed == times.constEnd())
                return fallback;
            const auto time = changed->constFind(name);
            if (time == changed->constEnd())
                return std::nullopt;
            return *time;
        };
        for (const int a : attributes) {
            const AttributeDescription &attribute = description.attributes[a];
            const std::optional<qint64> time = timeOf(attribute.name);
            if (!time)
                continue;
            record.values.insert(attribute.name, toJson(snapshot.attributes.value(a), attribute.type));
            record.stamps.insert(attribute.name, stamp(*time, m_machine));
        }
        if (isMedia) {
            if (const std::optional<qint64> time = timeOf(QStringLiteral("itsCase"))) {
                const ObjectID owner = snapshot.toOne.value(Media::ItsCase);
                const QString caseUuid = owner.isNull() ? QString() : uuidOf(owner.entity, owner.key);
                record.values.insert(caseProperty, caseUuid.isEmpty() ? QJsonValue() : QJsonValue(caseUuid));
                record.stamps.insert(caseProperty, stamp(*time, m_machine));
            }
        }
        records->append(record);
    }
    return true;
}

bool LibraryMirror::finishPush(const QVector<MirrorRecord> &records, const QVector<MirrorLink> &links,
                               const MirrorServer::PushResult &result, Report *report)
{
    if (!m_state.begin())
        return false;
    for (const MirrorRecord &record : records) {
        const int entity = entityIndex(record.entity);
        if (record.deleted)
            m_state.removeKey(entity, record.seq);
        else
            m_state.setKey(entity, record.seq, record.uuid);
    }
    for (const MirrorLink &link : links)
        m_state.setLink(link.caseUuid, link.tagUuid, link.present);
    // Nothing else was written since this machine last looked: what the
    // push numbered is already here.
    if (result.latestBefore == m_state.number(QStringLiteral("pulledSeq")) && !result.changedOthers)
        m_state.setNumber(QStringLiteral("pulledSeq"), result.latestAfter);
    if (!m_state.commit()) {
        m_state.rollback();
        return false;
    }
    report->sent += records.size() + links.size();
    report->conflicts += result.conflicts.size();
    for (const QString &conflict : result.conflicts)
        Log::info(LogArea::Networking, QStringLiteral("Mirror conflict: ") + conflict);
    return takeServerState(result, report);
}

bool LibraryMirror::takeServerState(const MirrorServer::PushResult &result, Report *report)
{
    if (result.refetch.isEmpty() && result.refetchLinks.isEmpty())
        return true;
    QVector<MirrorRecord> records;
    QVector<MirrorLink> links;
    QString failure;
    if (!m_server.records(result.refetch, &records, &failure) || !m_server.links(result.refetchLinks, &links, &failure)) {
        report->error = failure;
        return false;
    }
    // A link the server refused because an end is deleted: undone here.
    QSet<QPair<QString, QString>> answered;
    for (const MirrorLink &link : std::as_const(links))
        answered.insert({link.caseUuid, link.tagUuid});
    for (const auto &key : result.refetchLinks)
        if (!answered.contains(key))
            links.append({key.first, key.second, false, 0, QString(), 0});
    if (!apply(records, links, &failure)) {
        report->error = failure;
        return false;
    }
    return true;
}

bool LibraryMirror::sendInitial(Report *report, const ProgressHandler &progress, const std::atomic_bool *cancel)
{
    if (m_state.value(QStringLiteral("initialSent")) == QLatin1String("1"))
        return true;
    PersistentStore *store = m_stack->persistentStore();
    if (m_state.value(QStringLiteral("initialHistoryId")).isEmpty())
        m_state.setNumber(QStringLiteral("initialHistoryId"), store->lastHistoryId());
    const QVector<int> order{entityIndex(tagName), entityIndex(caseName), entityIndex(mediaName)};
    QVector<QVector<qint64>> keysByEntity;
    qint64 total = 0;
    for (const int entity : order) {
        QVector<qint64> keys;
        QString failure;
        if (!store->fetchKeys(entity, Predicate(), &keys, &failure)) {
            report->error = failure;
            return false;
        }
        std::sort(keys.begin(), keys.end());
        const qint64 cursor = m_state.number(QStringLiteral("initialCursor.%1").arg(entity));
        keys.erase(keys.begin(), std::upper_bound(keys.begin(), keys.end(), cursor));
        total += keys.size();
        keysByEntity << keys;
    }
    qint64 done = 0;
    for (int e = 0; e < order.size(); ++e) {
        const int entity = order[e];
        const QVector<qint64> &keys = keysByEntity[e];
        for (int start = 0; start < keys.size(); start += batchSize) {
            if (cancel && *cancel) {
                report->cancelled = true;
                return false;
            }
            const QVector<qint64> batch = keys.mid(start, batchSize);
            QVector<MirrorRecord> records;
            QString failure;
            if (!recordsFor(entity, batch, {}, -1, &records, &failure)) {
                report->error = failure;
                return false;
            }
            QVector<MirrorLink> links;
            if (entity == entityIndex(caseName)) {
                for (const MirrorRecord &record : std::as_const(records)) {
                    const qint64 time = qint64(record.stamps.value(QStringLiteral("dateAdded")).toArray().at(0).toDouble());
                    for (const ObjectID &tag : store->relatedIDs({entity, record.seq}, Case::TagsRelationship)) {
                        const QString tagUuid = uuidOf(tag.entity, tag.key);
                        if (!tagUuid.isEmpty())
                            links.append({record.uuid, tagUuid, true, time, m_machine, 0});
                    }
                }
            }
            MirrorServer::PushResult result;
            if (!m_server.push(records, links, m_machine, &result, &failure)) {
                report->error = failure;
                return false;
            }
            if (!finishPush(records, links, result, report))
                return false;
            m_state.setNumber(QStringLiteral("initialCursor.%1").arg(entity), batch.last());
            done += batch.size();
            if (progress)
                progress({QStringLiteral("Sending"), done, total});
        }
    }
    m_state.setNumber(QStringLiteral("pushedHistoryId"), m_state.number(QStringLiteral("initialHistoryId")));
    m_state.setValue(QStringLiteral("initialSent"), QStringLiteral("1"));
    return true;
}

bool LibraryMirror::sendChanges(Report *report, QStringList *mediaToCheck)
{
    PersistentStore *store = m_stack->persistentStore();
    const qint64 pushed = m_state.number(QStringLiteral("pushedHistoryId"));
    const QVector<HistoryTransaction> transactions = store->historySince(pushed, false);
    if (transactions.isEmpty())
        return true;
    if (pushed > 0 && transactions.first().id > pushed + 1) {
        // History this machine had not sent yet was cleared (a purge or a
        // reset): what changed is no longer known, so the library is sent
        // whole again, each property as of its case's last change.
        Log::info(LogArea::Networking, QStringLiteral("Mirror: the library's history was cleared before it was sent; sending the whole library again"));
        m_state.setValue(QStringLiteral("initialSent"), QStringLiteral("0"));
        m_state.setValue(QStringLiteral("initialHistoryId"), QString());
        for (int entity = 0; entity < model().entities().size(); ++entity)
            m_state.setNumber(QStringLiteral("initialCursor.%1").arg(entity), 0);
        return sendInitial(report, {}, nullptr);
    }
    qint64 lastId = pushed;
    struct Pending {
        QHash<QString, qint64> times;
        bool deleted = false;
        qint64 deletedAt = 0;
    };
    QHash<ObjectID, Pending> pending;
    for (const HistoryTransaction &transaction : transactions) {
        lastId = qMax(lastId, transaction.id);
        if (transaction.author == author())
            continue;
        const qint64 time = transaction.timestamp.toMSecsSinceEpoch();
        for (const HistoryTransaction::Change &change : transaction.changes) {
            if (change.entity < 0)
                continue;
            Pending &entry = pending[ObjectID{change.entity, change.key}];
            if (change.type == HistoryTransaction::Change::Delete) {
                entry.deleted = true;
                entry.deletedAt = time;
                continue;
            }
            for (const QString &column : change.columns)
                entry.times.insert(column, time);
        }
    }
    QVector<MirrorRecord> records;
    QVector<MirrorLink> links;
    const int caseEntity = entityIndex(caseName);
    const int mediaEntity = entityIndex(mediaName);
    for (int entity = 0; entity < model().entities().size(); ++entity) {
        QVector<qint64> keys;
        QHash<qint64, QHash<QString, qint64>> times;
        for (auto it = pending.constBegin(); it != pending.constEnd(); ++it) {
            if (it.key().entity != entity)
                continue;
            if (it->deleted) {
                const QString uuid = m_state.uuidForKey(entity, it.key().key);
                if (uuid.isEmpty())
                    continue; // made and deleted between two syncs
                MirrorRecord record;
                record.entity = model().entities()[entity].name;
                record.uuid = uuid;
                record.deleted = true;
                record.deletedAt = it->deletedAt;
                record.seq = it.key().key;
                records << record;
                continue;
            }
            keys << it.key().key;
            times.insert(it.key().key, it->times);
        }
        if (keys.isEmpty())
            continue;
        std::sort(keys.begin(), keys.end());
        QVector<MirrorRecord> changed;
        QString failure;
        if (!recordsFor(entity, keys, times, 0, &changed, &failure)) {
            report->error = failure;
            return false;
        }
        for (const MirrorRecord &record : std::as_const(changed)) {
            const QHash<QString, qint64> &recordTimes = times[record.seq];
            if (entity == mediaEntity)
                *mediaToCheck << record.uuid;
            if (entity == caseEntity) {
                for (const ObjectID &medium : store->relatedIDs({entity, record.seq}, Case::MediaRelationship)) {
                    const QString uuid = uuidOf(medium.entity, medium.key);
                    if (!uuid.isEmpty())
                        *mediaToCheck << uuid;
                }
            }
            if (entity == caseEntity && recordTimes.contains(QStringLiteral("tags"))) {
                const qint64 time = recordTimes.value(QStringLiteral("tags"));
                QSet<QString> now;
                for (const ObjectID &tag : store->relatedIDs({entity, record.seq}, Case::TagsRelationship)) {
                    const QString tagUuid = uuidOf(tag.entity, tag.key);
                    if (!tagUuid.isEmpty())
                        now.insert(tagUuid);
                }
                const QSet<QString> before = m_state.links(record.uuid);
                for (const QString &tag : now)
                    if (!before.contains(tag))
                        links.append({record.uuid, tag, true, time, m_machine, 0});
                for (const QString &tag : before)
                    if (!now.contains(tag))
                        links.append({record.uuid, tag, false, time, m_machine, 0});
            }
            if (!record.values.isEmpty())
                records << record;
            else
                m_state.setKey(entity, record.seq, record.uuid);
        }
    }
    // Tags before cases before media, so that a reader of the server meets
    // a record's case before the record.
    std::stable_sort(records.begin(), records.end(), [](const MirrorRecord &a, const MirrorRecord &b) {
        auto rank = [](const QString &entity) { return entity == tagName ? 0 : entity == caseName ? 1 : 2; };
        return rank(a.entity) < rank(b.entity);
    });
    for (int start = 0; start < qMax(records.size(), links.size()); start += 5000) {
        const QVector<MirrorRecord> someRecords = records.mid(start, 5000);
        const QVector<MirrorLink> someLinks = start + 5000 >= qMax(records.size(), links.size()) ? links.mid(start)
                                                                                               : links.mid(start, 5000);
        MirrorServer::PushResult result;
        QString failure;
        if (!m_server.push(someRecords, someLinks, m_machine, &result, &failure)) {
            report->error = failure;
            return false;
        }
        if (!finishPush(someRecords, someLinks, result, report))
            return false;
    }
    m_state.setNumber(QStringLiteral("pushedHistoryId"), lastId);
    return true;
}

bool LibraryMirror::receiveChanges(Report *report, const ProgressHandler &progress, const std::atomic_bool *cancel,
                                   QVector<MirrorFile> *files)
{
    struct Page {
        bool ok = false;
        QString error;
        QVector<MirrorRecord> records;
        QVector<MirrorLink> links;
        QVector<MirrorFile> files;
        qint64 upTo = 0;
    };
    // The next page is read from the server while this one is written here.
    auto fetch = [this](qint64 after) {
        Page page;
        std::lock_guard<std::mutex> lock(m_serverMutex);
        page.upTo = after;
        page.ok = m_server.pull(after, pullLimit, &page.records, &page.links, &page.files, &page.upTo, &page.error);
        return page;
    };
    // The state of several pages goes to its file together (the library's
    // saves stay one a page), and what was taken in is committed however the
    // loop ends.
    const bool batched = m_state.beginBatch(statePagesPerCommit);
    bool withoutUuidIndex = false;
    const auto endBatch = qScopeGuard([this, batched, &withoutUuidIndex] {
        if (withoutUuidIndex && !m_state.makeUuidIndex())
            Log::error(LogArea::Networking, QStringLiteral("Mirror: the state's index of keys by uuid could not be made"));
        if (batched && !m_state.endBatch())
            Log::error(LogArea::Networking, QStringLiteral("Mirror: the state of the last pages taken in could not be written"));
    });
    bool countedUnnamed = false;
    qint64 after = m_state.number(QStringLiteral("pulledSeq"));
    qint64 total = -1;
    qint64 done = 0;
    std::future<Page> next = std::async(std::launch::async, fetch, after);
    for (;;) {
        Page page = next.get();
        if (!page.ok) {
            report->error = page.error;
            return false;
        }
        if (page.upTo == after)
            return true;
        if (cancel && *cancel) {
            report->cancelled = true;
            return false;
        }
        next = std::async(std::launch::async, fetch, page.upTo);
        if (!countedUnnamed) {
            // Counted once a sync has something to take in: a sync with
            // nothing to do reads no table whole.
            countedUnnamed = true;
            m_unnamedHere.clear();
            m_keysMadeFromEmpty.clear();
            m_keysMadeFromEmpty.resize(model().entities().size());
            m_startedEmpty.clear();
            for (int entity = 0; entity < model().entities().size(); ++entity) {
                qint64 here = 0;
                const qint64 named = m_state.keyCount(entity);
                if (m_stack->persistentStore()->count(entity, Predicate(), &here, nullptr) && here > named)
                    m_unnamedHere.insert(entity);
                else if (here == 0 && named == 0)
                    m_startedEmpty.insert(entity);
            }
            // Nothing here yet: until the end the state is asked nothing by uuid.
            if (m_startedEmpty.size() == model().entities().size())
                withoutUuidIndex = m_state.dropUuidIndex();
        }
        if (total < 0 && progress) {
            std::lock_guard<std::mutex> lock(m_serverMutex);
            qint64 count = 0;
            if (m_server.countAfter(after, &count, nullptr))
                total = count;
        }
        QString failure;
        if (!apply(page.records, page.links, &failure)) {
            report->error = failure;
            next.wait();
            return false;
        }
        files->append(page.files);
        m_state.setNumber(QStringLiteral("pulledSeq"), page.upTo);
        after = page.upTo;
        report->received += page.records.size() + page.links.size();
        done += page.records.size() + page.links.size();
        if (progress)
            progress({QStringLiteral("Receiving"), done, qMax(total, done)});
    }
}

bool LibraryMirror::apply(QVector<MirrorRecord> records, const QVector<MirrorLink> &links, QString *error)
{
    // Nothing from the server is taken on trust: unknown entities and
    // identifiers that are not uuids are passed over.
    records.erase(std::remove_if(records.begin(), records.end(),
                                 [](const MirrorRecord &record) {
                                     const bool known = record.entity == caseName || record.entity == mediaName
                                                        || record.entity == tagName;
                                     if (!known || !MediaUuid::isValid(record.uuid)) {
                                         Log::error(LogArea::Networking, QStringLiteral("Mirror record passed over: %1 %2")
                                                                             .arg(record.entity.left(40), record.uuid.left(40)));
                                         return true;
                                     }
                                     return false;
                                 }),
                  records.end());
    const int caseEntity = entityIndex(caseName);
    const int mediaEntity = entityIndex(mediaName);
    const int tagEntity = entityIndex(tagName);

    // The keys here of every record the batch names, read together.
    QHash<QPair<int, QString>, qint64> keys;
    QVector<QVector<QPair<qint64, QString>>> foundHere(model().entities().size()); // here, though not in the state
    {
        QVector<QSet<QString>> named(model().entities().size());
        for (const MirrorRecord &record : std::as_const(records)) {
            named[entityIndex(record.entity)].insert(record.uuid);
            if (record.entity == mediaName && record.values.value(caseProperty).isString())
                named[caseEntity].insert(record.values.value(caseProperty).toString());
        }
        for (const MirrorLink &link : links) {
            named[caseEntity].insert(link.caseUuid);
            named[tagEntity].insert(link.tagUuid);
        }
        for (int entity = 0; entity < named.size(); ++entity) {
            // Of an entity that had nothing here when the download began,
            // every key there is was made by it, and it keeps them.
            if (m_startedEmpty.contains(entity)) {
                const QHash<QUuid, qint64> &made = m_keysMadeFromEmpty.at(entity);
                for (const QString &uuid : std::as_const(named[entity]))
                    if (const auto key = made.constFind(QUuid::fromString(uuid)); key != made.cend())
                        keys.insert({entity, uuid}, *key);
                continue;
            }
            const QHash<QString, qint64> found = m_state.keysForUuids(entity, QStringList(named[entity].cbegin(), named[entity].cend()));
            QStringList unknown;
            for (const QString &uuid : std::as_const(named[entity])) {
                if (const auto key = found.constFind(uuid); key != found.cend())
                    keys.insert({entity, uuid}, *key);
                else
                    unknown << uuid;
            }
            // A record the state does not name may be here all the same (the
            // state lost its last writes in a crash, or was made afresh): the
            // library itself is asked, so that nothing is made twice.
            const QHash<QString, qint64> here = m_unnamedHere.contains(entity)
                                                    ? m_stack->persistentStore()->keysForValues(entity, uuidAttribute(entity), unknown)
                                                    : QHash<QString, qint64>();
            for (auto it = here.cbegin(); it != here.cend(); ++it) {
                keys.insert({entity, it.key()}, it.value());
                foundHere[entity].append({it.value(), it.key()});
            }
        }
    }
    QList<ObjectID> known;
    for (auto it = keys.cbegin(); it != keys.cend(); ++it)
        known.append({it.key().first, it.value()});

    // The cases and tags that records and links name and that are neither
    // here nor in this batch come from the server first.
    QSet<QPair<QString, QString>> inBatch;
    for (const MirrorRecord &record : std::as_const(records))
        inBatch.insert({record.entity, record.uuid});
    QVector<QPair<QString, QString>> needed;
    QSet<QPair<QString, QString>> asked;
    auto need = [&](const QString &entity, const QString &uuid) {
        const QPair<QString, QString> key{entity, uuid};
        if (!MediaUuid::isValid(uuid) || inBatch.contains(key) || asked.contains(key)
            || keys.contains({entityIndex(entity), uuid}))
            return;
        asked.insert(key);
        needed.append(key);
    };
    for (const MirrorRecord &record : std::as_const(records))
        if (record.entity == mediaName && !record.deleted && record.values.value(caseProperty).isString())
            need(caseName, record.values.value(caseProperty).toString());
    for (const MirrorLink &link : links)
        if (link.present) {
            need(caseName, link.caseUuid);
            need(tagName, link.tagUuid);
        }
    if (!needed.isEmpty()) {
        QVector<MirrorRecord> dependencies;
        std::lock_guard<std::mutex> lock(m_serverMutex);
        if (!m_server.records(needed, &dependencies, error))
            return false;
        for (const MirrorRecord &dependency : std::as_const(dependencies))
            if (!dependency.deleted && MediaUuid::isValid(dependency.uuid))
                records.prepend(dependency);
    }
    std::stable_sort(records.begin(), records.end(), [](const MirrorRecord &a, const MirrorRecord &b) {
        auto rank = [](const QString &entity) { return entity == tagName ? 0 : entity == caseName ? 1 : 2; };
        return rank(a.entity) < rank(b.entity);
    });

    // Which of the linked cases here have which tags, read from the store,
    // so that the writer never loads a case's tags one case at a time.
    QSet<QPair<qint64, qint64>> linkedHere; // case key, tag key
    {
        QSet<qint64> casesToRead;
        for (const MirrorLink &link : links)
            if (const qint64 caseKey = keys.value({caseEntity, link.caseUuid}); caseKey && keys.value({tagEntity, link.tagUuid})) {
                if (m_madeThisSync.contains(caseKey))
                    continue; // every link of such a case came through here
                casesToRead.insert(caseKey);
            }
        for (const qint64 caseKey : std::as_const(casesToRead))
            for (const ObjectID &tag : m_stack->persistentStore()->relatedIDs({caseEntity, caseKey}, Case::TagsRelationship))
                linkedHere.insert({caseKey, tag.key});
    }

    if (!m_writer) {
        if (m_mergesIntoMainContext) {
            m_writer = SharedBackgroundContext::writerFor(m_stack->mainContext());
        } else {
            m_writer = std::make_shared<ManagedObjectContext>(ManagedObjectContext::ConcurrencyType::PrivateQueue,
                                                              m_stack->persistentStore());
            m_writer->setStack(m_stack);
        }
        m_writer->setTransactionAuthor(author());
        m_writer->setName(QStringLiteral("Mirror"));
    }
    struct Created {
        ManagedObject *object;
        int entity;
        QString uuid;
        qint64 key = 0; // once saved
    };
    QVector<Created> created;
    QVector<QPair<int, qint64>> removed;
    QVector<MirrorLink> agreedLinks;
    QVector<QPair<QString, QString>> renamedFiles; // a medium's file before and after its name changed
    QSet<qint64> reorderedKeys; // cases whose media order may have changed
    const QUrl mediaDirectory = QUrl::fromLocalFile(m_stack->mediaDirectory());
    bool saved = false;
    QString failure;
    ManagedObjectContext *writer = m_writer.get();
    writer->performAndWait([&] {
        writer->registerExistingObjects(known);
        QHash<QPair<int, QString>, ManagedObject *> madeHere;
        // The record's object here; nullptr when it is not here, or was
        // deleted here and the deletion is still to be sent (it wins).
        auto objectFor = [&](int entity, const QString &uuid, bool *deletedHere) -> ManagedObject * {
            *deletedHere = false;
            if (ManagedObject *made = madeHere.value({entity, uuid}))
                return made;
            const qint64 pk = keys.value({entity, uuid});
            if (!pk)
                return nullptr;
            ManagedObject *object = writer->existingObject({entity, pk});
            *deletedHere = !object || object->isDeleted();
            return *deletedHere ? nullptr : object;
        };
        QSet<Case *> reordered;
        QHash<QPair<ManagedObject *, ManagedObject *>, bool> linkedInBatch;
        // Media written here, and the case each was in before.
        struct Touched {
            Media *medium;
            Case *previous;
        };
        QVector<Touched> touchedMedia;
        for (const MirrorRecord &record : std::as_const(records)) {
            const int entity = entityIndex(record.entity);
            bool deletedHere = false;
            ManagedObject *object = objectFor(entity, record.uuid, &deletedHere);
            if (record.deleted) {
                if (object) {
                    if (entity == mediaEntity)
                        if (Case *owner = static_cast<Media *>(object)->itsCase()) {
                            reordered.insert(owner);
                            touchedMedia.append({static_cast<Media *>(object), owner});
                        }
                    writer->deleteObject(object);
                }
                if (keys.value({entity, record.uuid})) {
                    removed.append({entity, keys.value({entity, record.uuid})});
                    if (m_startedEmpty.contains(entity))
                        m_keysMadeFromEmpty[entity].remove(QUuid::fromString(record.uuid));
                }
                madeHere.remove({entity, record.uuid});
                continue;
            }
            if (deletedHere)
                continue;
            const bool isNew = !object;
            if (isNew) {
                object = writer->insertNewObject(record.entity);
                object->setPrimitiveAttribute(uuidAttribute(entity), record.uuid);
                madeHere.insert({entity, record.uuid}, object);
                created.append({object, entity, record.uuid, 0});
            }
            const EntityDescription &description = model().entities()[entity];
            const QString fileNameBefore = entity == mediaEntity ? object->attribute(Media::FileName).toString() : QString();
            for (const int a : mirroredAttributes(entity)) {
                const AttributeDescription &attribute = description.attributes[a];
                if (!isNew && !record.values.contains(attribute.name))
                    continue;
                QVariant value = fromJson(record.values.value(attribute.name), attribute);
                if (!value.isValid() && !attribute.optional)
                    value = attribute.type == AttributeType::Boolean ? QVariant(false) : QVariant(0);
                // A new record is written whole, and no one watches it yet.
                if (isNew)
                    object->setPrimitiveAttribute(a, value);
                else if (object->attribute(a) != value)
                    object->setAttribute(a, value);
            }
            if (entity == mediaEntity) {
                auto *medium = static_cast<Media *>(object);
                touchedMedia.append({medium, medium->itsCase()});
                const QString fileNameAfter = medium->fileName();
                if (!isNew && fileNameAfter != fileNameBefore) {
                    const QUrl before = MediaFileStore::mediaFileURL(mediaDirectory, record.uuid, MediaTypes::extensionOf(fileNameBefore));
                    const QUrl after = MediaFileStore::mediaFileURL(mediaDirectory, record.uuid, MediaTypes::extensionOf(fileNameAfter));
                    if (!before.isEmpty() && !after.isEmpty() && before != after)
                        renamedFiles.append({before.toLocalFile(), after.toLocalFile()});
                }
                if (!isNew && record.values.value(caseProperty).isNull() && record.values.contains(caseProperty)) {
                    // Left without a case where it was made, as a deleted case leaves its media.
                    if (Case *previous = medium->itsCase()) {
                        reordered.insert(previous);
                        medium->setItsCase(nullptr);
                    }
                } else if (isNew || record.values.contains(caseProperty)) {
                    bool ownerDeleted = false;
                    auto *owner = static_cast<Case *>(objectFor(caseEntity, record.values.value(caseProperty).toString(), &ownerDeleted));
                    if (!owner) {
                        // A medium of a case that is gone stays out.
                        if (isNew) {
                            madeHere.remove({entity, record.uuid});
                            created.removeLast();
                            touchedMedia.removeLast();
                            writer->deleteObject(object);
                        }
                        continue;
                    }
                    if (medium->itsCase() != owner) {
                        if (Case *previous = medium->itsCase())
                            reordered.insert(previous);
                        medium->setItsCase(owner);
                    }
                    reordered.insert(owner);
                } else if (Case *owner = medium->itsCase()) {
                    reordered.insert(owner);
                }
            }
        }
        for (const MirrorLink &link : links) {
            bool caseGone = false;
            bool tagGone = false;
            ManagedObject *owner = objectFor(caseEntity, link.caseUuid, &caseGone);
            ManagedObject *tag = objectFor(tagEntity, link.tagUuid, &tagGone);
            agreedLinks.append(link);
            if (!owner || !tag)
                continue;
            // Saved links are known from the store; those made in this batch here.
            const QPair<qint64, qint64> key{keys.value({caseEntity, link.caseUuid}), keys.value({tagEntity, link.tagUuid})};
            const QPair<ManagedObject *, ManagedObject *> pair{owner, tag};
            const bool has = linkedInBatch.contains(pair)
                                 ? linkedInBatch.value(pair)
                                 : key.first && key.second && (linkedHere.contains(key) || m_linksMadeThisSync.contains(key));
            if (link.present && !has)
                owner->addToMany(Case::TagsRelationship, tag);
            else if (!link.present && has)
                owner->removeFromMany(Case::TagsRelationship, tag);
            linkedInBatch.insert(pair, link.present);
        }

        saved = !writer->hasChanges() || writer->save(&failure);
        if (saved) {
            for (Created &made : created) {
                made.key = made.object->objectID().key;
                made.object = nullptr;
            }
            for (Case *owner : std::as_const(reordered))
                if (!owner->isDeleted())
                    reorderedKeys.insert(owner->objectID().key);
            // What this sync made, it knows whole: the media order and the
            // links of the cases it made need no reading back.
            for (const Created &made : std::as_const(created))
                if (made.entity == caseEntity && made.key > 0)
                    m_madeThisSync.insert(made.key);
            for (const Touched &touched : std::as_const(touchedMedia)) {
                const QString uuid = touched.medium->uuid();
                Case *owner = touched.medium->isDeleted() ? nullptr : touched.medium->itsCase();
                if (touched.previous && touched.previous != owner)
                    m_mediaOrder[touched.previous->objectID().key].remove(uuid);
                if (owner && m_madeThisSync.contains(owner->objectID().key))
                    m_mediaOrder[owner->objectID().key].insert(uuid, touched.medium->orderIndex());
            }
            for (auto it = linkedInBatch.cbegin(); it != linkedInBatch.cend(); ++it) {
                const qint64 caseKey = it.key().first->objectID().key;
                if (!m_madeThisSync.contains(caseKey))
                    continue;
                const QPair<qint64, qint64> link{caseKey, it.key().second->objectID().key};
                if (it.value())
                    m_linksMadeThisSync.insert(link);
                else
                    m_linksMadeThisSync.remove(link);
            }
        }
        writer->reset();
    });
    if (!saved) {
        if (error)
            *error = QStringLiteral("The library could not save what the server sent: ") + failure;
        return false;
    }
    // A file whose record now names another file (a crop made a JPEG of a
    // PNG elsewhere) is kept aside, never deleted; the new version follows.
    for (const auto &renamed : std::as_const(renamedFiles)) {
        if (!QFileInfo::exists(renamed.first) || QFileInfo::exists(renamed.second))
            continue;
        QDir().mkpath(keptFilesFolder());
        const QString kept = QDir(keptFilesFolder())
                                 .filePath(QStringLiteral("%1-%2.%3")
                                               .arg(QFileInfo(renamed.first).completeBaseName())
                                               .arg(QDateTime::currentMSecsSinceEpoch())
                                               .arg(QFileInfo(renamed.first).suffix()));
        if (QFile::rename(renamed.first, kept))
            Log::info(LogArea::Networking, QStringLiteral("Mirror: %1 is now another file; kept as %2").arg(renamed.first, kept));
    }
    if (!m_state.begin()) {
        if (error)
            *error = QStringLiteral("The mirror's state could not be written.");
        return false;
    }
    QVector<QVector<QPair<qint64, QString>>> madeKeys(model().entities().size());
    for (const Created &made : std::as_const(created))
        if (made.key > 0) {
            madeKeys[made.entity].append({made.key, made.uuid});
            if (m_startedEmpty.contains(made.entity))
                m_keysMadeFromEmpty[made.entity].insert(QUuid::fromString(made.uuid), made.key);
        }
    bool written = true;
    for (int entity = 0; entity < madeKeys.size(); ++entity)
        written &= m_state.setKeys(entity, madeKeys[entity] + foundHere[entity]);
    for (const auto &gone : std::as_const(removed))
        written &= m_state.removeKey(gone.first, gone.second);
    QVector<std::tuple<QString, QString, bool>> linkRows;
    linkRows.reserve(agreedLinks.size());
    for (const MirrorLink &link : std::as_const(agreedLinks))
        linkRows.append({link.caseUuid, link.tagUuid, link.present});
    written &= m_state.setLinks(linkRows);
    if (!written || !m_state.commit()) {
        m_state.rollback();
        if (error)
            *error = QStringLiteral("The mirror's state could not be written.");
        return false;
    }
    return renumberRepeatedOrder(reorderedKeys, error);
}

bool LibraryMirror::renumberRepeatedOrder(const QSet<qint64> &caseKeys, QString *error)
{
    // Two machines that reordered one case may leave two media with one
    // index; every machine numbers them again the same way, by index and
    // then uuid. The media are read from the store, and only the cases with
    // a repeated index are loaded.
    PersistentStore *store = m_stack->persistentStore();
    const int caseEntity = entityIndex(caseName);
    const int mediaEntity = entityIndex(mediaName);
    QVector<qint64> mediaKeys;
    QList<ObjectID> repeated;
    for (const qint64 caseKey : caseKeys) {
        if (m_madeThisSync.contains(caseKey)) {
            const QHash<QString, int> &order = m_mediaOrder[caseKey];
            const QList<int> indexes = order.values();
            if (QSet<int>(indexes.cbegin(), indexes.cend()).size() < indexes.size()) {
                repeated << ObjectID{caseEntity, caseKey};
                m_madeThisSync.remove(caseKey); // from now on read from the store
                m_mediaOrder.remove(caseKey);
            }
            continue;
        }
        for (const ObjectID &medium : store->relatedIDs({caseEntity, caseKey}, Case::MediaRelationship))
            mediaKeys << medium.key;
    }
    QVector<ObjectSnapshot> media;
    if (!mediaKeys.isEmpty() && !store->fetchSnapshotsForKeys(mediaEntity, mediaKeys, &media, error))
        return false;
    QHash<qint64, QSet<int>> indexes;
    for (const ObjectSnapshot &medium : std::as_const(media)) {
        const ObjectID owner = medium.toOne.value(Media::ItsCase);
        QSet<int> &seen = indexes[owner.key];
        const int index = medium.attributes.value(Media::OrderIndex).toInt();
        if (seen.contains(index) && !repeated.contains(owner))
            repeated << owner;
        seen.insert(index);
    }
    if (repeated.isEmpty())
        return true;
    bool saved = false;
    QString failure;
    ManagedObjectContext *writer = m_writer.get();
    writer->performAndWait([&] {
        for (const ObjectID &id : std::as_const(repeated)) {
            auto *owner = static_cast<Case *>(writer->existingObject(id));
            if (!owner)
                continue;
            QList<Media *> ordered = owner->media();
            std::sort(ordered.begin(), ordered.end(), [](const Media *a, const Media *b) {
                return a->orderIndex() != b->orderIndex() ? a->orderIndex() < b->orderIndex() : a->uuid() < b->uuid();
            });
            for (int i = 0; i < ordered.size(); ++i)
                if (ordered[i]->orderIndex() != i)
                    ordered[i]->setOrderIndex(i);
        }
        saved = !writer->hasChanges() || writer->save(&failure);
        writer->reset();
    });
    if (!saved && error)
        *error = QStringLiteral("The library could not save the media's order: ") + failure;
    return saved;
}

bool LibraryMirror::syncFiles(Report *report, const QStringList &mediaToCheck, QVector<MirrorFile> serverFiles,
                              bool everything, const ProgressHandler &progress, const std::atomic_bool *cancel)
{
    PersistentStore *store = m_stack->persistentStore();
    const int mediaEntity = entityIndex(mediaName);
    const QUrl mediaDirectory = QUrl::fromLocalFile(m_stack->mediaDirectory());
    // The media records to look at: every one, or those named.
    QVector<ObjectSnapshot> snapshots;
    QString failure;
    if (everything) {
        if (!store->fetchSnapshots(mediaEntity, Predicate(), &snapshots, &failure)) {
            report->error = failure;
            return false;
        }
    } else {
        QSet<QString> named(mediaToCheck.cbegin(), mediaToCheck.cend());
        for (const MirrorFile &file : std::as_const(serverFiles))
            named.insert(file.mediaUuid);
        QVector<qint64> keys;
        for (const QString &uuid : std::as_const(named))
            if (const std::optional<qint64> key = m_state.keyForUuid(mediaEntity, uuid))
                keys << *key;
        if (!keys.isEmpty() && !store->fetchSnapshotsForKeys(mediaEntity, keys, &snapshots, &failure)) {
            report->error = failure;
            return false;
        }
    }
    QHash<QString, QString> pathOf; // media uuid -> file path here
    for (const ObjectSnapshot &snapshot : std::as_const(snapshots)) {
        const QString uuid = snapshot.attributes.value(Media::Uuid).toString();
        const QString name = snapshot.attributes.value(Media::FileName).toString();
        const QUrl url = MediaFileStore::mediaFileURL(mediaDirectory, uuid, MediaTypes::extensionOf(name));
        if (!url.isEmpty() && !name.isEmpty())
            pathOf.insert(uuid, url.toLocalFile());
    }

    // Files made or changed here go up as new versions.
    qint64 done = 0;
    QStringList lost;
    for (auto it = pathOf.constBegin(); it != pathOf.constEnd(); ++it) {
        if (cancel && *cancel) {
            report->cancelled = true;
            return false;
        }
        const QFileInfo info(it.value());
        if (!info.isFile())
            continue;
        const qint64 modified = info.lastModified().toMSecsSinceEpoch();
        const std::optional<MirrorState::FileVersion> known = m_state.fileVersion(it.key());
        if (known && known->size == info.size() && known->modified == modified)
            continue;
        const QString sha = sha256Of(it.value());
        if (sha.isEmpty())
            continue;
        if (known && known->sha256 == sha) {
            m_state.setFileVersion(it.key(), {sha, info.size(), modified, known->savedAt});
            continue;
        }
        bool complete = false;
        if (!m_server.hasContent(sha, &complete, &failure)
            || (!complete && !m_server.uploadContent(sha, it.value(), [cancel] { return cancel && *cancel; }, &failure))) {
            report->error = failure;
            return false;
        }
        const MirrorFile file{it.key(), sha, info.size(), info.suffix(), modified, m_machine, 0};
        bool won = false;
        if (!m_server.pushFile(file, &won, &failure)) {
            report->error = failure;
            return false;
        }
        if (won) {
            m_state.setFileVersion(it.key(), {sha, info.size(), modified, modified});
            ++report->filesSent;
        } else {
            lost << it.key();
        }
        if (progress)
            progress({QStringLiteral("Sending files"), ++done, pathOf.size()});
    }

    // Versions on the server that this machine does not have come down.
    if (everything || !lost.isEmpty()) {
        QStringList wanted = lost;
        if (everything)
            for (auto it = pathOf.constBegin(); it != pathOf.constEnd(); ++it) {
                const std::optional<MirrorState::FileVersion> known = m_state.fileVersion(it.key());
                if (!known || !QFileInfo::exists(it.value()))
                    wanted << it.key();
            }
        for (int start = 0; start < wanted.size(); start += 1000)
            if (!m_server.files(wanted.mid(start, 1000), &serverFiles, &failure)) {
                report->error = failure;
                return false;
            }
    }
    done = 0;
    int unfetched = 0;
    QString firstFailure;
    QSet<QString> seen;
    for (int i = serverFiles.size() - 1; i >= 0; --i) {
        // The last version listed is the newest.
        const MirrorFile &file = serverFiles[i];
        if (seen.contains(file.mediaUuid))
            continue;
        seen.insert(file.mediaUuid);
        if (cancel && *cancel) {
            report->cancelled = true;
            return false;
        }
        if (!isSha256(file.sha256) || file.size < 0 || file.size > largestFile || !pathOf.contains(file.mediaUuid))
            continue;
        const QString path = pathOf.value(file.mediaUuid);
        const std::optional<MirrorState::FileVersion> known = m_state.fileVersion(file.mediaUuid);
        if (known && known->sha256 == file.sha256 && QFileInfo::exists(path))
            continue;
        const QFileInfo info(path);
        if (info.isFile()) {
            const QString here = sha256Of(path);
            if (here == file.sha256) {
                m_state.setFileVersion(file.mediaUuid, {here, info.size(), info.lastModified().toMSecsSinceEpoch(), file.savedAt});
                continue;
            }
            const bool changedHere = !known || known->sha256 != here;
            if (changedHere && info.lastModified().toMSecsSinceEpoch() > file.savedAt)
                continue; // the later version is this one; it goes up next time
            // The version replaced is kept, never deleted.
            QDir().mkpath(keptFilesFolder());
            const QString kept = QDir(keptFilesFolder())
                                     .filePath(QStringLiteral("%1-%2.%3").arg(file.mediaUuid, here.left(12), info.suffix()));
            if (!QFile::exists(kept) && !QFile::copy(path, kept)) {
                report->error = QStringLiteral("%1 could not be kept before it is replaced").arg(path);
                return false;
            }
            Log::info(LogArea::Networking, QStringLiteral("Mirror: the file of %1 from %2 replaces this machine's, kept as %3")
                                               .arg(file.mediaUuid, file.machine, kept));
        }
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!m_server.downloadContent(file.sha256, file.size, path, &failure)) {
            // One file that cannot be had does not keep the others back.
            Log::error(LogArea::Networking, QStringLiteral("Mirror: the file of %1 was not fetched: %2").arg(file.mediaUuid, failure));
            if (unfetched++ == 0)
                firstFailure = failure;
            if (m_server.connection().isBad())
                break;
            continue;
        }
        const QFileInfo written(path);
        m_state.setFileVersion(file.mediaUuid, {file.sha256, written.size(), written.lastModified().toMSecsSinceEpoch(),
                                                file.savedAt});
        ++report->filesReceived;
        if (progress)
            progress({QStringLiteral("Receiving files"), ++done, serverFiles.size()});
    }
    if (unfetched > 0) {
        report->error = unfetched == 1 ? firstFailure
                                       : QStringLiteral("%1 media files were not fetched; the first: %2").arg(unfetched).arg(firstFailure);
        return false;
    }
    return true;
}

LibraryMirror::Report LibraryMirror::sync(bool media, const ProgressHandler &progress, const std::atomic_bool *cancel,
                                          bool allFiles)
{
    Report report;
    if (!m_state.isOpen()) {
        report.error = QStringLiteral("The mirror's state is not open.");
        return report;
    }
    if (m_server.connection().isBad() || !m_server.isConnected())
        m_server.connection().close();
    if (!connectToServer(&report.error, &report.offline))
        return report;
    const bool first = m_state.value(QStringLiteral("initialSent")) != QLatin1String("1");
    const bool firstFiles = media && m_state.value(QStringLiteral("filesChecked")) != QLatin1String("1");
    m_madeThisSync.clear();
    m_mediaOrder.clear();
    m_linksMadeThisSync.clear();
    m_startedEmpty.clear();
    m_keysMadeFromEmpty.clear();
    QStringList mediaToCheck;
    QVector<MirrorFile> serverFiles;
    bool ok = sendInitial(&report, progress, cancel) && sendChanges(&report, &mediaToCheck)
              && receiveChanges(&report, progress, cancel, &serverFiles);
    if (ok && media) {
        ok = syncFiles(&report, mediaToCheck, serverFiles, first || firstFiles || allFiles, progress, cancel);
        if (ok && firstFiles)
            m_state.setValue(QStringLiteral("filesChecked"), QStringLiteral("1"));
    }
    if (!ok && !report.cancelled && m_server.connection().isBad()) {
        report.offline = true;
        m_server.connection().close();
    }
    report.ok = ok;
    m_madeThisSync.clear();
    m_mediaOrder.clear();
    m_linksMadeThisSync.clear();
    m_startedEmpty.clear();
    m_keysMadeFromEmpty.clear();
    const QString when = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    m_state.setValue(QStringLiteral("lastSync"), when);
    m_state.setValue(QStringLiteral("lastResult"), ok ? QStringLiteral("ok")
                                                  : report.cancelled ? QStringLiteral("cancelled")
                                                                     : report.error);
    if (!ok && !report.cancelled)
        Log::error(LogArea::Networking, QStringLiteral("Mirror sync failed: ") + report.error);
    return report;
}

bool LibraryMirror::status(Status *status, QString *error)
{
    *status = Status();
    PersistentStore *store = m_stack->persistentStore();
    if (m_state.value(QStringLiteral("initialSent")) != QLatin1String("1")) {
        for (int entity = 0; entity < model().entities().size(); ++entity) {
            qint64 count = 0;
            if (store->count(entity, Predicate(), &count, nullptr))
                status->waitingToSend += count;
        }
    } else {
        QSet<ObjectID> changed;
        for (const HistoryTransaction &transaction : store->historySince(m_state.number(QStringLiteral("pushedHistoryId")), false))
            if (transaction.author != author())
                for (const HistoryTransaction::Change &change : transaction.changes)
                    changed.insert({change.entity, change.key});
        status->waitingToSend = changed.size();
    }
    bool offline = false;
    if (!connectToServer(error, &offline))
        return false;
    if (!m_server.countAfter(m_state.number(QStringLiteral("pulledSeq")), &status->serverAhead, error))
        return false;
    // Media records here whose files are not, and that the server has.
    QVector<ObjectSnapshot> snapshots;
    if (!store->fetchSnapshots(entityIndex(mediaName), Predicate(), &snapshots, error))
        return false;
    const QUrl mediaDirectory = QUrl::fromLocalFile(m_stack->mediaDirectory());
    QStringList missing;
    for (const ObjectSnapshot &snapshot : std::as_const(snapshots)) {
        const QString uuid = snapshot.attributes.value(Media::Uuid).toString();
        const QUrl url = MediaFileStore::mediaFileURL(mediaDirectory, uuid,
                                                      MediaTypes::extensionOf(snapshot.attributes.value(Media::FileName).toString()));
        if (!url.isEmpty() && !QFileInfo::exists(url.toLocalFile()))
            missing << uuid;
    }
    for (int start = 0; start < missing.size(); start += 1000) {
        QVector<MirrorFile> files;
        if (!m_server.files(missing.mid(start, 1000), &files, error))
            return false;
        status->missingFiles += files.size();
    }
    return true;
}

} // namespace ovalis
