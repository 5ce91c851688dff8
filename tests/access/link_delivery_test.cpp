// How callbacks reach the host: on the library's delivery threads, in order per link, and
// a host callback that blocks holds up only its own link.
#include <thread>

#include "link_harness.h"

namespace zorvik::access::testing {
namespace {

using Delivery = LinkTest;
using std::chrono::milliseconds;

TEST_F(Delivery, ABlockedCallbackHoldsUpOnlyItsOwnLinkAndItsFramesKeepTheirOrder) {
    connect_online(0);
    connect_online(1);
    on_event = [&](const Event& e) {
        if (e.kind == Event::report && e.port == port(0) && e.ap_code == 1) {
            gate.hold();
        }
    };
    sim.deliver("frame", 0, "30 01 ap=1");
    ASSERT_TRUE(recorder.wait_for(Event::report, 1));
    for (int ap = 2; ap <= 4; ++ap) {
        sim.deliver("frame", 0, "30 01 ap=" + std::to_string(ap));
    }
    // The other link's frames and replies go on while link 0's host code is stuck.
    for (int ap = 1; ap <= 5; ++ap) {
        sim.deliver("frame", 1, "30 02 ap=" + std::to_string(ap));
    }
    ASSERT_TRUE(recorder.wait_for(Event::report, 6));
    char reply[8];
    int len = 0;
    sim.ok("reply 1 0x21 0x21 0B");
    EXPECT_EQ(lib->send_data_with_ret(kLocal, port(1), 0x21, 9, 0, "01", 2, 5000, reply,
                                      sizeof reply, &len),
              0x21);
    EXPECT_EQ(recorder.count(Event::report), 6u) << "link 0 delivered nothing more meanwhile";
    gate.open();
    ASSERT_TRUE(recorder.wait_for(Event::report, 9));
    std::vector<int> order0;
    std::vector<int> order1;
    for (const auto& r : recorder.of(Event::report)) {
        (r.port == port(0) ? order0 : order1).push_back(r.ap_code);
    }
    EXPECT_EQ(order0, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(order1, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(Delivery, ALinksLossComesAfterItsFramesAndBeforeItsReconnect) {
    connect_online(0);
    on_event = [&](const Event& e) {
        if (e.kind == Event::report) {
            gate.hold();
        }
    };
    sim.deliver("frame", 0, "30 01 ap=1");
    sim.deliver("frame", 0, "30 01 ap=2");
    ASSERT_TRUE(recorder.wait_for(Event::report, 1));
    sim.ok("disconnect 0");
    ASSERT_TRUE(eventually([&] { return lib->is_online(kLocal, port(0)) == 0; }));
    advance(31);  // the supervisor reconnects while the first report is still in the host
    ASSERT_TRUE(sim.wait(0, "connections=2"));
    EXPECT_EQ(recorder.count(Event::disconn), 0u);
    gate.open();
    ASSERT_TRUE(recorder.wait_for(Event::conn, 2));
    std::vector<Event::Kind> kinds;
    for (const auto& e : recorder.events()) {
        kinds.push_back(e.kind);
    }
    EXPECT_EQ(kinds, (std::vector<Event::Kind>{Event::conn, Event::report, Event::report,
                                               Event::disconn, Event::conn}));
    const auto events = recorder.events();
    for (std::size_t i = 1; i < events.size(); ++i) {
        EXPECT_NE(events[i].thread, std::this_thread::get_id()) << "raised on the host's thread";
    }
}

}  // namespace
}  // namespace zorvik::access::testing
