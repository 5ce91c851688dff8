// The queue of reports waiting for the dispatch thread, and the dispatch thread's
// thinning of duplicates when the host falls behind.
//
// Reports are delivered oldest first, one per dispatch pass. While more than 100 wait,
// a report whose key (the whole frame: command code, ApCode, Psw and payload text, with
// server text and port) was seen before is not delivered; keys are remembered newest
// first, and beyond 2000 the 1000 oldest are forgotten. A backlog of more than 500 after
// taking one is dropped whole: late reports are worth less than current ones. Every
// report left out is counted (ReportDropCounter), and the host reads the total as the
// control's DroppedReports property.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "frame_report.h"

namespace tarnet {

// Reports that never became a DataReceive, by reason, since the engine was made.
struct ReportDrops {
    std::uint64_t repeats = 0;       // a frame repeated right after itself in one read
    std::uint64_t thinned = 0;       // a repeated key while more than 100 waited
    std::uint64_t backlog = 0;       // dropped with a backlog of more than 500
    std::uint64_t unsupervised = 0;  // queued while no link was supervised any more
    std::uint64_t total() const { return repeats + thinned + backlog + unsupervised; }
};

class ReportDropCounter {
  public:
    void repeat() { repeats_.fetch_add(1, std::memory_order_relaxed); }
    void thinned() { thinned_.fetch_add(1, std::memory_order_relaxed); }
    void backlog(std::size_t n) { backlog_.fetch_add(n, std::memory_order_relaxed); }
    void unsupervised(std::size_t n) { unsupervised_.fetch_add(n, std::memory_order_relaxed); }
    ReportDrops snapshot() const {
        return ReportDrops{repeats_.load(), thinned_.load(), backlog_.load(), unsupervised_.load()};
    }

  private:
    std::atomic<std::uint64_t> repeats_{0};
    std::atomic<std::uint64_t> thinned_{0};
    std::atomic<std::uint64_t> backlog_{0};
    std::atomic<std::uint64_t> unsupervised_{0};
};

class ReportQueue {
  public:
    static constexpr std::size_t kThinAbove = 100;
    static constexpr std::size_t kDropAbove = 500;

    void push(const FrameReport& report);
    // Takes the oldest report. thin receives whether more than kThinAbove were queued
    // when it was taken; a backlog of more than kDropAbove behind it is dropped, and
    // dropped receives how many reports that was (0 otherwise).
    std::optional<FrameReport> pop(bool& thin, std::size_t& dropped);
    // Drops every queued report; returns how many.
    std::size_t drop_all();
    std::size_t size() const;

  private:
    void release_storage();

    mutable std::mutex lock_;
    std::deque<FrameReport> reports_;
};

class DuplicateKeys {
  public:
    static constexpr std::size_t kForgetAbove = 2000;
    static constexpr std::size_t kForgetCount = 1000;

    // Remembers the report's key; true when it was remembered already.
    bool seen_before(const FrameReport& report);
    // Forgets the oldest keys when more than kForgetAbove are remembered.
    void trim();
    void clear();
    std::size_t size() const { return order_.size(); }

    static std::string key_of(const FrameReport& report);

  private:
    std::deque<std::string> order_;  // newest first
    std::unordered_map<std::string, std::size_t> counts_;
};

// One pass of the dispatch thread's bookkeeping: the next report to deliver, if any.
// Reports left out are counted in drops.
std::optional<FrameReport> next_to_deliver(ReportQueue& queue, DuplicateKeys& keys,
                                           ReportDropCounter& drops);

}  // namespace tarnet
