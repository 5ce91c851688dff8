// The condition state machine: the transitions a door alarm goes through and the change
// masks and states each reports.
#include <gtest/gtest.h>

#include "opc/events/model/condition_state.h"

namespace porvex::opc::events {
namespace {

TConditionState MakeCondition() {
    TEvent identity;
    identity.source = L"Site.Door1";
    identity.condition = L"DoorForced";
    identity.category = 2;
    return TConditionState(identity, 7);
}

TEST(ConditionState, RaiseAcknowledgeClear) {
    TConditionState condition = MakeCondition();
    EXPECT_EQ(condition.State(), kStateEnabled | kStateAcked);
    EXPECT_FALSE(condition.Reportable());

    const auto raised = condition.Activate(100, L"Forced", 800, L"door forced", {});
    ASSERT_TRUE(raised);
    EXPECT_EQ(raised->change_mask & (kChangeActive | kChangeAck), kChangeActive | kChangeAck);
    EXPECT_EQ(raised->new_state, kStateEnabled | kStateActive);
    EXPECT_TRUE(raised->ack_required);
    EXPECT_EQ(raised->active_time, 100u);
    EXPECT_EQ(raised->cookie, 7u);
    EXPECT_EQ(raised->type, kConditionEvent);
    EXPECT_TRUE(condition.Reportable());

    std::optional<TEvent> acked;
    EXPECT_EQ(condition.Acknowledge(100, 7, L"operator", L"seen", 150, acked),
              TAckResult::Acknowledged);
    ASSERT_TRUE(acked);
    EXPECT_EQ(acked->change_mask, kChangeAck);
    EXPECT_EQ(acked->new_state, kStateEnabled | kStateActive | kStateAcked);
    EXPECT_EQ(acked->actor, L"operator");
    EXPECT_EQ(condition.Comment(), L"seen");
    EXPECT_EQ(condition.LastAckTime(), 150u);
    EXPECT_EQ(condition.Acknowledge(100, 7, L"operator", L"", 160, acked),
              TAckResult::AlreadyAcknowledged);
    EXPECT_FALSE(acked);

    const auto cleared = condition.Deactivate(200, L"door forced");
    ASSERT_TRUE(cleared);
    EXPECT_EQ(cleared->change_mask, kChangeActive);
    EXPECT_EQ(cleared->new_state, kStateEnabled | kStateAcked);
    EXPECT_FALSE(condition.Reportable());
    EXPECT_FALSE(condition.Deactivate(210, L"door forced"));
}

TEST(ConditionState, ClearedUnacknowledgedStaysReportableAndAckNeedsTheActivation) {
    TConditionState condition = MakeCondition();
    ASSERT_TRUE(condition.Activate(100, L"Forced", 800, L"m", {}));
    ASSERT_TRUE(condition.Deactivate(120, L"m"));
    EXPECT_TRUE(condition.Reportable());
    EXPECT_EQ(condition.State(), kStateEnabled);

    // A second activation gets a new active time; an ack of the first one is refused.
    const auto again = condition.Activate(300, L"Forced", 800, L"m", {});
    ASSERT_TRUE(again);
    EXPECT_EQ(again->change_mask, kChangeActive);  // it was not acknowledged in between
    std::optional<TEvent> acked;
    EXPECT_EQ(condition.Acknowledge(100, 7, L"op", L"", 310, acked), TAckResult::WrongActivation);
    EXPECT_EQ(condition.Acknowledge(300, 8, L"op", L"", 310, acked), TAckResult::WrongActivation);
    EXPECT_FALSE(acked);
    EXPECT_EQ(condition.Acknowledge(300, 7, L"op", L"", 310, acked), TAckResult::Acknowledged);
}

TEST(ConditionState, ChangesWhileActiveReportOnlyWhatChanged) {
    TConditionState condition = MakeCondition();
    ASSERT_TRUE(condition.Activate(100, L"Forced", 800, L"m", {}));
    EXPECT_FALSE(condition.Activate(110, L"Forced", 800, L"m", {}));
    const auto worse = condition.Activate(120, L"Forced", 900, L"m", {});
    ASSERT_TRUE(worse);
    EXPECT_EQ(worse->change_mask, kChangeSeverity);
    EXPECT_EQ(worse->active_time, 100u);
}

TEST(ConditionState, DisabledConditionsAreSilentAndEnablingAnActiveSourceActivates) {
    TConditionState condition = MakeCondition();
    const auto disabled = condition.SetEnabled(false, 50);
    ASSERT_TRUE(disabled);
    EXPECT_EQ(disabled->change_mask, kChangeEnable);
    EXPECT_EQ(disabled->new_state, kStateAcked);
    EXPECT_FALSE(condition.SetEnabled(false, 51));

    EXPECT_FALSE(condition.Activate(100, L"Forced", 800, L"m", {}));
    EXPECT_FALSE(condition.Reportable());

    const auto enabled = condition.SetEnabled(true, 200);
    ASSERT_TRUE(enabled);
    EXPECT_EQ(enabled->change_mask, kChangeEnable | kChangeActive | kChangeAck);
    EXPECT_EQ(enabled->new_state, kStateEnabled | kStateActive);
    EXPECT_EQ(enabled->active_time, 200u);
}

}  // namespace
}  // namespace porvex::opc::events
