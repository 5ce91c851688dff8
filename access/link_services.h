// What every connection shares with the library around it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "callbacks.h"
#include "clock.h"
#include "net/sync.h"
#include "reply_wait_list.h"

namespace zorvik::access {

// Timing of a link, as the controllers and their hosts know it.
struct LinkTiming {
    std::chrono::milliseconds connect_timeout{2000};
    std::chrono::milliseconds socket_timeout{3000};  // each send and receive call
    std::chrono::milliseconds frame_gap{5};          // between frames cut from one read
    std::chrono::milliseconds send_gap{3};           // after each chunk sent
    std::size_t receive_buffer = 65536;
};

// Counts the link threads still running, so the library is never torn down under one
// (a thread that disconnected its own link from a callback ends on its own).
class ThreadCount {
  public:
    void add() {
        std::lock_guard lock(mutex_);
        ++count_;
    }
    void done() {
        std::lock_guard lock(mutex_);
        --count_;
        zero_.notify_all();
    }
    void wait_for_zero() {
        std::unique_lock lock(mutex_);
        zero_.wait(lock, [this] { return count_ == 0; });
    }

  private:
    net::Mutex mutex_;
    net::CondVar zero_;
    int count_ = 0;
};

// What went through the library since it was created, to check that nothing is lost
// between a controller and the host. Each frame cut from a stream ends in exactly one of
// reports_raised, replies_raised, replies_to_waits and without_callback, unless its link
// was closed before its turn came (the difference is what is in flight or was dropped).
struct LinkCounters {
    std::atomic<std::uint64_t> frames_received{0};   // valid frames cut from controller streams
    std::atomic<std::uint64_t> reports_raised{0};    // DoorDataUpCallback calls
    std::atomic<std::uint64_t> replies_raised{0};    // DoorCommandRecvCallback calls
    std::atomic<std::uint64_t> replies_to_waits{0};  // replies a waiting call took
    std::atomic<std::uint64_t> without_callback{0};  // frames no callback was registered for
};

struct LinkServices {
    std::shared_ptr<Clock> clock;
    Callbacks callbacks;
    ReplyWaitList replies;
    LinkTiming timing;
    ThreadCount threads;
    LinkCounters counters;
};

}  // namespace zorvik::access
