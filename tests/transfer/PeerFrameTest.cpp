#include "transfer/PeerFrame.h"

#include <QBuffer>
#include <QList>
#include <gtest/gtest.h>

using namespace ovalis;

TEST(PeerFrameTest, FramesComeOutWholeHoweverTheBytesArrive)
{
    QByteArray stream = PeerFrame::encode(PeerFrame::Type::Hello, "{}") + PeerFrame::encode(PeerFrame::Type::ResourceEnd)
        + PeerFrame::encode(PeerFrame::Type::Data, QByteArray(70000, 'x'));
    for (int piece : {1, 7, 4096, int(stream.size())}) {
        PeerFrameReader reader;
        QList<PeerFrame> frames;
        for (qsizetype at = 0; at < stream.size(); at += piece) {
            reader.append(stream.mid(at, piece));
            while (std::optional<PeerFrame> frame = reader.next())
                frames.append(*frame);
        }
        ASSERT_EQ(frames.size(), 3) << piece;
        EXPECT_EQ(frames[0].type, PeerFrame::Type::Hello);
        EXPECT_EQ(frames[0].payload, QByteArray("{}"));
        EXPECT_EQ(frames[1].type, PeerFrame::Type::ResourceEnd);
        EXPECT_TRUE(frames[1].payload.isEmpty());
        EXPECT_EQ(frames[2].payload, QByteArray(70000, 'x'));
        EXPECT_EQ(reader.bufferedBytes(), 0);
        EXPECT_FALSE(reader.failed());
    }
}

TEST(PeerFrameTest, UnknownTypesAndOversizedFramesBreakTheStream)
{
    PeerFrameReader unknown;
    unknown.append(QByteArray::fromHex("6300000000"));
    EXPECT_FALSE(unknown.next());
    EXPECT_TRUE(unknown.failed());

    PeerFrameReader oversized;
    oversized.append(PeerFrame::header(PeerFrame::Type::Data, PeerFrame::maximumPayloadSize + 1));
    EXPECT_FALSE(oversized.next());
    EXPECT_TRUE(oversized.failed());
    oversized.append(PeerFrame::encode(PeerFrame::Type::Data, "late"));
    EXPECT_FALSE(oversized.next());
}

TEST(PeerFrameTest, ReadingFromADeviceTakesOneFrameAtATimeAndStopsAtABrokenHeader)
{
    const QList<QByteArray> payloads{QByteArray(300000, 'a'), QByteArray(), QByteArray(300000, 'b'), QByteArray("{}")};
    QByteArray stream;
    for (const QByteArray &payload : payloads)
        stream += PeerFrame::encode(PeerFrame::Type::ResourceChunk, payload);
    stream += QByteArray::fromHex("6300000010") + QByteArray(16, 'z');
    QByteArray grown;
    QBuffer device(&grown);
    device.open(QIODevice::ReadOnly);
    PeerFrameReader reader;
    QList<QByteArray> frames;
    qint64 frameEnd = 0;
    // The bytes arrive in pieces that cut frames and headers anywhere.
    for (qsizetype at = 0; at < stream.size(); at += 65537) {
        grown.append(stream.mid(at, 65537));
        reader.readFrom(&device);
        while (std::optional<PeerFrameView> frame = reader.nextView()) {
            EXPECT_EQ(frame->type, PeerFrame::Type::ResourceChunk);
            frameEnd += PeerFrame::headerSize + frame->payload.size();
            // Nothing of the next frame was taken with this one.
            EXPECT_EQ(device.pos(), frameEnd);
            frames.append(frame->payload.toByteArray());
            reader.readFrom(&device);
        }
    }
    EXPECT_EQ(frames, payloads);
    EXPECT_TRUE(reader.failed());
    EXPECT_EQ(device.pos(), stream.size() - 16); // the broken frame's payload is left unread
}
