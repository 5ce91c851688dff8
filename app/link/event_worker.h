// EventWorker: the event worker. It takes everything EventQueue holds, hands each
// entry to its handler in arrival order (an alarm must never be applied after the
// report that cleared it), then pauses between batches so that a burst of stored
// records is handled in large batches without delaying each event.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

#include "core/log.h"
#include "link/event_queue.h"

namespace porvex {

class EventWorker {
  public:
    using Handler = std::function<void(const ReceivedFrame&)>;
    static constexpr std::chrono::milliseconds kBatchPause{10};

    EventWorker(EventQueue& queue, Handler handler, LogSink& log,
                std::chrono::milliseconds batch_pause = kBatchPause);
    ~EventWorker();
    EventWorker(const EventWorker&) = delete;
    EventWorker& operator=(const EventWorker&) = delete;

    void start();
    // Batches taken from the queue so far.
    std::uint64_t batches() const { return batches_.load(); }
    // Entries handed to the handler so far.
    std::uint64_t handled() const { return handled_.load(); }
    // Stops the queue and waits until the worker has left; the entry being
    // handled is finished first, the rest is left in the queue.
    void stop();

  private:
    void run();

    EventQueue& queue_;
    Handler handler_;
    LogSink& log_;
    std::chrono::milliseconds batch_pause_;
    std::atomic<std::uint64_t> batches_{0};
    std::atomic<std::uint64_t> handled_{0};
    std::thread thread_;
};

}  // namespace porvex
