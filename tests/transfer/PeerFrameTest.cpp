#include "transfer/PeerFrame.h"

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
