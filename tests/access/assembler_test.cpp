#include "frame/assembler.h"

#include <gtest/gtest.h>

#include <vector>

#include "frame/packets.h"

namespace zorvik::frame {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Collected {
    std::vector<Bytes> frames;
    int rejected = 0;
};

Collected drain(FrameAssembler& assembler) {
    Collected out;
    for (auto cut = assembler.next(); cut.kind != FrameAssembler::Kind::need_more;
         cut = assembler.next()) {
        if (cut.kind == FrameAssembler::Kind::frame) {
            out.frames.emplace_back(cut.bytes.begin(), cut.bytes.end());
        } else {
            ++out.rejected;
        }
    }
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

const Bytes kOpen = build_frame(0x20, 1, 0, Bytes{0x01});
const Bytes kReport = build_frame(30, 0, 0, Bytes{0x01, 0x00, 0x12, 0xAB, 0x34, 0x01, 0x80});
const Bytes kAck(kUploadAck.begin(), kUploadAck.end());

TEST(FrameAssembler, AFrameSplitAcrossReadsIsDeliveredOnceWhenComplete) {
    FrameAssembler a;
    a.append({kOpen.data(), 5});
    EXPECT_TRUE(drain(a).frames.empty());
    a.append({kOpen.data() + 5, kOpen.size() - 5});
    const auto got = drain(a);
    ASSERT_EQ(got.frames.size(), 1u);
    EXPECT_EQ(got.frames[0], kOpen);
    EXPECT_EQ(a.buffered(), 0u);
}

TEST(FrameAssembler, TwoFramesInOneReadComeOutInOrder) {
    FrameAssembler a;
    a.append(cat({kOpen, kReport}));
    const auto got = drain(a);
    ASSERT_EQ(got.frames.size(), 2u);
    EXPECT_EQ(got.frames[0], kOpen);
    EXPECT_EQ(got.frames[1], kReport);
}

TEST(FrameAssembler, StrayBytesBeforeAFrameNeverCostTheFrame) {
    for (const Bytes& garbage : {Bytes{0x00}, Bytes{0x00, 0x00}, Bytes{0x13, 0x37, 0x00, 0xAA},
                                 Bytes{0xBB, 0xAA, 0xAA, 0x01}}) {
        FrameAssembler a;
        a.append(cat({garbage, kOpen}));
        const auto got = drain(a);
        ASSERT_EQ(got.frames.size(), 1u);
        EXPECT_EQ(got.frames[0], kOpen);
        EXPECT_EQ(a.skipped_bytes(), garbage.size());
    }
}

TEST(FrameAssembler, AFalseStartByteCostsOneByteNotTheFrameBehindIt) {
    // 00 7E and then a frame: the first 7E opens a candidate that fails its Crc.
    FrameAssembler a;
    a.append(cat({Bytes{0x00, 0x7E}, kOpen}));
    const auto got = drain(a);
    ASSERT_EQ(got.frames.size(), 1u);
    EXPECT_EQ(got.frames[0], kOpen);
    EXPECT_GE(got.rejected, 1);
}

TEST(FrameAssembler, AStartByteWithAnImpossibleLengthIsSkipped) {
    FrameAssembler a;
    a.append(cat({Bytes{0x7E, 1, 2, 3, 4, 5, 6, 0xFF, 0xFF}, kReport}));
    const auto got = drain(a);
    ASSERT_EQ(got.frames.size(), 1u);
    EXPECT_EQ(got.frames[0], kReport);
}

TEST(FrameAssembler, AFalseStartWithAPlausibleLengthNeverHoldsUpTheFramesBehindIt) {
    // 7E and eight bytes whose Len field reads 0x3A12: far more than will ever follow.
    const Bytes false_start{0x7E, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x3A, 0x12};
    FrameAssembler a;
    a.append(cat({false_start, kReport, kOpen}));
    const auto got = drain(a);
    ASSERT_EQ(got.frames.size(), 2u);
    EXPECT_EQ(got.frames[0], kReport);
    EXPECT_EQ(got.frames[1], kOpen);
    EXPECT_EQ(a.buffered(), 0u);

    // A real frame still arriving is waited for: nothing behind it is complete yet.
    FrameAssembler partial;
    const Bytes big = build_frame(0x22, 3, 0, Bytes(40, 0x11));
    partial.append({big.data(), 20});
    EXPECT_TRUE(drain(partial).frames.empty());
    partial.append({big.data() + 20, big.size() - 20});
    const auto whole = drain(partial);
    ASSERT_EQ(whole.frames.size(), 1u);
    EXPECT_EQ(whole.frames[0], big);
}

TEST(FrameAssembler, UploadAcknowledgementIsConsumedWhereverItStands) {
    FrameAssembler alone;
    alone.append(kAck);
    EXPECT_TRUE(drain(alone).frames.empty());
    EXPECT_EQ(alone.acks_seen(), 1u);
    EXPECT_EQ(alone.buffered(), 0u);

    FrameAssembler mixed;
    mixed.append(cat({kAck, kOpen, kAck, kReport, kAck}));
    const auto got = drain(mixed);
    ASSERT_EQ(got.frames.size(), 2u);
    EXPECT_EQ(got.frames[0], kOpen);
    EXPECT_EQ(got.frames[1], kReport);
    EXPECT_EQ(mixed.acks_seen(), 3u);
    EXPECT_EQ(mixed.skipped_bytes(), 0u);

    // An acknowledgement split across reads is recognised once complete.
    FrameAssembler split;
    split.append({kAck.data(), 2});
    EXPECT_TRUE(drain(split).frames.empty());
    split.append(cat({Bytes(kAck.begin() + 2, kAck.end()), kOpen}));
    EXPECT_EQ(drain(split).frames.size(), 1u);
    EXPECT_EQ(split.acks_seen(), 1u);
}

TEST(FrameAssembler, StartBytesInsideThePayloadNeedNoEscaping) {
    const Bytes frame = build_frame(0x21, 9, 0, Bytes{0x7E, 0x7E, 0xAA, 0xAA, 0x00, 0xBB});
    FrameAssembler a;
    for (std::uint8_t b : frame) {
        a.append({&b, 1});
    }
    const auto got = drain(a);
    ASSERT_EQ(got.frames.size(), 1u);
    EXPECT_EQ(got.frames[0], frame);
}

TEST(FrameAssembler, LargestFrameArrivesInOddChunks) {
    Bytes payload(kMaxPayload);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(i * 7);
    }
    const Bytes big = build_frame(0x22, 3, 0, payload);
    const Bytes stream = cat({big, kOpen});
    FrameAssembler a;
    std::vector<Bytes> frames;
    for (std::size_t pos = 0; pos < stream.size(); pos += 1000) {
        const std::size_t n = std::min<std::size_t>(1000, stream.size() - pos);
        a.append({stream.data() + pos, n});
        for (auto& f : drain(a).frames) {
            frames.push_back(f);
        }
    }
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], big);
    EXPECT_EQ(frames[1], kOpen);
}

TEST(FrameAssembler, ClearForgetsPartialInput) {
    FrameAssembler a;
    a.append({kOpen.data(), 6});
    a.clear();
    a.append(kReport);
    const auto got = drain(a);
    ASSERT_EQ(got.frames.size(), 1u);
    EXPECT_EQ(got.frames[0], kReport);
}

}  // namespace
}  // namespace zorvik::frame
