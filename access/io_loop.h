// The library's one I/O thread: a poll loop over the sockets of every link.
//
// Each round it asks every registered link what it waits for and until when: a link
// sends a queued chunk at once when its send gap has passed, waits for writable while a
// chunk is half sent, and otherwise for readable; its deadline is the end of a send gap
// or the send time-out of a half-sent chunk. Then it polls all of them together with its
// waker, and lets each ready link read once (cutting frames and posting them for
// delivery) or go on with its half-sent chunk. It never runs host code: callbacks go through the
// delivery threads, so the loop's round is never longer than the reads and sends of one
// round, whatever a host's callback does.
//
// Other threads wake it (a frame queued, a socket replaced, a link added or stopped).
// Links are shared: the loop holds them between add() and remove().
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "link_services.h"
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

    // Starts the thread; false when the system gave no thread or no waker.
    bool start();
    // Ends the thread and waits for it.
    void stop();

    void add(const std::shared_ptr<Connection>& link);
    void remove(const Connection& link);
    // Makes the loop look at every link again now. Any thread, cheap.
    void wake() noexcept;

  private:
    void run();

    ThreadCount& threads_;
    const std::size_t receive_buffer_;
    net::Waker waker_;
    std::atomic<bool> stop_{false};
    net::Mutex mutex_;  // guards links_ and version_
    std::vector<std::shared_ptr<Connection>> links_;
    std::uint64_t version_ = 0;
    net::Thread thread_;
};

}  // namespace zorvik::access
