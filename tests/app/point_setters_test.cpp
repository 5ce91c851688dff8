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
    EXPECT_EQ(h.text(door.StateNode), "门禁状态:正常");
    EXPECT_EQ(h.text(door.RemoteOpenNode), "遥控开门:成功");
    EXPECT_EQ(h.text(door.LastCardNode), "最后一个刷卡人卡片号码:");
    EXPECT_EQ(h.text(door.InvalidCardNode), "非法刷卡:");
    EXPECT_EQ(h.text(door.TamperNode), "防拆报警:正常");
    EXPECT_EQ(h.text(door.DoorOpenNode), "门开关状态:没有监控");
    EXPECT_EQ(h.text(door.ContactAlarmNode), "门磁报警:没有监控");
    EXPECT_EQ(door.DoorOpen, -1);
    EXPECT_EQ(door.ContactOpen, -1);
    EXPECT_EQ(door.ContactAlarm, -1);
    EXPECT_EQ(door.OpenedTime, kNever);
    EXPECT_EQ(door.LastCardTime, kLongAgo);
    EXPECT_EQ(door.StateTime, h.clock.now());
}

TEST_F(PointSettersTest, ContactAlarmNeverSwitchesDirectlyBetweenForcedEntryAndHeldOpen) {
    set.SetContactAlarm(&door, 1);
    set.SetContactAlarm(&door, 2);
    EXPECT_EQ(door.ContactAlarm, 1);
    EXPECT_EQ(h.text(door.ContactAlarmNode), "门磁报警:强行闯入");
    set.SetContactAlarm(&door, 0);
    set.SetContactAlarm(&door, 2);
    EXPECT_EQ(door.ContactAlarm, 2);
    EXPECT_EQ(h.text(door.ContactAlarmNode), "门磁报警:超时未关");
    set.SetContactAlarm(&door, 2);  // the same value is always carried out
    EXPECT_EQ(door.ContactAlarm, 2);
}

TEST_F(PointSettersTest, ClosedDoorReadsOpenWhileAContactAlarmStands) {
    set.SetContactAlarm(&door, 0);
    set.SetContactAlarm(&door, 2);
    set.SetDoorOpen(&door, 0);
    EXPECT_EQ(h.text(door.DoorOpenNode), "门开关状态:开");
    set.SetContactAlarm(&door, 0);  // redraws the door-open text
    EXPECT_EQ(h.text(door.DoorOpenNode), "门开关状态:关");
}

TEST_F(PointSettersTest, OpeningTheDoorForgetsTheContactInput) {
    set.SetContactOpen(&door, 0);
    ASSERT_EQ(door.ContactOpen, 0);
    set.SetDoorOpen(&door, 1);
    EXPECT_EQ(door.DoorOpen, 1);
    EXPECT_EQ(door.ContactOpen, -1);
    EXPECT_EQ(h.text(door.DoorOpenNode), "门开关状态:开");
    set.SetDoorOpen(&door, 7);
    EXPECT_EQ(h.text(door.DoorOpenNode), "门开关状态:没有监控");
}

TEST_F(PointSettersTest, ContactClosingClearsTheAlarm) {
    set.SetContactAlarm(&door, 1);
    set.SetDoorState(&door, "报警");
    set.SetContactOpen(&door, 0);
    EXPECT_EQ(door.ContactAlarm, 0);
    EXPECT_EQ(h.text(door.StateNode), "门禁状态:正常");
}

TEST_F(PointSettersTest, ContactOpeningOnAClosedUnmonitoredDoorIsForcedEntry) {
    set.SetDoorOpen(&door, 0);
    ASSERT_EQ(door.ContactAlarm, -1);
    set.SetContactOpen(&door, 1);
    EXPECT_EQ(door.ContactAlarm, 1);
    EXPECT_EQ(h.text(door.StateNode), "门禁状态:报警");
    EXPECT_EQ(h.text(door.DoorOpenNode), "门开关状态:开");
}

TEST_F(PointSettersTest, ContactOpeningOnAnOpenDoorIsNormal) {
    set.SetDoorOpen(&door, 1);
    set.SetContactOpen(&door, 1);
    EXPECT_EQ(door.ContactAlarm, 0);
    EXPECT_EQ(h.text(door.StateNode), "门禁状态:正常");
}

TEST_F(PointSettersTest, ContactOpeningWithAnAlarmAlreadyMonitoredChangesNothingElse) {
    set.SetContactAlarm(&door, 0);
    set.SetDoorOpen(&door, 0);
    set.SetContactOpen(&door, 1);
    EXPECT_EQ(door.ContactOpen, 1);
    EXPECT_EQ(door.ContactAlarm, 0);
}

TEST_F(PointSettersTest, AnEmptyCardClearsOnlyTheNotMonitoredMarker) {
    set.SetInvalidCard(&door, "没有监控");
    set.SetInvalidCard(&door, "");
    EXPECT_EQ(h.text(door.InvalidCardNode), "非法刷卡:");
    set.SetLastCard(&door, "0012AB34");
    h.clock.advance(3);
    Update later(h.clock.now());
    PointSetters set_later(h.dir, later);
    set_later.SetLastCard(&door, "");
    EXPECT_EQ(h.text(door.LastCardNode), "最后一个刷卡人卡片号码:0012AB34");
    EXPECT_EQ(door.LastCardTime, h.clock.now());  // renewed although nothing changed
    ASSERT_EQ(later.changes.size(), 1u);
    EXPECT_TRUE(later.changes[0].visible_refresh);
}

TEST_F(PointSettersTest, TamperRenewsItsTime) {
    h.clock.advance(5);
    Update later(h.clock.now());
    PointSetters(h.dir, later).SetTamper(&door, "报警");
    EXPECT_EQ(h.text(door.TamperNode), "防拆报警:报警");
    EXPECT_EQ(door.TamperTime, h.clock.now());
}

TEST_F(PointSettersTest, RemoteOpenResultNeedsAValueHolder) {
    door.RemoteOpenPending = true;
    set.SetRemoteOpenResult(&door, "失败");
    EXPECT_EQ(h.text(door.RemoteOpenNode), "遥控开门:成功");  // no holders attached yet
    EXPECT_TRUE(door.RemoteOpenPending);

    h.dir.tree().attach_value_holders();
    set.SetRemoteOpenResult(&door, "失败");
    EXPECT_EQ(h.text(door.RemoteOpenNode), "遥控开门:失败");
    EXPECT_EQ(h.dir.tree().info(door.RemoteOpenNode)->Value, ItemValue(std::int32_t{1}));
    EXPECT_FALSE(door.RemoteOpenPending);
    set.SetRemoteOpenResult(&door, "锁定");
    EXPECT_EQ(h.dir.tree().info(door.RemoteOpenNode)->Value, ItemValue(std::int32_t{2}));
}

TEST_F(PointSettersTest, NullDoorAndMissingLeavesAreIgnored) {
    set.SetDoorState(nullptr, "报警");
    set.SetContactOpen(nullptr, 1);
    DoorHarness few(PointSet().set(PointKind::last_card));
    DoorRecord& bare = few.add(1);
    Update u(few.clock.now());
    PointSetters s(few.dir, u);
    s.SetDoorState(&bare, "报警");
    s.SetTamper(&bare, "报警");
    s.SetContactAlarm(&bare, 1);
    EXPECT_EQ(bare.ContactAlarm, 1);  // the state field follows even without a leaf
    EXPECT_TRUE(u.changes.empty());
}

TEST_F(PointSettersTest, ChangesNameTheLeafAndTheRefreshWish) {
    set.SetDoorState(&door, "报警");
    set.SetDoorOpen(&door, 0);
    ASSERT_EQ(update.changes.size(), 2u);
    EXPECT_EQ(update.changes[0].leaf, door.StateNode);
    EXPECT_TRUE(update.changes[0].visible_refresh);
    EXPECT_EQ(update.changes[1].leaf, door.DoorOpenNode);
    EXPECT_FALSE(update.changes[1].visible_refresh);
    update.changes.clear();
    set.SetDoorOpen(&door, 0);  // same text, no refresh wish: nothing to report
    EXPECT_TRUE(update.changes.empty());
}

}  // namespace
}  // namespace porvex::test
