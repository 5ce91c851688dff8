// When a card run of a benchmark is over.
//
// Cards are sent from other threads while the benchmark's main thread serves the OPC
// client (its update ticks run only while that thread handles messages). The run is
// over only when every card has been sent and then either every card has arrived or
// `grace` has passed since the last one was sent. Whatever is missing at that point is
// counted as lost; while cards are still being sent, "nothing missing right now" never
// ends the run (the main thread would stop serving the client, and every card sent
// afterwards would look lost).
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>

namespace porvex::bench {

class CardRunEnd {
  public:
    using Clock = std::chrono::steady_clock;

    explicit CardRunEnd(Clock::duration grace) : grace_(grace) {}

    // The last card was sent at `at`.
    void sending_done(Clock::time_point at) { last_sent_ = at; }
    bool sending() const { return !last_sent_.has_value(); }

    // True when the run is over, with `missing` cards sent and not yet seen.
    bool over(std::size_t missing, Clock::time_point now) const {
        if (!last_sent_) {
            return false;
        }
        return missing == 0 || now - *last_sent_ >= grace_;
    }

  private:
    Clock::duration grace_;
    std::optional<Clock::time_point> last_sent_;
};

}  // namespace porvex::bench
