// Card commands at a steady rate from several threads, each with its own control
// connection to the simulator, so that the simulator's answer (tens of milliseconds under
// Wine with 1,000 sockets) does not cap the rate. Command i of `total` goes out at
// start + i / per_second, from sender i % senders.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "ctlsim_control.h"

namespace porvex::bench {

class PacedSenders {
  public:
    using Clock = std::chrono::steady_clock;
    // Sends command `index` on the sender's own connection; `random` is the sender's own
    // (seeded by its number). Returns false when the simulator sent nothing (counted as
    // dropped).
    using SendOne = std::function<bool(CtlsimControl& control, std::mt19937& random, int index)>;

    // Starts the senders; `done` runs on the last sender once every command went out.
    PacedSenders(std::uint16_t control_port, int senders, int per_second, int total,
                 Clock::time_point start, SendOne send, std::function<void()> done)
        : send_(std::move(send)), done_(std::move(done)), left_(senders) {
        const auto interval =
            std::chrono::microseconds(1000000LL * senders / std::max(1, per_second));
        for (int s = 0; s < senders; ++s) {
            threads_.emplace_back(
                [this, control_port, senders, per_second, total, start, interval, s] {
                    CtlsimControl control(control_port);
                    std::mt19937 random(2026u + static_cast<unsigned>(s));
                    Clock::time_point next =
                        start + std::chrono::microseconds(1000000LL * s / std::max(1, per_second));
                    for (int i = s; i < total; i += senders) {
                        std::this_thread::sleep_until(next);
                        next += interval;
                        if (!send_(control, random, i)) {
                            ++dropped_;
                        }
                        ++sent_;
                    }
                    if (--left_ == 0 && done_) {
                        done_();
                    }
                });
        }
    }
    ~PacedSenders() { join(); }
    PacedSenders(const PacedSenders&) = delete;
    PacedSenders& operator=(const PacedSenders&) = delete;

    void join() {
        for (std::thread& t : threads_) {
            if (t.joinable()) {
                t.join();
            }
        }
    }
    int sent() const { return sent_.load(); }
    int dropped() const { return dropped_.load(); }

  private:
    SendOne send_;
    std::function<void()> done_;
    std::atomic<int> left_;
    std::atomic<int> sent_{0};
    std::atomic<int> dropped_{0};
    std::vector<std::thread> threads_;
};

}  // namespace porvex::bench
