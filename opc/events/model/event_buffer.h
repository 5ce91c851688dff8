// The bounded buffer of one subscription: events wait here for the next delivery to the
// client's sink. A delivery is due once the oldest waiting event has waited the
// subscription's buffer time, or as soon as max-size events wait (max size 0: no limit
// per delivery). When the buffer holds its capacity, the oldest event is dropped for the
// new one and counted: the count is handed to the subscription with the next events it
// takes, which reports it to the client and the log (never silently).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "opc/events/model/event.h"

namespace porvex::opc::events {

// Milliseconds of a monotonic clock (injected, so tests need no waiting).
using TMilliseconds = std::uint64_t;

class TEventBuffer {
  public:
    explicit TEventBuffer(std::size_t capacity);

    void Push(TEvent event, TMilliseconds now);
    bool Empty() const noexcept { return waiting_.empty(); }
    std::size_t Size() const noexcept { return waiting_.size(); }
    std::size_t Capacity() const noexcept { return capacity_; }
    // Whether a delivery is due now.
    bool Due(TMilliseconds now, std::uint32_t bufferTimeMs, std::uint32_t maxSize) const;
    // Takes up to max events (0: all), oldest first.
    std::vector<TEvent> Take(std::uint32_t max);
    // Events dropped since the last call (and resets that count); Lost() counts them all.
    std::uint64_t TakeDropped() noexcept;
    std::uint64_t Lost() const noexcept { return lost_total_; }
    void Clear() noexcept { waiting_.clear(); }

  private:
    struct TWaiting {
        TEvent event;
        TMilliseconds arrived;
    };
    std::size_t capacity_;
    std::deque<TWaiting> waiting_;
    std::uint64_t dropped_ = 0;
    std::uint64_t lost_total_ = 0;
};

}  // namespace porvex::opc::events
