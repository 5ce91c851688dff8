#include "card_run.h"

#include <gtest/gtest.h>

namespace porvex::bench {
namespace {

using namespace std::chrono_literals;
using Clock = CardRunEnd::Clock;

// The fault this guards against: a benchmark whose cards were still being sent ended its
// wait at a moment when nothing happened to be missing, stopped serving its OPC client,
// and counted every card sent afterwards as lost.
TEST(CardRunEnd, NothingMissingWhileCardsAreStillSentDoesNotEndTheRun) {
    CardRunEnd end(30s);
    const Clock::time_point t0{};
    EXPECT_FALSE(end.over(0, t0));
    EXPECT_FALSE(end.over(0, t0 + 600s));
    EXPECT_TRUE(end.sending());
}

TEST(CardRunEnd, AfterTheLastCardTheRunEndsWhenAllArrivedOrTheGracePassed) {
    CardRunEnd end(30s);
    const Clock::time_point last{std::chrono::seconds(100)};
    end.sending_done(last);
    EXPECT_FALSE(end.sending());
    EXPECT_FALSE(end.over(3, last + 29s));
    EXPECT_TRUE(end.over(3, last + 30s));
    EXPECT_TRUE(end.over(0, last + 1s));
}

}  // namespace
}  // namespace porvex::bench
