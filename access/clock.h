// Time as the link rules see it, behind a seam so tests can move it by hand.
//
// The rules compare whole seconds of calendar time (reply time-out, keep-alive,
// reconnect) and millisecond ticks (reply waits, purge age). Waiters never poll a clock:
// they block for the real time the clock needs to reach their deadline
// (real_wait_for / real_wait_until_second), and a clock that does not follow real time
// calls its listeners whenever it moves, so they can wake their waiters.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "frame/packets.h"

namespace zorvik::access {

class Clock {
  public:
    using Listener = std::function<void()>;

    virtual ~Clock() = default;

    // Calendar time in whole seconds since 1 January 1970.
    virtual std::int64_t seconds() const = 0;
    // Millisecond tick count; wraps around, so only differences mean anything.
    virtual std::uint32_t ticks() const = 0;
    // The local calendar time, for the controllers' time command.
    virtual frame::ControllerTime local_time() const = 0;

    // Real time to block for this much clock time to pass.
    virtual std::chrono::milliseconds real_wait_for(std::chrono::milliseconds clock_time) const = 0;
    // Real time to block until seconds() reaches second (zero when it already has).
    virtual std::chrono::milliseconds real_wait_until_second(std::int64_t second) const = 0;

    // Listeners are called, on the thread that moves the clock, whenever it jumps. A
    // clock that follows real time never calls them. Returns an id for unsubscribe();
    // unsubscribe() returns only when no call of that listener is running.
    virtual int subscribe(Listener listener) = 0;
    virtual void unsubscribe(int id) = 0;
};

// The system's clocks: calendar seconds from the system clock, ticks from the monotonic
// clock (so a change of the PC's time never stretches a wait).
std::shared_ptr<Clock> system_clock();

}  // namespace zorvik::access
