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

struct PlistFree {
    void operator()(void *node) const { plist_free(static_cast<plist_t>(node)); }
};
using Plist = std::unique_ptr<void, PlistFree>;

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
    uint64_t length = 0;
    const char *text = plist_get_node_type(node) == PLIST_STRING ? plist_get_string_ptr(node, &length) : nullptr;
    return text ? QString::fromUtf8(text, qsizetype(length)) : QStringLiteral("<not a string>");
}

quint64 numberValue(plist_t node)
{
    uint64_t value = 0;
    if (plist_get_node_type(node) == PLIST_UID)
        plist_get_uid_val(node, &value);
    else if (plist_get_node_type(node) == PLIST_UINT)
        plist_get_uint_val(node, &value);
    else
        ADD_FAILURE() << "not a UID or an integer";
    return value;
}

// An archive parsed back with libplist, its objects reached through their UIDs.
struct ParsedArchive {
    explicit ParsedArchive(const QByteArray &data)
    {
        plist_t node = nullptr;
        plist_from_bin(data.constData(), uint32_t(data.size()), &node);
        top.reset(node);
        objects = plist_dict_get_item(top.get(), "$objects");
        root = at(plist_dict_get_item(plist_dict_get_item(top.get(), "$top"), "root"));
    }
    plist_t at(plist_t uid) const { return plist_array_get_item(objects, uint32_t(numberValue(uid))); }
    plist_t field(plist_t object, const char *key) const { return plist_dict_get_item(object, key); }
    QString className(plist_t object) const { return stringValue(field(at(field(object, "$class")), "$classname")); }

    Plist top;
    plist_t objects = nullptr;
    plist_t root = nullptr;
};

QByteArray archived(const QVariant &value)
{
    const std::optional<QByteArray> data = KeyedArchive::archive(value);
    EXPECT_TRUE(data.has_value());
    return data.value_or(QByteArray());
}

TEST(KeyedArchiveTest, IndexSetsRoundTripAndKeepRangesAsCountLocationLengthOrVarints)
{
    const auto roundTrip = [](const IndexSet &set) {
        return KeyedArchive::unarchive(archived(QVariant::fromValue(set))).value_or(QVariant()).value<IndexSet>();
    };
    const IndexSet large = IndexSet::fromRanges(
        {{127, 1}, {128, 1}, {200, 300}, {16384, 2}, {(quint64(1) << 40) + 5, 1}, {std::numeric_limits<quint64>::max() - 1, 1}});
    for (const IndexSet &set : {IndexSet(), IndexSet::fromIndexes({4}), IndexSet::fromIndexes({4, 5, 6}), IndexSet::fromIndexes({0, 2, 3, 9}), large})
        EXPECT_EQ(roundTrip(set), set) << set.description().toStdString();

    const ParsedArchive empty(archived(QVariant::fromValue(IndexSet())));
    EXPECT_EQ(empty.className(empty.root), QStringLiteral("NSIndexSet"));
    EXPECT_EQ(numberValue(empty.field(empty.root, "NSRangeCount")), 0u);
    EXPECT_EQ(empty.field(empty.root, "NSLocation"), nullptr);

    const ParsedArchive one(archived(QVariant::fromValue(IndexSet::fromRanges({{300, 2}}))));
    EXPECT_EQ(numberValue(one.field(one.root, "NSRangeCount")), 1u);
    EXPECT_EQ(numberValue(one.field(one.root, "NSLocation")), 300u);
    EXPECT_EQ(numberValue(one.field(one.root, "NSLength")), 2u);

    const ParsedArchive two(archived(QVariant::fromValue(IndexSet::fromRanges({{1, 2}, {300, 129}}))));
    EXPECT_EQ(numberValue(two.field(two.root, "NSRangeCount")), 2u);
    plist_t data = two.at(two.field(two.root, "NSRangeData"));
    uint64_t length = 0;
    const char *bytes = plist_get_node_type(data) == PLIST_DATA ? plist_get_data_ptr(data, &length) : nullptr;
    // 1, 2, 300 = 0xAC 0x02, 129 = 0x81 0x01: least significant group first.
    EXPECT_EQ(QByteArray(bytes, qsizetype(length)), QByteArray::fromHex("0102ac028101"));
}

TEST(KeyedArchiveTest, TheArchiveHasTheStandardTopLevelAndSharedClasses)
{
    const QVariantMap first{{QStringLiteral("UUID"), QStringLiteral("E621E1F8")}, {QStringLiteral("File_Extension"), QStringLiteral("jpg")}};
    const ParsedArchive archive(archived(QVariantList{first, QVariantMap{{QStringLiteral("UUID"), QStringLiteral("0A1B2C3D")}}}));
    EXPECT_EQ(stringValue(plist_dict_get_item(archive.top.get(), "$archiver")), QStringLiteral("NSKeyedArchiver"));
    EXPECT_EQ(numberValue(plist_dict_get_item(archive.top.get(), "$version")), 100000u);
    EXPECT_EQ(stringValue(plist_array_get_item(archive.objects, 0)), QStringLiteral("$null"));
    EXPECT_EQ(archive.className(archive.root), QStringLiteral("NSArray"));

    plist_t references = archive.field(archive.root, "NS.objects");
    ASSERT_EQ(plist_array_get_size(references), 2u);
    plist_t firstObject = archive.at(plist_array_get_item(references, 0));
    plist_t secondObject = archive.at(plist_array_get_item(references, 1));
    EXPECT_EQ(archive.className(firstObject), QStringLiteral("NSDictionary"));
    // One class dictionary for both, its $classes starting with its name.
    EXPECT_EQ(numberValue(archive.field(firstObject, "$class")), numberValue(archive.field(secondObject, "$class")));
    plist_t classes = archive.field(archive.at(archive.field(firstObject, "$class")), "$classes");
    ASSERT_EQ(plist_array_get_size(classes), 2u);
    EXPECT_EQ(stringValue(plist_array_get_item(classes, 0)), QStringLiteral("NSDictionary"));
    EXPECT_EQ(stringValue(plist_array_get_item(classes, 1)), QStringLiteral("NSObject"));
    // Keys and values: parallel arrays of references to inline strings.
    plist_t keys = archive.field(firstObject, "NS.keys");
    plist_t values = archive.field(firstObject, "NS.objects");
    QVariantMap read;
    for (uint32_t i = 0; i < plist_array_get_size(keys); ++i)
        read.insert(stringValue(archive.at(plist_array_get_item(keys, i))), stringValue(archive.at(plist_array_get_item(values, i))));
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
        {QStringLiteral("real"), 2.5},
        {QStringLiteral("flag"), true},
        {QStringLiteral("data"), QByteArray("\x00\x01\xff", 3)},
        {QStringLiteral("date"), date},
        {QStringLiteral("nothing"), QVariant()},
        {QStringLiteral("nested"), QVariantList{QStringLiteral("a"), QVariantMap{{QStringLiteral("b"), 1}}, QStringLiteral("a")}},
        {QStringLiteral("many"), many},
    };
    // Numbers come back as 64-bit integers, equal in value.
    const QVariantMap map = KeyedArchive::unarchive(archived(root)).value_or(QVariant()).toMap();
    EXPECT_EQ(map, root);
    EXPECT_EQ(map.value(QStringLiteral("flag")).typeId(), QMetaType::Bool);
    EXPECT_TRUE(map.contains(QStringLiteral("nothing")));

    QString error;
    EXPECT_FALSE(KeyedArchive::archive(QVariantList{QPoint(1, 2)}, &error).has_value());
    EXPECT_TRUE(error.contains(QStringLiteral("QPoint")));
}

// An archive as another program could write it: objects after "$null", root at UID 1.
QByteArray handBuiltArchive(const std::function<void(plist_t objects)> &fill)
{
    Plist top(plist_new_dict());
    plist_dict_set_item(top.get(), "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_dict_set_item(top.get(), "$version", plist_new_uint(100000));
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "root", plist_new_uid(1));
    plist_dict_set_item(top.get(), "$top", root);
    plist_t objects = plist_new_array();
    plist_array_append_item(objects, plist_new_string("$null"));
    fill(objects);
    plist_dict_set_item(top.get(), "$objects", objects);
    return toBinary(top.get());
}

// An object of the class at UID 1 (its class dictionary at UID 2) with the fields.
QByteArray objectOfClass(const char *className, const std::function<void(plist_t object)> &fields)
{
    return handBuiltArchive([&](plist_t objects) {
        plist_t object = plist_new_dict();
        fields(object);
        plist_dict_set_item(object, "$class", plist_new_uid(2));
        plist_array_append_item(objects, object);
        plist_t classDictionary = plist_new_dict();
        plist_dict_set_item(classDictionary, "$classname", plist_new_string(className));
        plist_array_append_item(objects, classDictionary);
    });
}

QByteArray indexSetArchive(const char *className, int rangeCount, const QByteArray &rangeData)
{
    return objectOfClass(className, [&](plist_t object) {
        plist_dict_set_item(object, "NSRangeCount", plist_new_uint(uint64_t(rangeCount)));
        plist_dict_set_item(object, "NSRangeData", plist_new_data(rangeData.constData(), uint64_t(rangeData.size())));
    });
}

TEST(KeyedArchiveTest, OtherWritersFormsAreReadAndDamagedArchivesRefusedWithAReason)
{
    // A mutable index set with its range data inline, and mutable data.
    EXPECT_EQ(KeyedArchive::unarchive(indexSetArchive("NSMutableIndexSet", 2, QByteArray::fromHex("01010302")))->value<IndexSet>(),
              IndexSet::fromIndexes({1, 3, 4}));
    const QByteArray mutableData = objectOfClass("NSMutableData", [](plist_t object) {
        plist_dict_set_item(object, "NS.data", plist_new_data("\x05", 1));
    });
    EXPECT_EQ(KeyedArchive::unarchive(mutableData)->toByteArray(), QByteArray("\x05", 1));

    // Range data cut inside a varint, overflowing 64 bits, or not matching its count.
    EXPECT_FALSE(KeyedArchive::unarchive(indexSetArchive("NSIndexSet", 2, QByteArray::fromHex("010103"))).has_value());
    EXPECT_FALSE(KeyedArchive::unarchive(indexSetArchive("NSIndexSet", 2, QByteArray::fromHex("0101038280"))).has_value());
    EXPECT_FALSE(KeyedArchive::unarchive(indexSetArchive("NSIndexSet", 3, QByteArray::fromHex("01010302"))).has_value());
    EXPECT_FALSE(KeyedArchive::unarchive(indexSetArchive("NSIndexSet", 2, QByteArray::fromHex("ffffffffffffffffff7f01"))).has_value());

    QString error;
    const QByteArray listHoldingItself = objectOfClass("NSArray", [](plist_t object) {
        plist_t references = plist_new_array();
        plist_array_append_item(references, plist_new_uid(1));
        plist_dict_set_item(object, "NS.objects", references);
    });
    EXPECT_FALSE(KeyedArchive::unarchive(listHoldingItself, &error).has_value());
    EXPECT_EQ(error, QStringLiteral("Object 1 contains itself"));
    error.clear();
    EXPECT_FALSE(KeyedArchive::unarchive(objectOfClass("NSColor", [](plist_t) {}), &error).has_value());
    EXPECT_EQ(error, QStringLiteral("Cannot unarchive an object of class NSColor"));
    EXPECT_FALSE(KeyedArchive::unarchive(handBuiltArchive([](plist_t) {})).has_value()); // root outside $objects
    Plist plain(plist_new_dict());
    plist_dict_set_item(plain.get(), "root", plist_new_uint(1));
    error.clear();
    EXPECT_FALSE(KeyedArchive::unarchive(toBinary(plain.get()), &error).has_value());
    EXPECT_EQ(error, QStringLiteral("The property list is not a keyed archive"));

    // Garbage, every truncation and flipped bytes: refused or read, never a crash.
    EXPECT_FALSE(KeyedArchive::unarchive(QByteArray()).has_value());
    EXPECT_FALSE(KeyedArchive::unarchive(QByteArray("bplist00") + QByteArray(40, '\xff')).has_value());
    const QByteArray good = archived(
        QVariantMap{{QStringLiteral("rows"), QVariant::fromValue(IndexSet::fromIndexes({1, 5, 9}))}, {QStringLiteral("x"), 1}});
    for (qsizetype length = 0; length < good.size(); ++length)
        EXPECT_FALSE(KeyedArchive::unarchive(good.left(length)).has_value()) << length;
    for (qsizetype at = 8; at < good.size(); ++at) {
        QByteArray damaged = good;
        damaged[at] = char(damaged[at] ^ 0x5a);
        (void)KeyedArchive::unarchive(damaged);
    }
}

} // namespace
