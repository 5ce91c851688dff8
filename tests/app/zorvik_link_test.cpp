// The door server through the controller access library's exports (the shared library
// itself: libZorvikAccess.so natively, ZorvikAccess.dll under Wine) against the
// controller simulator serving the controllers of a door database.
#include <gtest/gtest.h>

#include "door_sim.h"
#include "link/zorvik_link.h"

namespace porvex::test {
namespace {

TEST(ZorvikLink, TheDoorServerRunsOnTheLibraryExports) {
    DoorPlant plant(2);
    ZorvikLink link;
    ManualClock clock;
    MemoryLog log;
    {
        DoorServer server(PointSet::all(), link, clock, log);
        server.start();
        ASSERT_EQ(load_door_directory(plant.settings(), server, log).step, DirectoryStep::loaded);
        server.connect_pass({}, std::chrono::milliseconds(0));
        ASSERT_TRUE(plant.sim().wait_upload(0, true));
        ASSERT_TRUE(plant.sim().wait_upload(1, true));
        EXPECT_TRUE(shows_normal(server, door_index(1, 6)));

        plant.sim().deliver("card", 1, "00c0ffee:64:granted");
        ASSERT_TRUE(wait_until([&] {
            return server.node_text(server.door(door_index(1, 6)).last_card_node) ==
                   "最后一个刷卡人卡片号码:00C0FFEE";
        }));

        const DoorRecord door = server.door(door_index(1, 0));
        ASSERT_TRUE(server.write_item(door.remote_open_node, std::int32_t{1}));
        ASSERT_TRUE(
            wait_until([&] { return server.node_text(door.remote_open_node) == "遥控开门:成功"; }));

        plant.sim().ok("disconnect 1");
        ASSERT_TRUE(wait_until([&] { return shows_not_monitored(server, door_index(1, 3)); }));
        EXPECT_TRUE(shows_normal(server, door_index(0, 3)));

        server.release_doors();  // stops the library's links and callbacks first
        EXPECT_EQ(server.door_count(), 0u);
        EXPECT_TRUE(plant.sim().wait_connected(0, false));
    }
}

}  // namespace
}  // namespace porvex::test
