#include "link/event_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "door_harness.h"

namespace porvex::test {
namespace {

// One card record: card, reader, status, six further bytes.
std::string record(const std::string& card, int reader, int status) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%02X%02X000000000000", card.c_str(), reader, status);
    return text;
}

std::string records(std::initializer_list<std::string> items) {
    char count[4];
    std::snprintf(count, sizeof count, "%02X", static_cast<int>(items.size()));
    std::string out = count;
    for (const auto& r : items) {
        out += r;
    }
    return out;
}

class EventDecoderTest : public ::testing::Test {
  protected:
    // Adds a door and gives the tree its value holders (remote-open results need them).
    DoorRecord& add_attached(std::int32_t in, std::int32_t out = 0, std::string ip = kIp) {
        DoorRecord& door = h.add(in, out, std::move(ip));
        h.dir.attach_value_holders();
        return door;
    }

    DoorHarness h;
};

TEST_F(EventDecoderTest, DoorEventOpenAndAlarmBitsOnReaderOneGiveHeldOpen) {
    DoorRecord& door = h.add(1);
    h.clock.advance(7);
    h.receive(26, "00000003");
    EXPECT_EQ(door.state_time, h.clock.now());
    EXPECT_EQ(door.door_open, DoorOpenState::open);
    EXPECT_EQ(door.opened_time, h.clock.now());
    EXPECT_EQ(h.text(door.state_node), "门禁状态:报警");
    EXPECT_EQ(door.contact_alarm, ContactAlarmState::held_open);  // the open bit was applied first
    EXPECT_EQ(h.text(door.contact_alarm_node), "门磁报警:超时未关");
}

TEST_F(EventDecoderTest, DoorEventAlarmOnAClosedDoorIsForcedEntry) {
    DoorRecord& door = h.add(1);
    Update update(h.clock.now());
    h.setters(update).SetDoorOpen(&door, DoorOpenState::closed);
    h.receive(26, "00000002");
    EXPECT_EQ(door.contact_alarm, ContactAlarmState::forced_entry);
    EXPECT_EQ(h.text(door.contact_alarm_node), "门磁报警:强行闯入");
    EXPECT_EQ(h.text(door.door_open_node), "门开关状态:开");
}

TEST_F(EventDecoderTest, DoorEventBitsAddressReadersInPairs) {
    DoorRecord& r1 = h.add(1);
    DoorRecord& r8 = h.add(8);
    DoorRecord& r128 = h.add(128);
    h.receive(26, "00004040");  // reader 8 open (bit 6), reader 128 open (bit 14)
    EXPECT_EQ(r1.door_open, DoorOpenState::not_monitored);
    EXPECT_EQ(r8.door_open, DoorOpenState::open);
    EXPECT_EQ(r128.door_open, DoorOpenState::open);
    EXPECT_EQ(h.text(r8.state_node), "门禁状态:正常");
}

TEST_F(EventDecoderTest, DoorEventAlarmsFollowTheEnabledPointsOnly) {
    DoorHarness few(PointSet().set(PointKind::door_state));
    DoorRecord& door = few.add(1);
    few.receive(26, "00000002");
    EXPECT_EQ(few.text(door.state_node), "门禁状态:报警");
    EXPECT_EQ(door.contact_alarm,
              ContactAlarmState::not_monitored);  // contact-alarm point disabled: untouched
}

TEST_F(EventDecoderTest, AlarmsClearedTouchesOnlyTheReadersWhoseBitIsSet) {
    DoorRecord& r1 = h.add(1);
    DoorRecord& r2 = h.add(2);
    DoorRecord& r4 = h.add(4);
    h.receive(26, "0000002A");  // alarm bits of readers 1, 2 and 4
    ASSERT_EQ(h.text(r1.state_node), "门禁状态:报警");
    ASSERT_EQ(h.text(r4.state_node), "门禁状态:报警");
    h.receive(27, "00000005");
    EXPECT_EQ(h.text(r1.state_node), "门禁状态:正常");
    EXPECT_EQ(r1.contact_alarm, ContactAlarmState::normal);
    EXPECT_EQ(r1.contact_open, ContactState::closed);
    EXPECT_EQ(h.text(r4.state_node), "门禁状态:正常");
    EXPECT_EQ(h.text(r2.state_node), "门禁状态:报警");
}

TEST_F(EventDecoderTest, TamperGroupsSelectTheLowOrHighFourReaders) {
    std::vector<DoorRecord*> doors;
    for (int i = 0; i < 8; ++i) {
        doors.push_back(&h.add(1 << i));
    }
    h.receive(28, "00000002");
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(h.text(doors[i]->tamper_node), i < 4 ? "防拆报警:正常" : "防拆报警:报警") << i;
    }
    h.receive(28, "00000001");
    EXPECT_EQ(h.text(doors[0]->tamper_node), "防拆报警:报警");
}

TEST_F(EventDecoderTest, TamperReportIsDroppedWhileThePointIsDisabled) {
    DoorHarness few(PointSet::all().without(PointKind::tamper));
    DoorRecord& door = few.add(1);
    const Moment before = door.tamper_time;
    few.clock.advance(1);
    few.receive(28, "00000003");
    EXPECT_EQ(door.tamper_time, before);
}

TEST_F(EventDecoderTest, GrantedCardShowsTheCardAndOpensTheDoor) {
    DoorRecord& door = h.add(1);
    h.receive(30, records({record("0012ab34", 1, 0x80)}));
    EXPECT_EQ(h.text(door.last_card_node), "最后一个刷卡人卡片号码:0012AB34");
    EXPECT_EQ(door.door_open, DoorOpenState::open);
    EXPECT_EQ(door.opened_time, h.clock.now());
    EXPECT_EQ(h.text(door.invalid_card_node), "非法刷卡:");
}

TEST_F(EventDecoderTest, RefusedNoCardRecordLeavesLastCardAndShowsTheInvalidCard) {
    DoorRecord& door = h.add(1);
    h.receive(30, records({record("0012AB34", 1, 0x80)}));
    h.receive(30, records({record("55555555", 1, 0x00)}));
    EXPECT_EQ(h.text(door.last_card_node), "最后一个刷卡人卡片号码:0012AB34");
    EXPECT_EQ(h.text(door.invalid_card_node), "非法刷卡:55555555");
}

TEST_F(EventDecoderTest, CardReportsOfTheWrongLengthAreDroppedWhole) {
    DoorRecord& door = h.add(1);
    std::string two = records({record("00000001", 1, 0x80), record("00000002", 1, 0x80)});
    h.receive(30, two.substr(0, 2 + 24));  // count 02 but one record
    EXPECT_EQ(h.text(door.last_card_node), "最后一个刷卡人卡片号码:");
    h.receive(30, two + "00");  // two characters too many
    EXPECT_EQ(h.text(door.last_card_node), "最后一个刷卡人卡片号码:");
    h.receive(30, two);
    EXPECT_EQ(h.text(door.last_card_node), "最后一个刷卡人卡片号码:00000002");
    h.receive(30, "");  // no count at all: 0 records need 2 characters
    h.receive(30, "00");
    EXPECT_EQ(h.text(door.last_card_node), "最后一个刷卡人卡片号码:00000002");
}

TEST_F(EventDecoderTest, AnUnknownReaderEndsTheRecordsOfItsReport) {
    DoorRecord& r1 = h.add(1);
    DoorRecord& r2 = h.add(2);
    h.receive(30, records({record("00000001", 1, 0x00), record("00000099", 64, 0x80),
                           record("00000002", 2, 0x00)}));
    EXPECT_EQ(h.text(r1.invalid_card_node), "非法刷卡:00000001");
    EXPECT_EQ(h.text(r2.invalid_card_node), "非法刷卡:");
}

TEST_F(EventDecoderTest, ReportsOfOtherControllersAndPortsFindNoDoor) {
    DoorRecord& door = h.add(1);
    h.receive(26, "00000001", 0, "192.168.1.11", kPort);
    h.receive(26, "00000001", 0, kIp, kPort + 1);
    EXPECT_EQ(door.door_open, DoorOpenState::not_monitored);
}

TEST_F(EventDecoderTest, PortsAboveThe16BitSignedRangeReachTheirDoors) {
    DoorRecord& door = h.add(1, 0, "10.0.0.7", "40001");
    h.receive(26, "00000001", 0, "10.0.0.7", 40001);
    EXPECT_EQ(door.door_open, DoorOpenState::open);
    h.receive(26, "00000001", 0, "10.0.0.7", 40001 - 65536);  // the truncated port
    EXPECT_EQ(h.dir.FindDoor("10.0.0.7", 40001 - 65536, 1), nullptr);
}

TEST_F(EventDecoderTest, MalformedHexReadsAsNoBitsSet) {
    DoorRecord& door = h.add(1);
    h.receive(26, "0000000Z");
    EXPECT_EQ(door.door_open, DoorOpenState::not_monitored);
}

TEST_F(EventDecoderTest, RemoteOpenSendsTheReaderSumAndLocksUntilTheReply) {
    DoorRecord& door = add_attached(1, 2);
    Update update(h.clock.now());
    EXPECT_TRUE(h.decoder.SendRemoteOpen(update, &door));
    const auto sent = h.link.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].cmd, 32);
    EXPECT_EQ(sent[0].ap_code, 1);
    EXPECT_EQ(sent[0].psw, 0);
    EXPECT_EQ(sent[0].hex, "03");
    EXPECT_EQ(sent[0].port, kPort);
    EXPECT_EQ(h.text(door.remote_open_node), "遥控开门:锁定");
    EXPECT_TRUE(door.remote_open_pending);
    EXPECT_EQ(door.remote_open_time, h.clock.now());

    Update again(h.clock.now());
    EXPECT_FALSE(h.decoder.SendRemoteOpen(again, &door));  // pending: nothing sent
    EXPECT_EQ(h.link.sent().size(), 1u);

    h.receive(32, "", 1);
    EXPECT_EQ(h.text(door.remote_open_node), "遥控开门:成功");
    EXPECT_FALSE(door.remote_open_pending);
    EXPECT_EQ(door.door_open, DoorOpenState::open);
    EXPECT_EQ(h.pending.size(), 0u);
}

TEST_F(EventDecoderTest, RemoteOpenReplyWithAnotherCodeIsAFailure) {
    DoorRecord& door = add_attached(1);
    Update update(h.clock.now());
    h.decoder.SendRemoteOpen(update, &door);
    h.receive(0x40, "", 1);
    EXPECT_EQ(h.text(door.remote_open_node), "遥控开门:失败");
    EXPECT_EQ(h.dir.tree().info(door.remote_open_node)->Value, ItemValue(std::int32_t{1}));
}

TEST_F(EventDecoderTest, RemoteOpenToAnUnregisteredControllerFailsAtOnce) {
    DoorRecord& door = add_attached(1, 0, "10.9.9.9");
    Update update(h.clock.now());
    EXPECT_FALSE(h.decoder.SendRemoteOpen(update, &door));
    EXPECT_EQ(h.text(door.remote_open_node), "遥控开门:失败");
    EXPECT_FALSE(door.remote_open_pending);
    EXPECT_EQ(door.remote_open_time, kLongAgo);
    EXPECT_EQ(h.pending.size(), 0u);  // nothing can answer it
}

TEST_F(EventDecoderTest, RemoteOpenToADoorWithoutALinkIsRefusedAndNothingIsQueued) {
    for (const LinkState link : {LinkState::never_connected, LinkState::lost}) {
        DoorRecord& door = add_attached(1);
        door.link = link;
        Update update(h.clock.now());
        EXPECT_EQ(h.decoder.OpenDoor(update, &door), RemoteOpenOutcome::refused_offline);
        EXPECT_TRUE(h.link.sent().empty());
        EXPECT_EQ(h.text(door.remote_open_node), "遥控开门:失败");
        EXPECT_EQ(h.dir.tree().info(door.remote_open_node)->Value, ItemValue(std::int32_t{1}));
        EXPECT_FALSE(door.remote_open_pending);
        EXPECT_EQ(h.pending.size(), 0u);
        EXPECT_TRUE(update.remote_open_ends.empty());
    }
}

TEST_F(EventDecoderTest, OpenDoorTellsEachOutcome) {
    DoorRecord& door = add_attached(1);
    Update update(h.clock.now());
    EXPECT_EQ(h.decoder.OpenDoor(update, &door), RemoteOpenOutcome::sent);
    EXPECT_EQ(h.decoder.OpenDoor(update, &door), RemoteOpenOutcome::locked);
    h.receive(32, "", 1);
    h.link.set_send_result(false);
    EXPECT_EQ(h.decoder.OpenDoor(update, &door), RemoteOpenOutcome::refused_by_library);
    EXPECT_EQ(h.decoder.OpenDoor(update, nullptr), RemoteOpenOutcome::not_remote_open);
    EXPECT_EQ(describe(RemoteOpenOutcome::refused_offline), "refused, controller offline");
}

TEST_F(EventDecoderTest, RepliesToRemoteOpensAreReportedForTheLog) {
    DoorRecord& door = add_attached(1);
    Update update(h.clock.now());
    ASSERT_TRUE(h.decoder.SendRemoteOpen(update, &door));
    Update reply(h.clock.now());
    h.decoder.DataReceive(reply, kIp, kPort, 1, 32, "");
    ASSERT_EQ(reply.remote_open_ends.size(), 1u);
    EXPECT_EQ(reply.remote_open_ends[0].door, door.index);
    EXPECT_EQ(reply.remote_open_ends[0].result, "reply: opened");
}

TEST_F(EventDecoderTest, EveryCardReadMovesTheSwipeTimeForward) {
    DoorRecord& door = add_attached(1);
    EXPECT_EQ(door.last_swipe, 0.0);
    h.receive(30, records({record("0012AB34", 1, 0x80)}));
    const double first = door.last_swipe;
    EXPECT_GT(first, 40000.0);
    EXPECT_TRUE(h.text(door.swipe_time_node).starts_with("最后刷卡时间:20"));
    const std::vector<LeafChange> changes = h.receive(30, records({record("0012AB34", 1, 0x80)}));
    EXPECT_GT(door.last_swipe, first);  // the same card again still changes it
    EXPECT_TRUE(std::any_of(changes.begin(), changes.end(),
                            [&](const LeafChange& c) { return c.leaf == door.swipe_time_node; }));
}

TEST_F(EventDecoderTest, StatusReplySetsDoorAndContact) {
    DoorRecord& door = h.add(1);
    Update update(h.clock.now());
    ASSERT_TRUE(h.decoder.SendStatusQuery(update, &door));
    EXPECT_EQ(h.link.sent().back().cmd, 33);
    h.receive(33, "80", 1);  // open, contact open (bit 0 clear)
    EXPECT_EQ(door.door_open, DoorOpenState::open);
    EXPECT_EQ(door.contact_alarm, ContactAlarmState::normal);
    EXPECT_EQ(door.contact_open,
              ContactState::unknown);  // an open door's contact input counts as unknown
    EXPECT_EQ(h.text(door.state_node), "门禁状态:正常");

    Update second(h.clock.now());
    h.decoder.SendStatusQuery(second, &door);
    h.receive(33, "01", 2);  // closed, contact closed
    EXPECT_EQ(door.door_open, DoorOpenState::closed);
    EXPECT_EQ(door.contact_open, ContactState::closed);
    EXPECT_EQ(h.text(door.door_open_node), "门开关状态:关");
}

TEST_F(EventDecoderTest, ARemoteOpenReplyToAStatusQueryOnlyRemovesTheEntry) {
    DoorRecord& door = h.add(1);
    Update update(h.clock.now());
    h.decoder.SendStatusQuery(update, &door);
    h.receive(32, "80", 1);
    EXPECT_EQ(door.door_open, DoorOpenState::not_monitored);
    EXPECT_EQ(h.pending.size(), 0u);
}

TEST_F(EventDecoderTest, UndecodedReportCodesNeverConsumeAPendingCommand) {
    DoorRecord& door = add_attached(1);
    Update update(h.clock.now());
    h.decoder.SendRemoteOpen(update, &door);
    for (int cmd = 0x12; cmd <= 0x1F; ++cmd) {
        if (cmd != 26 && cmd != 27 && cmd != 28 && cmd != 30) {
            h.receive(cmd, "", 1);
        }
    }
    EXPECT_EQ(h.pending.size(), 1u);
    EXPECT_EQ(h.text(door.remote_open_node), "遥控开门:锁定");
}

TEST_F(EventDecoderTest, RepliesFromAnotherControllerNeverLandOnThisDoor) {
    DoorRecord& door = add_attached(1);
    h.add(1, 0, "192.168.1.11", "5768");
    Update update(h.clock.now());
    h.decoder.SendRemoteOpen(update, &door);
    h.receive(32, "", 1, "192.168.1.11", kPort);
    EXPECT_EQ(h.text(door.remote_open_node), "遥控开门:锁定");
    h.receive(32, "", 1, kIp, kPort + 1);
    EXPECT_EQ(h.text(door.remote_open_node), "遥控开门:锁定");
    h.receive(32, "", 1);
    EXPECT_EQ(h.text(door.remote_open_node), "遥控开门:成功");
}

TEST_F(EventDecoderTest, RepliesForUnknownCodesAreIgnored) {
    DoorRecord& door = h.add(1);
    h.receive(33, "80", 77);
    EXPECT_EQ(door.door_open, DoorOpenState::not_monitored);
}

TEST_F(EventDecoderTest, ReaderPayloadIsTwoUpperCaseDigits) {
    DoorRecord& door = h.add(64, 128);
    EXPECT_EQ(reader_payload(door), "C0");
    door.out_reader = 0;
    door.in_reader = 10;
    EXPECT_EQ(reader_payload(door), "0A");
}

}  // namespace
}  // namespace porvex::test
