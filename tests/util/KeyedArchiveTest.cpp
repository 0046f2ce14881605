#include "util/KeyedArchive.h"

#include <QDateTime>
#include <QPoint>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <plist/plist.h>

#include "util/IndexSet.h"

using namespace ovalis;

namespace {

using Range = IndexSet::Range;

struct PlistFree {
    void operator()(void *node) const { plist_free(static_cast<plist_t>(node)); }
};
using Plist = std::unique_ptr<void, PlistFree>;

Plist parse(const QByteArray &data)
{
    plist_t node = nullptr;
    plist_from_bin(data.constData(), uint32_t(data.size()), &node);
    return Plist(node);
}

QByteArray toBinary(plist_t node)
{
    char *bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bytes, &length);
    QByteArray data(bytes, qsizetype(length));
    plist_to_bin_free(bytes);
    return data;
}

QString stringValue(plist_t node)
{
    if (plist_get_node_type(node) != PLIST_STRING)
        return QStringLiteral("<not a string>");
    char *text = nullptr;
    plist_get_string_val(node, &text);
    const QString value = QString::fromUtf8(text);
    free(text);
    return value;
}

quint64 uidValue(plist_t node)
{
    EXPECT_EQ(plist_get_node_type(node), PLIST_UID);
    uint64_t value = 0;
    plist_get_uid_val(node, &value);
    return value;
}

quint64 uintValue(plist_t node)
{
    EXPECT_EQ(plist_get_node_type(node), PLIST_UINT);
    uint64_t value = 0;
    plist_get_uint_val(node, &value);
    return value;
}

IndexSet roundTrip(const IndexSet &set)
{
    const std::optional<QByteArray> data = KeyedArchive::archive(QVariant::fromValue(set));
    EXPECT_TRUE(data.has_value());
    const std::optional<QVariant> back = KeyedArchive::unarchive(data.value_or(QByteArray()));
    EXPECT_TRUE(back.has_value());
    EXPECT_EQ(back.value_or(QVariant()).typeId(), qMetaTypeId<IndexSet>());
    return back.value_or(QVariant()).value<IndexSet>();
}

// The archived root object of data, parsed with libplist.
struct ParsedArchive {
    Plist top;
    plist_t objects = nullptr;
    plist_t root = nullptr;
    plist_t object(quint64 uid) const { return plist_array_get_item(objects, uint32_t(uid)); }
    QString className(plist_t dictionary) const
    {
        return stringValue(plist_dict_get_item(object(uidValue(plist_dict_get_item(dictionary, "$class"))), "$classname"));
    }
};

ParsedArchive parseArchive(const QByteArray &data)
{
    ParsedArchive archive{parse(data)};
    archive.objects = plist_dict_get_item(archive.top.get(), "$objects");
    archive.root = archive.object(uidValue(plist_dict_get_item(plist_dict_get_item(archive.top.get(), "$top"), "root")));
    return archive;
}

TEST(KeyedArchiveTest, IndexSetsRoundTripInEveryShape)
{
    EXPECT_TRUE(roundTrip(IndexSet()).isEmpty());
    EXPECT_EQ(roundTrip(IndexSet::fromIndexes({4})), IndexSet::fromIndexes({4}));
    EXPECT_EQ(roundTrip(IndexSet::fromIndexes({4, 5, 6})).ranges(), (QList<Range>{{4, 3}}));
    const IndexSet several = IndexSet::fromIndexes({0, 2, 3, 9});
    EXPECT_EQ(roundTrip(several), several);
    // Locations and lengths needing two, three and nine varint bytes.
    const IndexSet large = IndexSet::fromRanges(
        {{127, 1}, {128, 1}, {200, 300}, {16384, 2}, {(quint64(1) << 40) + 5, 1}, {std::numeric_limits<quint64>::max() - 1, 1}});
    EXPECT_EQ(roundTrip(large), large);
}

TEST(KeyedArchiveTest, IndexSetsAreStoredAsRangeCountLocationLengthOrVarintData)
{
    ParsedArchive one = parseArchive(*KeyedArchive::archive(QVariant::fromValue(IndexSet::fromRanges({{300, 2}}))));
    EXPECT_EQ(one.className(one.root), QStringLiteral("NSIndexSet"));
    EXPECT_EQ(uintValue(plist_dict_get_item(one.root, "NSRangeCount")), 1u);
    EXPECT_EQ(uintValue(plist_dict_get_item(one.root, "NSLocation")), 300u);
    EXPECT_EQ(uintValue(plist_dict_get_item(one.root, "NSLength")), 2u);
    EXPECT_EQ(plist_dict_get_item(one.root, "NSRangeData"), nullptr);

    ParsedArchive empty = parseArchive(*KeyedArchive::archive(QVariant::fromValue(IndexSet())));
    EXPECT_EQ(uintValue(plist_dict_get_item(empty.root, "NSRangeCount")), 0u);
    EXPECT_EQ(plist_dict_get_item(empty.root, "NSLocation"), nullptr);

    ParsedArchive two = parseArchive(*KeyedArchive::archive(QVariant::fromValue(IndexSet::fromRanges({{1, 2}, {300, 129}}))));
    EXPECT_EQ(uintValue(plist_dict_get_item(two.root, "NSRangeCount")), 2u);
    plist_t data = two.object(uidValue(plist_dict_get_item(two.root, "NSRangeData")));
    ASSERT_EQ(plist_get_node_type(data), PLIST_DATA);
    uint64_t length = 0;
    const char *bytes = plist_get_data_ptr(data, &length);
    // 1, 2, 300 = 0xAC 0x02, 129 = 0x81 0x01: least significant group first.
    EXPECT_EQ(QByteArray(bytes, qsizetype(length)), QByteArray::fromHex("0102ac028101"));
}

TEST(KeyedArchiveTest, TheArchiveHasTheStandardTopLevelAndSharedClasses)
{
    const QVariantMap first{{QStringLiteral("UUID"), QStringLiteral("E621E1F8")}, {QStringLiteral("File_Extension"), QStringLiteral("jpg")}};
    const QVariantMap second{{QStringLiteral("UUID"), QStringLiteral("0A1B2C3D")}};
    const std::optional<QByteArray> data = KeyedArchive::archive(QVariantList{first, second});
    ASSERT_TRUE(data.has_value());
    ParsedArchive archive = parseArchive(*data);
    ASSERT_EQ(plist_get_node_type(archive.top.get()), PLIST_DICT);
    EXPECT_EQ(stringValue(plist_dict_get_item(archive.top.get(), "$archiver")), QStringLiteral("NSKeyedArchiver"));
    EXPECT_EQ(uintValue(plist_dict_get_item(archive.top.get(), "$version")), 100000u);
    EXPECT_EQ(stringValue(archive.object(0)), QStringLiteral("$null"));
    EXPECT_EQ(archive.className(archive.root), QStringLiteral("NSArray"));

    plist_t references = plist_dict_get_item(archive.root, "NS.objects");
    ASSERT_EQ(plist_array_get_size(references), 2u);
    plist_t firstObject = archive.object(uidValue(plist_array_get_item(references, 0)));
    plist_t secondObject = archive.object(uidValue(plist_array_get_item(references, 1)));
    EXPECT_EQ(archive.className(firstObject), QStringLiteral("NSDictionary"));
    // Both dictionaries point at one class dictionary, whose $classes starts with its name.
    EXPECT_EQ(uidValue(plist_dict_get_item(firstObject, "$class")), uidValue(plist_dict_get_item(secondObject, "$class")));
    plist_t classes = plist_dict_get_item(archive.object(uidValue(plist_dict_get_item(firstObject, "$class"))), "$classes");
    ASSERT_EQ(plist_array_get_size(classes), 2u);
    EXPECT_EQ(stringValue(plist_array_get_item(classes, 0)), QStringLiteral("NSDictionary"));
    EXPECT_EQ(stringValue(plist_array_get_item(classes, 1)), QStringLiteral("NSObject"));
    // Keys and values are parallel arrays of references to inline strings.
    plist_t keys = plist_dict_get_item(firstObject, "NS.keys");
    plist_t values = plist_dict_get_item(firstObject, "NS.objects");
    ASSERT_EQ(plist_array_get_size(keys), 2u);
    QVariantMap read;
    for (uint32_t i = 0; i < 2; ++i)
        read.insert(stringValue(archive.object(uidValue(plist_array_get_item(keys, i)))),
                    stringValue(archive.object(uidValue(plist_array_get_item(values, i)))));
    EXPECT_EQ(read, first);
}

TEST(KeyedArchiveTest, ValuesRoundTripThroughTheirArchivedForms)
{
    QVariantList many;
    for (qlonglong i = 0; i < 70000; ++i)
        many.append(i * 3); // references past two bytes
    const QDateTime date(QDate(2023, 6, 27), QTime(9, 15, 30, 250), Qt::UTC);
    const QVariantMap root{
        {QStringLiteral("text"), QStringLiteral("Ménière’s")},
        {QStringLiteral("negative"), -5},
        {QStringLiteral("large"), qlonglong(1) << 40},
        {QStringLiteral("real"), 2.5},
        {QStringLiteral("flag"), true},
        {QStringLiteral("data"), QByteArray("\x00\x01\xff", 3)},
        {QStringLiteral("date"), date},
        {QStringLiteral("nothing"), QVariant()},
        {QStringLiteral("nested"), QVariantList{QStringLiteral("a"), QVariantMap{{QStringLiteral("b"), 1}}, QStringLiteral("a")}},
        {QStringLiteral("many"), many},
        {QStringLiteral("rows"), QVariant::fromValue(IndexSet::fromIndexes({1, 3}))},
    };
    const std::optional<QByteArray> data = KeyedArchive::archive(root);
    ASSERT_TRUE(data.has_value());
    const std::optional<QVariant> back = KeyedArchive::unarchive(*data);
    ASSERT_TRUE(back.has_value());
    const QVariantMap map = back->toMap();
    EXPECT_EQ(map.value(QStringLiteral("text")), QStringLiteral("Ménière’s"));
    EXPECT_EQ(map.value(QStringLiteral("negative")).toLongLong(), -5);
    EXPECT_EQ(map.value(QStringLiteral("large")).toLongLong(), qlonglong(1) << 40);
    EXPECT_EQ(map.value(QStringLiteral("real")).toDouble(), 2.5);
    EXPECT_EQ(map.value(QStringLiteral("flag")).typeId(), QMetaType::Bool);
    EXPECT_EQ(map.value(QStringLiteral("data")).toByteArray(), QByteArray("\x00\x01\xff", 3));
    EXPECT_EQ(map.value(QStringLiteral("date")).toDateTime(), date);
    EXPECT_TRUE(map.contains(QStringLiteral("nothing")));
    EXPECT_FALSE(map.value(QStringLiteral("nothing")).isValid());
    EXPECT_EQ(map.value(QStringLiteral("nested")), root.value(QStringLiteral("nested")));
    EXPECT_EQ(map.value(QStringLiteral("many")).toList(), many);
    EXPECT_EQ(map.value(QStringLiteral("rows")).value<IndexSet>(), IndexSet::fromIndexes({1, 3}));

    // A value of a kind with no archived form is refused with a reason.
    QString error;
    EXPECT_FALSE(KeyedArchive::archive(QVariantList{QPoint(1, 2)}, &error).has_value());
    EXPECT_TRUE(error.contains(QStringLiteral("QPoint")));
}

// A hand-built archive, as another program could write it.
QByteArray archiveWithObjects(const std::function<void(plist_t objects)> &fill, quint64 root = 1)
{
    Plist top(plist_new_dict());
    plist_dict_set_item(top.get(), "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_dict_set_item(top.get(), "$version", plist_new_uint(100000));
    plist_t rootDictionary = plist_new_dict();
    plist_dict_set_item(rootDictionary, "root", plist_new_uid(root));
    plist_dict_set_item(top.get(), "$top", rootDictionary);
    plist_t objects = plist_new_array();
    plist_array_append_item(objects, plist_new_string("$null"));
    fill(objects);
    plist_dict_set_item(top.get(), "$objects", objects);
    return toBinary(top.get());
}

plist_t classDictionary(const char *name)
{
    plist_t dictionary = plist_new_dict();
    plist_dict_set_item(dictionary, "$classname", plist_new_string(name));
    plist_t classes = plist_new_array();
    plist_array_append_item(classes, plist_new_string(name));
    plist_array_append_item(classes, plist_new_string("NSObject"));
    plist_dict_set_item(dictionary, "$classes", classes);
    return dictionary;
}

TEST(KeyedArchiveTest, ReadsTheMutableAndWrappedFormsOtherWritersUse)
{
    // The root is not the first object: it is found through $top.
    const QByteArray data = archiveWithObjects(
        [](plist_t objects) {
            plist_t data = plist_new_dict();
            plist_dict_set_item(data, "NS.data", plist_new_data("\x05", 1));
            plist_dict_set_item(data, "$class", plist_new_uid(2));
            plist_array_append_item(objects, data);                                  // 1
            plist_array_append_item(objects, classDictionary("NSMutableData"));      // 2
            plist_t set = plist_new_dict();
            plist_dict_set_item(set, "NSRangeCount", plist_new_uint(2));
            plist_dict_set_item(set, "NSRangeData", plist_new_data("\x01\x01\x03\x02", 4)); // inline data
            plist_dict_set_item(set, "$class", plist_new_uid(4));
            plist_array_append_item(objects, set);                                   // 3
            plist_array_append_item(objects, classDictionary("NSMutableIndexSet"));  // 4
            plist_t list = plist_new_dict();
            plist_t references = plist_new_array();
            plist_array_append_item(references, plist_new_uid(1));
            plist_array_append_item(references, plist_new_uid(3));
            plist_array_append_item(references, plist_new_uid(0));
            plist_dict_set_item(list, "NS.objects", references);
            plist_dict_set_item(list, "$class", plist_new_uid(6));
            plist_array_append_item(objects, list);                                  // 5
            plist_array_append_item(objects, classDictionary("NSMutableArray"));     // 6
        },
        5);
    const std::optional<QVariant> value = KeyedArchive::unarchive(data);
    ASSERT_TRUE(value.has_value());
    const QVariantList list = value->toList();
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].toByteArray(), QByteArray("\x05", 1));
    EXPECT_EQ(list[1].value<IndexSet>(), IndexSet::fromIndexes({1, 3, 4}));
    EXPECT_FALSE(list[2].isValid());
}

TEST(KeyedArchiveTest, DamagedArchivesAreRefusedWithAReason)
{
    const QByteArray good = *KeyedArchive::archive(
        QVariantMap{{QStringLiteral("rows"), QVariant::fromValue(IndexSet::fromIndexes({1, 5, 9}))}, {QStringLiteral("x"), 1}});
    QString error;
    EXPECT_FALSE(KeyedArchive::unarchive(QByteArray(), &error).has_value());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(KeyedArchive::unarchive(QByteArray("garbage, not a property list")).has_value());
    EXPECT_FALSE(KeyedArchive::unarchive(QByteArray("bplist00") + QByteArray(40, '\xff')).has_value());
    // Every truncation is refused, and none crashes.
    for (qsizetype length = 0; length < good.size(); ++length)
        EXPECT_FALSE(KeyedArchive::unarchive(good.left(length)).has_value()) << length;
    // Flipped bytes either fail or give some value, never a crash.
    for (qsizetype at = 8; at < good.size(); ++at) {
        QByteArray damaged = good;
        damaged[at] = char(damaged[at] ^ 0x5a);
        (void)KeyedArchive::unarchive(damaged);
    }

    // A property list that is not an archive.
    Plist plain(plist_new_dict());
    plist_dict_set_item(plain.get(), "root", plist_new_uint(1));
    error.clear();
    EXPECT_FALSE(KeyedArchive::unarchive(toBinary(plain.get()), &error).has_value());
    EXPECT_EQ(error, QStringLiteral("The property list is not a keyed archive"));

    // References outside $objects, an object holding itself, an unknown class,
    // a varint cut short and a range count that does not match the data.
    EXPECT_FALSE(KeyedArchive::unarchive(archiveWithObjects([](plist_t) {}, 7)).has_value());
    const auto listHoldingItself = archiveWithObjects([](plist_t objects) {
        plist_t list = plist_new_dict();
        plist_t references = plist_new_array();
        plist_array_append_item(references, plist_new_uid(1));
        plist_dict_set_item(list, "NS.objects", references);
        plist_dict_set_item(list, "$class", plist_new_uid(2));
        plist_array_append_item(objects, list);
        plist_array_append_item(objects, classDictionary("NSArray"));
    });
    error.clear();
    EXPECT_FALSE(KeyedArchive::unarchive(listHoldingItself, &error).has_value());
    EXPECT_EQ(error, QStringLiteral("Object 1 contains itself"));
    const auto objectOfClass = [](const char *className, const std::function<void(plist_t)> &fields) {
        return archiveWithObjects([&](plist_t objects) {
            plist_t object = plist_new_dict();
            fields(object);
            plist_dict_set_item(object, "$class", plist_new_uid(2));
            plist_array_append_item(objects, object);
            plist_array_append_item(objects, classDictionary(className));
        });
    };
    error.clear();
    EXPECT_FALSE(KeyedArchive::unarchive(objectOfClass("NSColor", [](plist_t) {}), &error).has_value());
    EXPECT_EQ(error, QStringLiteral("Cannot unarchive an object of class NSColor"));
    const auto indexSetWithData = [&](int rangeCount, const QByteArray &rangeData) {
        return objectOfClass("NSIndexSet", [&](plist_t object) {
            plist_dict_set_item(object, "NSRangeCount", plist_new_uint(uint64_t(rangeCount)));
            plist_dict_set_item(object, "NSRangeData", plist_new_data(rangeData.constData(), uint64_t(rangeData.size())));
        });
    };
    EXPECT_TRUE(KeyedArchive::unarchive(indexSetWithData(2, QByteArray::fromHex("01010302"))).has_value());
    EXPECT_FALSE(KeyedArchive::unarchive(indexSetWithData(2, QByteArray::fromHex("010103"))).has_value());
    EXPECT_FALSE(KeyedArchive::unarchive(indexSetWithData(2, QByteArray::fromHex("0101038280"))).has_value());
    EXPECT_FALSE(KeyedArchive::unarchive(indexSetWithData(3, QByteArray::fromHex("01010302"))).has_value());
    EXPECT_FALSE(KeyedArchive::unarchive(indexSetWithData(2, QByteArray::fromHex("ffffffffffffffffff7f0101"))).has_value());
}

} // namespace
