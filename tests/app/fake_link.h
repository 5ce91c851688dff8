// A stand-in for the controller access library inside unit tests: it records what the
// door server asks of it and raises the library's callbacks when a test says so, from
// the test's thread or from threads of its own.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "link/controller_link.h"

namespace porvex::test {

class FakeLink final : public ControllerLink {
  public:
    struct Sent {
        std::string ip;
        int port = 0;
        int cmd = 0;
        int ap_code = 0;
        int psw = 0;
        std::string hex;
    };

    void set_events(LinkEvents* events) override {
        std::unique_lock lock(callbacks_);  // waits for callbacks in flight
        events_ = events;
    }

    bool connect(const std::string& ip, int port) override {
        bool up = true;
        {
            std::lock_guard lock(mutex_);
            connects_.emplace_back(ip, port);
            if (!registered_.insert({ip, port}).second) {
                return false;  // already registered: nothing done
            }
            if (const auto it = reachable_.find({ip, port}); it != reachable_.end()) {
                up = it->second;
            }
        }
        if (while_connecting) {
            while_connecting();  // e.g. a test moving its clock: the attempt takes time
        }
        raise_connection(ip, port, up);
        return up;
    }

    // Runs inside each connect() (set before the connect pass starts).
    std::function<void()> while_connecting;

    // Runs inside each send_data, before the frame is recorded (set before sending).
    std::function<void()> while_sending;

    bool send_data(const std::string& ip, int port, int cmd, int ap_code, int psw,
                   std::string_view hex) override {
        if (while_sending) {
            while_sending();  // e.g. a test checking what the sender holds meanwhile
        }
        std::lock_guard lock(mutex_);
        sent_.push_back(Sent{ip, port, cmd, ap_code, psw, std::string(hex)});
        if (!send_throws_.empty()) {
            throw std::runtime_error(send_throws_);
        }
        if (send_result_) {
            return *send_result_;
        }
        return registered_.count({ip, port}) != 0;
    }

    void enable_upload(const std::string& ip, int port) override {
        std::lock_guard lock(mutex_);
        uploads_.emplace_back(ip, port);
    }

    void disconnect_all() override {
        std::lock_guard lock(mutex_);
        ++disconnect_all_calls_;
        registered_.clear();
    }

    // --- test controls ---
    void set_reachable(const std::string& ip, int port, bool reachable) {
        std::lock_guard lock(mutex_);
        reachable_[{ip, port}] = reachable;
    }
    void register_controller(const std::string& ip, int port) {
        std::lock_guard lock(mutex_);
        registered_.insert({ip, port});
    }
    // Forces every send_data result (nullopt: registered controllers only).
    void set_send_result(std::optional<bool> result) {
        std::lock_guard lock(mutex_);
        send_result_ = result;
    }
    // Every send throws this text, as a fault below the door server would.
    void set_send_throws(std::string message) {
        std::lock_guard lock(mutex_);
        send_throws_ = std::move(message);
    }

    void raise_connection(const std::string& ip, int port, bool up) {
        std::shared_lock lock(callbacks_);
        if (events_ != nullptr) {
            events_->on_connection(ip, port, up);
        }
    }
    void raise_disconnection(const std::string& ip, int port) {
        std::shared_lock lock(callbacks_);
        if (events_ != nullptr) {
            events_->on_disconnection(ip, port);
        }
    }
    void raise_frame(const std::string& ip, int port, int ap_code, int cmd,
                     const std::string& hex) {
        std::shared_lock lock(callbacks_);
        if (events_ != nullptr) {
            events_->on_frame(ip, port, ap_code, 0, cmd, hex);
        }
    }

    std::vector<Sent> sent() const {
        std::lock_guard lock(mutex_);
        return sent_;
    }
    std::vector<std::pair<std::string, int>> connects() const {
        std::lock_guard lock(mutex_);
        return connects_;
    }
    std::vector<std::pair<std::string, int>> uploads() const {
        std::lock_guard lock(mutex_);
        return uploads_;
    }
    int disconnect_all_calls() const {
        std::lock_guard lock(mutex_);
        return disconnect_all_calls_;
    }
    bool has_events() {
        std::shared_lock lock(callbacks_);
        return events_ != nullptr;
    }

  private:
    mutable std::mutex mutex_;
    std::shared_mutex callbacks_;
    LinkEvents* events_ = nullptr;
    std::set<std::pair<std::string, int>> registered_;
    std::map<std::pair<std::string, int>, bool> reachable_;
    std::optional<bool> send_result_;
    std::string send_throws_;  // a fault inside the library seam, when not empty
    std::vector<Sent> sent_;
    std::vector<std::pair<std::string, int>> connects_;
    std::vector<std::pair<std::string, int>> uploads_;
    int disconnect_all_calls_ = 0;
};

}  // namespace porvex::test
