// A clock for tests: it stands still until the test moves it, and wakes every waiter of
// the library when it does, so the 8, 20 and 30-second rules run without waiting.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "clock.h"

namespace zorvik::access::testing {

class ManualClock final : public Clock {
  public:
    // Starts at 2021-03-07 09:05:02 (a Sunday), local time as the controllers see it.
    ManualClock() {
        local_.year = 2021;
        local_.month = 3;
        local_.day = 7;
        local_.weekday = 0;
        local_.hour = 9;
        local_.minute = 5;
        local_.second = 2;
    }

    std::int64_t seconds() const override {
        if (on_read_) {
            on_read_();
        }
        return ms_.load() / 1000;
    }
    std::uint32_t ticks() const override {
        return static_cast<std::uint32_t>(ms_.load()) + kTickOffset;
    }
    frame::ControllerTime local_time() const override {
        std::lock_guard lock(mutex_);
        return local_;
    }
    std::chrono::milliseconds real_wait_for(std::chrono::milliseconds clock_time) const override {
        return clock_time.count() > 0 ? kForever : std::chrono::milliseconds(0);
    }
    std::chrono::milliseconds real_wait_until_second(std::int64_t second) const override {
        return seconds() >= second ? std::chrono::milliseconds(0) : kForever;
    }

    int subscribe(Listener listener) override {
        std::lock_guard lock(mutex_);
        listeners_.emplace(++last_id_, std::move(listener));
        return last_id_;
    }
    void unsubscribe(int id) override {
        std::lock_guard lock(mutex_);
        listeners_.erase(id);
    }

    void advance(std::chrono::milliseconds by) {
        std::lock_guard lock(mutex_);
        ms_ += by.count();
        for (auto& [id, listener] : listeners_) {
            listener();
        }
    }
    void advance_seconds(int s) { advance(std::chrono::seconds(s)); }

    // Runs on every seconds() read, on the reading thread (set it before the library runs
    // and leave it for the rest of the test): lets a test widen a race window.
    void set_read_hook(std::function<void()> hook) { on_read_ = std::move(hook); }

    void set_local_time(const frame::ControllerTime& t) {
        std::lock_guard lock(mutex_);
        local_ = t;
    }

  private:
    // Longer than any test: the clock itself wakes waiters when it moves.
    static constexpr std::chrono::milliseconds kForever{3600 * 1000};
    // Ticks start close to their wrap-around, so the arithmetic is tested across it.
    static constexpr std::uint32_t kTickOffset = 0xFFFFF000U;

    mutable std::mutex mutex_;
    std::atomic<std::int64_t> ms_{1'615'107'902'000};  // 2021-03-07 09:05:02 UTC
    frame::ControllerTime local_;
    std::map<int, Listener> listeners_;
    std::function<void()> on_read_;
    int last_id_ = 0;
};

}  // namespace zorvik::access::testing
