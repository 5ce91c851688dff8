// A set of sockets kept between waits: each is added once with what it waits for, changed
// only when that changes, and removed before it is closed. A wait costs what is ready,
// not what is registered (where the system allows: see below).
//
// Linux: epoll, level-triggered, so a socket that still has data after one read is
// reported again by the next wait, exactly as poll() would report it; a reader may take
// one chunk per wait and stay fair to the other sockets.
// Windows: a WSAPOLLFD array kept from wait to wait and changed in place (the array is
// not rebuilt); WSAPoll itself still looks at every entry of it.
//
// One thread owns a Poller: add, change, remove and wait are never called concurrently.
// A socket must be removed before it is closed (a closed descriptor's number may come
// back for another socket). Each socket carries a tag handed back with its readiness.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "socket.h"

namespace zorvik::net {

class Poller {
  public:
    struct Ready {
        void* tag = nullptr;
        unsigned got = 0;  // PollEvents: kReadable, kWritable, kError, kHangup
    };

    Poller();
    ~Poller();
    Poller(Poller&&) noexcept;
    Poller& operator=(Poller&&) noexcept;
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

    // A poller, or why the system gave none (no descriptor left).
    static Result<Poller> create();
    bool valid() const { return state_ != nullptr; }

    // want: kReadable | kWritable. add fails for a socket already in the set.
    NetError add(NativeSocket socket, unsigned want, void* tag);
    NetError change(NativeSocket socket, unsigned want, void* tag);
    void remove(NativeSocket socket);
    std::size_t size() const;

    // Waits until a socket is ready or timeout_ms passes (-1: no limit), and fills ready
    // with the sockets that are (cleared first). Returns their count; 0 on time-out or
    // when a signal interrupted the wait.
    Result<int> wait(std::vector<Ready>& ready, int timeout_ms);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zorvik::net
