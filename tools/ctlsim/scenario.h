// Scenario files: scripted control commands on a schedule, for demos and benchmarks.
//
//   # comment
//   seed 42                                   random choices repeat from run to run
//   at 2s fault 3 silent on                   once, 2 s after start
//   every 10ms card random-live random:random:granted
//   every 500ms from 1s for 10s door-events random open=1
//   rate 1000/s card random-live random:1:random
//   at 60s quit
//
// `every` runs its command at a steady rate: when the loop falls behind, the missed runs
// are made up at once (up to one second's worth), so the long-run rate holds. `rate N/s`
// is `every` with the interval 1 s / N. Times take us, ms, s or m (plain numbers are ms).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ctlsim {

struct ScenarioEntry {
    bool repeat = false;                                // every / rate; otherwise at
    std::chrono::microseconds start{0};                 // at: when; every: first run (from)
    std::chrono::microseconds interval{0};              // every
    std::optional<std::chrono::microseconds> duration;  // every ... for
    std::string command;                                // a control command line
    std::size_t line = 0;
};

struct Scenario {
    std::optional<std::uint32_t> seed;
    std::vector<ScenarioEntry> entries;
    std::string error;  // "FILE:LINE: reason" when the text is not a valid scenario
    bool ok() const { return error.empty(); }
};

Scenario parse_scenario(std::string_view text, std::string_view origin);
Scenario load_scenario_file(const std::string& path);

}  // namespace ctlsim
