// Waiting for something another thread does, with a generous upper bound so a slow
// machine (or ThreadSanitizer) never fails a test that is right.
#pragma once

#include <chrono>
#include <thread>

namespace porvex::test {

template <class Predicate>
bool wait_until(Predicate&& done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace porvex::test
