// EventQueue: controller reports and replies on their way from the library's threads to
// the event worker. Callbacks only copy and append; the worker takes everything queued
// at once, in arrival order.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace porvex {

// One report or reply as the library handed it over (texts copied).
struct ReceivedFrame {
    std::string IP;
    int Port = 0;  // full width: controllers may listen above 32767
    int ApCode = 0;
    int Psw = 0;
    std::uint8_t Cmd = 0;
    std::string Data;  // payload as hexadecimal text
    int DataLen = 0;
};

// Holds at most `limit` entries. At the limit the oldest entry is dropped (later reports
// describe the doors' present state better than earlier ones) and counted.
class EventQueue {
  public:
    static constexpr std::size_t kDefaultLimit = 200000;

    explicit EventQueue(std::size_t limit = kDefaultLimit) : limit_(limit) {}

    struct PushResult {
        bool queued = false;          // false once the queue is stopped
        bool dropped_oldest = false;  // the bound made room by dropping the oldest entry
    };
    PushResult push(ReceivedFrame item);

    // Waits until something is queued or the queue is stopped, then moves everything
    // queued into batch (in arrival order). Returns false once stopped.
    bool wait_take_all(std::vector<ReceivedFrame>& batch);

    // Waits up to `pause` unless the queue is stopped; returns false once stopped.
    bool pause(std::chrono::milliseconds pause);

    // Wakes every waiter; wait_take_all and pause return false from now on.
    void stop();
    bool stopped() const;

    std::size_t size() const;
    // Entries dropped at the limit since the last call.
    std::uint64_t take_dropped();
    void clear();

  private:
    const std::size_t limit_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<ReceivedFrame> items_;
    std::uint64_t dropped_ = 0;
    bool stopped_ = false;                   // under mutex_, for the waits
    std::atomic<bool> stopped_flag_{false};  // the same, read without the lock
};

}  // namespace porvex
