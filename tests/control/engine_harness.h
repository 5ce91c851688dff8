// Test side of the engine under Wine: a message-only owner window on the test thread,
// a recording notice target, a scripted echo prober and a clock tests move forward.
#pragma once

#include <winsock2.h>
// winsock2.h before windows.h
#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine.h"
#include "message_pump.h"
#include "notice_receiver.h"

namespace tarnet::testing {

using namespace std::chrono_literals;

class WinsockStartup {
  public:
    WinsockStartup() {
        WSADATA data;
        ok_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockStartup() {
        if (ok_) {
            ::WSACleanup();
        }
    }
    WinsockStartup(const WinsockStartup&) = delete;
    WinsockStartup& operator=(const WinsockStartup&) = delete;

  private:
    bool ok_ = false;
};

// Where a test's receiver takes the notices a posted wake-up stands for: the engine the
// test holds in engine (none before it exists).
inline NoticeReceiver::PostedSource posted_notices_of(const std::shared_ptr<Engine>& engine) {
    return
        [&engine] { return engine ? engine->take_posted_notices() : std::vector<PostedNotice>{}; };
}

// A message-only window whose engine messages go to a NoticeReceiver.
class OwnerWindow {
  public:
    explicit OwnerWindow(NoticeReceiver& receiver);
    ~OwnerWindow();
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;
    HWND handle() const { return hwnd_; }

  private:
    static LRESULT CALLBACK procedure(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
    HWND hwnd_ = nullptr;
};

struct LinkEvent {
    std::string server;
    std::int16_t port = 0;
    bool synchronous = false;  // fired by the engine operation itself (EventSink)
};

// Records every event; hooks let a test call the engine from inside an event, as a host
// would from its event handler.
class Recorder : public NoticeTarget, public EventSink {
  public:
    explicit Recorder(std::function<std::shared_ptr<Engine>()> engine)
        : engine_(std::move(engine)) {}

    void data_receive(const FrameReport& report) override;
    void failed_connect(const std::string& server, std::int16_t port) override;
    void reconnect_request(const std::string& server, std::int16_t port) override;
    void fire_reconnect(const std::string& server, std::int16_t port) override;
    void fire_failed_connect(const std::string& server, std::int16_t port) override;

    std::vector<FrameReport> reports;
    std::vector<LinkEvent> failed;
    std::vector<LinkEvent> reconnected;
    int reconnect_requests = 0;

    std::function<void(const FrameReport&)> on_data;
    std::function<void(const LinkEvent&)> on_failed;
    std::function<void(const LinkEvent&)> on_reconnect;

  private:
    std::function<std::shared_ptr<Engine>()> engine_;
};

// Answers echo probes unless the address is made silent; counts them.
class ScriptedProber : public EchoProber {
  public:
    bool probe(const std::string& address, unsigned, unsigned, HANDLE) override {
        probes.fetch_add(1);
        std::lock_guard guard(lock_);
        return silent_.count(address) == 0;
    }
    void set_silent(const std::string& address, bool silent) {
        std::lock_guard guard(lock_);
        if (silent) {
            silent_.insert(address);
        } else {
            silent_.erase(address);
        }
    }
    std::atomic<int> probes{0};

  private:
    std::mutex lock_;
    std::set<std::string> silent_;
};

// GetTickCount plus an offset the test moves forward.
class TestClock {
  public:
    std::uint32_t now() const { return ::GetTickCount() + offset_.load(); }
    void advance(std::uint32_t ms) { offset_.fetch_add(ms); }
    std::function<std::uint32_t()> ticks() {
        return [this] { return now(); };
    }

  private:
    std::atomic<std::uint32_t> offset_{0};
};

}  // namespace tarnet::testing
