// The simulator's loop on its own thread, fed from another one as the standard-input
// reader feeds it (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "simulator.h"

namespace ctlsim {
namespace {

using namespace std::chrono_literals;

class Replies {
  public:
    void add(const std::string& line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
        changed_.notify_all();
    }
    bool wait_for(std::size_t n) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return lines_.size() >= n; });
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
};

SimulatorConfig one_free_port() {
    SimulatorConfig config;
    config.controllers = {{"127.0.0.1", 0}};
    config.log_level = LogLevel::quiet;
    return config;
}

TEST(SimulatorThread, LinesPostedFromAnotherThreadAreAnsweredInOrder) {
    Simulator sim(one_free_port());
    ASSERT_EQ(sim.start(), "");
    EXPECT_NE(sim.controller_port(0), 0);
    Replies replies;
    sim.set_line_sink([&replies](const std::string& line) { replies.add(line); });
    std::thread loop([&sim] { sim.run(); });
    auto inbox = sim.inbox();
    std::thread poster([inbox] {
        for (int i = 0; i < 50; ++i) {
            inbox->post_line("ping");
        }
        inbox->post_line("status 0 0x80");
    });
    poster.join();
    ASSERT_TRUE(replies.wait_for(51));
    sim.request_stop();
    loop.join();
    const auto lines = replies.lines();
    EXPECT_EQ(lines.front(), "ok pong");
    EXPECT_EQ(lines.back(), "ok status=0x80");
}

TEST(SimulatorThread, EndOfInputEndsTheLoopAfterItsLastCommandIsAnswered) {
    Simulator sim(one_free_port());
    ASSERT_EQ(sim.start(), "");
    Replies replies;
    sim.set_line_sink([&replies](const std::string& line) { replies.add(line); });
    auto inbox = sim.inbox();
    inbox->post_line("wait 0 connected timeout=50");
    inbox->post_line("ping");
    inbox->post_end_of_input();
    std::thread loop([&sim] { sim.run(); });
    loop.join();  // returns by itself
    EXPECT_EQ(replies.lines(),
              (std::vector<std::string>{"error timeout connected count=0", "ok pong"}));
}

TEST(SimulatorThread, StartFailsClearlyWithoutControllers) {
    Simulator sim(SimulatorConfig{});
    EXPECT_EQ(sim.start(), "no controllers to simulate");
}

}  // namespace
}  // namespace ctlsim
