// A controller link that passes everything on to the real one and shows a benchmark each
// report and reply as the library hands it over, before the door server queues it: the
// "report callback" stage of a card's way. Without a tap it only forwards. It also times
// the frames the door server hands to the library (how long a send holds its caller).
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "link/controller_link.h"

namespace porvex::bench {

class TappedLink final : public ControllerLink, private LinkEvents {
  public:
    // Called on the library's threads for every frame: port, command code, payload.
    using Tap = std::function<void(int port, int cmd, std::string_view hex)>;

    explicit TappedLink(ControllerLink& inner) : inner_(inner) {}
    // Set before the door server starts (the tap is read without a lock).
    void set_tap(Tap tap) { tap_ = std::move(tap); }

    void set_events(LinkEvents* events) override {
        if (events != nullptr) {
            target_ = events;
            inner_.set_events(this);
        } else {
            inner_.set_events(nullptr);  // no callback runs after this returns
            target_ = nullptr;
        }
    }
    bool connect(const std::string& ip, int port) override { return inner_.connect(ip, port); }
    bool send_data(const std::string& ip, int port, int cmd, int ap_code, int psw,
                   std::string_view hex) override {
        const auto began = std::chrono::steady_clock::now();
        const bool queued = inner_.send_data(ip, port, cmd, ap_code, psw, hex);
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now() - began)
                              .count();
        ++sends_;
        send_us_ += took;
        long long longest = longest_send_us_.load();
        while (took > longest && !longest_send_us_.compare_exchange_weak(longest, took)) {
        }
        return queued;
    }
    // Frames handed to the library, their total and longest time in the call (us).
    struct SendTimes {
        long long sends = 0;
        long long total_us = 0;
        long long longest_us = 0;
    };
    SendTimes send_times() const {
        return {sends_.load(), send_us_.load(), longest_send_us_.load()};
    }
    void enable_upload(const std::string& ip, int port) override { inner_.enable_upload(ip, port); }
    void disconnect_all() override { inner_.disconnect_all(); }

  private:
    void on_connection(std::string_view ip, int port, bool connected) override {
        target_->on_connection(ip, port, connected);
    }
    void on_disconnection(std::string_view ip, int port) override {
        target_->on_disconnection(ip, port);
    }
    void on_frame(std::string_view ip, int port, int ap_code, int psw, int cmd,
                  std::string_view hex) override {
        if (tap_) {
            tap_(port, cmd, hex);
        }
        target_->on_frame(ip, port, ap_code, psw, cmd, hex);
    }

    ControllerLink& inner_;
    LinkEvents* target_ = nullptr;
    std::atomic<long long> sends_{0};
    std::atomic<long long> send_us_{0};
    std::atomic<long long> longest_send_us_{0};
    Tap tap_;
};

}  // namespace porvex::bench
