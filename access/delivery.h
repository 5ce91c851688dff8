// The library's delivery threads: every callback a link raises after its first
// connection attempt runs here, never on the I/O thread and never on a host's thread.
//
// Each link has its own queue (a DeliveryQueue); its work runs in the order it was
// posted, one item at a time, so a link's callbacks never overlap or overtake each other.
// Links take turns: a worker runs one item of the link at the head of the ready list and
// puts the link back at the tail when it has more, so a link with a burst of frames
// cannot hold up the others, and a callback that blocks holds up only its own link (and
// the one worker running it); the other workers serve every other link meanwhile.
//
// Work may be spaced: an item posted with a gap runs no sooner than that long after the
// link's previous item finished (frames cut from one read reach the host 5 ms apart).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "link_services.h"
#include "net/sync.h"
#include "net/thread.h"

namespace zorvik::access {

// One link's pending work. Its fields belong to the Delivery it is posted to.
class DeliveryQueue {
  private:
    friend class Delivery;
    using Clock = std::chrono::steady_clock;
    struct Item {
        std::function<void()> work;
        std::chrono::milliseconds gap{0};
    };
    std::deque<Item> items_;
    bool scheduled_ = false;  // in the ready list or running
    bool running_ = false;
    bool forgotten_ = false;
    std::thread::id runner_;
    Clock::time_point not_before_{};
    Clock::time_point last_done_{};
};

class Delivery : public std::enable_shared_from_this<Delivery> {
  public:
    static constexpr std::size_t kWorkers = 4;
    // Host callbacks run on these threads: give them an ordinary stack.
    static constexpr std::size_t kWorkerStack = 1024 * 1024;

    explicit Delivery(ThreadCount& threads);
    ~Delivery();
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;

    // Starts the workers; false when the system gave no thread (none is left running).
    bool start(std::size_t workers = kWorkers);
    // Ends the workers and waits for them; a worker calling this (from a callback) is not
    // waited for: it finishes its item and ends. Work still queued is dropped.
    void stop();

    // Queues work for the link behind its earlier work. False (nothing queued) once the
    // queue was forgotten or the delivery stopped.
    bool post(const std::shared_ptr<DeliveryQueue>& queue, std::function<void()> work,
              std::chrono::milliseconds gap = std::chrono::milliseconds(0));

    // Drops the link's queued work and refuses more; waits while another thread runs an
    // item of it, so once this returns no work of the link runs (except on the calling
    // thread itself, when it forgets the link from inside that link's callback).
    void forget(DeliveryQueue& queue);

    // Items posted and run since the start, for counting frames through the library.
    std::uint64_t posted() const;
    std::uint64_t completed() const;

  private:
    void run();
    // The first ready queue whose time has come; null when none (next_due says when).
    std::shared_ptr<DeliveryQueue> take_ready(DeliveryQueue::Clock::time_point now,
                                              DeliveryQueue::Clock::time_point& next_due);

    ThreadCount& threads_;
    mutable net::Mutex mutex_;
    net::CondVar cv_;    // workers: ready work or stop
    net::CondVar done_;  // forget(): an item finished
    std::deque<std::shared_ptr<DeliveryQueue>> ready_;
    bool stop_ = false;
    std::uint64_t posted_ = 0;
    std::uint64_t completed_ = 0;
    std::vector<net::Thread> workers_;
};

}  // namespace zorvik::access
