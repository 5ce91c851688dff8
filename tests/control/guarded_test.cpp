// The control's boundary helper and its log: what a thread entry, window procedure or
// COM method turns an exception into, and what the operator reads about it.
#include <gtest/gtest.h>

#include <stdexcept>

#include "guarded.h"
#include "log_capture.h"

namespace tarnet::testing {
namespace {

int failure_code(Failure failure) { return failure == Failure::out_of_memory ? -1 : -2; }

TEST(Guarded, ResultOfABodyThatReturnsPassesThrough) {
    LogCapture log;
    EXPECT_EQ(guarded(
                  "here", [] { return 42; }, failure_code),
              42);
    EXPECT_FALSE(log.contains("here"));
}

TEST(Guarded, EveryKindOfExceptionIsLoggedWithWhereItWasCaught) {
    LogCapture log;
    EXPECT_EQ(guarded(
                  "poll thread", []() -> int { throw std::bad_alloc(); }, failure_code),
              -1);
    EXPECT_TRUE(log.contains("poll thread: failed: out of memory"));

    EXPECT_EQ(
        guarded(
            "notice window", []() -> int { throw std::runtime_error("bad report"); }, failure_code),
        -2);
    EXPECT_TRUE(log.contains("notice window: failed: bad report"));

    EXPECT_EQ(guarded(
                  "COM method", []() -> int { throw 7; }, failure_code),
              -2);
    EXPECT_TRUE(log.contains("COM method: failed: an unknown exception"));
}

TEST(ControlLog, SinkThatThrowsDoesNotReachTheCaller) {
    LogSink previous = set_log_sink([](std::string_view) { throw std::runtime_error("full"); });
    EXPECT_NO_THROW(log_line("a line the default destination takes instead"));
    set_log_sink(std::move(previous));
}

}  // namespace
}  // namespace tarnet::testing
