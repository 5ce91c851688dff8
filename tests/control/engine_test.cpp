// The socket engine under Wine against the controller simulator on 127.0.0.1: links,
// upload switch, frames, replies and reports, time-outs (on a clock the test moves),
// supervision, and the control's thread calling the engine from inside its events.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <thread>

#include "control_wait.h"
#include "ctlsim_driver.h"
#include "engine_harness.h"
#include "frame/frame.h"
#include "frame/hex.h"
#include "results.h"

namespace tarnet::testing {
namespace {

const std::string kHost = "127.0.0.1";
constexpr std::int16_t kRefused = 10061;  // WSAECONNREFUSED

std::string hex_of(const std::vector<std::uint8_t>& bytes) {
    return zorvik::frame::to_hex(bytes, zorvik::frame::HexCase::lower);
}

class EngineTest : public ::testing::Test {
  protected:
    EngineTest()
        : recorder([this] { return engine; }),
          receiver(recorder, posted_notices_of(engine)),
          window(receiver) {}

    void SetUp() override {
        EngineOptions options;
        options.ticks = clock.ticks();
        options.prober = prober;
        engine = Engine::create(window.handle(), options);
    }

    void TearDown() override {
        recorder.on_data = nullptr;
        recorder.on_failed = nullptr;
        recorder.on_reconnect = nullptr;
        engine->stop_all();
        pump_for(20ms);
    }

    std::int16_t port(std::size_t ctl) { return static_cast<std::int16_t>(sim.port(ctl)); }
    std::int16_t connect(std::size_t ctl) {
        return engine->connect_link(kHost, port(ctl), recorder);
    }
    // DataLen is the text's length unless given.
    std::int16_t send(std::size_t ctl, std::int32_t cmd, std::int32_t ap, std::int32_t psw = 0,
                      const std::string& data = "", std::optional<std::int32_t> len = {}) {
        return engine->send_frame(kHost, port(ctl), cmd, ap, psw, data,
                                  len.value_or(static_cast<std::int32_t>(data.size())), recorder);
    }
    LinkState link(std::size_t position) {
        auto s = engine->link_state(position);
        EXPECT_TRUE(s.has_value());
        return s.value_or(LinkState{});
    }
    // A supervised link whose enable the controller acknowledged.
    void supervised(std::size_t ctl) {
        ASSERT_EQ(connect(ctl), kOk);
        ASSERT_EQ(engine->set_upload(kHost, port(ctl), true), kOk);
        const int position = engine->find_link(kHost, port(ctl));
        ASSERT_TRUE(pump_until([&] { return link(position).upload_state == 2; }));
    }

    WinsockStartup winsock;
    ctlsim::testing::Ctlsim sim{2};
    TestClock clock;
    std::shared_ptr<ScriptedProber> prober = std::make_shared<ScriptedProber>();
    std::shared_ptr<Engine> engine;
    Recorder recorder;
    NoticeReceiver receiver;
    OwnerWindow window;
};

TEST_F(EngineTest, ConnectsAndReusesAConnectedLink) {
    EXPECT_EQ(connect(0), kOk);
    EXPECT_TRUE(engine->threads_running());
    ASSERT_EQ(engine->link_count(), 1u);
    EXPECT_TRUE(link(0).connected);
    EXPECT_EQ(link(0).address, kHost);
    ASSERT_TRUE(sim.wait_connected(0, true));

    EXPECT_EQ(connect(0), kOk) << "already connected: 0 at once";
    EXPECT_EQ(engine->link_count(), 1u);
    EXPECT_EQ(prober->probes.load(), 1);
    EXPECT_EQ(sim.info(0).at("connections"), "1");
    EXPECT_TRUE(sim.received(0).empty()) << "nothing is sent by connecting";
}

TEST_F(EngineTest, HostNameIsProbedAtItsAddressAndKeptAsGiven) {
    EXPECT_EQ(engine->connect_link("localhost", port(0), recorder), kOk);
    EXPECT_EQ(link(0).server, "localhost");
    EXPECT_EQ(link(0).address, kHost);
    EXPECT_EQ(engine->find_link("localhost", port(0)), 0);
    EXPECT_EQ(engine->find_link(kHost, port(0)), -1) << "links are keyed by the text given";
}

TEST_F(EngineTest, ConnectionRefusedLeavesOneDisconnectedLink) {
    sim.fault(1, "refuse on");
    EXPECT_EQ(connect(1), kRefused);
    ASSERT_EQ(engine->link_count(), 1u);
    EXPECT_FALSE(link(0).connected);
    EXPECT_FALSE(engine->threads_running()) << "threads start with the first connection";
    EXPECT_EQ(connect(1), kRefused) << "the same link is tried again";
    EXPECT_EQ(engine->link_count(), 1u);
}

TEST_F(EngineTest, HostThatDoesNotAnswerFiveProbesGives10060) {
    prober->set_silent(kHost, true);
    EXPECT_EQ(connect(0), kHostSilent);
    EXPECT_EQ(prober->probes.load(), 5);
    ASSERT_EQ(engine->link_count(), 1u);
    EXPECT_FALSE(link(0).connected);
    EXPECT_EQ(sim.info(0).at("connections"), "0");
}

TEST_F(EngineTest, The513thLinkIsRefusedWithMinusOne) {
    // Ports 1..512 on loopback: nothing listens there, so each connect is refused at
    // once and leaves its link in the table.
    for (int p = 1; p <= 512; ++p) {
        ASSERT_NE(engine->connect_link(kHost, static_cast<std::int16_t>(p), recorder), kNoRoom)
            << p;
    }
    EXPECT_EQ(engine->link_count(), 512u);
    EXPECT_EQ(engine->connect_link(kHost, 513, recorder), kNoRoom);
    EXPECT_EQ(engine->link_count(), 512u);
}

TEST_F(EngineTest, UploadSwitchAndItsAcknowledgement) {
    ASSERT_EQ(connect(0), kOk);
    EXPECT_EQ(engine->set_upload(kHost, 4242, true), kNoLink);
    sim.fault(0, "silent on");  // no acknowledgement for now
    EXPECT_EQ(engine->set_upload(kHost, port(0), true), kOk);
    EXPECT_EQ(engine->set_upload(kHost, port(0), true), kOk);
    ASSERT_TRUE(sim.wait(0, "switch=on count=2"));
    pump_for(50ms);
    EXPECT_EQ(link(0).upload_state, 1) << "enabled twice, not acknowledged";

    sim.fault(0, "silent off");
    sim.deliver("raw", 0, "aa0000bb");  // an acknowledgement with another middle
    ASSERT_TRUE(pump_until([&] { return link(0).upload_state == 2; }));
    EXPECT_TRUE(recorder.reports.empty()) << "an acknowledgement raises no event";

    EXPECT_EQ(engine->set_upload(kHost, port(0), false), kOk);
    EXPECT_EQ(link(0).upload_state, 0);
    ASSERT_TRUE(sim.wait(0, "switch=off"));
    sim.deliver("raw", 0, "aaaa00bb");
    pump_for(100ms);
    EXPECT_EQ(link(0).upload_state, 0) << "only an enable that was sent is acknowledged";
}

TEST_F(EngineTest, UploadOnADisconnectedLinkFailsAndPostsFailedConnect) {
    sim.fault(1, "refuse on");
    ASSERT_EQ(connect(1), kRefused);
    EXPECT_EQ(engine->set_upload(kHost, port(1), true), kSendFailed);
    EXPECT_TRUE(recorder.failed.empty()) << "posted: it fires after the method returned";
    ASSERT_TRUE(pump_until([&] { return recorder.failed.size() == 1; }));
    EXPECT_FALSE(recorder.failed[0].synchronous);
    EXPECT_EQ(recorder.failed[0].port, port(1));
    EXPECT_EQ(link(0).upload_state, 1) << "the link is supervised from now on";
}

// A failed upload whose posted FailedConnect is meant for an owner window that is
// destroyed before its message is dispatched.
class PostedNoticeTest : public EngineTest {
  protected:
    void fail_upload_then_destroy_the_owner() {
        sim.fault(1, "refuse on");
        ASSERT_EQ(connect(1), kRefused);
        auto doomed = std::make_unique<OwnerWindow>(doomed_receiver);
        engine->set_owner(doomed->handle());
        EXPECT_EQ(engine->set_upload(kHost, port(1), true), kSendFailed);
        EXPECT_EQ(engine->waiting_posted_notices(), 1u);
        doomed.reset();  // its wake-up goes with it, undispatched
    }

    NoticeReceiver doomed_receiver{recorder, posted_notices_of(engine)};
};

TEST_F(PostedNoticeTest, AWindowGoingBeforeDispatchLeavesTheNoticeForTheNextOwner) {
    fail_upload_then_destroy_the_owner();
    EXPECT_EQ(engine->waiting_posted_notices(), 1u)
        << "the notice is the engine's, not the message's";

    engine->set_owner(window.handle());
    ASSERT_TRUE(pump_until([&] { return recorder.failed.size() == 1; }));
    EXPECT_EQ(recorder.failed[0].port, port(1));
    EXPECT_EQ(recorder.failed[0].server, kHost);
    EXPECT_EQ(engine->waiting_posted_notices(), 0u);
}

TEST_F(PostedNoticeTest, StopAllWithItsOwnerWindowGoneDropsTheWaitingNotices) {
    fail_upload_then_destroy_the_owner();
    engine->stop_all();
    EXPECT_EQ(engine->waiting_posted_notices(), 0u);
    pump_for(20ms);
    EXPECT_TRUE(recorder.failed.empty());
}

TEST_F(EngineTest, FramesAreBuiltFromTheArgumentsAndRepliesComeBack) {
    ASSERT_EQ(connect(0), kOk);
    EXPECT_EQ(send(0, 0x20, 7, 0, "0aFz", 4), kOk);
    EXPECT_EQ(send(0, 0x21, 8, 0x010203, "0aFz9", 5), kOk);
    ASSERT_TRUE(sim.wait_received(0, 0x21));
    const auto got = sim.received(0);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].cmd, 0x20);
    EXPECT_EQ(got[0].ap_code, 7);
    EXPECT_EQ(got[0].data, (std::vector<std::uint8_t>{0x0A, 0xF0}));
    EXPECT_EQ(got[1].psw, 0x010203u);
    EXPECT_EQ(got[1].data, (std::vector<std::uint8_t>{0x0A, 0xF0}))
        << "the fifth character is ignored";

    ASSERT_TRUE(pump_until([&] { return recorder.reports.size() == 2; }));
    EXPECT_EQ(recorder.reports[0].ret_code, 0x20);
    EXPECT_EQ(recorder.reports[0].ap_code, 7);
    EXPECT_EQ(recorder.reports[0].data_len, 0);
    EXPECT_EQ(recorder.reports[0].origin, NoticeOrigin::poll_thread) << "replies go at once";
    EXPECT_EQ(recorder.reports[1].ret_code, 0x21);
    EXPECT_EQ(recorder.reports[1].psw, 0x010203);
    EXPECT_EQ(recorder.reports[1].data, "01");
    EXPECT_EQ(recorder.reports[1].server, kHost);
    EXPECT_EQ(recorder.reports[1].port, port(0));
    EXPECT_TRUE(link(0).pending.empty()) << "the replies freed both requests";
}

TEST_F(EngineTest, SendToAPairNeverConnectedIsRefusedAndSendsNothing) {
    ASSERT_EQ(connect(0), kOk);
    EXPECT_EQ(send(1, 0x20, 1, 0, "01"), kNoLink);
    EXPECT_EQ(engine->send_frame("127.0.0.2", port(0), 0x20, 1, 0, "01", 2, recorder), kNoLink);
    pump_for(50ms);
    EXPECT_TRUE(sim.received(0).empty());
    EXPECT_TRUE(sim.received(1).empty());
}

TEST_F(EngineTest, ArgumentsThatWouldOverrunTheSendBufferAreRefused) {
    ASSERT_EQ(connect(0), kOk);
    EXPECT_EQ(send(0, 0x55, 1, 0, std::string(8172, '1'), 8172), kBadArguments);
    EXPECT_EQ(send(0, 0x55, 1, 0, "0aF", 4), kBadArguments) << "Data shorter than DataLen";
    EXPECT_EQ(send(0, 0x55, 1, 0, "00", -2), kBadArguments);
    EXPECT_TRUE(link(0).pending.empty()) << "a refused call takes no request slot";

    std::string longest(8171, 'a');
    EXPECT_EQ(send(0, 0x55, 2, 0, longest, 8171), kOk);
    ASSERT_TRUE(sim.wait_received(0, 0x55));
    const auto got = sim.received(0);
    ASSERT_EQ(got.size(), 1u) << "the refused ones sent nothing";
    EXPECT_EQ(got[0].data.size(), 4085u);
}

TEST_F(EngineTest, RequestsTimeOutAfterNinetySecondsOnTheEnginesClock) {
    ASSERT_EQ(connect(0), kOk);
    sim.fault(0, "silent on");
    for (int ap = 0; ap < 8; ++ap) {
        ASSERT_EQ(send(0, 0x20, 100 + ap, 0, "01"), kOk);
    }
    EXPECT_EQ(send(0, 0x20, 200, 0, "01"), kTooManyPending);
    clock.advance(89000);
    pump_for(300ms);
    EXPECT_TRUE(recorder.reports.empty()) << "not before 90 s";

    clock.advance(1100);
    ASSERT_TRUE(pump_until([&] { return recorder.reports.size() == 8; }));
    for (int ap = 0; ap < 8; ++ap) {
        const FrameReport& r = recorder.reports[static_cast<std::size_t>(ap)];
        EXPECT_EQ(r.ap_code, 100 + ap) << "slot order";
        EXPECT_EQ(r.ret_code, kRequestNoticeCode);
        EXPECT_EQ(r.psw, 0);
        EXPECT_EQ(r.data_len, 0);
        EXPECT_TRUE(r.data.empty());
    }
    // Each slot is freed once its notice was handled.
    EXPECT_TRUE(pump_until([&] { return link(0).pending.empty(); }));
    EXPECT_EQ(send(0, 0x20, 300, 0, "01"), kOk) << "slots are free again";
    pump_for(200ms);
    EXPECT_EQ(recorder.reports.size(), 8u) << "each request is reported once";
}

TEST_F(EngineTest, OneReplyForTwoRequestsOfTheSameApCodeFreesBothAndFiresOnce) {
    ASSERT_EQ(connect(0), kOk);
    sim.fault(0, "silent on");
    ASSERT_EQ(send(0, 0x20, 5, 0, "01"), kOk);
    ASSERT_EQ(send(0, 0x20, 5, 0, "01"), kOk);
    ASSERT_TRUE(sim.wait_received(0, 0x20, 2));
    sim.fault(0, "silent off");
    sim.deliver("frame", 0, "0x20 - ap=5");
    ASSERT_TRUE(pump_until([&] { return recorder.reports.size() == 1; }));
    pump_for(100ms);
    EXPECT_EQ(recorder.reports.size(), 1u);
    EXPECT_TRUE(link(0).pending.empty());
}

TEST_F(EngineTest, ReportCodeIsQueuedEvenWithAnOutstandingRequestsApCode) {
    ASSERT_EQ(connect(0), kOk);
    sim.fault(0, "silent on");
    ASSERT_EQ(send(0, 0x20, 5, 0, "01"), kOk);
    sim.fault(0, "silent off");
    sim.deliver("frame", 0, "0x15 ab ap=5");
    ASSERT_TRUE(pump_until([&] { return recorder.reports.size() == 1; }));
    EXPECT_EQ(recorder.reports[0].ret_code, 0x15);
    EXPECT_EQ(recorder.reports[0].origin, NoticeOrigin::dispatch_thread) << "through the queue";
    EXPECT_EQ(link(0).pending, (std::vector<std::int32_t>{5})) << "still outstanding";
}

TEST_F(EngineTest, ReportsAndUnclaimedRepliesArriveThroughTheQueue) {
    supervised(0);
    EXPECT_EQ(sim.report("card", 0, "0012AB34:1:granted:000000000000"), 1);
    ASSERT_TRUE(pump_until([&] { return recorder.reports.size() == 1; }));
    EXPECT_EQ(recorder.reports[0].ret_code, 30);
    EXPECT_EQ(recorder.reports[0].data, "010012ab340180000000000000") << "lower-case text";
    EXPECT_EQ(recorder.reports[0].data_len, 26);

    sim.deliver("frame", 0, "0x20 - ap=77");  // a reply nobody waits for
    ASSERT_TRUE(pump_until([&] { return recorder.reports.size() == 2; }));
    EXPECT_EQ(recorder.reports[1].ap_code, 77);
}

TEST_F(EngineTest, SamePayloadWithAnotherCodeFiresTwiceAndOnlyAnExactRepeatIsCounted) {
    supervised(0);
    const std::vector<std::uint8_t> payload{1, 2, 3};
    auto first = zorvik::frame::build_frame(0x1A, 1, 0, payload);
    auto second = zorvik::frame::build_frame(0x1C, 2, 0, payload);
    auto other = zorvik::frame::build_frame(0x1A, 3, 0, std::vector<std::uint8_t>{9});
    // Two reports that carry the same bytes are two reports.
    ASSERT_EQ(sim.report("raw", 0, hex_of(first) + hex_of(second)), 1);
    ASSERT_TRUE(pump_until([&] { return recorder.reports.size() == 2; }));
    EXPECT_EQ(recorder.reports[1].ret_code, 0x1C);
    EXPECT_EQ(engine->report_drops().total(), 0u);

    // The same frame right after itself in one read is a retransmission: once, counted.
    ASSERT_EQ(sim.report("raw", 0, hex_of(first) + hex_of(first)), 1);
    ASSERT_TRUE(pump_until([&] { return recorder.reports.size() == 3; }));
    pump_for(100ms);
    EXPECT_EQ(recorder.reports.size(), 3u);
    EXPECT_EQ(engine->report_drops().repeats, 1u);

    // With another report between them, all three fire.
    ASSERT_EQ(sim.report("raw", 0, hex_of(first) + hex_of(other) + hex_of(first)), 1);
    ASSERT_TRUE(pump_until([&] { return recorder.reports.size() == 6; }));

    // In separate chunks both fire.
    ASSERT_EQ(sim.report("raw", 0, hex_of(first)), 1);
    ASSERT_TRUE(pump_until([&] { return recorder.reports.size() == 7; }));
    ASSERT_EQ(sim.report("raw", 0, hex_of(first)), 1);
    ASSERT_TRUE(pump_until([&] { return recorder.reports.size() == 8; }));
    EXPECT_EQ(engine->report_drops().total(), 1u);
}

TEST_F(EngineTest, StrayByteBeforeAFrameIsSkipped) {
    supervised(0);
    sim.deliver(
        "raw", 0,
        "00" + hex_of(zorvik::frame::build_frame(0x1E, 4, 0, std::vector<std::uint8_t>{4})));
    ASSERT_TRUE(pump_until([&] { return recorder.reports.size() == 1; }));
    EXPECT_EQ(recorder.reports[0].ap_code, 4);
}

TEST_F(EngineTest, PayloadLongerThan2048BytesIsDeliveredWhole) {
    supervised(0);
    std::vector<std::uint8_t> payload(3000);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(i * 13);
    }
    sim.deliver("frame", 0, "0x1e " + hex_of(payload));
    ASSERT_TRUE(pump_until([&] { return recorder.reports.size() == 1; }));
    EXPECT_EQ(recorder.reports[0].data_len, 6000);
    EXPECT_EQ(recorder.reports[0].data, hex_of(payload));
}

TEST_F(EngineTest, LostSupervisedLinkIsReconnectedWithOneReConnect) {
    supervised(0);
    sim.clear_received(0);
    sim.ok("disconnect 0");
    ASSERT_TRUE(pump_until([&] { return recorder.reconnected.size() == 1; }));
    ASSERT_EQ(recorder.failed.size(), 1u);
    EXPECT_FALSE(recorder.failed[0].synchronous) << "from the poll thread";
    EXPECT_EQ(recorder.failed[0].port, port(0));
    EXPECT_TRUE(recorder.reconnected[0].synchronous) << "fired by ConnectToServer";
    EXPECT_EQ(recorder.reconnect_requests, 1);
    ASSERT_TRUE(sim.wait(0, "connections=2"));
    // Once inside connect, once by the reconnect request.
    ASSERT_TRUE(sim.wait(0, "switch=on count=2"));
    pump_for(300ms);
    EXPECT_EQ(recorder.reconnected.size(), 1u);
    EXPECT_TRUE(link(0).connected);
}

TEST_F(EngineTest, LostSupervisedLinkWaitsWhileTheControllerRefuses) {
    supervised(0);
    sim.fault(0, "refuse on");
    sim.ok("disconnect 0");
    ASSERT_TRUE(pump_until([&] { return recorder.failed.size() == 1; }));
    pump_for(300ms);
    EXPECT_GT(recorder.reconnect_requests, 0) << "its host answers probes";
    EXPECT_TRUE(recorder.reconnected.empty());
    ASSERT_EQ(engine->link_count(), 1u);
    EXPECT_FALSE(link(0).connected);
    EXPECT_NE(link(0).upload_state, 0) << "still supervised";

    sim.fault(0, "refuse off");
    ASSERT_TRUE(pump_until([&] { return recorder.reconnected.size() == 1; }));
    EXPECT_TRUE(link(0).connected);
}

TEST_F(EngineTest, SupervisedLinkIsLostWhenItsHostStopsAnswering) {
    supervised(0);
    prober->set_silent(kHost, true);
    ASSERT_TRUE(pump_until([&] { return recorder.failed.size() == 1; }));
    EXPECT_FALSE(link(0).connected);
    ASSERT_TRUE(sim.wait_connected(0, false));
    prober->set_silent(kHost, false);
    ASSERT_TRUE(pump_until([&] { return recorder.reconnected.size() == 1; }));
}

TEST_F(EngineTest, LostUnsupervisedLinkIsRemovedAndItsRequestsGetNotices) {
    ASSERT_EQ(connect(0), kOk);
    sim.fault(0, "silent on");
    ASSERT_EQ(send(0, 0x20, 11, 0, "01"), kOk);
    ASSERT_EQ(send(0, 0x20, 12, 0, "01"), kOk);
    ASSERT_TRUE(sim.wait_received(0, 0x20, 2));
    sim.ok("disconnect 0");
    ASSERT_TRUE(
        pump_until([&] { return recorder.reports.size() == 2 && engine->link_count() == 0; }));
    EXPECT_EQ(recorder.reports[0].ap_code, 11);
    EXPECT_EQ(recorder.reports[1].ap_code, 12);
    EXPECT_EQ(recorder.reports[1].ret_code, kRequestNoticeCode);
    EXPECT_TRUE(recorder.failed.empty());
}

TEST_F(EngineTest, DisconnectTakesTheFirstLinkOfThatServerTextWhateverItsPort) {
    ASSERT_EQ(connect(0), kOk);
    ASSERT_EQ(connect(1), kOk);
    engine->disconnect_by_server(kHost);
    ASSERT_EQ(engine->link_count(), 1u);
    EXPECT_EQ(link(0).port, port(1));
    ASSERT_TRUE(sim.wait_connected(0, false));
    EXPECT_TRUE(recorder.failed.empty()) << "an unsupervised link goes without an event";

    ASSERT_EQ(engine->set_upload(kHost, port(1), true), kOk);
    engine->disconnect_by_server(kHost);
    ASSERT_EQ(recorder.failed.size(), 1u) << "fired before Disconnect returned";
    ASSERT_EQ(engine->link_count(), 1u) << "a supervised link stays";
    EXPECT_FALSE(link(0).connected);
    engine->disconnect_by_server("127.0.0.9");  // no such text: nothing happens
    EXPECT_EQ(engine->link_count(), 1u);
}

TEST_F(EngineTest, StopAllClosesEveryLinkWithoutEventsAndConnectStartsAgain) {
    ASSERT_EQ(connect(0), kOk);
    supervised(1);
    engine->stop_all();
    EXPECT_EQ(engine->link_count(), 0u);
    EXPECT_FALSE(engine->threads_running());
    ASSERT_TRUE(sim.wait_connected(0, false));
    ASSERT_TRUE(sim.wait_connected(1, false));
    pump_for(200ms);
    EXPECT_TRUE(recorder.failed.empty());
    EXPECT_TRUE(recorder.reports.empty());

    ASSERT_EQ(connect(0), kOk);
    EXPECT_TRUE(engine->threads_running());
    ASSERT_EQ(send(0, 0x20, 1, 0, "01"), kOk);
    ASSERT_TRUE(pump_until([&] { return recorder.reports.size() == 1; }));
}

// The host calls the engine from inside its events: none of this may deadlock.

TEST_F(EngineTest, HostDisconnectsFromInsideAReply) {
    ASSERT_EQ(connect(0), kOk);
    recorder.on_data = [&](const FrameReport&) { engine->disconnect_by_server(kHost); };
    ASSERT_EQ(send(0, 0x20, 1, 0, "01"), kOk);
    ASSERT_TRUE(
        pump_until([&] { return recorder.reports.size() == 1 && engine->link_count() == 0; }));
}

TEST_F(EngineTest, HostStopsEverythingFromInsideAReplyAndStartsAgain) {
    ASSERT_EQ(connect(0), kOk);
    recorder.on_data = [&](const FrameReport&) {
        engine->stop_all();
        recorder.on_data = nullptr;
    };
    ASSERT_EQ(send(0, 0x20, 1, 0, "01"), kOk);
    ASSERT_TRUE(pump_until([&] { return recorder.reports.size() == 1; }));
    EXPECT_FALSE(engine->threads_running());
    EXPECT_EQ(engine->link_count(), 0u);

    ASSERT_EQ(connect(0), kOk);
    ASSERT_EQ(send(0, 0x20, 2, 0, "01"), kOk);
    ASSERT_TRUE(pump_until([&] { return recorder.reports.size() == 2; }));
    EXPECT_TRUE(pump_until([&] { return engine->retired_thread_sets() == 0; }))
        << "the parked threads left once the handler had returned";
}

TEST_F(EngineTest, HostStopsEverythingFromInsideAQueuedReport) {
    supervised(0);
    recorder.on_data = [&](const FrameReport&) {
        engine->stop_all();
        recorder.on_data = nullptr;
    };
    sim.deliver("tamper", 0, "1");
    ASSERT_TRUE(pump_until([&] { return recorder.reports.size() == 1; }));
    EXPECT_EQ(recorder.reports[0].origin, NoticeOrigin::dispatch_thread);
    EXPECT_EQ(engine->link_count(), 0u);
    EXPECT_TRUE(recorder.failed.empty());
}

TEST_F(EngineTest, HostGivesUpALostLinkFromInsideFailedConnect) {
    supervised(0);
    recorder.on_failed = [&](const LinkEvent& e) {
        if (!e.synchronous) {
            engine->set_upload(kHost, port(0), false);
            engine->disconnect_by_server(kHost);
        }
    };
    sim.ok("disconnect 0");
    ASSERT_TRUE(pump_until([&] { return engine->link_count() == 0; }));
    EXPECT_TRUE(recorder.reconnected.empty());
}

TEST_F(EngineTest, HostDisconnectsFromInsideReConnect) {
    supervised(0);
    bool once = true;
    recorder.on_reconnect = [&](const LinkEvent&) {
        if (once) {
            once = false;
            engine->disconnect_by_server(kHost);  // waits for nothing the poll thread holds
        }
    };
    sim.ok("disconnect 0");
    ASSERT_TRUE(pump_until([&] { return recorder.reconnected.size() == 2; }, 20s))
        << "lost, reconnected, closed by the host, reconnected again";
}

TEST_F(EngineTest, ControlThreadKeepsWorkingWhileNoticesStream) {
    supervised(0);
    std::atomic<bool> streaming{true};
    // Reports with changing payloads, from a second control connection's worth of commands.
    int asked = 0;
    int sent = 0;
    std::thread reporter([&] {
        for (int i = 0; streaming && i < 400; ++i) {
            ++asked;
            sent += sim.report("door-events", 0, "bits=" + std::to_string(1000 + i));
        }
    });
    const auto until = std::chrono::steady_clock::now() + 2s;
    int cycles = 0;
    while (std::chrono::steady_clock::now() < until) {
        ASSERT_EQ(connect(1), kOk);
        EXPECT_EQ(send(1, 0x55, cycles, 0, "01"), kOk);
        EXPECT_EQ(send(0, 0x20, cycles, 0, "01"), kOk);  // its reply comes from the poll thread
        EXPECT_EQ(engine->set_upload(kHost, port(0), true), kOk);  // waits for the send gate
        // Waits for the poll-idle gate while the engine's threads hand over notices.
        engine->close_link(static_cast<std::size_t>(engine->find_link(kHost, port(1))));
        pump_for(5ms);
        ++cycles;
    }
    streaming = false;
    reporter.join();
    EXPECT_EQ(sent, asked) << "the controller had its link and upload on throughout";
    EXPECT_GT(cycles, 5);
    const auto replies = std::count_if(recorder.reports.begin(), recorder.reports.end(),
                                       [](const FrameReport& r) { return r.ret_code == 0x20; });
    const auto reports = std::count_if(recorder.reports.begin(), recorder.reports.end(),
                                       [](const FrameReport& r) { return r.ret_code == 26; });
    EXPECT_GT(replies, 0);
    EXPECT_GT(reports, 0);
    EXPECT_TRUE(recorder.failed.empty());
}

class EchoProbeTest : public ::testing::Test {
  protected:
    WinsockStartup winsock;
};

TEST_F(EchoProbeTest, RawSocketProbeOfLoopbackIsAnsweredAndTestNetIsNot) {
    SystemEchoProber prober;
    EXPECT_TRUE(prober.probe("127.0.0.1", 500, 32, nullptr));
    EXPECT_EQ(prober.last_method(), SystemEchoProber::Method::raw_socket)
        << "raw sockets work under Wine as root";
    const auto start = std::chrono::steady_clock::now();
    // TEST-NET-2 is never assigned to a host, so nothing answers it.
    EXPECT_FALSE(prober.probe("198.51.100.7", 500, 32, nullptr));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 550ms) << "100 ms pause, 500 ms wait";
}

TEST_F(EchoProbeTest, PlatformEchoApiGivesTheSameAnswers) {
    SystemEchoProber prober(SystemEchoProber::Method::icmp_api);
    EXPECT_TRUE(prober.probe("127.0.0.1", 500, 32, nullptr));
    EXPECT_EQ(prober.last_method(), SystemEchoProber::Method::icmp_api);
    EXPECT_FALSE(prober.probe("198.51.100.7", 500, 32, nullptr));
}

TEST_F(EchoProbeTest, CancelEndsTheWait) {
    SystemEchoProber prober;
    win::UniqueHandle cancel(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(prober.probe("198.51.100.7", 500, 32, cancel.get()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 300ms);
}

TEST_F(EchoProbeTest, PayloadSizeBelowEightSendsNothing) {
    auto scripted = std::make_shared<ScriptedProber>();
    EngineOptions options;
    options.prober = scripted;
    auto engine = Engine::create(nullptr, options);
    EXPECT_FALSE(engine->echo_probe("127.0.0.1", 500, 7));
    EXPECT_FALSE(engine->echo_probe("127.0.0.1", 500, 256 + 7)) << "the size is taken as a byte";
    EXPECT_EQ(scripted->probes.load(), 0);
    EXPECT_TRUE(engine->echo_probe("127.0.0.1", 500, 32));
    EXPECT_EQ(scripted->probes.load(), 1);
}

// The hand-over itself: notices sent while the control's thread waits inside an engine
// operation are taken over (the sender goes on), fire afterwards in order, and do not pile
// up without end when the thread never runs its messages.
TEST(NoticeHandOver, NoticesDuringAWaitAreTakenOverAndFireAfterwardsInOrder) {
    Recorder recorder([] { return std::shared_ptr<Engine>(); });
    NoticeReceiver receiver(recorder);
    OwnerWindow window(receiver);
    win::UniqueHandle sent_all(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    constexpr int kNotices = 1100;
    std::thread sender([&] {
        for (int i = 0; i < kNotices; ++i) {
            FrameReport report = FrameReport::request_notice("s", 1, i);
            report.origin = NoticeOrigin::poll_thread;
            ::SendMessageW(window.handle(), 0x465, 0, reinterpret_cast<LPARAM>(&report));
        }
        const char* server = "s";
        ::SendMessageW(window.handle(), 0x466, 7, reinterpret_cast<LPARAM>(server));
        ::SetEvent(sent_all.get());
    });
    // The control's thread inside an engine wait: every notice is let through and taken.
    ASSERT_EQ(wait_letting_notices_through(sent_all.get(), 20000), 0u);
    sender.join();
    EXPECT_TRUE(recorder.reports.empty()) << "nothing fires inside the wait";
    EXPECT_EQ(receiver.taken_over(), NoticeReceiver::kMaxTakenOver);
    ASSERT_TRUE(pump_until([&] { return recorder.failed.size() == 1; }));
    ASSERT_EQ(recorder.reports.size(), NoticeReceiver::kMaxTakenOver - 1);
    EXPECT_EQ(recorder.reports.front().ap_code, kNotices - 999) << "the oldest went";
    EXPECT_EQ(recorder.reports.back().ap_code, kNotices - 1);
    EXPECT_TRUE(std::is_sorted(
        recorder.reports.begin(), recorder.reports.end(),
        [](const FrameReport& a, const FrameReport& b) { return a.ap_code < b.ap_code; }));
    EXPECT_EQ(recorder.failed[0].port, 7) << "a link notice is never dropped";
}

}  // namespace
}  // namespace tarnet::testing
