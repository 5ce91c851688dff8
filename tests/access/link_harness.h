// A host for the access library in tests: records every callback (with the thread it
// ran on), lets a test add behaviour to a callback, and drives a Library with a hand-moved
// clock against the controller simulator on loopback.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ctlsim_driver.h"
#include "library.h"
#include "manual_clock.h"

namespace zorvik::access::testing {

struct Event {
    enum Kind { conn, disconn, report, reply } kind = conn;
    std::string ip;
    int port = 0;
    int connected = 0;  // conn
    int ap_code = 0;    // report, reply
    int psw = 0;
    int cmd = 0;
    std::string data;
    int data_len = 0;
    std::thread::id thread;
};

class Recorder {
  public:
    void add(Event e);
    std::vector<Event> events() const;
    std::vector<Event> of(Event::Kind kind) const;
    std::size_t count(Event::Kind kind) const { return of(kind).size(); }
    // Waits until count events of this kind have been recorded.
    bool wait_for(Event::Kind kind, std::size_t count = 1,
                  std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    void clear();

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    std::vector<Event> events_;
};

// Holds a host callback until opened. The fixture opens it before it tears the library
// down, so a test that fails while a callback is held ends instead of waiting for ever.
class CallbackGate {
  public:
    void hold();
    void open();

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
};

// The library under test, with a ManualClock, the recorder on all four callbacks, and a
// simulator with `controllers` controllers. Only one LinkTest runs at a time (the C
// callbacks find it through a global).
class LinkTest : public ::testing::Test {
  public:
    explicit LinkTest(std::size_t controllers = 2);
    ~LinkTest() override;

    void SetUp() override;
    void TearDown() override;

    std::uint16_t port(std::size_t ctl) const { return sim.port(ctl); }
    // Connects controller ctl and waits until it has the upload switch on (the host's
    // ConnCallback enables it, as the real host does).
    void connect_online(std::size_t ctl);

    // Moves the clock and waits until the supervisor has run a pass that saw the new time.
    void advance(int seconds);
    void advance_ms(int ms) { clock->advance(std::chrono::milliseconds(ms)); }
    bool settle(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // Waits until pred holds (polling briefly), or the time-out passes.
    static bool eventually(const std::function<bool()>& pred,
                           std::chrono::milliseconds timeout = std::chrono::seconds(5));

    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    LinkTiming timing;  // a fixture may shorten it in its constructor
    ctlsim::testing::Ctlsim sim;
    std::unique_ptr<Library> lib;
    Library* host_library = nullptr;  // what the callbacks call back into
    Recorder recorder;

    // Optional behaviour of the host's callbacks, run after recording.
    bool enable_upload_on_connect = true;
    std::function<void(const Event&)> on_event;
    CallbackGate gate;  // for on_event to hold a callback in the host

    static LinkTest* current;
};

inline const char* kLocal = "127.0.0.1";

}  // namespace zorvik::access::testing
