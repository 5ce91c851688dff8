#include "doors/door_directory.h"

#include <gtest/gtest.h>

#include "door_harness.h"

namespace porvex::test {
namespace {

TEST(DoorDirectory, EntryAndExitReadersBothFindTheDoor) {
    DoorHarness h;
    DoorRecord& door = h.add(1, 2, "192.168.1.10", "5768");
    EXPECT_EQ(h.dir.FindDoor("192.168.1.10", "5768", "1"), &door);
    EXPECT_EQ(h.dir.FindDoor("192.168.1.10", "5768", "2"), &door);
    EXPECT_EQ(h.dir.FindDoor("192.168.1.10", 5768, 2), &door);
    EXPECT_EQ(h.dir.FindDoor("192.168.1.10", "5768", "4"), nullptr);
    EXPECT_EQ(h.dir.FindDoor("192.168.1.11", "5768", "1"), nullptr);
}

TEST(DoorDirectory, KeysIgnoreLetterCaseAndTheFirstRowKeepsADuplicateKey) {
    DoorHarness h;
    DoorRecord& first = h.add(1, 0, "Door-Ctl.local", "5768");
    DoorRecord& second = h.add(1, 0, "door-ctl.LOCAL", "5768");
    EXPECT_EQ(h.dir.FindDoor("DOOR-CTL.local", "5768", "1"), &first);
    EXPECT_NE(&first, &second);
    EXPECT_EQ(h.dir.door_count(), 2u);  // the second row is loaded and shown
}

TEST(DoorDirectory, DoorsWithoutReadersAreShownButNeverFound) {
    DoorHarness h;
    h.add(0, -1);
    EXPECT_EQ(h.dir.door_count(), 1u);
    for (int reader : {0, -1, 1}) {
        EXPECT_EQ(h.dir.FindDoor(kIp, kPort, reader), nullptr);
    }
}

TEST(DoorDirectory, PortsAboveThe16BitSignedRangeFindTheirDoors) {
    DoorHarness h;
    DoorRecord& door = h.add(4, 0, "10.0.0.5", "40001");
    EXPECT_EQ(door.port, 40001);
    EXPECT_EQ(h.dir.FindDoor("10.0.0.5", 40001, 4), &door);
}

TEST(DoorDirectory, PortTextThatIsNotANumberLinksOnTheDefaultPort) {
    DoorHarness h;
    DoorRecord& door = h.add(1, 0, "10.0.0.5", "abc");
    EXPECT_EQ(door.port, 5768);
    EXPECT_EQ(h.dir.FindDoor("10.0.0.5", "abc", "1"), &door);  // keys keep the text
}

TEST(DoorDirectory, TreeHasOneBranchPerDoorWithAddressLeavesThenEnabledPoints) {
    DoorHarness h(PointSet().set(PointKind::last_card));
    DoorRow row{"东门", "", "192.168.1.10", "5768", 1, 2};
    Update update(h.clock.now());
    const DoorRecord& door = load_door(h.dir, update, row);
    const ServerTree& tree = h.dir.tree();
    ASSERT_EQ(tree.roots().size(), 1u);
    EXPECT_EQ(tree.text(door.door_node), "东门()");
    const auto children = tree.children(door.door_node);
    ASSERT_EQ(children.size(), 4u);
    EXPECT_EQ(tree.text(children[0]), "IP:192.168.1.10");
    EXPECT_EQ(tree.text(children[1]), "端口号:5768");
    EXPECT_EQ(tree.text(children[2]), "最后一个刷卡人卡片号码:");
    EXPECT_EQ(door.last_card_node, children[2]);
    // The swipe time comes with the card-number point.
    EXPECT_EQ(tree.text(children[3]), "最后刷卡时间:");
    EXPECT_EQ(door.swipe_time_node, children[3]);
    EXPECT_EQ(h.dir.owner(children[3]).role, LeafRole::swipe_time);
    EXPECT_EQ(h.dir.find_leaf("东门().最后刷卡时间"), children[3]);
    EXPECT_EQ(door.state_node, kNoNode);
}

TEST(DoorDirectory, WithoutTheCardNumberPointThereIsNoSwipeTime) {
    DoorHarness h(PointSet::all().without(PointKind::last_card));
    const DoorRecord& door = h.add(1, 0, kIp, "5768", "东门");
    EXPECT_EQ(door.swipe_time_node, kNoNode);
    EXPECT_FALSE(h.dir.find_leaf("东门(一层).最后刷卡时间"));
}

TEST(DoorDirectory, ADoorRepeatingANameAndLocationIsMarkedAsDuplicate) {
    DoorHarness h;
    const DoorRecord& first = h.add(1, 0, kIp, "5768", "Gate");
    const DoorRecord& second = h.add(2, 0, kIp, "5768", "Gate");
    const DoorRecord& other = h.add(4, 0, kIp, "5768", "gate");  // names differ in case
    EXPECT_EQ(h.dir.duplicate_of(first.index), nullptr);
    EXPECT_EQ(h.dir.duplicate_of(second.index), &first);
    EXPECT_EQ(h.dir.duplicate_of(other.index), nullptr);
    EXPECT_TRUE(h.dir.is_duplicate_door_node(second.door_node));
    EXPECT_FALSE(h.dir.is_duplicate_door_node(first.door_node));
}

TEST(DoorDirectory, NamesWithDotsAndParenthesesResolve) {
    DoorHarness h;
    const DoorRecord& door = h.add(1, 0, kIp, "5768", "A.1(东)");
    EXPECT_EQ(h.dir.find_leaf("A.1(东)(一层).遥控开门"), door.remote_open_node);
}

TEST(DoorDirectory, AllPointsInTheirFixedOrder) {
    DoorHarness h;
    const DoorRecord& door = h.add(1);
    const auto children = h.dir.tree().children(door.door_node);
    ASSERT_EQ(children.size(), 10u);
    const NodeId expected[] = {door.state_node,        door.remote_open_node, door.last_card_node,
                               door.invalid_card_node, door.tamper_node,      door.door_open_node,
                               door.contact_alarm_node};
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(children[i + 2], expected[i]);
    }
    EXPECT_EQ(children[9], door.swipe_time_node);
}

TEST(DoorDirectory, LeafOwnersAndItemIdsAreIndexed) {
    DoorHarness h;
    h.add(1, 0, kIp, "5768", "东门");
    const DoorRecord& second = h.add(2, 0, kIp, "5768", "西门");
    const auto owner = h.dir.owner(second.tamper_node);
    EXPECT_EQ(owner.door, &second);
    EXPECT_EQ(owner.role, LeafRole::point);
    EXPECT_EQ(owner.kind, PointKind::tamper);
    EXPECT_EQ(h.dir.owner(second.door_node).role, LeafRole::none);

    EXPECT_EQ(h.dir.find_leaf("西门(一层).防拆报警"), second.tamper_node);
    EXPECT_EQ(h.dir.owner(*h.dir.find_leaf("西门(一层).端口号")).role, LeafRole::port);
    EXPECT_FALSE(h.dir.find_leaf("西门(一层).防拆"));
    EXPECT_FALSE(h.dir.find_leaf("西门(一层)"));
}

TEST(DoorDirectory, ItemIdsAreCaseSensitiveAndTheFirstDoorOfANameWins) {
    DoorHarness h;
    const DoorRecord& first = h.add(1, 0, kIp, "5768", "Gate");
    h.add(2, 0, kIp, "5768", "Gate");
    EXPECT_EQ(h.dir.find_leaf("Gate(一层).门禁状态"), first.state_node);
    EXPECT_FALSE(h.dir.find_leaf("gate(一层).门禁状态"));
}

TEST(DoorDirectory, DisabledPointsAreNotResolvable) {
    DoorHarness h(PointSet::all().without(PointKind::contact_alarm));
    h.add(1, 0, kIp, "5768", "东门");
    EXPECT_FALSE(h.dir.find_leaf("东门(一层).门磁报警"));
    EXPECT_TRUE(h.dir.find_leaf("东门(一层).门开关状态"));
}

TEST(ServerTree, ValueHoldersGoToEveryLeafIncludingAddressLeaves) {
    DoorHarness h(PointSet().set(PointKind::door_open_state));
    const DoorRecord& door = h.add(1, 0, kIp, "5768");
    ServerTree& tree = h.dir.tree();
    EXPECT_EQ(tree.info(door.door_open_node), nullptr);
    h.dir.attach_value_holders();
    EXPECT_EQ(tree.info(door.door_node), nullptr);  // a branch has none
    const auto children = tree.children(door.door_node);
    EXPECT_EQ(tree.info(children[0])->Name, "IP");
    EXPECT_EQ(tree.info(children[0])->Value, ItemValue(std::string(kIp)));
    EXPECT_EQ(tree.info(children[1])->Name, "端口号");
    EXPECT_EQ(tree.info(children[1])->Value, ItemValue(std::int32_t{5768}));
    // A point's holder starts with the value a client reads (not a number read back
    // from the leaf's "没有监控").
    EXPECT_EQ(tree.info(door.door_open_node)->Name, "门开关状态");
    EXPECT_EQ(tree.info(door.door_open_node)->Value, ItemValue(std::int32_t{-1}));
}

}  // namespace
}  // namespace porvex::test
