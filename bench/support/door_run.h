// What the door benchmarks (door_server and its soak, door_alarms) share around a running
// door server: options read as name/value pairs, the counting log, the message pump with
// the upkeep tick, the count of doors online, latency percentiles and the program's main.
#pragma once

#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "core/log.h"
#include "door_server.h"

namespace porvex::bench {

using Wall = std::chrono::steady_clock;

inline double seconds_since(Wall::time_point start) {
    return std::chrono::duration<double>(Wall::now() - start).count();
}

// Reads `--name value` pairs: option(name, value) takes a known name and says so; an
// unknown one ends the program with exit code 2.
template <class Option>
void parse_options(int argc, char** argv, Option option) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (!option(name, std::atoi(argv[i + 1]))) {
            std::fprintf(stderr, "unknown option %s\n", name.c_str());
            std::exit(2);
        }
    }
}

// Keeps only counts: the operator reads numbers, not a log.
class CountingLog final : public LogSink {
  public:
    void write(LogLevel level, std::string_view message) override {
        if (level != LogLevel::info && errors_.fetch_add(1) < 5) {
            std::fprintf(stderr, "log: %.*s\n", static_cast<int>(message.size()), message.data());
        }
    }
    unsigned long errors() const { return errors_.load(); }

  private:
    std::atomic<unsigned long> errors_{0};
};

// Handles the thread's messages (the engine's timers and notifications run here) for a
// while, running the door server's 2-second upkeep tick as the window's timer would.
class Pump {
  public:
    explicit Pump(DoorServer& doors) : doors_(doors) {}
    template <class Done>
    bool until(Done done, double seconds) {
        const Wall::time_point end = Wall::now() + std::chrono::duration_cast<Wall::duration>(
                                                       std::chrono::duration<double>(seconds));
        while (!done()) {
            if (Wall::now() >= end) {
                return false;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                const Wall::time_point began = Wall::now();
                DispatchMessageW(&msg);
                longest_dispatch_ = std::max(longest_dispatch_, Wall::now() - began);
            }
            if (Wall::now() >= next_tick_) {
                const Wall::time_point began = Wall::now();
                doors_.tick(10);
                const Wall::duration took = Wall::now() - began;
                longest_tick_ = std::max(longest_tick_, took);
                tick_total_ += took;
                ++ticks_;
                next_tick_ = Wall::now() + std::chrono::seconds(2);
            }
        }
        return true;
    }
    void for_seconds(double seconds) {
        until([] { return false; }, seconds);
    }

    // What held the thread (the engines' deliveries and the upkeep tick run on it), since
    // the last reset: the longest message handled, the upkeep ticks and the longest one.
    void reset_measures() {
        longest_dispatch_ = longest_tick_ = tick_total_ = {};
        ticks_ = 0;
    }
    double longest_dispatch_ms() const { return ms(longest_dispatch_); }
    double longest_tick_ms() const { return ms(longest_tick_); }
    double mean_tick_ms() const { return ticks_ > 0 ? ms(tick_total_) / ticks_ : 0.0; }
    int ticks() const { return ticks_; }

  private:
    static double ms(Wall::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    }

    DoorServer& doors_;
    Wall::time_point next_tick_ = Wall::now();
    Wall::duration longest_dispatch_{};
    Wall::duration longest_tick_{};
    Wall::duration tick_total_{};
    int ticks_ = 0;
};

inline std::size_t doors_online(DoorServer& doors) {
    return doors.inspect([](const DoorDirectory& dir) {
        std::size_t online = 0;
        for (std::size_t i = 0; i < dir.door_count(); ++i) {
            const std::string& text = dir.tree().text(dir.door(i).state_node);
            online += text.find("没有监控") == std::string::npos ? 1 : 0;
        }
        return online;
    });
}

inline double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return values[index];
}

// A benchmark's main: run() on this thread as a COM single-threaded apartment, its result
// the exit code; an exception is printed under the program's name and gives 1.
template <class Run>
int run_in_apartment(const char* program, Run run) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 2;
    }
    int result = 1;
    try {
        result = run();
    } catch (const std::exception& e) {
        std::printf("%s: %s\n", program, e.what());
    }
    CoUninitialize();
    return result;
}

}  // namespace porvex::bench
