// The hub between the application and the subscriptions: catalog, distribution by filter,
// acknowledgement, enabling by source and area, refresh snapshots, overflow reports, and
// events posted from other threads.
#include <gtest/gtest.h>

#include <thread>

#include "opc/events/model/event_hub.h"

namespace porvex::opc::events {
namespace {

constexpr std::uint32_t kAccess = 1;
constexpr std::uint32_t kAlarm = 2;

TEventCatalog Catalog() {
    TEventCatalog catalog;
    catalog.AddCategory({kAccess, kSimpleEvent, L"Access", {{1, L"Card", kTypeText}}});
    catalog.AddCategory({kAlarm, kConditionEvent, L"Door alarm", {}});
    catalog.AddCondition(
        {L"DoorForced", kAlarm, {{L"DoorForced", L"forced", 800, L"Door forced"}}});
    catalog.AddSource({L"Site.North.Door1", L"Site.North", {L"DoorForced"}});
    catalog.AddSource({L"Site.South.Door2", L"Site.South", {L"DoorForced"}});
    return catalog;
}

struct Clock {
    TMilliseconds ms = 1000;
    TFileTime ft = 5000;
    TEventClock Functions() {
        return {[this] { return ms; }, [this] { return ft; }};
    }
};

TEvent Card(const std::wstring& source) {
    TEvent event;
    event.source = source;
    event.category = kAccess;
    event.attributes.push_back({1, std::wstring(L"123")});
    return event;
}

TEST(EventCatalog, AreasAndSources) {
    const TEventCatalog catalog = Catalog();
    EXPECT_EQ(catalog.ChildAreas(L""), std::vector<std::wstring>{L"Site"});
    EXPECT_EQ(catalog.ChildAreas(L"Site"), (std::vector<std::wstring>{L"North", L"South"}));
    EXPECT_TRUE(catalog.IsArea(L"Site.North"));
    EXPECT_FALSE(catalog.IsArea(L"Site.Nor"));
    ASSERT_EQ(catalog.SourcesIn(L"Site.North").size(), 1u);
    EXPECT_EQ(TEventCatalog::ShortSourceName(*catalog.SourcesIn(L"Site.North")[0]), L"Door1");
    EXPECT_TRUE(catalog.Category(kServerCategory));
    EXPECT_THROW(TEventCatalog().AddSource({L"x", L"", {L"Unknown"}}), std::invalid_argument);
}

TEST(EventHub, EventsReachTheSubscribersWhoseFilterPasses) {
    Clock clock;
    TEventHub hub(Catalog(), clock.Functions());
    const auto all = hub.AddSubscriber();
    const auto south = hub.AddSubscriber();
    TEventFilter filter;
    filter.areas = {L"Site.South"};
    hub.SetFilter(south, filter);

    hub.Post(Card(L"Site.North.Door1"));
    hub.Post(Card(L"Site.North.Door1"));  // the same card twice: two events
    const auto delivery = hub.TakeDue(all, 0, 0);
    ASSERT_TRUE(delivery);
    ASSERT_EQ(delivery->events.size(), 2u);
    EXPECT_EQ(delivery->events[0].area, L"Site.North");
    EXPECT_EQ(delivery->events[0].time, 5000u);
    EXPECT_FALSE(hub.TakeDue(south, 0, 0));

    hub.SetActive(south, false);
    hub.Post(Card(L"Site.South.Door2"));
    EXPECT_FALSE(hub.TakeDue(south, 0, 0));
    hub.RemoveSubscriber(all);
    EXPECT_FALSE(hub.TakeDue(all, 0, 0));
}

TEST(EventHub, BufferTimeHoldsEventsBack) {
    Clock clock;
    TEventHub hub(Catalog(), clock.Functions());
    const auto id = hub.AddSubscriber();
    hub.Post(Card(L"Site.North.Door1"));
    EXPECT_FALSE(hub.TakeDue(id, 500, 0));
    clock.ms += 500;
    EXPECT_TRUE(hub.TakeDue(id, 500, 0));
}

TEST(EventHub, ConditionLifecycleWithAcknowledgement) {
    Clock clock;
    TEventHub hub(Catalog(), clock.Functions());
    const auto id = hub.AddSubscriber();
    EXPECT_FALSE(hub.SetCondition(L"Nowhere", L"DoorForced", true, 0, L"DoorForced", 0, L""));
    ASSERT_TRUE(hub.SetCondition(L"Site.North.Door1", L"DoorForced", true, 6000, L"DoorForced", 0,
                                 L"forced"));
    auto raised = hub.TakeDue(id, 0, 0);
    ASSERT_TRUE(raised);
    ASSERT_EQ(raised->events.size(), 1u);
    const TEvent alarm = raised->events[0];
    EXPECT_EQ(alarm.severity, 800u);  // from the subcondition
    EXPECT_EQ(alarm.area, L"Site.North");

    EXPECT_EQ(hub.ReportableConditions({}).size(), 1u);
    EXPECT_EQ(hub.Acknowledge(L"Site.North.Door1", L"DoorForced", alarm.active_time + 1,
                              alarm.cookie, L"op", L""),
              TAckOutcome::WrongActivation);
    EXPECT_EQ(hub.Acknowledge(L"Nowhere", L"DoorForced", 0, 0, L"op", L""),
              TAckOutcome::UnknownSource);
    EXPECT_EQ(hub.Acknowledge(L"Site.North.Door1", L"Other", 0, 0, L"op", L""),
              TAckOutcome::UnknownCondition);
    clock.ft = 7000;
    EXPECT_EQ(hub.Acknowledge(L"Site.North.Door1", L"DoorForced", alarm.active_time, alarm.cookie,
                              L"op", L"checked"),
              TAckOutcome::Acknowledged);
    const auto report = hub.ConditionState(L"Site.North.Door1", L"DoorForced");
    ASSERT_TRUE(report);
    EXPECT_EQ(report->state, kStateEnabled | kStateActive | kStateAcked);
    EXPECT_EQ(report->acknowledger, L"op");
    EXPECT_EQ(report->comment, L"checked");
    EXPECT_EQ(report->last_ack_time, 7000u);

    ASSERT_TRUE(hub.SetCondition(L"Site.North.Door1", L"DoorForced", false, 8000, L"", 0, L""));
    const auto rest = hub.TakeDue(id, 0, 0);
    ASSERT_TRUE(rest);
    ASSERT_EQ(rest->events.size(), 2u);
    EXPECT_EQ(rest->events[0].change_mask, kChangeAck);
    EXPECT_EQ(rest->events[1].change_mask & kChangeActive, kChangeActive);
    EXPECT_TRUE(hub.ReportableConditions({}).empty());
}

TEST(EventHub, EnableAndDisableBySourceAndArea) {
    Clock clock;
    TEventHub hub(Catalog(), clock.Functions());
    EXPECT_FALSE(hub.EnableSource(L"Nowhere", false));
    EXPECT_FALSE(hub.EnableArea(L"Nowhere", false));
    ASSERT_TRUE(hub.EnableArea(L"Site.South", false));
    EXPECT_EQ(hub.ConditionState(L"Site.South.Door2", L"DoorForced")->state, kStateAcked);
    EXPECT_EQ(hub.ConditionState(L"Site.North.Door1", L"DoorForced")->state,
              kStateEnabled | kStateAcked);
    ASSERT_TRUE(hub.EnableArea(L"", false));
    ASSERT_TRUE(hub.EnableSource(L"Site.North.Door1", true));
    EXPECT_EQ(hub.ConditionState(L"Site.North.Door1", L"DoorForced")->state,
              kStateEnabled | kStateAcked);
}

TEST(EventHub, FullBufferIsReportedWithTheNextDelivery) {
    Clock clock;
    TEventHub hub(Catalog(), clock.Functions());
    const auto id = hub.AddSubscriber(2);
    for (int i = 0; i < 5; ++i) {
        hub.Post(Card(L"Site.North.Door1"));
    }
    const auto delivery = hub.TakeDue(id, 0, 2);
    ASSERT_TRUE(delivery);
    EXPECT_EQ(delivery->dropped, 3u);
    ASSERT_EQ(delivery->events.size(), 2u);  // the report and one event (max size 2)
    EXPECT_EQ(delivery->events[0].category, kServerCategory);
    ASSERT_EQ(delivery->events[0].attributes.size(), 1u);
    EXPECT_EQ(std::get<std::int32_t>(delivery->events[0].attributes[0].value), 3);
    EXPECT_EQ(hub.Lost(id), 3u);
    const auto rest = hub.TakeDue(id, 0, 2);
    ASSERT_TRUE(rest);
    EXPECT_EQ(rest->events.size(), 1u);
    EXPECT_EQ(rest->dropped, 0u);
}

TEST(EventHub, CatalogReplacedWhileEventsArrive) {
    Clock clock;
    TEventHub hub(TEventCatalog(), clock.Functions());
    const auto id = hub.AddSubscriber();
    EXPECT_FALSE(hub.SetCondition(L"Site.North.Door1", L"DoorForced", true, 0, L"", 0, L""));
    std::thread poster([&] {
        for (int i = 0; i < 2000; ++i) {
            hub.Post(Card(L"Site.North.Door1"));
        }
    });
    hub.ReplaceCatalog(Catalog());
    poster.join();
    EXPECT_TRUE(hub.Catalog().Source(L"Site.North.Door1"));
    EXPECT_TRUE(
        hub.SetCondition(L"Site.North.Door1", L"DoorForced", true, 0, L"DoorForced", 0, L"m"));
    const auto delivery = hub.TakeDue(id, 0, 0);
    ASSERT_TRUE(delivery);
    EXPECT_EQ(delivery->events.size(), 2001u);
    EXPECT_EQ(delivery->events.back().area, L"Site.North");
}

TEST(EventHub, PostsFromOtherThreadsAllArrive) {
    Clock clock;
    TEventHub hub(Catalog(), clock.Functions());
    const auto id = hub.AddSubscriber();
    std::size_t received = 0;
    std::thread poster([&] {
        for (int i = 0; i < 2000; ++i) {
            hub.Post(Card(L"Site.North.Door1"));
            (void)hub.SetCondition(L"Site.South.Door2", L"DoorForced", i % 2 == 0, 0, L"DoorForced",
                                   0, L"m");
        }
    });
    while (received < 4000) {
        if (auto delivery = hub.TakeDue(id, 0, 100)) {
            received += delivery->events.size();
        } else {
            std::this_thread::yield();
        }
    }
    poster.join();
    EXPECT_EQ(received, 4000u);
    EXPECT_EQ(hub.Lost(id), 0u);
}

}  // namespace
}  // namespace porvex::opc::events
