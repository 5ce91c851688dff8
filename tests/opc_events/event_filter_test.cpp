// Subscription filters and the subscription buffer.
#include <gtest/gtest.h>

#include "opc/events/model/event_buffer.h"
#include "opc/events/model/event_filter.h"
#include "opc/events/model/wildcard.h"

namespace porvex::opc::events {
namespace {

TEvent Event(std::wstring source, std::wstring area, std::uint32_t category, std::uint32_t severity,
             std::uint32_t type = kSimpleEvent) {
    TEvent event;
    event.source = std::move(source);
    event.area = std::move(area);
    event.category = category;
    event.severity = severity;
    event.type = type;
    return event;
}

TEST(Wildcard, StarQuestionMarkAndCase) {
    EXPECT_TRUE(MatchesWildcard(L"*", L""));
    EXPECT_TRUE(MatchesWildcard(L"Site.*.Door?", L"site.North.DOOR1"));
    EXPECT_TRUE(MatchesWildcard(L"*Door*", L"Site.Door2"));
    EXPECT_FALSE(MatchesWildcard(L"Site.Door?", L"Site.Door12"));
    EXPECT_FALSE(MatchesWildcard(L"Door", L"Door1"));
    EXPECT_TRUE(MatchesWildcard(L"a*b*c", L"axxbyyc"));
    EXPECT_FALSE(MatchesWildcard(L"a*b*c", L"axxbyy"));
}

TEST(EventFilter, EmptyFilterPassesEverything) {
    EXPECT_TRUE(TEventFilter{}.Passes(Event(L"x", L"", 1, 1)));
}

TEST(EventFilter, EachCriterionRejectsOnItsOwn) {
    TEventFilter filter;
    filter.event_types = kConditionEvent;
    filter.categories = {2, 3};
    filter.low_severity = 500;
    filter.high_severity = 900;
    filter.areas = {L"Site.North"};
    filter.sources = {L"*Door1"};
    const TEvent good =
        Event(L"Site.North.Hall.Door1", L"Site.North.Hall", 2, 600, kConditionEvent);
    EXPECT_TRUE(filter.Passes(good));

    TEvent e = good;
    e.type = kSimpleEvent;
    EXPECT_FALSE(filter.Passes(e));
    e = good;
    e.category = 4;
    EXPECT_FALSE(filter.Passes(e));
    e = good;
    e.severity = 499;
    EXPECT_FALSE(filter.Passes(e));
    e.severity = 901;
    EXPECT_FALSE(filter.Passes(e));
    e = good;
    e.area = L"Site.NorthWing";  // a longer name is not a sub-area
    EXPECT_FALSE(filter.Passes(e));
    e = good;
    e.source = L"Site.North.Hall.Door2";
    EXPECT_FALSE(filter.Passes(e));
}

TEST(EventBuffer, DueByTimeOrSizeAndTakesInOrder) {
    TEventBuffer buffer(100);
    EXPECT_FALSE(buffer.Due(0, 0, 0));
    buffer.Push(Event(L"a", L"", 1, 1), 1000);
    EXPECT_TRUE(buffer.Due(1000, 0, 0));
    EXPECT_FALSE(buffer.Due(1499, 500, 0));
    EXPECT_TRUE(buffer.Due(1500, 500, 0));
    buffer.Push(Event(L"b", L"", 1, 1), 1100);
    EXPECT_TRUE(buffer.Due(1100, 500, 2));  // max size reached: no waiting

    const auto first = buffer.Take(1);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].source, L"a");
    EXPECT_EQ(buffer.Take(0).at(0).source, L"b");
    EXPECT_TRUE(buffer.Empty());
}

TEST(EventBuffer, OverflowDropsTheOldestAndCountsThem) {
    TEventBuffer buffer(3);
    for (int i = 0; i < 5; ++i) {
        buffer.Push(Event(std::to_wstring(i), L"", 1, 1), 0);
    }
    EXPECT_EQ(buffer.Size(), 3u);
    EXPECT_EQ(buffer.Lost(), 2u);
    EXPECT_EQ(buffer.TakeDropped(), 2u);
    EXPECT_EQ(buffer.TakeDropped(), 0u);
    EXPECT_EQ(buffer.Take(0).front().source, L"2");
    EXPECT_EQ(buffer.Lost(), 2u);
}

}  // namespace
}  // namespace porvex::opc::events
