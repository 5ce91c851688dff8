// The library's one I/O thread: a wait on the sockets of every link, kept between turns.
//
// The loop keeps a poll set (net::Poller: epoll on Linux, a kept WSAPOLLFD array on
// Windows) with each link's socket and what the link waits for: readable, and writable
// while a chunk is half sent. It asks a link again (Connection::io_prepare) only when
// something may have changed it:
//  - another thread marked it (a new or dropped socket, a frame queued, the link offline)
//    through changed(), which also wakes the loop;
//  - its socket was ready and the loop let it read or send once;
//  - its deadline came: the end of a send gap or the send time-out of a half-sent chunk.
// So a turn costs what happened in it, not the number of links; a link's socket is added
// to the set once per connection and changed only when the link starts or stops waiting
// for writable.
//
// It never runs host code: callbacks go through the delivery threads, so a turn is never
// longer than the reads and sends of that turn, whatever a host's callback does.
//
// Links are shared: the loop holds them between add() and remove(), and holds the socket
// it registered until it has taken it out of the set, so a socket is never closed while
// in the set (its number could come back for another link's socket).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "link_services.h"
#include "net/poller.h"
#include "net/socket.h"
#include "net/sync.h"
#include "net/thread.h"

namespace zorvik::access {

class Connection;

class IoLoop : public std::enable_shared_from_this<IoLoop> {
  public:
    static constexpr std::size_t kStack = 256 * 1024;

    IoLoop(ThreadCount& threads, std::size_t receive_buffer);
    ~IoLoop();
    IoLoop(const IoLoop&) = delete;
    IoLoop& operator=(const IoLoop&) = delete;

    // Starts the thread; false when the system gave no thread, no waker or no poll set.
    bool start();
    // Ends the thread and waits for it.
    void stop();

    void add(const std::shared_ptr<Connection>& link);
    void remove(const Connection& link);
    // Something of the link the loop waits on may have changed: the loop asks it again
    // before its next wait. Any thread, cheap.
    void changed(const Connection& link);
    // Makes the loop go round once. Any thread, cheap.
    void wake() noexcept;

    // Sockets in the poll set, the waker's included (for tests: a link's socket leaves the
    // set once the link lost or dropped it). I/O thread's figure, read from any thread.
    std::size_t polled() const { return polled_.load(); }

  private:
    class Turns;
    void run();

    ThreadCount& threads_;
    const std::size_t receive_buffer_;
    net::Waker waker_;
    net::Poller poller_;  // the I/O thread's once started
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> polled_{0};
    net::Mutex mutex_;  // guards the three lists below
    std::vector<std::shared_ptr<Connection>> added_;
    std::vector<const Connection*> removed_;
    std::vector<const Connection*> changed_;
    net::Thread thread_;
};

}  // namespace zorvik::access
