// Closing links and the library, also from inside the host's own callbacks.
#include <atomic>
#include <filesystem>
#include <thread>

#include "connection.h"
#include "frame/frame.h"
#include "frame/hex.h"
#include "link_harness.h"

namespace zorvik::access::testing {
namespace {

using Lifetime = LinkTest;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST_F(Lifetime, DisconnectAllBeforeAnyConnectAndTwiceDoesNothing) {
    EXPECT_EQ(lib->disconnect_all(), 0);
    connect_online(0);
    connect_online(1);
    EXPECT_EQ(lib->disconnect_all(), 1);
    EXPECT_EQ(lib->disconnect_all(), 0);
    EXPECT_EQ(lib->connection_count(), 0u);
    EXPECT_EQ(recorder.count(Event::disconn), 0u);  // closing is not a loss
    EXPECT_TRUE(sim.wait_connected(0, false));
    EXPECT_TRUE(sim.wait_connected(1, false));
    EXPECT_EQ(lib->send_data(kLocal, port(0), 0x20, 1, 0, "01", 2), 0);
    // The library starts again with the next registration.
    connect_online(0);
    EXPECT_FALSE(lib->stopped());
}

// Open descriptors of this process; -1 where the system does not tell (Windows).
int open_descriptors() {
#ifdef _WIN32
    return -1;
#else
    int n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++n;
    }
    return n;
#endif
}

TEST_F(Lifetime, LinksThatComeAndGoLeaveNoSocketPolledAndNoDescriptorOpen) {
    connect_online(0);  // the I/O thread runs from here on
    ASSERT_TRUE(eventually([&] { return lib->polled_sockets() == 2; }));  // waker and link 0
    const int descriptors = open_descriptors();
    std::size_t losses = 0;
    for (int round = 0; round < 12; ++round) {
        ASSERT_EQ(lib->connect(kLocal, port(1)), 1);
        if (round % 2 == 1) {
            // Lost on the I/O thread first: the controller closes.
            ASSERT_TRUE(sim.wait_connected(1, true));
            EXPECT_EQ(sim.ok("disconnect 1"), "closed=1");
            ASSERT_TRUE(recorder.wait_for(Event::disconn, ++losses));
        }
        ASSERT_EQ(lib->disconnect(kLocal, port(1)), 1);
        ASSERT_TRUE(sim.wait_connected(1, false));
    }
    EXPECT_TRUE(eventually([&] { return lib->polled_sockets() == 2; }));
    EXPECT_TRUE(eventually([&] { return open_descriptors() == descriptors; }));
    // The link that stayed is still read.
    sim.deliver("frame", 0, "30 01 ap=1");
    ASSERT_TRUE(recorder.wait_for(Event::report));
    EXPECT_EQ(recorder.of(Event::report)[0].port, port(0));
}

TEST_F(Lifetime, DisconnectEndsTheLinksThreadsWithinMilliseconds) {
    connect_online(0);
    connect_online(1);
    lib->send_data(kLocal, port(0), 0x20, 1, 0, "01", 2);
    const auto link = lib->find(kLocal, port(0));
    const auto start = steady_clock::now();
    EXPECT_EQ(lib->disconnect(kLocal, port(0)), 1);
    EXPECT_LT(steady_clock::now() - start, milliseconds(1000));
    EXPECT_TRUE(link->stopping());
    EXPECT_EQ(lib->connection_count(), 1u);
    EXPECT_EQ(lib->is_online(kLocal, port(0)), 0);
    EXPECT_EQ(lib->disconnect(kLocal, port(0)), 0);
    EXPECT_TRUE(sim.wait_connected(0, false));
    // Nothing of the closed link reaches the host any more.
    sim.deliver("frame", 1, "30 01 ap=1");
    ASSERT_TRUE(recorder.wait_for(Event::report));
    EXPECT_EQ(recorder.of(Event::report)[0].port, port(1));
    EXPECT_EQ(recorder.count(Event::disconn), 0u);
}

TEST_F(Lifetime, APendingRequestGivesUpAtOnceWhenTheLibraryStops) {
    connect_online(0);
    sim.ok("reply 0 0x21 silent");
    std::atomic<int> result{-1};
    std::thread caller([&] {
        char reply[8];
        int len = 0;
        result = lib->send_data_with_ret(kLocal, port(0), 0x21, 5, 0, "01", 2, 50000, reply,
                                         sizeof reply, &len);
    });
    ASSERT_TRUE(sim.wait_received(0, 0x21));
    const auto start = steady_clock::now();
    lib->disconnect_all();
    caller.join();
    EXPECT_LT(steady_clock::now() - start, milliseconds(1000));
    EXPECT_EQ(result.load(), 9);
}

TEST_F(Lifetime, AHostMayDisconnectALinkFromItsOwnReportCallback) {
    connect_online(0);
    connect_online(1);
    on_event = [this](const Event& e) {
        if (e.kind == Event::report) {
            EXPECT_EQ(host_library->disconnect(e.ip.c_str(), e.port), 1);
        }
    };
    // Two frames in one read: the second is not delivered once the link is closed.
    const auto one = frame::build_frame(30, 1, 0, std::vector<std::uint8_t>{0x01});
    const auto two = frame::build_frame(30, 2, 0, std::vector<std::uint8_t>{0x02});
    sim.deliver(
        "raw", 0,
        frame::to_hex(one, frame::HexCase::upper) + frame::to_hex(two, frame::HexCase::upper));
    ASSERT_TRUE(recorder.wait_for(Event::report));
    ASSERT_TRUE(eventually([&] { return lib->connection_count() == 1; }));
    EXPECT_TRUE(sim.wait_connected(0, false));
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(recorder.count(Event::report), 1u);
    EXPECT_EQ(recorder.count(Event::disconn), 0u);
    // The other link carries on.
    on_event = nullptr;
    sim.deliver("frame", 1, "30 01 ap=7");
    ASSERT_TRUE(recorder.wait_for(Event::report, 2));
}

TEST_F(Lifetime, AHostMayStopTheLibraryFromALossTheSupervisorReports) {
    connect_online(0);
    connect_online(1);
    on_event = [this](const Event& e) {
        if (e.kind == Event::disconn) {
            host_library->disconnect_all();
        }
    };
    sim.fault(0, "silent on");
    lib->send_data(kLocal, port(0), 0x20, 1, 0, "01", 2);
    ASSERT_TRUE(sim.wait_received(0, 0x20));
    clock->advance_seconds(9);
    ASSERT_TRUE(recorder.wait_for(Event::disconn));
    ASSERT_TRUE(eventually([&] { return lib->connection_count() == 0; }));
    EXPECT_TRUE(lib->stopped());
    EXPECT_TRUE(sim.wait_connected(1, false));
    EXPECT_EQ(recorder.count(Event::disconn), 1u);
}

TEST_F(Lifetime, AHostMayCloseALinkFromTheLinkUpCallback) {
    enable_upload_on_connect = false;
    on_event = [this](const Event& e) {
        if (e.kind == Event::conn && e.connected == 1) {
            host_library->disconnect(e.ip.c_str(), e.port);
        }
    };
    EXPECT_EQ(lib->connect(kLocal, port(0)), 1);
    EXPECT_EQ(lib->connection_count(), 0u);
    EXPECT_TRUE(sim.wait_connected(0, false));
}

TEST_F(Lifetime, DisconnectDoesNotWaitForTheSupervisorsKeepAlive) {
    connect_online(0);
    sim.fault(0, "silent on");
    clock->advance_seconds(21);
    ASSERT_TRUE(sim.wait_received(0, 0x11));  // the supervisor now waits for its reply
    const auto start = steady_clock::now();
    EXPECT_EQ(lib->disconnect(kLocal, port(0)), 1);
    EXPECT_LT(steady_clock::now() - start, milliseconds(1000));
    advance_ms(500);  // the keep-alive ends, its link already gone
    EXPECT_TRUE(settle());
    EXPECT_EQ(recorder.count(Event::disconn), 0u);
}

}  // namespace
}  // namespace zorvik::access::testing
