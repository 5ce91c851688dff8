// Time as the door logic sees it: seconds on one clock, injected wherever time matters
// (the upkeep tick, the setters' "now", pending-command expiry), so tests never wait.
#pragma once

#include <atomic>
#include <limits>

namespace porvex {

// A moment in seconds on the clock's own scale. Two sentinels stand for the door
// record's special times: "long ago" (a time never set, so every "more than N seconds
// since" test passes) and "never" (so no such test ever passes).
struct Moment {
    double seconds = 0;

    friend constexpr bool operator==(Moment, Moment) = default;
};

inline constexpr Moment kLongAgo{-std::numeric_limits<double>::infinity()};
inline constexpr Moment kNever{std::numeric_limits<double>::infinity()};

// True when more than `limit` seconds lie between `since` and `now`.
inline constexpr bool more_than(double limit, Moment since, Moment now) {
    return now.seconds - since.seconds > limit;
}

class Clock {
  public:
    virtual ~Clock() = default;
    virtual Moment now() const = 0;
};

// The process's monotonic clock.
class SteadyClock final : public Clock {
  public:
    Moment now() const override;
};

// A clock that moves only when told to; safe to read from several threads.
class ManualClock final : public Clock {
  public:
    explicit ManualClock(double start_seconds = 1000.0) : seconds_(start_seconds) {}
    Moment now() const override { return Moment{seconds_.load()}; }
    void advance(double seconds) { seconds_.store(seconds_.load() + seconds); }
    void set(double seconds) { seconds_.store(seconds); }

  private:
    std::atomic<double> seconds_;
};

}  // namespace porvex
