#include "util/KeyedArchive.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <cstdlib>
#include <limits>
#include <memory>
#include <plist/plist.h>
#include <vector>

#include "util/IndexSet.h"

namespace ovalis {

namespace {

const char *const archiverName = "NSKeyedArchiver";
const quint64 archiveVersion = 100000;
// Seconds from 1970-01-01 to 2001-01-01, the epoch of archived dates.
const qint64 referenceDateOffset = 978307200;
// Deeper object graphs than this are refused rather than followed.
const int maximumDepth = 512;

struct PlistDeleter {
    void operator()(void *node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// The elements of an array in order. (Reaching an element by its index
// walks the array from its start in libplist 2.2.)
std::vector<plist_t> elementsOf(plist_t array)
{
    std::vector<plist_t> elements;
    elements.reserve(plist_array_get_size(array));
    plist_array_iter iterator = nullptr;
    plist_array_new_iter(array, &iterator);
    if (!iterator)
        return elements;
    for (plist_t item = nullptr;;) {
        item = nullptr;
        plist_array_next_item(array, iterator, &item);
        if (!item)
            break;
        elements.push_back(item);
    }
    free(iterator);
    return elements;
}

QString stringOf(plist_t node)
{
    uint64_t length = 0;
    const char *text = plist_get_string_ptr(node, &length);
    return text ? QString::fromUtf8(text, qsizetype(length)) : QString();
}

void appendVarint(QByteArray &out, quint64 value)
{
    do {
        char group = char(value & 0x7f);
        value >>= 7;
        if (value != 0)
            group = char(group | 0x80);
        out.append(group);
    } while (value != 0);
}

// Reads one varint at position; false when the data ends inside it or the
// value does not fit 64 bits.
bool readVarint(const QByteArray &data, qsizetype &position, quint64 &value)
{
    value = 0;
    for (int shift = 0; position < data.size(); shift += 7) {
        const quint8 group = quint8(data[position++]);
        if (shift > 63 || (shift == 63 && (group & 0x7e)))
            return false;
        value |= quint64(group & 0x7f) << shift;
        if (!(group & 0x80))
            return true;
    }
    return false;
}

template<class Map>
QList<QPair<QString, QVariant>> entriesOf(const Map &map)
{
    QList<QPair<QString, QVariant>> entries;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        entries.append({it.key(), it.value()});
    return entries;
}

// A number or truth value, written inline; nullptr for other values.
plist_t numberNode(const QVariant &value)
{
    static const QSet<int> signedIntegers = {QMetaType::Char,  QMetaType::SChar, QMetaType::UChar, QMetaType::Short,
                                             QMetaType::UShort, QMetaType::Int,   QMetaType::UInt,  QMetaType::Long,
                                             QMetaType::ULong,  QMetaType::LongLong};
    const int type = value.typeId();
    if (signedIntegers.contains(type))
        return plist_new_uint(uint64_t(value.toLongLong())); // eight-byte integers are signed in a property list
    if (type == QMetaType::ULongLong)
        return plist_new_uint(value.toULongLong());
    if (type == QMetaType::Float || type == QMetaType::Double)
        return plist_new_real(value.toDouble());
    if (type == QMetaType::Bool)
        return plist_new_bool(value.toBool());
    return nullptr;
}

// Builds $objects. Each object has its slot before its children are
// encoded, so the root is always at UID 1.
class Archiver
{
public:
    Archiver() { m_objects.emplace_back(plist_new_string("$null")); }
    bool encode(const QVariant &value, quint64 &uid, QString *error);
    PlistPtr finish(quint64 rootUid);

private:
    quint64 reserve();
    quint64 append(plist_t node);
    quint64 classUid(const QString &name, const QStringList &classes);
    // Fills the reserved slot with an object dictionary of the class.
    void place(quint64 uid, plist_t dictionary, const QString &className, const QStringList &superclasses);
    bool encodeList(const QVariantList &list, quint64 &uid, QString *error);
    bool encodeDictionary(const QList<QPair<QString, QVariant>> &entries, quint64 &uid, QString *error);
    quint64 encodeIndexSet(const IndexSet &set);

    std::vector<PlistPtr> m_objects;
    QHash<QString, quint64> m_classes;
    QHash<QString, quint64> m_strings;
};

quint64 Archiver::reserve()
{
    m_objects.emplace_back();
    return m_objects.size() - 1;
}

quint64 Archiver::append(plist_t node)
{
    m_objects.emplace_back(node);
    return m_objects.size() - 1;
}

quint64 Archiver::classUid(const QString &name, const QStringList &classes)
{
    if (const auto it = m_classes.constFind(name); it != m_classes.constEnd())
        return *it;
    plist_t dictionary = plist_new_dict();
    plist_dict_set_item(dictionary, "$classname", plist_new_string(name.toUtf8().constData()));
    plist_t names = plist_new_array();
    for (const QString &className : classes)
        plist_array_append_item(names, plist_new_string(className.toUtf8().constData()));
    plist_dict_set_item(dictionary, "$classes", names);
    const quint64 uid = append(dictionary);
    m_classes.insert(name, uid);
    return uid;
}

void Archiver::place(quint64 uid, plist_t dictionary, const QString &className, const QStringList &superclasses)
{
    plist_dict_set_item(dictionary, "$class", plist_new_uid(classUid(className, QStringList{className} + superclasses)));
    m_objects[uid].reset(dictionary);
}

bool Archiver::encode(const QVariant &value, quint64 &uid, QString *error)
{
    if (!value.isValid()) {
        uid = 0;
        return true;
    }
    const int type = value.typeId();
    if (plist_t node = numberNode(value)) {
        uid = append(node);
        return true;
    }
    switch (type) {
    case QMetaType::QString: {
        const QString text = value.toString();
        if (const auto it = m_strings.constFind(text); it != m_strings.constEnd()) {
            uid = *it;
        } else {
            uid = append(plist_new_string(text.toUtf8().constData()));
            m_strings.insert(text, uid);
        }
        return true;
    }
    case QMetaType::QByteArray: {
        const QByteArray data = value.toByteArray();
        uid = append(plist_new_data(data.constData(), uint64_t(data.size())));
        return true;
    }
    case QMetaType::QDateTime: {
        const QDateTime date = value.toDateTime();
        if (!date.isValid()) {
            if (error)
                *error = QStringLiteral("Cannot archive an invalid date");
            return false;
        }
        uid = reserve();
        plist_t dictionary = plist_new_dict();
        const double seconds = double(date.toMSecsSinceEpoch() - referenceDateOffset * 1000) / 1000.0;
        plist_dict_set_item(dictionary, "NS.time", plist_new_real(seconds));
        place(uid, dictionary, QStringLiteral("NSDate"), {QStringLiteral("NSObject")});
        return true;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
        return encodeList(value.toList(), uid, error);
    case QMetaType::QVariantMap:
        return encodeDictionary(entriesOf(value.toMap()), uid, error);
    case QMetaType::QVariantHash:
        return encodeDictionary(entriesOf(value.toHash()), uid, error);
    default:
        break;
    }
    if (type == qMetaTypeId<IndexSet>()) {
        uid = encodeIndexSet(value.value<IndexSet>());
        return true;
    }
    if (error)
        *error = QStringLiteral("Cannot archive a value of type ") + QString::fromLatin1(value.typeName());
    return false;
}

bool Archiver::encodeList(const QVariantList &list, quint64 &uid, QString *error)
{
    uid = reserve();
    plist_t references = plist_new_array();
    PlistPtr dictionary(plist_new_dict());
    plist_dict_set_item(dictionary.get(), "NS.objects", references);
    for (const QVariant &element : list) {
        quint64 elementUid = 0;
        if (!encode(element, elementUid, error))
            return false;
        plist_array_append_item(references, plist_new_uid(elementUid));
    }
    place(uid, dictionary.release(), QStringLiteral("NSArray"), {QStringLiteral("NSObject")});
    return true;
}

bool Archiver::encodeDictionary(const QList<QPair<QString, QVariant>> &entries, quint64 &uid, QString *error)
{
    uid = reserve();
    plist_t keys = plist_new_array();
    plist_t objects = plist_new_array();
    PlistPtr dictionary(plist_new_dict());
    plist_dict_set_item(dictionary.get(), "NS.keys", keys);
    plist_dict_set_item(dictionary.get(), "NS.objects", objects);
    for (const auto &[key, element] : entries) {
        quint64 keyUid = 0;
        quint64 elementUid = 0;
        if (!encode(key, keyUid, error) || !encode(element, elementUid, error))
            return false;
        plist_array_append_item(keys, plist_new_uid(keyUid));
        plist_array_append_item(objects, plist_new_uid(elementUid));
    }
    place(uid, dictionary.release(), QStringLiteral("NSDictionary"), {QStringLiteral("NSObject")});
    return true;
}

quint64 Archiver::encodeIndexSet(const IndexSet &set)
{
    const quint64 uid = reserve();
    plist_t dictionary = plist_new_dict();
    const QList<IndexSet::Range> &ranges = set.ranges();
    plist_dict_set_item(dictionary, "NSRangeCount", plist_new_uint(uint64_t(ranges.size())));
    if (ranges.size() == 1) {
        plist_dict_set_item(dictionary, "NSLocation", plist_new_uint(ranges.first().location));
        plist_dict_set_item(dictionary, "NSLength", plist_new_uint(ranges.first().length));
    } else if (ranges.size() > 1) {
        QByteArray data;
        for (const IndexSet::Range &range : ranges) {
            appendVarint(data, range.location);
            appendVarint(data, range.length);
        }
        const quint64 dataUid = append(plist_new_data(data.constData(), uint64_t(data.size())));
        plist_dict_set_item(dictionary, "NSRangeData", plist_new_uid(dataUid));
    }
    place(uid, dictionary, QStringLiteral("NSIndexSet"), {QStringLiteral("NSObject")});
    return uid;
}

PlistPtr Archiver::finish(quint64 rootUid)
{
    PlistPtr top(plist_new_dict());
    plist_dict_set_item(top.get(), "$archiver", plist_new_string(archiverName));
    plist_dict_set_item(top.get(), "$version", plist_new_uint(archiveVersion));
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "root", plist_new_uid(rootUid));
    plist_dict_set_item(top.get(), "$top", root);
    plist_t objects = plist_new_array();
    for (PlistPtr &object : m_objects)
        plist_array_append_item(objects, object.release());
    m_objects.clear();
    plist_dict_set_item(top.get(), "$objects", objects);
    return top;
}

// Resolves UIDs through $objects, each object once.
class Unarchiver
{
public:
    Unarchiver(plist_t objects, QString *error)
        : m_objects(elementsOf(objects))
        , m_error(error)
    {
    }

    std::optional<QVariant> decode(quint64 uid);

private:
    std::optional<QVariant> fail(const QString &message)
    {
        if (m_error && m_error->isEmpty())
            *m_error = message;
        return std::nullopt;
    }
    // A value inside an object dictionary: a reference, or a plain value written inline.
    std::optional<QVariant> decodeField(plist_t field);
    std::optional<QVariant> decodeObject(plist_t dictionary);
    std::optional<QVariant> decodeReferences(plist_t array, QVariantList &values);
    std::optional<QVariant> decodeIndexSet(plist_t dictionary);
    std::optional<QVariant> decodeScalar(plist_t node);
    std::optional<qint64> integerField(plist_t dictionary, const char *key);

    std::vector<plist_t> m_objects; // Not owned.
    QString *m_error;
    QHash<quint64, QVariant> m_decoded;
    QSet<quint64> m_inProgress;
};

std::optional<QVariant> Unarchiver::decode(quint64 uid)
{
    if (uid == 0)
        return QVariant();
    if (uid >= m_objects.size())
        return fail(QStringLiteral("Object reference %1 is outside the archive's %2 objects").arg(uid).arg(m_objects.size()));
    if (const auto it = m_decoded.constFind(uid); it != m_decoded.constEnd())
        return *it;
    if (m_inProgress.contains(uid))
        return fail(QStringLiteral("Object %1 contains itself").arg(uid));
    if (m_inProgress.size() >= maximumDepth)
        return fail(QStringLiteral("The archive's objects are nested too deeply"));
    m_inProgress.insert(uid);
    plist_t node = m_objects[uid];
    std::optional<QVariant> value = plist_get_node_type(node) == PLIST_DICT ? decodeObject(node) : decodeScalar(node);
    m_inProgress.remove(uid);
    if (value)
        m_decoded.insert(uid, *value);
    return value;
}

std::optional<QVariant> Unarchiver::decodeScalar(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_STRING:
        return QVariant(stringOf(node));
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return QVariant(qlonglong(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return QVariant(value);
    }
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return QVariant(value != 0);
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char *bytes = plist_get_data_ptr(node, &length);
        return QVariant(QByteArray(bytes, qsizetype(length)));
    }
    default:
        return fail(QStringLiteral("The archive holds a value of an unknown kind"));
    }
}

std::optional<QVariant> Unarchiver::decodeField(plist_t field)
{
    if (!field)
        return fail(QStringLiteral("An archived object lacks a value"));
    if (plist_get_node_type(field) == PLIST_UID) {
        uint64_t uid = 0;
        plist_get_uid_val(field, &uid);
        return decode(uid);
    }
    return decodeScalar(field);
}

std::optional<qint64> Unarchiver::integerField(plist_t dictionary, const char *key)
{
    plist_t field = plist_dict_get_item(dictionary, key);
    if (plist_get_node_type(field) != PLIST_UINT) {
        fail(QStringLiteral("An index set lacks its integer ") + QLatin1String(key));
        return std::nullopt;
    }
    uint64_t value = 0;
    plist_get_uint_val(field, &value);
    return qint64(value);
}

std::optional<QVariant> Unarchiver::decodeReferences(plist_t array, QVariantList &values)
{
    if (plist_get_node_type(array) != PLIST_ARRAY)
        return fail(QStringLiteral("An archived collection lacks its objects"));
    const std::vector<plist_t> elements = elementsOf(array);
    values.reserve(qsizetype(elements.size()));
    for (plist_t element : elements) {
        std::optional<QVariant> value = decodeField(element);
        if (!value)
            return std::nullopt;
        values.append(*value);
    }
    return QVariant(values);
}

std::optional<QVariant> Unarchiver::decodeObject(plist_t dictionary)
{
    plist_t classReference = plist_dict_get_item(dictionary, "$class");
    if (plist_get_node_type(classReference) != PLIST_UID)
        return fail(QStringLiteral("An archived object has no class"));
    uint64_t classUid = 0;
    plist_get_uid_val(classReference, &classUid);
    plist_t classDictionary = classUid < m_objects.size() ? m_objects[classUid] : nullptr;
    plist_t nameNode = plist_get_node_type(classDictionary) == PLIST_DICT ? plist_dict_get_item(classDictionary, "$classname")
                                                                          : nullptr;
    if (plist_get_node_type(nameNode) != PLIST_STRING)
        return fail(QStringLiteral("An archived object's class has no name"));
    const QString className = stringOf(nameNode);

    static const QSet<QString> lists = {QStringLiteral("NSArray"), QStringLiteral("NSMutableArray"), QStringLiteral("NSSet"),
                                        QStringLiteral("NSMutableSet"), QStringLiteral("NSOrderedSet"),
                                        QStringLiteral("NSMutableOrderedSet")};
    if (lists.contains(className)) {
        QVariantList values;
        return decodeReferences(plist_dict_get_item(dictionary, "NS.objects"), values);
    }
    if (className == QLatin1String("NSDictionary") || className == QLatin1String("NSMutableDictionary")) {
        QVariantList keys;
        QVariantList values;
        if (!decodeReferences(plist_dict_get_item(dictionary, "NS.keys"), keys)
            || !decodeReferences(plist_dict_get_item(dictionary, "NS.objects"), values))
            return std::nullopt;
        if (keys.size() != values.size())
            return fail(QStringLiteral("An archived dictionary has %1 keys for %2 values").arg(keys.size()).arg(values.size()));
        QVariantMap map;
        for (qsizetype i = 0; i < keys.size(); ++i) {
            if (keys[i].typeId() != QMetaType::QString)
                return fail(QStringLiteral("An archived dictionary has a key that is not a string"));
            map.insert(keys[i].toString(), values[i]);
        }
        return QVariant(map);
    }
    const auto wrapped = [&](const char *key, QMetaType::Type type) -> std::optional<QVariant> {
        std::optional<QVariant> value = decodeField(plist_dict_get_item(dictionary, key));
        if (value && value->typeId() != type)
            return fail(className + QStringLiteral(" holds a value of the wrong kind"));
        return value;
    };
    if (className == QLatin1String("NSString") || className == QLatin1String("NSMutableString"))
        return wrapped("NS.string", QMetaType::QString);
    if (className == QLatin1String("NSData") || className == QLatin1String("NSMutableData"))
        return wrapped("NS.data", QMetaType::QByteArray);
    if (className == QLatin1String("NSDate")) {
        plist_t time = plist_dict_get_item(dictionary, "NS.time");
        std::optional<QVariant> seconds = decodeField(time);
        if (!seconds)
            return std::nullopt;
        if (plist_get_node_type(time) == PLIST_UID || !seconds->canConvert<double>())
            return fail(QStringLiteral("An archived date holds no time"));
        const qint64 milliseconds = qint64(seconds->toDouble() * 1000.0) + referenceDateOffset * 1000;
        return QVariant(QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC));
    }
    if (className == QLatin1String("NSIndexSet") || className == QLatin1String("NSMutableIndexSet"))
        return decodeIndexSet(dictionary);
    return fail(QStringLiteral("Cannot unarchive an object of class ") + className);
}

std::optional<QVariant> Unarchiver::decodeIndexSet(plist_t dictionary)
{
    const std::optional<qint64> rangeCount = integerField(dictionary, "NSRangeCount");
    if (!rangeCount)
        return std::nullopt;
    IndexSet set;
    if (*rangeCount == 1) {
        const std::optional<qint64> location = integerField(dictionary, "NSLocation");
        const std::optional<qint64> length = integerField(dictionary, "NSLength");
        if (!location || !length)
            return std::nullopt;
        set.addRange(quint64(*location), quint64(*length));
    } else if (*rangeCount != 0) {
        const std::optional<QVariant> rangeData = decodeField(plist_dict_get_item(dictionary, "NSRangeData"));
        if (!rangeData)
            return std::nullopt;
        if (rangeData->typeId() != QMetaType::QByteArray)
            return fail(QStringLiteral("An index set's range data is not data"));
        const QByteArray data = rangeData->toByteArray();
        qsizetype position = 0;
        qint64 ranges = 0;
        while (position < data.size()) {
            quint64 location = 0;
            quint64 length = 0;
            if (!readVarint(data, position, location) || !readVarint(data, position, length))
                return fail(QStringLiteral("An index set's range data is cut short or overflows"));
            set.addRange(location, length);
            ++ranges;
        }
        if (ranges != *rangeCount)
            return fail(QStringLiteral("An index set announces %1 ranges and holds %2").arg(*rangeCount).arg(ranges));
    }
    return QVariant::fromValue(set);
}

} // namespace

std::optional<QByteArray> KeyedArchive::archive(const QVariant &root, QString *error)
{
    Archiver archiver;
    quint64 rootUid = 0;
    if (!archiver.encode(root, rootUid, error))
        return std::nullopt;
    const PlistPtr top = archiver.finish(rootUid);
    char *bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(top.get(), &bytes, &length);
    if (!bytes || length == 0) {
        if (error)
            *error = QStringLiteral("The property list could not be written");
        return std::nullopt;
    }
    QByteArray data(bytes, qsizetype(length));
    plist_to_bin_free(bytes);
    return data;
}

std::optional<QVariant> KeyedArchive::unarchive(const QByteArray &data, QString *error)
{
    const auto fail = [error](const QString &message) -> std::optional<QVariant> {
        if (error)
            *error = message;
        return std::nullopt;
    };
    if (data.size() < 8 || !data.startsWith("bplist") || quint64(data.size()) > std::numeric_limits<uint32_t>::max())
        return fail(QStringLiteral("The data is not a binary property list"));
    plist_t parsed = nullptr;
    plist_from_bin(data.constData(), uint32_t(data.size()), &parsed);
    // libplist reports a failed parse only by leaving the result unset.
    if (!parsed)
        return fail(QStringLiteral("The property list could not be read"));
    const PlistPtr top(parsed);
    if (plist_get_node_type(top.get()) != PLIST_DICT)
        return fail(QStringLiteral("The property list is not a keyed archive"));
    plist_t archiver = plist_dict_get_item(top.get(), "$archiver");
    if (plist_get_node_type(archiver) != PLIST_STRING || stringOf(archiver) != QLatin1String(archiverName))
        return fail(QStringLiteral("The property list is not a keyed archive"));
    plist_t objects = plist_dict_get_item(top.get(), "$objects");
    plist_t topObjects = plist_dict_get_item(top.get(), "$top");
    plist_t root = plist_get_node_type(topObjects) == PLIST_DICT ? plist_dict_get_item(topObjects, "root") : nullptr;
    if (plist_get_node_type(objects) != PLIST_ARRAY || plist_get_node_type(root) != PLIST_UID)
        return fail(QStringLiteral("The keyed archive has no root object"));
    uint64_t rootUid = 0;
    plist_get_uid_val(root, &rootUid);
    QString message;
    Unarchiver unarchiver(objects, &message);
    std::optional<QVariant> value = unarchiver.decode(rootUid);
    if (!value)
        return fail(message);
    return value;
}

} // namespace ovalis
