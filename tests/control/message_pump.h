// Running the test thread's messages while waiting for something (events arrive as
// window messages on the thread that created the control or the owner window).
#pragma once

#include <chrono>
#include <functional>

namespace tarnet::testing {

using namespace std::chrono_literals;

// Runs the thread's messages until done() holds or the time-out passes.
bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s);
// Runs the thread's messages for a while.
void pump_for(std::chrono::milliseconds duration);

}  // namespace tarnet::testing
