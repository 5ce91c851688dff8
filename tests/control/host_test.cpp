// The control as a host program uses it: created by ProgID without a site, driven by
// name through IDispatch, events through an IDispatch sink on its connection point,
// against the controller simulator on 127.0.0.1 (real echo probes).
#include <gtest/gtest.h>

#include <optional>

#include "com_support.h"
#include "ctlsim_driver.h"
#include "frame/frame.h"
#include "frame/hex.h"
#include "identifiers.h"

namespace tarnet::testing {
namespace {

const wchar_t kHost[] = L"127.0.0.1";

class Registration : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_EQ(register_tarnet(), S_OK); }
};
const auto* const registration = ::testing::AddGlobalTestEnvironment(new Registration);

std::wstring hex_of(const std::vector<std::uint8_t>& bytes) {
    const std::string text = zorvik::frame::to_hex(bytes, zorvik::frame::HexCase::lower);
    return std::wstring(text.begin(), text.end());
}

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(sink->connect(control), S_OK); }
    void TearDown() override {
        sink->on_event = nullptr;
        control.call(L"DisconnectAll");
        sink->disconnect();
        pump_for(10ms);
    }

    short port(std::size_t ctl) { return static_cast<short>(sim.port(ctl)); }
    short connect(std::size_t ctl) {
        return control.call(L"ConnectToServer", {kHost, port(ctl)}).as_short();
    }
    short send(short to, short cmd, int ap, int psw, const wchar_t* data, int len) {
        return control.call(L"SendData", {kHost, to, cmd, ap, psw, data, len}).as_short();
    }
    bool wait_events(DISPID id, std::size_t n, std::chrono::milliseconds timeout = 10s) {
        return pump_until([&] { return sink->count(id) >= n; }, timeout);
    }

    ComApartment apartment;
    ctlsim::testing::Ctlsim sim{2};
    Control control = Control::create();
    win::ComPtr<EventSink> sink = EventSink::create();
};

TEST_F(HostTest, DefaultPortIs5768AndTheHVariantsUseIt) {
    EXPECT_EQ(control.get_port(), kDefaultPort);
    const short connected = control.call(L"ConnectToServerH", {kHost}).as_short();
    EXPECT_TRUE(connected == 0 || connected == 10061) << connected;
    // The link exists at port 5768 (a send there finds it), not at any other port.
    EXPECT_NE(send(5768, 0x55, 1, 0, L"01", 2), 1);
    EXPECT_EQ(send(5769, 0x55, 1, 0, L"01", 2), 1);
}

TEST_F(HostTest, ConnectResults) {
    EXPECT_EQ(connect(0), 0);
    ASSERT_TRUE(sim.wait_connected(0, true));
    EXPECT_EQ(connect(0), 0) << "already connected";
    EXPECT_EQ(sim.info(0).at("connections"), "1");

    sim.fault(1, "refuse on");
    EXPECT_EQ(connect(1), 10061);
    // The refused link stays, disconnected: a send finds it, fails and says so at once.
    EXPECT_EQ(send(port(1), 0x55, 1, 0, L"01", 2), 3);
    ASSERT_EQ(sink->count(kEventFailedConnect), 1u) << "fired before SendData returned";
    EXPECT_EQ(sink->last(kEventFailedConnect)->args[1].as_short(), port(1));
}

TEST_F(HostTest, HostThatDoesNotAnswerEchoGives10060) {
    const auto start = std::chrono::steady_clock::now();
    // TEST-NET-2: assigned to no host, so no echo answer ever comes.
    EXPECT_EQ(control.call(L"ConnectToServer", {L"198.51.100.7", short{5768}}).as_short(), 10060);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 2500ms) << "five probes of 600 ms";
}

TEST_F(HostTest, UploadSwitchAndItsAcknowledgement) {
    ASSERT_EQ(connect(0), 0);
    EXPECT_EQ(control.call(L"EnableUpload", {kHost, port(0), short{1}}).as_short(), 0);
    ASSERT_TRUE(sim.wait_upload(0, true));
    control.set_port(port(0));
    EXPECT_EQ(control.call(L"EnabledUploadH", {kHost, short{7}}).as_short(), 0) << "7 is on";
    ASSERT_TRUE(sim.wait(0, "switch=on count=2"));
    EXPECT_EQ(control.call(L"EnableUpload", {kHost, port(0), short{0}}).as_short(), 0);
    ASSERT_TRUE(sim.wait_upload(0, false));
    EXPECT_EQ(control.call(L"EnableUpload", {kHost, port(1), short{1}}).as_short(), 1);
    pump_for(100ms);
    EXPECT_TRUE(sink->events.empty()) << "the acknowledgement raises no event";
}

TEST_F(HostTest, SendDataResultsFramesAndReplies) {
    control.set_port(port(0));
    ASSERT_EQ(control.call(L"ConnectToServerH", {kHost}).as_short(), 0);
    EXPECT_EQ(control.call(L"SendDataH", {kHost, short{0x20}, 7, 0, L"0aFz", 4}).as_short(), 0);
    EXPECT_EQ(send(port(0), 0x21, 8, 0x010203, L"0aFz9", 5), 0);
    ASSERT_TRUE(sim.wait_received(0, 0x21));
    const auto got = sim.received(0);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].data, (std::vector<std::uint8_t>{0x0A, 0xF0}));
    EXPECT_EQ(got[1].data, (std::vector<std::uint8_t>{0x0A, 0xF0}));
    EXPECT_EQ(got[1].psw, 0x010203u);

    ASSERT_TRUE(wait_events(kEventDataReceive, 2));
    const Event& open = sink->events[0];
    ASSERT_EQ(open.args.size(), 7u);
    EXPECT_EQ(open.args[0].type(), VT_BSTR);
    EXPECT_EQ(open.args[0].as_text(), kHost);
    EXPECT_EQ(open.args[1].type(), VT_I2);
    EXPECT_EQ(open.args[1].as_short(), port(0));
    EXPECT_EQ(open.args[2].type(), VT_I4);
    EXPECT_EQ(open.args[2].as_long(), 7);
    EXPECT_EQ(open.args[3].as_long(), 0);
    EXPECT_EQ(open.args[4].type(), VT_I2);
    EXPECT_EQ(open.args[4].as_short(), 0x20);
    EXPECT_EQ(open.args[5].as_text(), L"");
    EXPECT_EQ(open.args[6].as_long(), 0);
    const Event& status = sink->events[1];
    EXPECT_EQ(status.args[3].as_long(), 0x010203);
    EXPECT_EQ(status.args[4].as_short(), 0x21);
    EXPECT_EQ(status.args[5].as_text(), L"01");
    EXPECT_EQ(status.args[6].as_long(), 2);

    EXPECT_EQ(send(port(1), 0x20, 1, 0, L"01", 2), 1) << "never connected";
    EXPECT_EQ(send(port(0), 0x20, 1, 0, L"01", 9000), 4) << "DataLen above 8171";
    EXPECT_EQ(send(port(0), 0x20, 1, 0, L"01", 3), 4) << "Data shorter than DataLen";
    sim.fault(0, "silent on");
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(send(port(0), 0x20, 100 + i, 0, L"01", 2), 0);
    }
    EXPECT_EQ(send(port(0), 0x20, 200, 0, L"01", 2), 2) << "eight outstanding";
}

TEST_F(HostTest, ReportsArriveAsDataReceiveAndOnlyExactRepeatsInOneChunkCollapseCounted) {
    ASSERT_EQ(connect(0), 0);
    ASSERT_EQ(control.call(L"EnableUpload", {kHost, port(0), short{1}}).as_short(), 0);
    ASSERT_TRUE(sim.wait_upload(0, true));
    pump_for(50ms);
    EXPECT_EQ(sim.report("card", 0, "0012AB34:1:granted:000000000000"), 1);
    ASSERT_TRUE(wait_events(kEventDataReceive, 1));
    EXPECT_EQ(sink->events[0].args[4].as_short(), 30);
    EXPECT_EQ(sink->events[0].args[5].as_text(), L"010012ab340180000000000000");
    EXPECT_EQ(sink->events[0].args[6].as_long(), 26);

    // Same payload, other command code, in one read: two reports, both delivered. The
    // same frame repeated right after itself is delivered once and counted.
    auto dropped = [&] {
        Value v;
        EXPECT_EQ(control.invoke(control.id_of(L"DroppedReports"), DISPATCH_PROPERTYGET, {}, &v),
                  S_OK);
        return v.as_long();
    };
    const int dropped_before = dropped();
    const std::vector<std::uint8_t> payload{1, 2, 3};
    const auto a = zorvik::frame::build_frame(0x1A, 1, 0, payload);
    const auto b = zorvik::frame::build_frame(0x1B, 1, 0, payload);
    const std::wstring three = hex_of(a) + hex_of(b) + hex_of(b);
    ASSERT_EQ(sim.report("raw", 0, std::string(three.begin(), three.end())), 1);
    ASSERT_TRUE(wait_events(kEventDataReceive, 3));
    pump_for(200ms);
    ASSERT_EQ(sink->count(kEventDataReceive), 3u);
    EXPECT_EQ(sink->events[1].args[4].as_short(), 0x1A);
    EXPECT_EQ(sink->events[2].args[4].as_short(), 0x1B) << "not collapsed into the first";
    EXPECT_EQ(sink->events[2].args[5].as_text(), L"010203");
    EXPECT_EQ(dropped() - dropped_before, 1) << "the repeated frame is counted";
}

TEST_F(HostTest, SupervisedLinkLostAndReconnectedWithOneReConnect) {
    ASSERT_EQ(connect(0), 0);
    ASSERT_EQ(control.call(L"EnableUpload", {kHost, port(0), short{1}}).as_short(), 0);
    ASSERT_TRUE(sim.wait_upload(0, true));
    sim.ok("disconnect 0");
    ASSERT_TRUE(wait_events(kEventReConnect, 1));
    ASSERT_EQ(sink->count(kEventFailedConnect), 1u);
    EXPECT_EQ(sink->events.front().id, kEventFailedConnect) << "lost first, then back";
    EXPECT_EQ(sink->last(kEventReConnect)->args[0].as_text(), kHost);
    EXPECT_EQ(sink->last(kEventReConnect)->args[1].as_short(), port(0));
    ASSERT_TRUE(sim.wait(0, "connections=2"));
    ASSERT_TRUE(sim.wait_upload(0, true));
    pump_for(300ms);
    EXPECT_EQ(sink->count(kEventReConnect), 1u);
}

TEST_F(HostTest, DisconnectTakesTheFirstLinkOfThatServerTextWhateverThePort) {
    ASSERT_EQ(connect(0), 0);
    ASSERT_EQ(connect(1), 0);
    control.call(L"Disconnect", {kHost, short{1}});
    ASSERT_TRUE(sim.wait_connected(0, false));
    EXPECT_EQ(sim.info(1).at("connected"), "1");
    control.call(L"DisconnectH", {kHost});
    ASSERT_TRUE(sim.wait_connected(1, false));
    pump_for(100ms);
    EXPECT_TRUE(sink->events.empty()) << "links without upload go silently";
}

TEST_F(HostTest, DisconnectAllClosesEverythingWithoutEvents) {
    ASSERT_EQ(connect(0), 0);
    ASSERT_EQ(connect(1), 0);
    ASSERT_EQ(control.call(L"EnableUpload", {kHost, port(1), short{1}}).as_short(), 0);
    control.call(L"DisconnectAll");
    ASSERT_TRUE(sim.wait_connected(0, false));
    ASSERT_TRUE(sim.wait_connected(1, false));
    pump_for(300ms);
    EXPECT_TRUE(sink->events.empty());
    EXPECT_EQ(send(port(0), 0x20, 1, 0, L"01", 2), 1) << "the links are gone";
    EXPECT_EQ(connect(0), 0) << "and the engine starts again";
}

TEST_F(HostTest, FrozenEventsWaitUntilTheHostThawsThem) {
    auto control_interface = control.as<IOleControl>(IID_IOleControl);
    ASSERT_TRUE(control_interface);
    ASSERT_EQ(connect(0), 0);
    control_interface->FreezeEvents(TRUE);
    ASSERT_EQ(send(port(0), 0x20, 5, 0, L"01", 2), 0);
    ASSERT_TRUE(sim.wait_received(0, 0x20));
    pump_for(300ms);
    EXPECT_TRUE(sink->events.empty());
    control_interface->FreezeEvents(FALSE);
    ASSERT_EQ(sink->count(kEventDataReceive), 1u);
    EXPECT_EQ(sink->events[0].args[2].as_long(), 5);
}

TEST_F(HostTest, SecondControlSharesTheEngineAndTheFirstKeepsWorking) {
    {
        Control second = Control::create();
        EXPECT_EQ(second.call(L"ConnectToServer", {kHost, port(1)}).as_short(), 0);
        EXPECT_EQ(connect(1), 0) << "the same link: already connected";
        EXPECT_EQ(sim.info(1).at("connections"), "1");
        EXPECT_EQ(
            second.call(L"SendData", {kHost, port(1), short{0x20}, 9, 0, L"01", 2}).as_short(), 0);
        ASSERT_TRUE(wait_events(kEventDataReceive, 1)) << "notices go to the first control";
    }
    pump_for(50ms);
    EXPECT_EQ(send(port(1), 0x20, 10, 0, L"01", 2), 0) << "the second one's end closed nothing";
    ASSERT_TRUE(wait_events(kEventDataReceive, 2));
}

TEST(HostLifetime, HostReleasesTheControlFromInsideAnEvent) {
    ComApartment apartment;
    ctlsim::testing::Ctlsim sim{1};
    const short p = static_cast<short>(sim.port(0));
    std::optional<Control> control(Control::create());
    auto sink = EventSink::create();
    ASSERT_EQ(sink->connect(*control), S_OK);
    sink->on_event = [&](const Event&) {
        sink->disconnect();
        control.reset();  // the last reference, while the engine's thread waits for us
    };
    ASSERT_EQ(control->call(L"ConnectToServer", {kHost, p}).as_short(), 0);
    ASSERT_EQ(control->call(L"SendData", {kHost, p, short{0x20}, 1, 0, L"01", 2}).as_short(), 0);
    ASSERT_TRUE(pump_until([&] { return !control.has_value(); }));
    ASSERT_TRUE(sim.wait_connected(0, false)) << "its end stopped the engine";

    Control again = Control::create();
    EXPECT_EQ(again.call(L"ConnectToServer", {kHost, p}).as_short(), 0);
    again.call(L"DisconnectAll");
}

}  // namespace
}  // namespace tarnet::testing
