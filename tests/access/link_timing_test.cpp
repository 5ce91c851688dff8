// The supervisor's rules with a hand-moved clock: reply time-out, keep-alive, reconnect,
// and the queue of an offline link.
#include <thread>

#include "connection.h"
#include "frame/frame.h"
#include "frame/hex.h"
#include "link_harness.h"
#include "net/socket.h"
#include "net/socket_options.h"

namespace zorvik::access::testing {
namespace {

using Timing = LinkTest;

TEST_F(Timing, ASilentControllerIsDeclaredLostNineSecondsAfterAFrameWasQueued) {
    connect_online(0);
    sim.ok("second-connection 0 takeover");  // the stale socket is replaced on reconnect
    sim.fault(0, "silent on");
    advance(1);
    ASSERT_EQ(lib->send_data(kLocal, port(0), 0x20, 1, 0, "01", 2), 1);
    ASSERT_TRUE(sim.wait_received(0, 0x20));
    advance(8);  // exactly 8 seconds: not yet
    EXPECT_EQ(recorder.count(Event::disconn), 0u);
    EXPECT_EQ(lib->is_online(kLocal, port(0)), 1);
    advance(1);
    ASSERT_TRUE(recorder.wait_for(Event::disconn));
    EXPECT_EQ(lib->is_online(kLocal, port(0)), 0);
    // Registered 10 s ago: the reconnect waits until lastAttempt is more than 30 s old.
    sim.fault(0, "silent off");
    advance(20);
    EXPECT_EQ(recorder.count(Event::conn), 1u);
    advance(1);
    ASSERT_TRUE(recorder.wait_for(Event::conn, 2));
    EXPECT_EQ(lib->is_online(kLocal, port(0)), 1);
    EXPECT_EQ(recorder.count(Event::disconn), 1u);
}

TEST_F(Timing, AfterAnAutomaticReconnectALostLinkIsRetriedAtOnce) {
    // lastAttempt is 0 after an automatic reconnect, so the next loss by time-out is
    // followed by a connection attempt in the very next pass.
    sim.ok("second-connection 0 takeover");
    sim.fault(0, "refuse on");
    lib->connect(kLocal, port(0));
    sim.fault(0, "refuse off");
    advance(31);
    ASSERT_TRUE(recorder.wait_for(Event::conn, 2));
    sim.fault(0, "silent on");
    lib->send_data(kLocal, port(0), 0x21, 3, 0, "01", 2);
    ASSERT_TRUE(sim.wait_received(0, 0x21));
    sim.fault(0, "silent off");
    advance(9);
    ASSERT_TRUE(recorder.wait_for(Event::disconn));
    ASSERT_TRUE(recorder.wait_for(Event::conn, 3));
    EXPECT_TRUE(sim.wait(0, "connections=2"));
}

TEST_F(Timing, AnAnsweredFrameClearsTheOutstandingReply) {
    connect_online(0);
    ASSERT_EQ(lib->send_data(kLocal, port(0), 0x21, 5, 0, "01", 2), 1);
    ASSERT_TRUE(recorder.wait_for(Event::reply));  // the controller answered
    advance(9);
    advance(1);
    EXPECT_EQ(recorder.count(Event::disconn), 0u);
    EXPECT_EQ(lib->is_online(kLocal, port(0)), 1);
}

// A fixture whose clock stalls when the test's own thread reads it, the way a preempted
// caller would: a controller's answer can then overtake the call that queued the frame.
class SlowCaller : public LinkTest {
  protected:
    SlowCaller() {
        const auto test_thread = std::this_thread::get_id();
        clock->set_read_hook([test_thread] {
            if (std::this_thread::get_id() == test_thread) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
};

TEST_F(SlowCaller, AnAnswerFasterThanTheQueueingCallStillClearsTheOutstandingMark) {
    connect_online(0);
    ASSERT_EQ(lib->send_data(kLocal, port(0), 0x21, 1, 0, "01", 2), 1);
    ASSERT_TRUE(recorder.wait_for(Event::reply));
    EXPECT_EQ(lib->find(kLocal, port(0))->awaiting_since.load(), 0);
    advance(9);
    EXPECT_EQ(recorder.count(Event::disconn), 0u);
}

TEST_F(Timing, AnIdleLinkGetsTheTimeCommandAfterMoreThan20SecondsAndStaysUp) {
    connect_online(0);
    sim.clear_received(0);
    advance(20);
    EXPECT_TRUE(sim.received(0).empty());
    advance(1);
    ASSERT_TRUE(sim.wait_received(0, 0x11));
    const auto got = sim.received(0);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].data, (std::vector<std::uint8_t>{0x21, 0x03, 0x07, 0x00, 0x09, 0x05, 0x02}));
    // The keep-alive's reply is the library's own: the host never sees it.
    advance(1);
    EXPECT_EQ(recorder.count(Event::reply), 0u);
    // It answered, so nothing is outstanding and the link stays up for ever.
    for (int i = 0; i < 4; ++i) {
        advance(21);
    }
    EXPECT_TRUE(sim.wait_received(0, 0x11, 5));
    EXPECT_EQ(recorder.count(Event::disconn), 0u);
}

TEST_F(Timing, AKeepAliveNobodyAnswersEndsInTheReplyTimeOut) {
    connect_online(0);
    sim.fault(0, "silent on");
    clock->advance_seconds(21);
    ASSERT_TRUE(sim.wait_received(0, 0x11));
    advance_ms(500);  // the keep-alive's wait ends with the clock
    ASSERT_TRUE(settle());
    advance(8);
    EXPECT_EQ(recorder.count(Event::disconn), 0u);
    advance(1);
    EXPECT_TRUE(recorder.wait_for(Event::disconn));
}

class ManyLinks : public LinkTest {
  protected:
    ManyLinks() : LinkTest(10) {}
};

TEST_F(ManyLinks, ASilentControllerDoesNotHoldUpTheOtherLinksKeepAlives) {
    for (std::size_t i = 0; i < 10; ++i) {
        connect_online(i);
    }
    sim.fault(0, "silent on");
    clock->advance_seconds(21);
    // Controller 0 never answers; its time command waits 500 ms of the clock, which does
    // not move, yet every other link gets and answers its own.
    for (std::size_t i = 1; i < 10; ++i) {
        EXPECT_TRUE(sim.wait_received(i, 0x11)) << i;
    }
    EXPECT_TRUE(sim.wait_received(0, 0x11));
    EXPECT_TRUE(eventually([&] { return lib->waiting_calls() == 1; }));
    advance_ms(500);
    ASSERT_TRUE(settle());
    EXPECT_EQ(lib->waiting_calls(), 0u);
    EXPECT_EQ(recorder.count(Event::disconn), 0u);
}

TEST_F(Timing, AControllerThatClosesIsLostOnceAndReconnected31SecondsLater) {
    connect_online(0);
    sim.ok("disconnect 0");
    ASSERT_TRUE(recorder.wait_for(Event::disconn));
    EXPECT_EQ(lib->is_online(kLocal, port(0)), 0);
    EXPECT_NE(recorder.of(Event::disconn)[0].thread, std::this_thread::get_id());
    advance(30);
    EXPECT_EQ(recorder.count(Event::conn), 1u);
    advance(1);
    ASSERT_TRUE(recorder.wait_for(Event::conn, 2));
    EXPECT_TRUE(sim.wait_upload(0, true));  // the host enabled it again
    EXPECT_EQ(recorder.count(Event::disconn), 1u);
}

TEST_F(Timing, AResetConnectionIsALossLikeAnOrderlyClose) {
    connect_online(0);
    sim.ok("disconnect 0 reset");
    ASSERT_TRUE(recorder.wait_for(Event::disconn));
    EXPECT_EQ(lib->is_online(kLocal, port(0)), 0);
    advance(31);
    EXPECT_TRUE(recorder.wait_for(Event::conn, 2));
}

TEST_F(Timing, BytesOfAnEarlierConnectionNeverCompleteAFrame) {
    connect_online(0);
    const auto old = frame::build_frame(30, 1, 0, std::vector<std::uint8_t>{0x01, 0x02});
    const auto next = frame::build_frame(30, 2, 0, std::vector<std::uint8_t>{0x03});
    auto hex = [](std::span<const std::uint8_t> b) {
        return frame::to_hex(b, frame::HexCase::upper);
    };
    // The first 9 bytes of a report, then the controller goes away.
    sim.deliver("raw", 0, hex(std::span(old).first(9)));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sim.ok("disconnect 0");
    ASSERT_TRUE(recorder.wait_for(Event::disconn));
    enable_upload_on_connect = false;  // no acknowledgement comes first
    advance(31);
    ASSERT_TRUE(recorder.wait_for(Event::conn, 2));
    // The library is connected; the simulator may not have accepted it yet.
    ASSERT_TRUE(sim.wait(0, "connections=2"));
    ASSERT_TRUE(sim.wait_connected(0, true));
    // The new connection's first bytes would complete the old report.
    sim.deliver("raw", 0, hex(std::span(old).subspan(9)) + hex(next));
    ASSERT_TRUE(recorder.wait_for(Event::report));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const auto reports = recorder.of(Event::report);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].ap_code, 2);
}

TEST_F(Timing, FramesForAnOfflineLinkAreRefusedAndNeverSentAfterTheReconnect) {
    connect_online(0);
    sim.ok("disconnect 0");
    ASSERT_TRUE(recorder.wait_for(Event::disconn));
    sim.clear_received(0);
    EXPECT_EQ(lib->send_data(kLocal, port(0), 0x20, 1, 0, "01", 2), 0);
    EXPECT_EQ(lib->enable_upload(kLocal, port(0), 1), 9);
    EXPECT_EQ(
        lib->send_data_with_ret(kLocal, port(0), 0x21, 2, 0, "01", 2, 5000, nullptr, 0, nullptr),
        9);  // at once: no reply can come
    EXPECT_EQ(lib->waiting_calls(), 0u);
    EXPECT_EQ(lib->find(kLocal, port(0))->queued(), 0u);
    advance(31);
    ASSERT_TRUE(recorder.wait_for(Event::conn, 2));
    ASSERT_TRUE(sim.wait_upload(0, true));
    // A frame sent now goes out; the simulator has it behind everything sent before it.
    ASSERT_EQ(lib->send_data(kLocal, port(0), 0x21, 3, 0, "01", 2), 1);
    ASSERT_TRUE(sim.wait_received(0, 0x21));
    const auto got = sim.received(0);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(got[0].upload_switch);
    EXPECT_EQ(got[1].ap_code, 3);
}

TEST_F(Timing, ALossEmptiesTheSendQueue) {
    connect_online(0);
    sim.clear_received(0);
    // Frames leave 3 ms apart: most of these are still queued when the link is lost.
    constexpr int kQueued = 200;
    for (int ap = 1; ap <= kQueued; ++ap) {
        ASSERT_EQ(lib->send_data(kLocal, port(0), 0x20, ap, 0, "01", 2), 1);
    }
    sim.ok("disconnect 0");
    ASSERT_TRUE(recorder.wait_for(Event::disconn));
    EXPECT_EQ(lib->find(kLocal, port(0))->queued(), 0u);
    const auto before_loss = sim.received(0).size();
    EXPECT_LT(before_loss, static_cast<std::size_t>(kQueued));
    sim.clear_received(0);
    advance(31);
    ASSERT_TRUE(recorder.wait_for(Event::conn, 2));
    ASSERT_TRUE(sim.wait_upload(0, true));
    ASSERT_EQ(lib->send_data(kLocal, port(0), 0x21, 1000, 0, "01", 2), 1);
    ASSERT_TRUE(sim.wait_received(0, 0x21));
    // Nothing queued for the lost connection reached the new one.
    for (const auto& r : sim.received(0)) {
        EXPECT_NE(r.cmd, 0x20) << "frame " << r.ap_code << " of the lost connection was sent";
    }
}

}  // namespace
}  // namespace zorvik::access::testing

namespace zorvik::access::testing {
namespace {

// The send time-out is the steady clock's, not the hand-moved one: short here.
class SendTimeOut : public LinkTest {
  public:
    SendTimeOut() { timing.socket_timeout = std::chrono::milliseconds(300); }
};

// A controller that takes the connection but never reads: once its buffers are full the
// I/O thread holds a chunk half sent, and the link is lost when the send time-out passes,
// although nothing else happens on the link (no readiness, no other thread's news).
TEST_F(SendTimeOut, AChunkTheControllerNeverTakesLosesTheLinkAfterTheSendTimeOut) {
    auto listener = net::listen_tcp("127.0.0.1", 0);  // connections wait in its backlog
    ASSERT_TRUE(listener);
    ASSERT_EQ(net::set_buffer_sizes(*listener, 0, 0), net::NetError::none);
    const auto port = listener->local_port();
    ASSERT_TRUE(port);
    ASSERT_EQ(lib->connect(kLocal, *port), 1);
    const std::string biggest(2 * frame::kMaxPayload, '5');
    int queued = 0;
    while (queued < 200 && lib->send_data(kLocal, *port, 0x20, queued, 0, biggest.c_str(),
                                          static_cast<int>(biggest.size())) == 1) {
        ++queued;
    }
    EXPECT_GT(queued, 4);  // more than the buffers could take
    ASSERT_TRUE(recorder.wait_for(Event::disconn, 1, std::chrono::seconds(10)));
    EXPECT_EQ(lib->is_online(kLocal, *port), 0);
    EXPECT_EQ(lib->send_data(kLocal, *port, 0x20, 1, 0, "01", 2), 0);
}

}  // namespace
}  // namespace zorvik::access::testing
