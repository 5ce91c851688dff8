#include "receive_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/frame.h"

namespace tarnet {
namespace {

using Bytes = std::vector<std::uint8_t>;

class Recorder : public ChunkHandler {
  public:
    bool stop_requested() override {
        return stop_after_reports >= 0 && reports() >= stop_after_reports;
    }
    void upload_acknowledged() override { ++acks; }
    void byte_skipped() override { ++skipped; }
    bool reply_claimed(const FrameReport& reply) override {
        asked.push_back(reply);
        if (claim) {
            delivered.push_back(reply);
        }
        return claim;
    }
    void queue_report(const FrameReport& report) override { queued.push_back(report); }
    void repeat_dropped(const FrameReport& report) override { repeats.push_back(report); }
    int reports() const { return static_cast<int>(queued.size() + delivered.size()); }

    bool claim = false;
    int stop_after_reports = -1;
    int acks = 0;
    int skipped = 0;
    std::vector<FrameReport> asked;
    std::vector<FrameReport> delivered;
    std::vector<FrameReport> queued;
    std::vector<FrameReport> repeats;
};

Bytes frame(std::uint8_t cmd, std::uint16_t ap, std::uint32_t psw, Bytes payload) {
    return zorvik::frame::build_frame(cmd, ap, psw, payload);
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

class ReceiveBufferTest : public ::testing::Test {
  protected:
    ParseEnd feed(const Bytes& chunk) {
        return buffer.process_chunk(chunk, handler, "ctl-1", 5768);
    }
    ReceiveBuffer buffer;
    Recorder handler;
};

TEST_F(ReceiveBufferTest, ReportFieldsAndLowerCasePayloadText) {
    feed(frame(0x1E, 0x1234, 0xABCDEF, {0xAB, 0x01, 0xFF}));
    ASSERT_EQ(handler.queued.size(), 1u);
    const FrameReport& r = handler.queued[0];
    EXPECT_EQ(r.server, "ctl-1");
    EXPECT_EQ(r.port, 5768);
    EXPECT_EQ(r.ret_code, 0x1E);
    EXPECT_EQ(r.ap_code, 0x1234);
    EXPECT_EQ(r.psw, 0xABCDEF);
    EXPECT_EQ(r.data, "ab01ff");
    EXPECT_EQ(r.data_len, 6);
    EXPECT_TRUE(handler.asked.empty()) << "reports are never matched to requests";
    EXPECT_EQ(buffer.buffered(), 0u);
}

TEST_F(ReceiveBufferTest, UploadAcknowledgementIsFourBytesWhateverItsMiddle) {
    feed({0xAA, 0xAA, 0x00, 0xBB});
    feed({0xAA, 0x00, 0x00, 0xBB});
    EXPECT_EQ(handler.acks, 2);
    EXPECT_TRUE(handler.queued.empty());
    EXPECT_EQ(handler.skipped, 0);
}

TEST_F(ReceiveBufferTest, StrayByteAndCrcMismatchCostOneByteEach) {
    Bytes bad = frame(0x1A, 1, 0, {1, 2, 3});
    bad[10] ^= 0x40;  // payload byte: the Crc no longer matches
    feed(join({{0x00}, bad, frame(0x1A, 2, 0, {9})}));
    ASSERT_EQ(handler.queued.size(), 1u);
    EXPECT_EQ(handler.queued[0].ap_code, 2);
    EXPECT_GE(handler.skipped, 2);  // the stray byte and the false start at least
}

TEST_F(ReceiveBufferTest, SamePayloadWithAnotherCommandCodeInOneChunkIsQueuedToo) {
    // Two different reports that happen to carry the same bytes (door events and alarms
    // cleared for the same readers): both are data, neither may be lost.
    feed(join({frame(0x1A, 1, 0, {7, 7}), frame(0x1B, 1, 0, {7, 7}), frame(0x1B, 2, 0, {7, 7}),
               frame(0x1B, 2, 5, {7, 7})}));
    ASSERT_EQ(handler.queued.size(), 4u);
    EXPECT_EQ(handler.queued[0].ret_code, 0x1A);
    EXPECT_EQ(handler.queued[1].ret_code, 0x1B);
    EXPECT_EQ(handler.queued[2].ap_code, 2);
    EXPECT_EQ(handler.queued[3].psw, 5);
    EXPECT_TRUE(handler.repeats.empty());
}

TEST_F(ReceiveBufferTest, ARepeatedFrameInOneChunkIsQueuedOnceAndCounted) {
    feed(join({frame(0x1A, 1, 0, {7, 7}), frame(0x1A, 1, 0, {7, 7})}));
    EXPECT_EQ(handler.queued.size(), 1u);
    ASSERT_EQ(handler.repeats.size(), 1u);
    EXPECT_EQ(handler.repeats[0].data, "0707");
    // In two chunks, or with another report between them, both count.
    feed(frame(0x1A, 1, 0, {7, 7}));
    EXPECT_EQ(handler.queued.size(), 2u);
    feed(join({frame(0x1A, 1, 0, {7, 7}), frame(0x1A, 1, 0, {8}), frame(0x1A, 1, 0, {7, 7})}));
    EXPECT_EQ(handler.queued.size(), 5u);
    EXPECT_EQ(handler.repeats.size(), 1u);
}

TEST_F(ReceiveBufferTest, FirstReportOfAChunkIsQueuedEvenWithoutPayload) {
    // An empty payload text equals no earlier text: nothing was queued from this chunk.
    feed(frame(0x20, 3, 0, {}));
    ASSERT_EQ(handler.queued.size(), 1u);
    EXPECT_EQ(handler.queued[0].data_len, 0);
}

TEST_F(ReceiveBufferTest, ClaimedRepliesAreDeliveredAndNotQueued) {
    handler.claim = true;
    feed(join({frame(0x20, 5, 0, {}), frame(0x15, 5, 0, {1})}));
    ASSERT_EQ(handler.delivered.size(), 1u);
    EXPECT_EQ(handler.delivered[0].ret_code, 0x20);
    // RetCode 0x15 is a report: never offered to the requests, even with their ApCode.
    ASSERT_EQ(handler.asked.size(), 1u);
    ASSERT_EQ(handler.queued.size(), 1u);
    EXPECT_EQ(handler.queued[0].ret_code, 0x15);
}

TEST_F(ReceiveBufferTest, ReportCodeBoundaries) {
    feed(join(
        {frame(17, 1, 0, {1}), frame(18, 1, 0, {2}), frame(31, 1, 0, {3}), frame(32, 1, 0, {4})}));
    ASSERT_EQ(handler.asked.size(), 2u);
    EXPECT_EQ(handler.asked[0].ret_code, 17);
    EXPECT_EQ(handler.asked[1].ret_code, 32);
    EXPECT_EQ(handler.queued.size(), 4u);
}

TEST_F(ReceiveBufferTest, FrameSplitAcrossChunksWaitsForItsRest) {
    const Bytes f = frame(0x1E, 9, 0, {1, 2, 3, 4, 5});
    feed(Bytes(f.begin(), f.begin() + 3));
    feed(Bytes(f.begin() + 3, f.begin() + 12));
    EXPECT_TRUE(handler.queued.empty());
    EXPECT_EQ(buffer.buffered(), 12u);
    feed(Bytes(f.begin() + 12, f.end()));
    EXPECT_EQ(handler.queued.size(), 1u);
    EXPECT_EQ(buffer.buffered(), 0u);
}

TEST_F(ReceiveBufferTest, OverflowingChunkEmptiesTheBufferFirst) {
    const Bytes big = frame(0x1E, 1, 0, Bytes(3000, 0x11));
    feed(Bytes(big.begin(), big.begin() + 2000));
    EXPECT_EQ(buffer.buffered(), 2000u);
    const Bytes next = frame(0x1E, 2, 0, Bytes(2500, 0x22));
    feed(next);  // 2000 + 2511 > 4096: the partial frame is dropped
    ASSERT_EQ(handler.queued.size(), 1u);
    EXPECT_EQ(handler.queued[0].ap_code, 2);
}

TEST_F(ReceiveBufferTest, PayloadsLongerThan2048BytesAreDeliveredWhole) {
    Bytes payload(4085);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(i);
    }
    feed(frame(0x1E, 1, 0, payload));
    ASSERT_EQ(handler.queued.size(), 1u);
    EXPECT_EQ(handler.queued[0].data_len, 8170);
    EXPECT_EQ(handler.queued[0].data.substr(8160), "f0f1f2f3f4");
}

TEST_F(ReceiveBufferTest, StartByteWithImpossibleLengthDoesNotHoldUpValidFrames) {
    // 7E with Len 0xFFFF can never fit the 4096-byte buffer: it is not a frame start.
    feed(join({{0x7E, 0x1E, 0, 0, 0, 0, 0, 0xFF, 0xFF}, frame(0x1E, 4, 0, {4})}));
    ASSERT_EQ(handler.queued.size(), 1u);
    EXPECT_EQ(handler.queued[0].ap_code, 4);
}

TEST_F(ReceiveBufferTest, LengthWhoseBodyIs256BytesHasCrcZero) {
    const Bytes f = frame(0x1E, 1, 0, Bytes(248, 0x5A));
    EXPECT_EQ(f[f.size() - 2], 0);
    EXPECT_EQ(f[f.size() - 1], 0);
    feed(f);
    EXPECT_EQ(handler.queued.size(), 1u);
}

TEST_F(ReceiveBufferTest, StopRequestEndsParsing) {
    handler.stop_after_reports = 1;
    EXPECT_EQ(feed(join({frame(0x1E, 1, 0, {1}), frame(0x1E, 2, 0, {2})})), ParseEnd::stopped);
    EXPECT_EQ(handler.queued.size(), 1u);
}

}  // namespace
}  // namespace tarnet
