// The link manager with the controller access library against the controller
// simulator on loopback. The library runs with a clock the test moves, so its 30-second
// reconnect rule runs without waiting; everything else is real: sockets, threads,
// frames, the door database and the simulator serving its controllers.
#include <gtest/gtest.h>

#include <mutex>
#include <shared_mutex>

#include "door_sim.h"
#include "library.h"
#include "manual_clock.h"

namespace porvex::test {
namespace {

// ControllerLink over a zorvik::access::Library of the test's own (the exports wrap one
// process-wide Library; this one has a hand-moved clock).
class LibraryLink final : public ControllerLink {
  public:
    explicit LibraryLink(std::shared_ptr<zorvik::access::Clock> clock)
        : library_(std::make_unique<zorvik::access::Library>(std::move(clock))) {
        current = this;
        auto& cb = library_->callbacks();
        cb.conn = &on_conn;
        cb.disconn = &on_disconn;
        cb.report = &on_frame;
        cb.reply = &on_frame;
    }
    ~LibraryLink() override {
        library_->disconnect_all();
        set_events(nullptr);
        library_.reset();
        current = nullptr;
    }

    void set_events(LinkEvents* events) override {
        std::unique_lock lock(mutex_);
        events_ = events;
    }
    bool connect(const std::string& ip, int port) override {
        return library_->connect(ip.c_str(), port) != 0;
    }
    bool send_data(const std::string& ip, int port, int cmd, int ap_code, int psw,
                   std::string_view hex) override {
        const std::string data(hex);
        return library_->send_data(ip.c_str(), port, cmd, ap_code, psw, data.c_str(),
                                   static_cast<int>(data.size())) != 0;
    }
    void enable_upload(const std::string& ip, int port) override {
        library_->enable_upload(ip.c_str(), port, 1);
    }
    void disconnect_all() override { library_->disconnect_all(); }

    zorvik::access::Library& library() { return *library_; }

  private:
    static void on_conn(const char* ip, int port, int connected) {
        std::shared_lock lock(current->mutex_);
        if (current->events_) {
            current->events_->on_connection(ip, port, (connected & 0xFF) != 0);
        }
    }
    static void on_disconn(const char* ip, int port) {
        std::shared_lock lock(current->mutex_);
        if (current->events_) {
            current->events_->on_disconnection(ip, port);
        }
    }
    static void on_frame(const char* ip, int port, int ap, int psw, int cmd, const char* data,
                         int length) {
        std::shared_lock lock(current->mutex_);
        if (current->events_) {
            current->events_->on_frame(ip, port, ap, psw, cmd,
                                       std::string_view(data, static_cast<std::size_t>(length)));
        }
    }

    static inline LibraryLink* current = nullptr;
    std::shared_mutex mutex_;
    LinkEvents* events_ = nullptr;
    std::unique_ptr<zorvik::access::Library> library_;
};

class LinkIntegrationTest : public ::testing::Test {
  protected:
    LinkIntegrationTest()
        : plant(2), link(library_clock), server(PointSet::all(), link, clock, log) {}

    void SetUp() override {
        server.start();
        const auto outcome = load_door_directory(plant.settings(), server, log);
        ASSERT_EQ(outcome.step, DirectoryStep::loaded) << outcome.message;
        ASSERT_EQ(outcome.doors, 16u);
    }

    // Moves the library's clock and waits until its supervisor has seen the new time.
    void advance_library(int seconds) {
        library_clock->advance_seconds(seconds);
        const auto target = library_clock->seconds();
        ASSERT_TRUE(wait_until([&] { return link.library().supervised_second() >= target; }));
    }

    std::string text(NodeId node) { return server.node_text(node); }

    DoorPlant plant;
    std::shared_ptr<zorvik::access::testing::ManualClock> library_clock =
        std::make_shared<zorvik::access::testing::ManualClock>();
    LibraryLink link;
    ManualClock clock;
    MemoryLog log;
    DoorServer server;
};

TEST_F(LinkIntegrationTest, ConnectPassBringsEveryDoorOnlineAndEnablesUpload) {
    server.connect_pass({}, std::chrono::milliseconds(0));
    ASSERT_TRUE(plant.sim().wait_upload(0, true));
    ASSERT_TRUE(plant.sim().wait_upload(1, true));
    for (std::size_t i = 0; i < 16; ++i) {
        EXPECT_TRUE(shows_normal(server, i)) << i;
    }
    EXPECT_EQ(plant.sim().info(0)["connections"], "1");  // one link per controller
}

TEST_F(LinkIntegrationTest, ReportsOfEveryKindReachTheirDoors) {
    server.connect_pass({}, std::chrono::milliseconds(0));
    ASSERT_TRUE(plant.sim().wait_upload(1, true));
    const std::size_t d2 = door_index(1, 2);  // reader 4 of controller 1
    ASSERT_EQ(plant.sim().report("card", 1, "0012ab34:4:granted 87654321:4:refused"), 1);
    ASSERT_TRUE(wait_until([&] { return server.door(d2).door_open == DoorOpenState::open; }));
    ASSERT_TRUE(
        wait_until([&] { return text(server.door(d2).invalid_card_node) == "非法刷卡:87654321"; }));
    EXPECT_EQ(text(server.door(d2).last_card_node), "最后一个刷卡人卡片号码:87654321");

    const std::size_t d3 = door_index(1, 3);  // reader 8
    plant.sim().deliver("door-events", 1, "alarm=8");
    // The door's open state is not known yet (not closed): an alarm means held open.
    ASSERT_TRUE(
        wait_until([&] { return server.door(d3).contact_alarm == ContactAlarmState::held_open; }));
    EXPECT_EQ(text(server.door(d3).state_node), "门禁状态:报警");
    plant.sim().deliver("alarms-cleared", 1, "8");
    ASSERT_TRUE(
        wait_until([&] { return server.door(d3).contact_alarm == ContactAlarmState::normal; }));
    EXPECT_EQ(text(server.door(d3).state_node), "门禁状态:正常");

    plant.sim().deliver("tamper", 1, "2");
    ASSERT_TRUE(wait_until(
        [&] { return text(server.door(door_index(1, 7)).tamper_node) == "防拆报警:报警"; }));
    EXPECT_EQ(text(server.door(door_index(1, 0)).tamper_node), "防拆报警:正常");
    EXPECT_EQ(text(server.door(door_index(0, 7)).tamper_node), "防拆报警:正常");
}

TEST_F(LinkIntegrationTest, AControllerThatDropsAndReturnsChangesItsDoorsAndGetsUploadAgain) {
    server.connect_pass({}, std::chrono::milliseconds(0));
    ASSERT_TRUE(plant.sim().wait_upload(0, true));
    plant.sim().deliver("card", 0, "0000abcd:1:granted");
    ASSERT_TRUE(wait_until([&] { return server.door(0).door_open == DoorOpenState::open; }));

    plant.sim().ok("disconnect 0");
    ASSERT_TRUE(wait_until([&] { return shows_not_monitored(server, door_index(0, 0)); }));
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(shows_not_monitored(server, door_index(0, i))) << i;
        EXPECT_TRUE(shows_normal(server, door_index(1, i))) << i;  // the other controller
    }

    advance_library(31);  // the library reconnects after more than 30 s
    ASSERT_TRUE(plant.sim().wait(0, "connections=2"));
    ASSERT_TRUE(plant.sim().wait_upload(0, true));  // a new link starts with upload off
    ASSERT_TRUE(wait_until([&] { return shows_normal(server, door_index(0, 7)); }));
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(shows_normal(server, door_index(0, i))) << i;
    }
    plant.sim().deliver("card", 0, "0000abce:2:granted");
    ASSERT_TRUE(wait_until(
        [&] { return text(server.door(1).last_card_node) == "最后一个刷卡人卡片号码:0000ABCE"; }));
}

TEST_F(LinkIntegrationTest, AControllerUnreachableAtStartComesUpLater) {
    plant.sim().fault(1, "refuse on");
    server.connect_pass({}, std::chrono::milliseconds(0));
    EXPECT_TRUE(shows_not_monitored(server, door_index(1, 0)));
    EXPECT_TRUE(shows_normal(server, door_index(0, 0)));

    plant.sim().fault(1, "refuse off");
    advance_library(31);
    ASSERT_TRUE(plant.sim().wait_upload(1, true));
    ASSERT_TRUE(wait_until([&] { return shows_normal(server, door_index(1, 5)); }));
}

TEST_F(LinkIntegrationTest, RemoteOpenAndStatusQueryRoundTrips) {
    server.connect_pass({}, std::chrono::milliseconds(0));
    ASSERT_TRUE(plant.sim().wait_upload(0, true));
    const DoorRecord door = server.door(door_index(0, 1));
    ASSERT_TRUE(server.write_item(door.remote_open_node, std::int32_t{1}));
    ASSERT_TRUE(plant.sim().wait_received(0, 0x20));
    const auto frames = plant.sim().received(0);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().data, std::vector<std::uint8_t>{0x02});
    ASSERT_TRUE(wait_until([&] { return text(door.remote_open_node) == "遥控开门:成功"; }));
    EXPECT_EQ(server.read_item(door.remote_open_node), ItemValue(std::int32_t{0}));
    EXPECT_EQ(server.read_item(door.door_open_node), ItemValue(std::int32_t{1}));

    plant.sim().ok("reply 0 0x20 0x22");  // the controller refuses
    clock.advance(1);
    const DoorRecord other = server.door(door_index(0, 4));
    ASSERT_TRUE(server.write_item(other.remote_open_node, std::int32_t{1}));
    ASSERT_TRUE(wait_until([&] { return text(other.remote_open_node) == "遥控开门:失败"; }));

    // The tick asks doors of unknown state; the simulator answers "closed, contact closed".
    plant.sim().clear_received(1);
    server.tick(10);
    ASSERT_TRUE(plant.sim().wait_received(1, 0x21, 8));
    ASSERT_TRUE(wait_until(
        [&] { return server.door(door_index(1, 7)).door_open == DoorOpenState::closed; }));
    EXPECT_EQ(server.door(door_index(1, 7)).contact_open, ContactState::closed);
    EXPECT_EQ(text(server.door(door_index(1, 7)).door_open_node), "门开关状态:关");
    EXPECT_TRUE(wait_until([&] { return server.pending_commands() == 0; }));
}

}  // namespace
}  // namespace porvex::test
