// Registration, the link-up callback and the state queries, against the simulator.
#include <cstring>
#include <string>

#include "connection.h"
#include "link_harness.h"

namespace zorvik::access::testing {
namespace {

using Connect = LinkTest;

TEST_F(Connect, AWorkingControllerIsReportedOnTheCallingThreadAndRegisteredOnce) {
    ASSERT_EQ(lib->connect(kLocal, port(0)), 1);
    const auto ups = recorder.of(Event::conn);
    ASSERT_EQ(ups.size(), 1u);
    EXPECT_EQ(ups[0].ip, kLocal);
    EXPECT_EQ(ups[0].port, port(0));
    EXPECT_EQ(ups[0].connected, 1);
    EXPECT_EQ(ups[0].thread, std::this_thread::get_id());
    EXPECT_EQ(lib->is_online(kLocal, port(0)), 1);
    // The host enabled the upload from inside the callback.
    EXPECT_TRUE(sim.wait_upload(0, true));

    // A second registration of the pair does nothing and raises nothing.
    EXPECT_EQ(lib->connect(kLocal, port(0)), 0);
    EXPECT_EQ(recorder.count(Event::conn), 1u);
    EXPECT_EQ(lib->connection_count(), 1u);
    EXPECT_TRUE(sim.wait(0, "connections=1"));
}

TEST_F(Connect, AFailedFirstAttemptRegistersTheLinkOfflineAndTheSupervisorRetriesAfter30s) {
    sim.fault(1, "refuse on");
    EXPECT_EQ(lib->connect(kLocal, port(1)), 0);
    ASSERT_EQ(recorder.count(Event::conn), 1u);
    EXPECT_EQ(recorder.of(Event::conn)[0].connected, 0);
    EXPECT_EQ(lib->connection_count(), 1u);
    EXPECT_EQ(lib->is_online(kLocal, port(1)), 0);
    // A frame for an offline link is refused: it is sent now or never.
    EXPECT_EQ(lib->send_data(kLocal, port(1), 0x21, 11, 0, "01", 2), 0);

    sim.fault(1, "refuse off");
    advance(30);  // not more than 30 seconds yet
    EXPECT_EQ(recorder.count(Event::conn), 1u);
    advance(1);
    ASSERT_TRUE(recorder.wait_for(Event::conn, 2));
    const auto up = recorder.of(Event::conn)[1];
    EXPECT_EQ(up.connected, 1);
    EXPECT_NE(up.thread, std::this_thread::get_id());  // a thread of the library
    EXPECT_TRUE(sim.wait_upload(1, true));
    EXPECT_EQ(lib->send_data(kLocal, port(1), 0x21, 12, 0, "01", 2), 1);
    ASSERT_TRUE(sim.wait_received(1, 0x21));
    const auto got = sim.received(1);
    ASSERT_EQ(got.size(), 2u);  // the upload switch, then the frame sent while online
    EXPECT_EQ(got[1].ap_code, 12);
}

TEST_F(Connect, FailedRetriesRaiseNothingAndComeEvery31Seconds) {
    sim.fault(0, "refuse on");
    EXPECT_EQ(lib->connect(kLocal, port(0)), 0);
    advance(31);  // a retry fails silently and restarts the 30 seconds
    EXPECT_EQ(recorder.count(Event::conn), 1u);
    sim.fault(0, "refuse off");
    advance(30);
    EXPECT_EQ(recorder.count(Event::conn), 1u);
    EXPECT_EQ(sim.info(0)["connections"], "0");
    advance(1);
    ASSERT_TRUE(recorder.wait_for(Event::conn, 2));
}

TEST_F(Connect, KeysAreComparedExactlyAndBadKeysAreRefused) {
    ASSERT_EQ(lib->connect(kLocal, port(0)), 1);
    // Another text for the same address is another key.
    EXPECT_EQ(lib->is_online("127.000.000.001", port(0)), 0);
    EXPECT_EQ(lib->send_data("127.0.0.01", port(0), 0x20, 1, 0, "01", 2), 0);
    EXPECT_EQ(lib->enable_upload(kLocal, port(1), 1), 9);
    EXPECT_EQ(lib->init(nullptr, port(0)), 9);

    // 50 characters would have to be cut to fit and name another controller: refused.
    const std::string too_long(50, 'a');
    EXPECT_EQ(lib->connect(too_long.c_str(), port(0)), 0);
    EXPECT_EQ(lib->connect(nullptr, port(0)), 0);
    EXPECT_EQ(lib->connect(kLocal, 0), 0);
    EXPECT_EQ(lib->connect(kLocal, 65536), 0);
    EXPECT_EQ(lib->connection_count(), 1u);
    EXPECT_EQ(recorder.count(Event::conn), 1u);  // refusals raise nothing

    // 49 characters fit: registered (offline, the name does not resolve).
    const std::string longest = std::string(41, 'a') + ".invalid";
    ASSERT_EQ(longest.size(), 49u);
    EXPECT_EQ(lib->connect(longest.c_str(), 5768), 0);
    EXPECT_EQ(lib->connection_count(), 2u);
    EXPECT_EQ(recorder.of(Event::conn).back().ip, longest);
}

TEST_F(Connect, OnlineListNamesOnlineLinksInRegistrationOrderWithinTheBuffer) {
    char out[256];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(lib->online_list(out, Library::kUnbounded), 0);
    EXPECT_STREQ(out, "");

    connect_online(1);
    sim.fault(0, "refuse on");
    EXPECT_EQ(lib->connect(kLocal, port(0)), 0);
    const std::string first = std::string(kLocal) + ":" + std::to_string(port(1)) + "|";
    const std::string second = std::string(kLocal) + ":" + std::to_string(port(0)) + "|";
    EXPECT_EQ(lib->online_list(out, Library::kUnbounded), 1);
    EXPECT_EQ(std::string(out), first);

    sim.fault(0, "refuse off");
    advance(31);
    ASSERT_TRUE(recorder.wait_for(Event::conn, 3));
    EXPECT_EQ(lib->online_list(out, Library::kUnbounded), 2);
    EXPECT_EQ(std::string(out), first + second);

    // The bounded form writes whole entries only and always its NUL, never past size.
    const std::size_t whole = first.size() + second.size() + 1;
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(lib->online_list(out, whole), 2);
    EXPECT_EQ(std::string(out), first + second);
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(lib->online_list(out, whole - 1), 1);
    EXPECT_EQ(std::string(out), first);
    EXPECT_EQ(out[whole - 1], 'x');
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(lib->online_list(out, first.size()), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(out[1], 'x');
    EXPECT_EQ(lib->online_list(out, 0), 0);
    EXPECT_EQ(out[1], 'x');
}

}  // namespace
}  // namespace zorvik::access::testing
