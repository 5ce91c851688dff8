// The door server's alarms: controller reports decoded by the real door model become the
// hub's events and condition changes (what Porvex398's event class serves), and the
// catalog of doors and controllers.
#include <gtest/gtest.h>

#include "../app/door_harness.h"
#include "alarms/door_alarms.h"

namespace porvex {
namespace {

using namespace opc::events;

struct Alarms {
    test::DoorHarness doors;
    std::unique_ptr<TEventHub> hub;
    std::unique_ptr<DoorAlarms> alarms;
    TEventHub::TSubscriberId id = 0;

    Alarms() {
        doors.add(1);  // 门1(一层), reader 1
        doors.add(2);  // 门2(一层), reader 2
        std::vector<AlarmDoor> list;
        for (std::size_t i = 0; i < doors.dir.door_count(); ++i) {
            const DoorRecord& door = doors.dir.door(i);
            list.push_back({doors.text(door.door_node), door.ip, door.port});
        }
        hub = std::make_unique<TEventHub>(
            door_alarm_catalog(list),
            TEventClock{[] { return TMilliseconds{0}; }, [] { return TFileTime{1234}; }});
        alarms = std::make_unique<DoorAlarms>(*hub, list);
        id = hub->AddSubscriber();
    }

    void receive(int cmd, const std::string& data) {
        Update update(doors.clock.now());
        doors.decoder.DataReceive(update, test::kIp, test::kPort, 0, cmd, data);
        alarms->door_events(update.events);
    }

    std::vector<TEvent> take() {
        auto delivery = hub->TakeDue(id, 0, 0);
        return delivery ? delivery->events : std::vector<TEvent>{};
    }
};

const std::wstring kDoor1 = wide_text("门1(一层)");

TEST(DoorAlarms, EveryCardReadIsAnEventWithItsAttributes) {
    Alarms a;
    // Two records of the same card at reader 1, granted; then a refused card at reader 2.
    a.receive(kCmdCardRecords,
              "02"
              "0000ABCD"
              "01"
              "80"
              "000000000000"
              "0000ABCD"
              "01"
              "80"
              "000000000000");
    a.receive(kCmdCardRecords,
              "01"
              "12345678"
              "02"
              "10"
              "000000000000");
    const auto events = a.take();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].source, kDoor1);
    EXPECT_EQ(events[0].area, wide_text("一层"));
    EXPECT_EQ(events[0].category, door_alarms::kCardRead);
    EXPECT_EQ(events[0].message, L"card 0000ABCD granted at reader 1");
    EXPECT_EQ(std::get<std::wstring>(*FindAttribute(events[0], door_alarms::kCardAttribute)),
              L"0000ABCD");
    EXPECT_EQ(std::get<bool>(*FindAttribute(events[0], door_alarms::kGrantedAttribute)), true);
    EXPECT_EQ(std::get<std::wstring>(*FindAttribute(events[0], door_alarms::kControllerAttribute)),
              L"192.168.1.10:5768");
    EXPECT_EQ(events[1].message, events[0].message);  // the same card twice: two events
    EXPECT_EQ(events[2].source, wide_text("门2(一层)"));
    EXPECT_EQ(events[2].severity, 400u);
    EXPECT_EQ(std::get<bool>(*FindAttribute(events[2], door_alarms::kGrantedAttribute)), false);
}

TEST(DoorAlarms, ForcedDoorRaisesAndTheControllersClearEndsTheCondition) {
    Alarms a;
    a.doors.dir.door(0).door_open =
        DoorOpenState::closed;              // known closed (a fresh door is "not monitored")
    a.receive(kCmdDoorEvents, "00000002");  // reader 1: alarm bit, door closed: forced
    auto events = a.take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, kConditionEvent);
    EXPECT_EQ(events[0].condition, L"DoorAlarm");
    EXPECT_EQ(events[0].subcondition, L"ForcedEntry");
    EXPECT_EQ(events[0].severity, 800u);
    EXPECT_EQ(events[0].new_state, kStateEnabled | kStateActive);
    EXPECT_EQ(a.hub->Acknowledge(kDoor1, L"DoorAlarm", events[0].active_time, events[0].cookie,
                                 L"guard", L"checked"),
              TAckOutcome::Acknowledged);
    a.receive(kCmdAlarmsCleared, "00000001");
    events = a.take();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].change_mask, kChangeAck);
    EXPECT_EQ(events[1].change_mask & kChangeActive, kChangeActive);
    EXPECT_EQ(events[1].new_state, kStateEnabled | kStateAcked);

    a.receive(kCmdDoorEvents, "00000003");  // opened and alarm: held open
    events = a.take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].subcondition, L"HeldOpen");
    EXPECT_EQ(events[0].severity, 600u);
}

TEST(DoorAlarms, TamperAndControllerLink) {
    Alarms a;
    a.receive(kCmdTamper, "00000001");  // readers 1..8 of the controller
    auto events = a.take();
    ASSERT_EQ(events.size(), 2u);  // both doors
    EXPECT_EQ(events[0].condition, L"Tamper");

    DoorEvent down;
    down.kind = DoorEvent::Kind::link_down;
    down.ip = test::kIp;
    down.port = test::kPort;
    a.alarms->door_events(std::span(&down, 1));
    events = a.take();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].category, door_alarms::kControllerLink);
    EXPECT_EQ(events[0].message, L"link down");
    EXPECT_EQ(events[1].source, L"192.168.1.10:5768");
    EXPECT_EQ(events[1].area, L"Controllers");
    EXPECT_EQ(events[1].condition, L"ControllerOffline");
    EXPECT_EQ(events[1].new_state, kStateEnabled | kStateActive);

    DoorEvent up = down;
    up.kind = DoorEvent::Kind::link_up;
    a.alarms->door_events(std::span(&up, 1));
    events = a.take();
    ASSERT_EQ(events.size(), 4u);  // link up, offline cleared, both tampers cleared
    EXPECT_EQ(events[1].change_mask & kChangeActive, kChangeActive);
    EXPECT_EQ(events[2].condition, L"Tamper");
    EXPECT_EQ(events[2].new_state & kStateActive, 0);
}

TEST(DoorAlarms, RemoteOpenTimeoutIsAFailedTrackingEventNamingItsClient) {
    Alarms a;
    a.doors.dir.door(0).remote_open_by = "SCADA 北楼";
    Update send(a.doors.clock.now());
    ASSERT_TRUE(a.doors.decoder.SendRemoteOpen(send, &a.doors.dir.door(0)));
    a.doors.clock.advance(11.0);
    Update tick(a.doors.clock.now());
    a.doors.tick.run(tick, 10);
    a.alarms->door_events(tick.events);
    const auto events = a.take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, kTrackingEvent);
    EXPECT_EQ(events[0].message, L"remote open failed");
    EXPECT_EQ(std::get<std::wstring>(*FindAttribute(events[0], door_alarms::kClientAttribute)),
              wide_text("SCADA 北楼"));
}

TEST(DoorAlarms, CatalogOfDoorsAndControllers) {
    EXPECT_EQ(branch_location("门(A(1))"), "1)");  // the last parentheses
    EXPECT_EQ(branch_location("Door(Hall 2)"), "Hall 2");
    EXPECT_EQ(branch_location("Door"), "");
    const TEventCatalog catalog = door_alarm_catalog(
        {{"D1(Hall)", "10.0.0.1", 5768}, {"D1(Hall)", "10.0.0.1", 5768}, {"D2()", "10.0.0.2", 1}});
    EXPECT_TRUE(catalog.Source(L"D1(Hall)"));
    EXPECT_EQ(catalog.Source(L"D2()")->area, L"");
    EXPECT_EQ(catalog.ChildAreas(L""), (std::vector<std::wstring>{L"Hall", L"Controllers"}));
    EXPECT_EQ(catalog.SourcesIn(L"Controllers").size(), 2u);
    EXPECT_EQ(catalog.Sources().size(), 4u);
}

}  // namespace
}  // namespace porvex
