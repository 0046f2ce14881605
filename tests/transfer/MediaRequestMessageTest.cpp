#include "transfer/MediaRequestMessage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <plist/plist.h>

#include "store/MediaFileStore.h"
#include "transfer/MissingMediaLibrary.h"
#include "transfer/MissingMediaManager.h"
#include "transfer/RecordingMultiPeerManager.h"
#include "util/KeyedArchive.h"
#include "util/Log.h"

using namespace ovalis;
using namespace ovalis::test;

namespace {

struct PlistFree {
    void operator()(void *node) const { plist_free(static_cast<plist_t>(node)); }
};

QString stringOf(plist_t node)
{
    char *text = nullptr;
    if (plist_get_node_type(node) != PLIST_STRING)
        return QStringLiteral("<not a string>");
    plist_get_string_val(node, &text);
    const QString value = QString::fromUtf8(text);
    free(text);
    return value;
}

uint64_t uidOf(plist_t node)
{
    uint64_t value = 0;
    EXPECT_EQ(plist_get_node_type(node), PLIST_UID);
    plist_get_uid_val(node, &value);
    return value;
}

const QString uuid = QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");

} // namespace

TEST(MediaRequestMessageTest, RequestsAreKeyedArchivesOfAStringDictionary)
{
    const std::optional<QByteArray> data = MediaRequestMessage{uuid, QStringLiteral("jpg")}.encode();
    ASSERT_TRUE(data);
    ASSERT_TRUE(data->startsWith("bplist00"));
    plist_t parsed = nullptr;
    plist_from_bin(data->constData(), uint32_t(data->size()), &parsed);
    ASSERT_NE(parsed, nullptr);
    std::unique_ptr<void, PlistFree> top(parsed);
    EXPECT_EQ(stringOf(plist_dict_get_item(parsed, "$archiver")), QStringLiteral("NSKeyedArchiver"));
    plist_t objects = plist_dict_get_item(parsed, "$objects");
    EXPECT_EQ(stringOf(plist_array_get_item(objects, 0)), QStringLiteral("$null"));
    plist_t root = plist_array_get_item(objects, uint32_t(uidOf(plist_dict_get_item(plist_dict_get_item(parsed, "$top"), "root"))));
    plist_t classInfo = plist_array_get_item(objects, uint32_t(uidOf(plist_dict_get_item(root, "$class"))));
    EXPECT_EQ(stringOf(plist_dict_get_item(classInfo, "$classname")), QStringLiteral("NSDictionary"));
    plist_t keys = plist_dict_get_item(root, "NS.keys");
    plist_t values = plist_dict_get_item(root, "NS.objects");
    ASSERT_EQ(plist_array_get_size(keys), 2u);
    ASSERT_EQ(plist_array_get_size(values), 2u);
    QMap<QString, QString> dictionary;
    for (uint32_t i = 0; i < 2; ++i)
        dictionary.insert(stringOf(plist_array_get_item(objects, uint32_t(uidOf(plist_array_get_item(keys, i))))),
                          stringOf(plist_array_get_item(objects, uint32_t(uidOf(plist_array_get_item(values, i))))));
    EXPECT_EQ(dictionary, (QMap<QString, QString>{{QStringLiteral("UUID"), uuid}, {QStringLiteral("File_Extension"), QStringLiteral("jpg")}}));

    MediaRequestMessage decoded;
    ASSERT_EQ(MediaRequestMessage::decode(*data, &decoded), MediaRequestMessage::DecodeResult::Decoded);
    EXPECT_EQ(decoded.uuid, uuid);
    EXPECT_EQ(decoded.fileExtension, QStringLiteral("jpg"));
}

TEST(MediaRequestMessageTest, OnlyDictionariesOfStringsWithBothKeysAreMessages)
{
    const auto decode = [](const QVariant &root) {
        return MediaRequestMessage::decode(*KeyedArchive::archive(root), nullptr);
    };
    using Result = MediaRequestMessage::DecodeResult;
    EXPECT_EQ(decode(QVariantMap{{QStringLiteral("UUID"), uuid}}), Result::Ignored);
    EXPECT_EQ(decode(QVariantMap{{QStringLiteral("UUID"), uuid}, {QStringLiteral("File_Extension"), 3}}), Result::Ignored);
    EXPECT_EQ(decode(QVariantMap{{QStringLiteral("UUID"), QVariantList{uuid}}, {QStringLiteral("File_Extension"), QString()}}),
              Result::Ignored);
    EXPECT_EQ(decode(QStringList{uuid, QStringLiteral("jpg")}), Result::Ignored);
    EXPECT_EQ(decode(uuid), Result::Ignored);
    EXPECT_EQ(decode(QVariantMap{{QStringLiteral("UUID"), QString()}, {QStringLiteral("File_Extension"), QStringLiteral("png")},
                                 {QStringLiteral("Extra"), QStringLiteral("x")}}),
              Result::Decoded);
    QString error;
    EXPECT_EQ(MediaRequestMessage::decode("not an archive", nullptr, &error), Result::Undecodable);
    EXPECT_FALSE(error.isEmpty());
}

TEST(MediaRequestMessageTest, OnlyCanonicalUuidsAndPlainExtensionsNameMediaFiles)
{
    EXPECT_TRUE(MediaRequestMessage::isCanonicalUuid(uuid));
    EXPECT_TRUE(MediaRequestMessage::isCanonicalUuid(uuid.toLower()));
    for (const QString &text : {QStringLiteral("../../.ssh/id_rsa"), QStringLiteral("{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}"),
                                uuid + QStringLiteral("/.."), QStringLiteral("E621E1F8C36C495A93FC0C247A3E6E5F"), QString(),
                                QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F\n")})
        EXPECT_FALSE(MediaRequestMessage::isCanonicalUuid(text)) << text.toStdString();
    EXPECT_TRUE(MediaRequestMessage::isPlainExtension(QString()));
    EXPECT_TRUE(MediaRequestMessage::isPlainExtension(QStringLiteral("jpeg")));
    for (const QString &text : {QStringLiteral("."), QStringLiteral(".."), QStringLiteral("jpg/../../x"), QStringLiteral("tar.gz"),
                                QStringLiteral("a\\b"), QStringLiteral("jpg\u0000"), QStringLiteral("x").repeated(17)})
        EXPECT_FALSE(MediaRequestMessage::isPlainExtension(text)) << text.toStdString();
}

namespace {

// A responder whose media directory holds one file, and a file outside it.
class MediaResponderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_directory.isValid());
        m_media = QUrl::fromLocalFile(m_directory.filePath(QStringLiteral("Media")));
        m_manager.setBaseDirectoryURL(m_media);
        ASSERT_TRUE(MissingMediaLibrary::writeAt(MediaFileStore::mediaFileURL(m_media, uuid, QStringLiteral("jpg")), "scan"));
        ASSERT_TRUE(MissingMediaLibrary::writeAt(MediaFileStore::mediaFileURL(m_media, uuid, QString()), "bare"));
        ASSERT_TRUE(MissingMediaLibrary::writeAt(QUrl::fromLocalFile(m_directory.filePath(QStringLiteral("secret"))), "secret"));
    }

    void receive(const QVariantMap &dictionary, std::function<void()> notAvailable = {})
    {
        m_manager.handleReceivedData(*KeyedArchive::archive(dictionary), &m_peer, std::move(notAvailable));
    }

    static QVariantMap request(const QString &id, const QString &extension)
    {
        return {{QStringLiteral("UUID"), id}, {QStringLiteral("File_Extension"), extension}};
    }

    // The not-available replies sent so far, as (UUID, File_Extension).
    QList<QPair<QString, QString>> replies() const
    {
        QList<QPair<QString, QString>> result;
        for (const QByteArray &data : m_peer.sentData) {
            MediaRequestMessage message;
            EXPECT_EQ(MediaRequestMessage::decode(data, &message), MediaRequestMessage::DecodeResult::Decoded);
            result.append({message.uuid, message.fileExtension});
        }
        return result;
    }

    QTemporaryDir m_directory;
    QUrl m_media;
    MissingMediaManager m_manager;
    RecordingMultiPeerManager m_peer;
};

} // namespace

TEST_F(MediaResponderTest, RequestsForPresentFilesAreAnsweredWithTheFileAndOthersWithTheNotAvailableReply)
{
    receive(request(uuid, QStringLiteral("jpg")));
    receive(request(uuid, QString()));
    receive(request(uuid, QStringLiteral("png")));
    receive({{QStringLiteral("UUID"), uuid}}); // incomplete: ignored
    ASSERT_EQ(m_peer.sentFiles.size(), 2);
    EXPECT_EQ(m_peer.sentFiles[0].first, MediaFileStore::mediaFileURL(m_media, uuid, QStringLiteral("jpg")));
    EXPECT_EQ(m_peer.sentFiles[0].second, uuid);
    EXPECT_TRUE(m_peer.sentFiles[1].first.toLocalFile().endsWith(QLatin1Char('/') + uuid));
    EXPECT_EQ(replies(), (QList<QPair<QString, QString>>{{QString(), QStringLiteral("png")}}));
}

TEST_F(MediaResponderTest, RequestsNamingFilesOutsideTheMediaDirectoryAreRefused)
{
    // A link inside the media directory that leads out of it.
    const QString linkUuid = QStringLiteral("AAAAAAAA-C36C-495A-93FC-0C247A3E6E5F");
    const QString link = MediaFileStore::mediaFileURL(m_media, linkUuid, QStringLiteral("jpg")).toLocalFile();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(link).path()));
    ASSERT_TRUE(QFile::link(m_directory.filePath(QStringLiteral("secret")), link));

    LogCapture log;
    receive(request(QStringLiteral("../../secret"), QString()));
    receive(request(QStringLiteral("../"), QStringLiteral("/../secret")));
    receive(request(uuid, QStringLiteral("jpg/../../../../secret")));
    receive(request(QStringLiteral("/etc/passwd"), QString()));
    receive(request(linkUuid, QStringLiteral("jpg")));
    EXPECT_TRUE(m_peer.sentFiles.isEmpty());
    const auto sent = replies();
    ASSERT_EQ(sent.size(), 5);
    for (const auto &reply : sent)
        EXPECT_TRUE(reply.first.isEmpty());
    EXPECT_EQ(log.countPrefix(QStringLiteral("Refused request for")), 5);
}

TEST_F(MediaResponderTest, ANotAvailableReplyAsksForTheNextFileLater)
{
    LogCapture log;
    int asked = 0;
    receive(request(QString(), QStringLiteral("jpg")), [&asked] { ++asked; });
    EXPECT_EQ(asked, 0); // on the main thread's next turn, not within the call
    EXPECT_TRUE(log.contains(QStringLiteral("Empty file UUID - file does not exist on peer"), LogLevel::Error));
    ASSERT_TRUE(QTest::qWaitFor([&asked] { return asked == 1; }));
    EXPECT_TRUE(m_peer.sentData.isEmpty());
    EXPECT_TRUE(m_peer.sentFiles.isEmpty());

    m_manager.handleReceivedData("garbage", &m_peer, [&asked] { ++asked; });
    EXPECT_TRUE(log.containsPrefix(QStringLiteral("Failed to decode data: ")));
}
