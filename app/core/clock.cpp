#include "core/clock.h"

#include <chrono>

namespace porvex {

Moment SteadyClock::now() const {
    const auto since_start = std::chrono::steady_clock::now().time_since_epoch();
    return Moment{std::chrono::duration<double>(since_start).count()};
}

}  // namespace porvex
