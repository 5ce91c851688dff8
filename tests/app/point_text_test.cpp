#include "doors/point_text.h"

#include <gtest/gtest.h>

#include "doors/item_access.h"

namespace porvex {
namespace {

// Every state a point can take, with the text its leaf shows and the value a client
// reads: the two views of one typed state.
TEST(PointText, EveryStateHasItsTextAndItsValue) {
    DoorRecord door;
    struct Case {
        PointKind kind;
        void (*set)(DoorRecord&);
        const char* text;
        ItemValue value;
    };
    const Case cases[] = {
        {PointKind::door_state, [](DoorRecord& d) { d.door_state = AlarmState::normal; },
         "门禁状态:正常", std::int32_t{0}},
        {PointKind::door_state, [](DoorRecord& d) { d.door_state = AlarmState::alarm; },
         "门禁状态:报警", std::int32_t{1}},
        {PointKind::door_state, [](DoorRecord& d) { d.door_state = AlarmState::not_monitored; },
         "门禁状态:没有监控", std::int32_t{2}},
        {PointKind::tamper, [](DoorRecord& d) { d.tamper = AlarmState::alarm; }, "防拆报警:报警",
         std::int32_t{1}},
        {PointKind::remote_open, [](DoorRecord& d) { d.remote_open = RemoteOpenResult::success; },
         "遥控开门:成功", std::int32_t{0}},
        {PointKind::remote_open, [](DoorRecord& d) { d.remote_open = RemoteOpenResult::failure; },
         "遥控开门:失败", std::int32_t{1}},
        {PointKind::remote_open, [](DoorRecord& d) { d.remote_open = RemoteOpenResult::locked; },
         "遥控开门:锁定", std::int32_t{2}},
        {PointKind::last_card, [](DoorRecord& d) { d.last_card = CardShown::none(); },
         "最后一个刷卡人卡片号码:", std::string("0")},
        {PointKind::last_card, [](DoorRecord& d) { d.last_card = CardShown::card("0012AB34"); },
         "最后一个刷卡人卡片号码:0012AB34", std::string("0012AB34")},
        {PointKind::invalid_card, [](DoorRecord& d) { d.invalid_card = CardShown::card("123"); },
         "非法刷卡:123", std::string("0")},
        {PointKind::invalid_card,
         [](DoorRecord& d) { d.invalid_card = CardShown::not_monitored(); }, "非法刷卡:没有监控",
         std::string("没有监控")},
        {PointKind::door_open_state,
         [](DoorRecord& d) {
             d.door_open = DoorOpenState::not_monitored;
             d.contact_alarm = ContactAlarmState::not_monitored;
         },
         "门开关状态:没有监控", std::int32_t{-1}},
        {PointKind::door_open_state, [](DoorRecord& d) { d.door_open = DoorOpenState::closed; },
         "门开关状态:关", std::int32_t{0}},
        {PointKind::door_open_state, [](DoorRecord& d) { d.door_open = DoorOpenState::open; },
         "门开关状态:开", std::int32_t{1}},
        {PointKind::door_open_state,
         [](DoorRecord& d) {
             d.door_open = DoorOpenState::closed;
             d.contact_alarm = ContactAlarmState::held_open;
         },
         "门开关状态:开", std::uint8_t{1}},
        {PointKind::contact_alarm,
         [](DoorRecord& d) { d.contact_alarm = ContactAlarmState::not_monitored; },
         "门磁报警:没有监控", std::int32_t{-1}},
        {PointKind::contact_alarm,
         [](DoorRecord& d) { d.contact_alarm = ContactAlarmState::normal; }, "门磁报警:正常",
         std::int32_t{0}},
        {PointKind::contact_alarm,
         [](DoorRecord& d) { d.contact_alarm = ContactAlarmState::forced_entry; },
         "门磁报警:强行闯入", std::int32_t{1}},
        {PointKind::contact_alarm,
         [](DoorRecord& d) { d.contact_alarm = ContactAlarmState::held_open; }, "门磁报警:超时未关",
         std::int32_t{2}},
    };
    for (const Case& c : cases) {
        c.set(door);
        EXPECT_EQ(point_text(door, c.kind), c.text);
        EXPECT_EQ(point_value(door, c.kind), c.value) << c.text;
    }
}

TEST(PointText, ANewRecordShowsWhatItsLeavesAreCreatedWith) {
    const DoorRecord door;
    for (PointKind kind : {PointKind::door_state, PointKind::remote_open, PointKind::last_card,
                           PointKind::invalid_card, PointKind::tamper}) {
        EXPECT_EQ(point_text(door, kind), info(kind).creation_text);
    }
}

}  // namespace
}  // namespace porvex
