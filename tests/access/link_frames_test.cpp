// Frames from controllers to the host's callbacks, and requests that wait for replies.
#include <atomic>
#include <cstring>
#include <thread>

#include "connection.h"
#include "frame/frame.h"
#include "frame/hex.h"
#include "link_harness.h"

namespace zorvik::access::testing {
namespace {

using Frames = LinkTest;
using std::chrono::milliseconds;

std::string hex_of(const std::vector<std::uint8_t>& bytes) {
    return frame::to_hex(bytes, frame::HexCase::upper);
}

TEST_F(Frames, ReportsArriveInUpperCaseAndRepliesInLowerCase) {
    connect_online(0);
    ASSERT_EQ(sim.report("frame", 0, "30 01A2 ap=5 psw=70000"), 1);
    ASSERT_TRUE(recorder.wait_for(Event::report));
    const auto r = recorder.of(Event::report)[0];
    EXPECT_EQ(r.ip, kLocal);
    EXPECT_EQ(r.port, port(0));
    EXPECT_EQ(r.cmd, 30);
    EXPECT_EQ(r.ap_code, 5);
    EXPECT_EQ(r.psw, 70000);
    EXPECT_EQ(r.data, "01A2");
    EXPECT_EQ(r.data_len, 4);
    EXPECT_NE(r.thread, std::this_thread::get_id());

    ASSERT_EQ(sim.report("frame", 0, "0x21 01a2 ap=65535"), 1);
    ASSERT_TRUE(recorder.wait_for(Event::reply));
    const auto c = recorder.of(Event::reply)[0];
    EXPECT_EQ(c.cmd, 0x21);
    EXPECT_EQ(c.ap_code, 65535);
    EXPECT_EQ(c.data, "01a2");
    EXPECT_EQ(c.data_len, 4);
}

TEST_F(Frames, SendDataFramesTheHostsHexByTheLibrarysRule) {
    connect_online(0);
    sim.clear_received(0);
    ASSERT_EQ(lib->send_data(kLocal, port(0), 0x20, 1, 0, "0A", 2), 1);
    ASSERT_EQ(lib->send_data(kLocal, port(0), 0x20, 2, 0x123456, "0a", 2), 1);
    ASSERT_EQ(lib->send_data(kLocal, port(0), 0x21, 3, 0, "", 0), 1);
    ASSERT_TRUE(sim.wait_received(0, 0x21));
    const auto got = sim.received(0);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].data, std::vector<std::uint8_t>{0x0A});
    EXPECT_EQ(got[1].data, std::vector<std::uint8_t>{0x2A});  // 'a' is 0x61 - 0x37 = 42
    EXPECT_EQ(got[1].psw, 0x123456u);
    EXPECT_TRUE(got[2].data.empty());
    // The controller's replies go to DoorCommandRecvCallback, matched by nothing.
    ASSERT_TRUE(recorder.wait_for(Event::reply, 3));
    EXPECT_EQ(recorder.of(Event::reply)[0].cmd, 0x20);
    EXPECT_EQ(recorder.of(Event::reply)[0].ap_code, 1);
}

TEST_F(Frames, AFrameOverTheSizeLimitIsRefusedNotReportedAsQueued) {
    connect_online(0);
    const std::string biggest(2 * frame::kMaxPayload, '1');
    EXPECT_EQ(lib->send_data(kLocal, port(0), 0x20, 1, 0, biggest.c_str(),
                             static_cast<int>(biggest.size())),
              1);
    const std::string too_big(2 * frame::kMaxPayload + 2, '1');
    EXPECT_EQ(lib->send_data(kLocal, port(0), 0x20, 2, 0, too_big.c_str(),
                             static_cast<int>(too_big.size())),
              0);
    EXPECT_EQ(lib->send_data(kLocal, port(0), 0x20, 3, 0, "01", -2), 0);
    ASSERT_TRUE(sim.wait_received(0, 0x20));
    EXPECT_EQ(sim.received(0).back().data.size(), frame::kMaxPayload);
}

// The first frame leaves from the sending thread, the others wait in the queue for the
// I/O thread (each after the 3 ms gap); the full-size one is larger than the socket's
// send buffer (set to its minimum), so a send call may take only part of it and leave the
// rest to the I/O thread. Whoever sends, the controller gets every frame whole and in
// order.
TEST_F(Frames, ABurstWithAFullSizeFrameArrivesWholeAndInOrder) {
    connect_online(0);
    sim.clear_received(0);
    const std::string biggest(2 * frame::kMaxPayload, '7');
    constexpr int kFrames = 12;
    for (int ap = 1; ap <= kFrames; ++ap) {
        const std::string data = ap == 2 ? biggest : "0" + std::to_string(ap % 10);
        ASSERT_EQ(lib->send_data(kLocal, port(0), 0x20, ap, 0, data.c_str(),
                                 static_cast<int>(data.size())),
                  1);
    }
    ASSERT_EQ(lib->send_data(kLocal, port(0), 0x21, kFrames + 1, 0, "", 0), 1);
    ASSERT_TRUE(sim.wait_received(0, 0x21));
    const auto got = sim.received(0);
    ASSERT_EQ(got.size(), static_cast<std::size_t>(kFrames + 1));
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_EQ(got[static_cast<std::size_t>(i)].ap_code, i + 1);
    }
    EXPECT_EQ(got[1].data, std::vector<std::uint8_t>(frame::kMaxPayload, 0x77));
    EXPECT_EQ(got[2].data, std::vector<std::uint8_t>{0x03});
}

TEST_F(Frames, SplitReadsTwoFramesInOneReadAndStrayBytesCostNoFrame) {
    connect_online(0);
    const auto a = frame::build_frame(30, 1, 0, std::vector<std::uint8_t>{0x01, 0x02});
    const auto b = frame::build_frame(26, 2, 0, std::vector<std::uint8_t>{0x03});
    const auto c = frame::build_frame(0x21, 3, 0, std::vector<std::uint8_t>{0x80});

    sim.fault(0, "split 4");  // every frame in four writes
    ASSERT_EQ(sim.report("frame", 0, "30 0102 ap=9"), 1);
    ASSERT_TRUE(recorder.wait_for(Event::report, 1));
    sim.fault(0, "clear");

    // Two frames in one write come out both, in order; the controller's acknowledgement
    // and garbage in front of a frame are stepped over.
    const std::string ack = "AAAA00BB";
    sim.deliver("raw", 0, hex_of(a) + hex_of(b));
    sim.deliver("raw", 0, "0000" + hex_of(a));
    sim.deliver("raw", 0, ack + hex_of(b) + "13" + ack);
    sim.deliver("raw", 0, "007E" + hex_of(c));
    ASSERT_TRUE(recorder.wait_for(Event::report, 5));
    ASSERT_TRUE(recorder.wait_for(Event::reply, 1));
    const auto reports = recorder.of(Event::report);
    ASSERT_EQ(reports.size(), 5u);
    EXPECT_EQ(reports[0].ap_code, 9);
    EXPECT_EQ(reports[1].ap_code, 1);
    EXPECT_EQ(reports[2].ap_code, 2);
    EXPECT_EQ(reports[3].ap_code, 1);
    EXPECT_EQ(reports[4].ap_code, 2);
    EXPECT_EQ(recorder.of(Event::reply)[0].data, "80");
}

TEST_F(Frames, ABrokenFrameIsDroppedAndTheLinkStaysUp) {
    connect_online(0);
    auto bad = frame::build_frame(30, 1, 0, std::vector<std::uint8_t>{0x01});
    bad[4] ^= 0x01;  // Crc no longer matches
    sim.deliver("raw", 0, hex_of(bad));
    sim.deliver("frame", 0, "28 01 ap=2");
    ASSERT_TRUE(recorder.wait_for(Event::report));
    EXPECT_EQ(recorder.of(Event::report)[0].ap_code, 2);
    EXPECT_EQ(recorder.count(Event::report), 1u);
    EXPECT_EQ(lib->is_online(kLocal, port(0)), 1);
}

TEST_F(Frames, SendDataWithRetReturnsTheReplyAndCopiesItsHex) {
    connect_online(0);
    sim.ok("reply 0 0x21 0x21 0A80");
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    int length = -1;
    EXPECT_EQ(lib->send_data_with_ret(kLocal, port(0), 0x21, 77, 0, "01", 2, 5000, buffer,
                                      Library::kUnbounded, &length),
              0x21);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(std::string(buffer, 5), "0a80x");   // no NUL
    EXPECT_EQ(recorder.count(Event::reply), 0u);  // the call took the reply
    EXPECT_EQ(lib->waiting_calls(), 0u);

    // A buffer too small gets nothing, and the length says what it needs.
    std::memset(buffer, 'x', sizeof buffer);
    length = -1;
    EXPECT_EQ(
        lib->send_data_with_ret(kLocal, port(0), 0x21, 78, 0, "01", 2, 5000, buffer, 3, &length),
        0x21);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(buffer[0], 'x');

    // A reply with another command returns its code and copies nothing.
    sim.ok("reply 0 0x21 0x22 FF");
    length = -1;
    EXPECT_EQ(lib->send_data_with_ret(kLocal, port(0), 0x21, 79, 0, "01", 2, 5000, buffer,
                                      sizeof buffer, &length),
              0x22);
    EXPECT_EQ(length, -1);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(lib->send_data_with_ret(kLocal, port(1), 0x21, 80, 0, "01", 2, 5000, buffer,
                                      sizeof buffer, &length),
              9);
}

TEST_F(Frames, ARequestWithoutReplyTimesOutWithTheClockAndItsLateReplyGoesToTheHost) {
    connect_online(0);
    sim.ok("reply 0 0x11 silent");
    std::atomic<int> result{-1};
    std::thread caller([&] { result = lib->verify_time(kLocal, port(0)); });
    ASSERT_TRUE(sim.wait_received(0, 0x11));
    advance_ms(499);
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_EQ(result.load(), -1);
    advance_ms(1);
    caller.join();
    EXPECT_EQ(result.load(), 9);
    EXPECT_EQ(lib->waiting_calls(), 0u);
    // The time command carried the PC's local time: Sunday 2021-03-07 09:05:02.
    const auto sent = sim.received(0).back();
    EXPECT_EQ(sent.data, (std::vector<std::uint8_t>{0x21, 0x03, 0x07, 0x00, 0x09, 0x05, 0x02}));
    // Its reply, arriving after the call gave up, reaches DoorCommandRecvCallback.
    sim.deliver("frame", 0, "0x11 - ap=" + std::to_string(sent.ap_code));
    ASSERT_TRUE(recorder.wait_for(Event::reply));
    EXPECT_EQ(recorder.of(Event::reply)[0].cmd, 0x11);
}

TEST_F(Frames, InitAndVerifyTimeReturnTheControllersAnswer) {
    connect_online(0);
    lib->set_pass(0x01ABCDEF);
    EXPECT_EQ(lib->init(kLocal, port(0)), 0x10);
    EXPECT_EQ(lib->verify_time(kLocal, port(0)), 0x11);
    const auto got = sim.received(0);
    ASSERT_GE(got.size(), 3u);
    EXPECT_EQ(got[got.size() - 2].cmd, 0x10);
    EXPECT_EQ(got[got.size() - 2].psw, 0xABCDEFu);  // low 24 bits of the pass value
    EXPECT_TRUE(got[got.size() - 2].data.empty());
    // Each takes its ApCode from the library's counter.
    EXPECT_EQ(got.back().ap_code, got[got.size() - 2].ap_code + 1);

    sim.ok("reply 0 0x10 silent");
    std::atomic<int> result{-1};
    std::thread caller([&] { result = lib->init(kLocal, port(0)); });
    ASSERT_TRUE(sim.wait_received(0, 0x10, 2));
    advance_ms(4999);
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_EQ(result.load(), -1);
    advance_ms(1);
    caller.join();
    EXPECT_EQ(result.load(), 9);
    EXPECT_EQ(lib->init(kLocal, port(1)), 9);
    EXPECT_EQ(lib->verify_time(kLocal, port(1)), 9);
}

TEST_F(Frames, RequestsOnTwoLinksWithTheSameApCodeEachGetTheirOwnReply) {
    connect_online(0);
    connect_online(1);
    sim.ok("reply 0 0x21 0x21 AA");
    sim.ok("reply 1 0x21 0x21 BB");
    sim.ok("fault 0 delay 100");  // controller 1 answers first
    char reply0[8] = {};
    char reply1[8] = {};
    int len0 = 0;
    int len1 = 0;
    std::atomic<int> r0{-1};
    std::thread first([&] {
        r0 = lib->send_data_with_ret(kLocal, port(0), 0x21, 42, 0, "01", 2, 5000, reply0,
                                     sizeof reply0, &len0);
    });
    ASSERT_TRUE(sim.wait_received(0, 0x21));
    const int r1 = lib->send_data_with_ret(kLocal, port(1), 0x21, 42, 0, "01", 2, 5000, reply1,
                                           sizeof reply1, &len1);
    first.join();
    EXPECT_EQ(r0.load(), 0x21);
    EXPECT_EQ(r1, 0x21);
    EXPECT_EQ(std::string(reply0, len0), "aa");
    EXPECT_EQ(std::string(reply1, len1), "bb");
}

TEST_F(Frames, AReplyIsMatchedAcrossLinksWhenOnlyAnotherLinkWaitsForIt) {
    connect_online(0);
    connect_online(1);
    sim.ok("reply 0 0x21 silent");
    std::atomic<int> result{-1};
    char reply[8] = {};
    int len = 0;
    std::thread caller([&] {
        result = lib->send_data_with_ret(kLocal, port(0), 0x21, 43, 0, "01", 2, 5000, reply,
                                         sizeof reply, &len);
    });
    ASSERT_TRUE(sim.wait_received(0, 0x21));
    sim.deliver("frame", 1, "0x21 BEEF ap=43");
    caller.join();
    EXPECT_EQ(result.load(), 0x21);
    EXPECT_EQ(std::string(reply, len), "beef");
    EXPECT_EQ(recorder.count(Event::reply), 0u);
}

TEST_F(Frames, EnableUploadSendsTheRawSwitchByItsLowByte) {
    connect_online(0);
    EXPECT_EQ(lib->enable_upload(kLocal, port(0), 0x100), 0);
    EXPECT_TRUE(sim.wait_upload(0, false));
    EXPECT_EQ(sim.report("card", 0, "0012ab34:1:granted"), 0);  // reports need upload on
    EXPECT_EQ(lib->enable_upload(kLocal, port(0), 0x01), 0);
    EXPECT_TRUE(sim.wait_upload(0, true));
    // The switch is not a request: nothing is outstanding afterwards.
    advance(9);
    advance(1);
    EXPECT_EQ(recorder.count(Event::disconn), 0u);
}

}  // namespace
}  // namespace zorvik::access::testing
