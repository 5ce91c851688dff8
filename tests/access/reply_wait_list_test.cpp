#include "reply_wait_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "manual_clock.h"

namespace zorvik::access {
namespace {

using std::chrono::milliseconds;
using testing::ManualClock;

char link_a;
char link_b;
const void* const a = &link_a;
const void* const b = &link_b;

Reply reply(std::uint8_t cmd, std::uint16_t ap, std::string hex = "") {
    Reply r;
    r.cmd = cmd;
    r.ap_code = ap;
    r.hex = std::move(hex);
    return r;
}

TEST(ReplyWaitList, AReplyIsStoredInTheWaitWithItsApCode) {
    ReplyWaitList list;
    auto event = std::make_shared<WaitEvent>();
    auto w1 = list.add(a, 1, 0, event);
    auto w2 = list.add(a, 2, 0, event);
    EXPECT_TRUE(list.deliver(a, reply(0x21, 2, "0a80"), 0));
    EXPECT_TRUE(event->is_set());
    EXPECT_FALSE(list.answered(w1));
    ASSERT_TRUE(list.answered(w2));
    EXPECT_EQ(list.answer(w2)->hex, "0a80");
    EXPECT_EQ(list.answer(w2)->cmd, 0x21);
    // Nobody waits for ApCode 3: the reply belongs to the host's callback.
    EXPECT_FALSE(list.deliver(a, reply(0x21, 3), 0));
}

TEST(ReplyWaitList, SameApCodeOnTwoLinksEachGetsItsOwnControllersReply) {
    ReplyWaitList list;
    auto event = std::make_shared<WaitEvent>();
    auto on_a = list.add(a, 7, 0, event);
    auto on_b = list.add(b, 7, 0, event);
    // B's controller answers first; A's wait began first but must not take it.
    EXPECT_TRUE(list.deliver(b, reply(0x21, 7, "bb"), 0));
    EXPECT_TRUE(list.deliver(a, reply(0x21, 7, "aa"), 0));
    EXPECT_EQ(list.answer(on_a)->hex, "aa");
    EXPECT_EQ(list.answer(on_b)->hex, "bb");
}

TEST(ReplyWaitList, AReplyFromAnotherLinkSatisfiesAWaitWhenItsOwnLinkHasNone) {
    ReplyWaitList list;
    auto w = list.add(a, 9, 0, std::make_shared<WaitEvent>());
    EXPECT_TRUE(list.deliver(b, reply(0x11, 9), 0));
    EXPECT_TRUE(list.answered(w));
}

TEST(ReplyWaitList, ARepeatedReplyIsAbsorbedAndKeepsTheFirstAnswer) {
    ReplyWaitList list;
    auto w = list.add(a, 4, 0, std::make_shared<WaitEvent>());
    EXPECT_TRUE(list.deliver(a, reply(0x20, 4, "01"), 0));
    EXPECT_TRUE(list.deliver(a, reply(0x20, 4, "02"), 0));
    EXPECT_EQ(list.answer(w)->hex, "01");
    list.remove(w);
    EXPECT_EQ(list.size(), 0u);
    EXPECT_FALSE(list.deliver(a, reply(0x20, 4, "03"), 0));
}

TEST(ReplyWaitList, WaitsOlderThanThePurgeAgeGoAfterAStoredReply) {
    ReplyWaitList list;
    auto event = std::make_shared<WaitEvent>();
    // Tick counts wrap: ages are differences.
    const std::uint32_t t0 = 0xFFFFFF00U;
    auto old_wait = list.add(a, 1, t0, event);
    auto young = list.add(a, 2, t0 + 30000, event);
    EXPECT_TRUE(list.deliver(a, reply(0x21, 2), t0 + ReplyWaitList::kPurgeAgeMs));
    EXPECT_EQ(list.size(), 2u);  // exactly the age is not older
    auto other = list.add(a, 3, t0 + 60000, event);
    EXPECT_TRUE(list.deliver(a, reply(0x21, 3), t0 + ReplyWaitList::kPurgeAgeMs + 1));
    EXPECT_EQ(list.size(), 2u);
    // The purged wait no longer receives its reply.
    EXPECT_FALSE(list.deliver(a, reply(0x21, 1), t0 + 60002));
    EXPECT_FALSE(list.answered(old_wait));
    (void)young;
    (void)other;
}

TEST(WaitUntil, EndsWhenTheClockHasMovedTheTimeOut) {
    ManualClock clock;
    ReplyWaitList list;
    std::atomic<bool> stop{false};
    auto event = std::make_shared<WaitEvent>();
    const int id = clock.subscribe([&] { list.wake_all(); });
    auto w = list.add(a, 1, clock.ticks(), event);
    std::atomic<bool> finished{false};
    bool result = true;
    const auto start = clock.ticks();
    std::thread waiter([&] {
        result = wait_until(*event, clock, start, milliseconds(500), stop,
                            [&] { return list.answered(w); });
        finished = true;
    });
    clock.advance(milliseconds(499));
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_FALSE(finished.load());
    clock.advance(milliseconds(1));
    waiter.join();
    EXPECT_FALSE(result);
    clock.unsubscribe(id);
}

TEST(WaitUntil, EndsAtOnceForTheReplyOrForStop) {
    ManualClock clock;
    ReplyWaitList list;
    std::atomic<bool> stop{false};
    auto event = std::make_shared<WaitEvent>();
    auto w = list.add(a, 5, clock.ticks(), event);
    bool result = false;
    const auto start = clock.ticks();
    std::thread waiter([&] {
        result = wait_until(*event, clock, start, milliseconds(5000), stop,
                            [&] { return list.answered(w); });
    });
    list.deliver(b, reply(0x10, 5), clock.ticks());
    waiter.join();
    EXPECT_TRUE(result);

    auto w2 = list.add(a, 6, clock.ticks(), event);
    std::thread stopped([&] {
        result = wait_until(*event, clock, start, milliseconds(5000), stop,
                            [&] { return list.answered(w2); });
    });
    stop = true;
    list.wake_all();
    stopped.join();
    EXPECT_FALSE(result);
}

}  // namespace
}  // namespace zorvik::access
