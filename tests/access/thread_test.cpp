// An exception that leaves a thread body ends that thread only, and is counted and
// reported with its text instead of vanishing.
#include "net/thread.h"

#include <gtest/gtest.h>

#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace zorvik::net {
namespace {

std::mutex reported_mutex;
std::vector<std::string> reported;

void remember(const char* what) noexcept {
    std::lock_guard lock(reported_mutex);
    reported.emplace_back(what);
}

class ThreadEscape : public ::testing::Test {
  protected:
    void SetUp() override {
        reported.clear();
        previous_ = Thread::set_escape_reporter(&remember);
    }
    void TearDown() override { Thread::set_escape_reporter(previous_); }

    static void run_to_end(std::function<void()> body) {
        Thread thread;
        ASSERT_TRUE(thread.start(std::move(body)));
        thread.join();
    }

  private:
    Thread::EscapeReporter previous_ = nullptr;
};

TEST_F(ThreadEscape, ExceptionsLeavingABodyAreCountedAndReportedWithTheirText) {
    const std::uint64_t before = Thread::escaped_exceptions();
    run_to_end([] { throw std::runtime_error("the link table is gone"); });
    run_to_end([] { throw 42; });
    bool ran = false;
    run_to_end([&] { ran = true; });  // a body that ends normally reports nothing

    EXPECT_TRUE(ran);
    EXPECT_EQ(Thread::escaped_exceptions() - before, 2u);
    std::lock_guard lock(reported_mutex);
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[0], "the link table is gone");
    EXPECT_EQ(reported[1], "an exception that is not a std::exception");
}

}  // namespace
}  // namespace zorvik::net
