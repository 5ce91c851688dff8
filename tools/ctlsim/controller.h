// One simulated controller as the event loop sees it: its listening socket, the one
// connection it serves, the bytes waiting to go out, its faults and its counters.
// The protocol itself is the ControllerModel; the Simulator moves the bytes.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "controller_list.h"
#include "model.h"
#include "net/socket.h"

namespace ctlsim {

using Clock = std::chrono::steady_clock;

// Misbehaviour a test can switch on per controller (the `fault` command).
struct Faults {
    bool refuse = false;                       // listener closed: connections are refused
    std::chrono::milliseconds delay{0};        // each reply waits this long before it is sent
    int split_pieces = 1;                      // each outgoing frame in this many writes ...
    std::chrono::milliseconds split_pause{2};  // ... this far apart
    Bytes garbage;                             // sent once, just before the next frame
    int repeat = 1;                            // each report is sent this many times

    bool any() const {
        return refuse || delay.count() > 0 || split_pieces > 1 || !garbage.empty() || repeat > 1;
    }
};

// What a second connection attempt meets while one connection is being served.
enum class SecondConnection {
    reject,    // accepted and closed at once: the client reads end of stream
    takeover,  // the old connection is closed and the new one is served
};

class Controller {
  public:
    Controller(std::size_t index, ControllerAddress address)
        : index_(index), address_(std::move(address)) {}

    std::size_t index() const { return index_; }
    const ControllerAddress& address() const { return address_; }
    std::uint16_t port() const { return address_.port; }
    void set_bound_port(std::uint16_t port) { address_.port = port; }
    bool connected() const { return connection.valid(); }
    std::string name() const;  // "ctl 3 :40004" for the log

    ControllerModel model;
    Faults faults;
    SecondConnection second = SecondConnection::reject;

    zorvik::net::Socket listener;
    zorvik::net::Socket connection;

    struct Chunk {
        Bytes bytes;
        Clock::time_point due;
    };
    std::deque<Chunk> outgoing;    // written in order, each not before its due time
    std::size_t queued_bytes = 0;  // in outgoing, to notice a host that does not read
    std::size_t front_sent = 0;    // bytes of outgoing.front() already written
    bool write_blocked = false;    // the socket's send buffer is full: wait for writable
    std::optional<Clock::time_point> flush_timer;

    // Counters since start.
    std::uint64_t connections = 0;           // accepted and served
    std::uint64_t rejected_connections = 0;  // second connections turned away
    std::uint64_t reports_sent = 0;
    std::uint64_t reports_dropped = 0;
    std::uint64_t bytes_sent = 0;

  private:
    std::size_t index_;
    ControllerAddress address_;
};

}  // namespace ctlsim
