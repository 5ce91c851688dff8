#include "doors/upkeep_tick.h"

#include <gtest/gtest.h>

#include "door_harness.h"
#include "doors/item_access.h"

namespace porvex::test {
namespace {

class UpkeepTickTest : public ::testing::Test {
  protected:
    void SetUp() override {
        h.dir.attach_value_holders();
        door.status_poll_queued = true;
    }

    Update update() { return Update(h.clock.now()); }

    DoorHarness h;
    DoorRecord& door = h.add(1);
};

TEST_F(UpkeepTickTest, CardsClearOnTheFirstTickMoreThanRSecondsAfterTheyWereShown) {
    h.receive(30,
              "01"
              "0012AB34"
              "01"
              "00"
              "000000000000");
    h.receive(30,
              "01"
              "0012AB35"
              "01"
              "80"
              "000000000000");
    for (int t = 2; t <= 10; t += 2) {
        h.clock.advance(2);
        h.run_tick(10);
        ASSERT_EQ(h.text(door.last_card_node), "最后一个刷卡人卡片号码:0012AB35") << t;
    }
    h.clock.advance(2);  // 12 s > 10 s
    h.run_tick(10);
    EXPECT_EQ(h.text(door.last_card_node), "最后一个刷卡人卡片号码:");
    EXPECT_EQ(h.text(door.invalid_card_node), "非法刷卡:");
    EXPECT_EQ(door.last_card_time, h.clock.now());
}

TEST_F(UpkeepTickTest, TheRefreshSecondsAreReadAtEachTick) {
    h.receive(30,
              "01"
              "0012AB35"
              "01"
              "80"
              "000000000000");
    h.clock.advance(4);
    h.run_tick(3);
    EXPECT_EQ(h.text(door.last_card_node), "最后一个刷卡人卡片号码:");
}

TEST_F(UpkeepTickTest, TamperRevertsTenSecondsAfterItsLastReport) {
    h.receive(28, "00000001");
    h.clock.advance(6);
    h.receive(28, "00000001");  // renewed
    h.clock.advance(6);
    h.run_tick();
    EXPECT_EQ(h.text(door.tamper_node), "防拆报警:报警");
    h.clock.advance(6);
    h.run_tick();
    EXPECT_EQ(h.text(door.tamper_node), "防拆报警:正常");
}

TEST_F(UpkeepTickTest, RemoteOpenWithoutReplyFailsAfterTenSeconds) {
    auto u = update();
    ASSERT_TRUE(h.decoder.SendRemoteOpen(u, &door));
    h.clock.advance(10);
    h.run_tick();
    EXPECT_EQ(h.text(door.remote_open_node), "遥控开门:锁定");
    h.clock.advance(1);
    Update timeout(h.clock.now());
    h.tick.run(timeout, 10);
    ASSERT_EQ(timeout.remote_open_ends.size(), 1u);  // for the operator log
    EXPECT_EQ(timeout.remote_open_ends[0].result, "time-out, no reply");
    EXPECT_EQ(h.text(door.remote_open_node), "遥控开门:失败");
    EXPECT_EQ(h.dir.tree().info(door.remote_open_node)->Value, ItemValue(std::int32_t{1}));
    EXPECT_FALSE(door.remote_open_pending);
    EXPECT_EQ(door.remote_open_time, h.clock.now());
}

TEST_F(UpkeepTickTest, APendingRemoteOpenWhoseTextWasOverwrittenStillTimesOut) {
    auto u = update();
    ASSERT_TRUE(h.decoder.SendRemoteOpen(u, &door));
    auto w = update();
    // A client's write of 0 replaces "锁定" by "失败" while the open is pending.
    ASSERT_EQ(write_leaf_value(h.dir, h.decoder, w, door.remote_open_node, std::int32_t{0}),
              RemoteOpenOutcome::refused_value);
    ASSERT_EQ(h.text(door.remote_open_node), "遥控开门:失败");
    h.clock.advance(11);
    h.run_tick();
    EXPECT_FALSE(door.remote_open_pending);
    auto again = update();
    EXPECT_TRUE(h.decoder.SendRemoteOpen(again, &door));  // the door can be opened again
}

TEST_F(UpkeepTickTest, OfflineDoorsAreQueriedEveryTickUntilTheLibraryQueuesTheQuery) {
    DoorRecord& lost = h.add(2, 0, "10.9.9.9", "5768");  // not registered with the library
    lost.status_poll_queued = false;
    h.run_tick();
    h.clock.advance(2);
    h.run_tick();
    int queries = 0;
    for (const auto& s : h.link.sent()) {
        queries += s.ip == "10.9.9.9" && s.cmd == 33;
    }
    EXPECT_EQ(queries, 2);
    EXPECT_FALSE(lost.status_poll_queued);
    EXPECT_EQ(lost.poll_time, h.clock.now());
    EXPECT_EQ(h.pending.size(), 1u);  // only door 1's query can be answered

    h.link.register_controller("10.9.9.9", 5768);
    h.clock.advance(2);
    h.run_tick();
    EXPECT_TRUE(lost.status_poll_queued);
}

TEST_F(UpkeepTickTest, UnknownDoorStateIsPolledOncePerMinute) {
    door.poll_time = h.clock.now();
    h.run_tick();
    EXPECT_TRUE(h.link.sent().empty());
    h.clock.advance(60);
    h.run_tick();
    EXPECT_TRUE(h.link.sent().empty());
    h.clock.advance(1);
    h.run_tick();
    ASSERT_EQ(h.link.sent().size(), 1u);
    EXPECT_EQ(h.link.sent()[0].cmd, 33);
    EXPECT_EQ(door.poll_time, h.clock.now());
}

TEST_F(UpkeepTickTest, AStatusQueryTheLibraryRefusesExpectsNoReplyAndIsAskedAgain) {
    door.status_poll_queued = false;  // the state is unknown: asked at every tick
    h.link.set_send_result(false);
    h.run_tick();
    ASSERT_EQ(h.link.sent().size(), 1u);
    EXPECT_EQ(h.pending.size(), 0u);  // withdrawn: a late reply pairs with nothing
    EXPECT_FALSE(door.status_poll_queued);
    h.link.set_send_result(std::nullopt);
    h.clock.advance(2);
    h.run_tick();
    ASSERT_EQ(h.link.sent().size(), 2u);
    EXPECT_EQ(h.pending.size(), 1u);
    EXPECT_TRUE(door.status_poll_queued);
}

TEST_F(UpkeepTickTest, AnOpenDoorWithItsContactClosedReadsClosedAfterFiveSeconds) {
    h.receive(26, "00000001");
    door.contact_open = ContactState::closed;  // the contact reads closed
    ASSERT_EQ(door.door_open, DoorOpenState::open);
    h.clock.advance(5);
    h.run_tick();
    EXPECT_EQ(door.door_open, DoorOpenState::open);
    h.clock.advance(1);
    h.run_tick();
    EXPECT_EQ(door.door_open, DoorOpenState::closed);
    EXPECT_EQ(h.text(door.door_open_node), "门开关状态:关");
}

TEST_F(UpkeepTickTest, AnOpenDoorWithItsContactUnknownIsAskedAgain) {
    h.receive(26, "00000001");
    h.clock.advance(6);
    h.run_tick();
    EXPECT_EQ(door.door_open, DoorOpenState::open);
    ASSERT_EQ(h.link.sent().size(), 1u);
    EXPECT_EQ(h.link.sent()[0].cmd, 33);
    EXPECT_EQ(door.opened_time, h.clock.now());
    h.clock.advance(2);
    h.run_tick();
    EXPECT_EQ(h.link.sent().size(), 1u);  // not before another five seconds
}

TEST_F(UpkeepTickTest, DoorStateAlarmsStayUntilTheControllerClearsThem) {
    h.receive(26, "00000002");
    for (int i = 0; i < 30; ++i) {
        h.clock.advance(2);
        h.run_tick();
    }
    EXPECT_EQ(h.text(door.state_node), "门禁状态:报警");
    EXPECT_EQ(door.contact_alarm, ContactAlarmState::held_open);
    EXPECT_EQ(door.state_time, h.clock.now());
    h.receive(27, "00000001");
    EXPECT_EQ(h.text(door.state_node), "门禁状态:正常");
}

TEST_F(UpkeepTickTest, ExpiredPendingCommandsArePurged) {
    DoorRecord& quiet = h.add(2);
    quiet.status_poll_queued = true;
    quiet.poll_time = h.clock.now();
    door.poll_time = h.clock.now();
    auto u = update();
    h.decoder.SendStatusQuery(u, &quiet);
    ASSERT_EQ(h.pending.size(), 1u);
    h.clock.advance(59);
    h.run_tick();
    EXPECT_EQ(h.pending.size(), 1u);
    h.clock.advance(2);
    door.poll_time = quiet.poll_time = h.clock.now();
    h.run_tick();
    EXPECT_EQ(h.pending.size(), 0u);
}

}  // namespace
}  // namespace porvex::test
