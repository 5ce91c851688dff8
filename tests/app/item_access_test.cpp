#include "doors/item_access.h"

#include <gtest/gtest.h>

#include "door_harness.h"

namespace porvex::test {
namespace {

class ItemAccessTest : public ::testing::Test {
  protected:
    void SetUp() override { h.dir.attach_value_holders(); }

    ItemValue read(NodeId leaf) { return read_leaf_value(h.dir, leaf).value(); }
    bool write(NodeId leaf, ItemValue value) {
        Update update(h.clock.now());
        return write_leaf_value(h.dir, h.decoder, update, leaf, value) == RemoteOpenOutcome::sent;
    }

    DoorHarness h;
    DoorRecord& door = h.add(1);
};

TEST_F(ItemAccessTest, WordPointsReadAsNumbers) {
    EXPECT_EQ(read(door.state_node), ItemValue(std::int32_t{0}));
    h.receive(26, "00000002");
    EXPECT_EQ(read(door.state_node), ItemValue(std::int32_t{1}));
    h.receive(28, "00000001");
    EXPECT_EQ(read(door.tamper_node), ItemValue(std::int32_t{1}));
    Update update(h.clock.now());
    h.setters(update).SetTamper(&door, AlarmState::not_monitored);
    EXPECT_EQ(read(door.tamper_node), ItemValue(std::int32_t{2}));
    EXPECT_EQ(h.dir.tree().info(door.tamper_node)->Value, ItemValue(std::int32_t{2}));
}

TEST_F(ItemAccessTest, StatePointsReadTheirFields) {
    EXPECT_EQ(read(door.door_open_node), ItemValue(std::int32_t{-1}));
    EXPECT_EQ(read(door.contact_alarm_node), ItemValue(std::int32_t{-1}));
    Update update(h.clock.now());
    auto set = h.setters(update);
    set.SetDoorOpen(&door, DoorOpenState::closed);
    set.SetContactAlarm(&door, ContactAlarmState::forced_entry);
    // A closed door during a forced-entry alarm reads as a one-byte 1.
    EXPECT_EQ(read(door.door_open_node), ItemValue(std::uint8_t{1}));
    EXPECT_EQ(read(door.contact_alarm_node), ItemValue(std::int32_t{1}));
}

TEST_F(ItemAccessTest, CardPointsReadEightByteTextsOnly) {
    EXPECT_EQ(read(door.last_card_node), ItemValue(std::string("0")));
    h.receive(30,
              "01"
              "0012AB34"
              "01"
              "80"
              "000000000000");
    EXPECT_EQ(read(door.last_card_node), ItemValue(std::string("0012AB34")));
    Update update(h.clock.now());
    h.setters(update).SetLastCard(&door, CardShown::not_monitored());
    EXPECT_EQ(read(door.last_card_node), ItemValue(std::string("没有监控")));
    h.setters(update).SetInvalidCard(&door, CardShown::card("123"));
    EXPECT_EQ(read(door.invalid_card_node), ItemValue(std::string("0")));
}

TEST_F(ItemAccessTest, AddressLeavesReadTheirStoredValues) {
    const auto children = h.dir.tree().children(door.door_node);
    EXPECT_EQ(read(children[0]), ItemValue(std::string(kIp)));
    EXPECT_EQ(read(children[1]), ItemValue(std::int32_t{kPort}));
    EXPECT_FALSE(read_leaf_value(h.dir, door.door_node));
    EXPECT_FALSE(read_leaf_value(h.dir, 999999));
}

TEST_F(ItemAccessTest, WritingOneLocksAndTheReplyUnlocks) {
    EXPECT_TRUE(write(door.remote_open_node, std::int32_t{1}));
    EXPECT_EQ(h.text(door.remote_open_node), "遥控开门:锁定");
    EXPECT_EQ(read(door.remote_open_node), ItemValue(std::int32_t{2}));
    EXPECT_FALSE(write(door.remote_open_node, std::int32_t{1}));  // one command only
    EXPECT_EQ(h.link.sent().size(), 1u);
    EXPECT_EQ(read(door.remote_open_node), ItemValue(std::int32_t{2}));
    h.receive(32, "", h.link.sent()[0].ap_code);
    EXPECT_EQ(h.text(door.remote_open_node), "遥控开门:成功");
    EXPECT_EQ(read(door.remote_open_node), ItemValue(std::int32_t{0}));
    EXPECT_EQ(read(door.door_open_node), ItemValue(std::int32_t{1}));
}

TEST_F(ItemAccessTest, WritingAnythingElseShowsFailureAndSendsNothing) {
    EXPECT_FALSE(write(door.remote_open_node, std::int32_t{0}));
    EXPECT_EQ(h.text(door.remote_open_node), "遥控开门:失败");
    EXPECT_EQ(read(door.remote_open_node), ItemValue(std::int32_t{1}));
    EXPECT_FALSE(write(door.remote_open_node, std::string("2")));
    EXPECT_TRUE(h.link.sent().empty());
    EXPECT_TRUE(write(door.remote_open_node, std::string("1")));
}

TEST_F(ItemAccessTest, WritesToOtherLeavesAreIgnored) {
    const std::string before = h.text(door.state_node);
    EXPECT_FALSE(write(door.state_node, std::int32_t{1}));
    EXPECT_EQ(h.text(door.state_node), before);
    EXPECT_TRUE(h.link.sent().empty());
}

}  // namespace
}  // namespace porvex::test
