#include "doors/point_setters.h"

#include <gtest/gtest.h>

#include "door_harness.h"

namespace porvex::test {
namespace {

class PointSettersTest : public ::testing::Test {
  protected:
    DoorHarness h;
    DoorRecord& door = h.add(1, 2);
    Update update{h.clock.now()};
    PointSetters set{h.dir, update};
};

TEST_F(PointSettersTest, LoadedDoorShowsDoorAndContactPointsNotMonitored) {
    EXPECT_EQ(h.text(door.state_node), "门禁状态:正常");
    EXPECT_EQ(h.text(door.remote_open_node), "遥控开门:成功");
    EXPECT_EQ(h.text(door.last_card_node), "最后一个刷卡人卡片号码:");
    EXPECT_EQ(h.text(door.invalid_card_node), "非法刷卡:");
    EXPECT_EQ(h.text(door.tamper_node), "防拆报警:正常");
    EXPECT_EQ(h.text(door.door_open_node), "门开关状态:没有监控");
    EXPECT_EQ(h.text(door.contact_alarm_node), "门磁报警:没有监控");
    EXPECT_EQ(door.door_open, DoorOpenState::not_monitored);
    EXPECT_EQ(door.contact_open, ContactState::unknown);
    EXPECT_EQ(door.contact_alarm, ContactAlarmState::not_monitored);
    EXPECT_EQ(door.opened_time, kNever);
    EXPECT_EQ(door.last_card_time, kLongAgo);
    EXPECT_EQ(door.state_time, h.clock.now());
}

TEST_F(PointSettersTest, ContactAlarmNeverSwitchesDirectlyBetweenForcedEntryAndHeldOpen) {
    set.SetContactAlarm(&door, ContactAlarmState::forced_entry);
    set.SetContactAlarm(&door, ContactAlarmState::held_open);
    EXPECT_EQ(door.contact_alarm, ContactAlarmState::forced_entry);
    EXPECT_EQ(h.text(door.contact_alarm_node), "门磁报警:强行闯入");
    set.SetContactAlarm(&door, ContactAlarmState::normal);
    set.SetContactAlarm(&door, ContactAlarmState::held_open);
    EXPECT_EQ(door.contact_alarm, ContactAlarmState::held_open);
    EXPECT_EQ(h.text(door.contact_alarm_node), "门磁报警:超时未关");
    set.SetContactAlarm(&door,
                        ContactAlarmState::held_open);  // the same value is always carried out
    EXPECT_EQ(door.contact_alarm, ContactAlarmState::held_open);
}

TEST_F(PointSettersTest, ClosedDoorReadsOpenWhileAContactAlarmStands) {
    set.SetContactAlarm(&door, ContactAlarmState::normal);
    set.SetContactAlarm(&door, ContactAlarmState::held_open);
    set.SetDoorOpen(&door, DoorOpenState::closed);
    EXPECT_EQ(h.text(door.door_open_node), "门开关状态:开");
    set.SetContactAlarm(&door, ContactAlarmState::normal);  // redraws the door-open text
    EXPECT_EQ(h.text(door.door_open_node), "门开关状态:关");
}

TEST_F(PointSettersTest, OpeningTheDoorForgetsTheContactInput) {
    set.SetContactOpen(&door, ContactState::closed);
    ASSERT_EQ(door.contact_open, ContactState::closed);
    set.SetDoorOpen(&door, DoorOpenState::open);
    EXPECT_EQ(door.door_open, DoorOpenState::open);
    EXPECT_EQ(door.contact_open, ContactState::unknown);
    EXPECT_EQ(h.text(door.door_open_node), "门开关状态:开");
    set.SetDoorOpen(&door, DoorOpenState::not_monitored);
    EXPECT_EQ(h.text(door.door_open_node), "门开关状态:没有监控");
}

TEST_F(PointSettersTest, ContactClosingClearsTheAlarm) {
    set.SetContactAlarm(&door, ContactAlarmState::forced_entry);
    set.SetDoorState(&door, AlarmState::alarm);
    set.SetContactOpen(&door, ContactState::closed);
    EXPECT_EQ(door.contact_alarm, ContactAlarmState::normal);
    EXPECT_EQ(h.text(door.state_node), "门禁状态:正常");
}

TEST_F(PointSettersTest, ContactOpeningOnAClosedUnmonitoredDoorIsForcedEntry) {
    set.SetDoorOpen(&door, DoorOpenState::closed);
    ASSERT_EQ(door.contact_alarm, ContactAlarmState::not_monitored);
    set.SetContactOpen(&door, ContactState::open);
    EXPECT_EQ(door.contact_alarm, ContactAlarmState::forced_entry);
    EXPECT_EQ(h.text(door.state_node), "门禁状态:报警");
    EXPECT_EQ(h.text(door.door_open_node), "门开关状态:开");
}

TEST_F(PointSettersTest, ContactOpeningOnAnOpenDoorIsNormal) {
    set.SetDoorOpen(&door, DoorOpenState::open);
    set.SetContactOpen(&door, ContactState::open);
    EXPECT_EQ(door.contact_alarm, ContactAlarmState::normal);
    EXPECT_EQ(h.text(door.state_node), "门禁状态:正常");
}

TEST_F(PointSettersTest, ContactOpeningWithAnAlarmAlreadyMonitoredChangesNothingElse) {
    set.SetContactAlarm(&door, ContactAlarmState::normal);
    set.SetDoorOpen(&door, DoorOpenState::closed);
    set.SetContactOpen(&door, ContactState::open);
    EXPECT_EQ(door.contact_open, ContactState::open);
    EXPECT_EQ(door.contact_alarm, ContactAlarmState::normal);
}

TEST_F(PointSettersTest, AnEmptyCardClearsOnlyTheNotMonitoredMarker) {
    set.SetInvalidCard(&door, CardShown::not_monitored());
    set.SetInvalidCard(&door, CardShown::none());
    EXPECT_EQ(h.text(door.invalid_card_node), "非法刷卡:");
    set.SetLastCard(&door, CardShown::card("0012AB34"));
    h.clock.advance(3);
    Update later(h.clock.now());
    PointSetters set_later(h.dir, later);
    set_later.SetLastCard(&door, CardShown::none());
    EXPECT_EQ(h.text(door.last_card_node), "最后一个刷卡人卡片号码:0012AB34");
    EXPECT_EQ(door.last_card_time, h.clock.now());  // renewed although nothing changed
    ASSERT_EQ(later.changes.size(), 1u);
    EXPECT_TRUE(later.changes[0].visible_refresh);
}

TEST_F(PointSettersTest, TamperRenewsItsTime) {
    h.clock.advance(5);
    Update later(h.clock.now());
    PointSetters(h.dir, later).SetTamper(&door, AlarmState::alarm);
    EXPECT_EQ(h.text(door.tamper_node), "防拆报警:报警");
    EXPECT_EQ(door.tamper_time, h.clock.now());
}

TEST_F(PointSettersTest, RemoteOpenResultNeedsAValueHolder) {
    door.remote_open_pending = true;
    set.SetRemoteOpenResult(&door, RemoteOpenResult::failure);
    EXPECT_EQ(h.text(door.remote_open_node), "遥控开门:成功");  // no holders attached yet
    EXPECT_TRUE(door.remote_open_pending);

    h.dir.attach_value_holders();
    set.SetRemoteOpenResult(&door, RemoteOpenResult::failure);
    EXPECT_EQ(h.text(door.remote_open_node), "遥控开门:失败");
    EXPECT_EQ(h.dir.tree().info(door.remote_open_node)->Value, ItemValue(std::int32_t{1}));
    EXPECT_FALSE(door.remote_open_pending);
    set.SetRemoteOpenResult(&door, RemoteOpenResult::locked);
    EXPECT_EQ(h.dir.tree().info(door.remote_open_node)->Value, ItemValue(std::int32_t{2}));
}

TEST_F(PointSettersTest, NullDoorAndMissingLeavesAreIgnored) {
    set.SetDoorState(nullptr, AlarmState::alarm);
    set.SetContactOpen(nullptr, ContactState::open);
    DoorHarness few(PointSet().set(PointKind::last_card));
    DoorRecord& bare = few.add(1);
    Update u(few.clock.now());
    PointSetters s(few.dir, u);
    s.SetDoorState(&bare, AlarmState::alarm);
    s.SetTamper(&bare, AlarmState::alarm);
    s.SetContactAlarm(&bare, ContactAlarmState::forced_entry);
    EXPECT_EQ(bare.contact_alarm,
              ContactAlarmState::forced_entry);  // the state field follows even without a leaf
    EXPECT_TRUE(u.changes.empty());
}

TEST_F(PointSettersTest, ChangesNameTheLeafAndTheRefreshWish) {
    set.SetDoorState(&door, AlarmState::alarm);
    set.SetDoorOpen(&door, DoorOpenState::closed);
    ASSERT_EQ(update.changes.size(), 2u);
    EXPECT_EQ(update.changes[0].leaf, door.state_node);
    EXPECT_TRUE(update.changes[0].visible_refresh);
    EXPECT_EQ(update.changes[1].leaf, door.door_open_node);
    EXPECT_FALSE(update.changes[1].visible_refresh);
    update.changes.clear();
    set.SetDoorOpen(&door, DoorOpenState::closed);  // same text, no refresh wish: nothing to report
    EXPECT_TRUE(update.changes.empty());
}

}  // namespace
}  // namespace porvex::test
