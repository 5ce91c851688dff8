// The queue of reports waiting for the dispatch thread, and the dispatch thread's
// thinning of duplicates when the host falls behind.
//
// Reports are delivered oldest first, one per dispatch pass. While more than 100 wait,
// a report whose key (payload text, server text, port) was seen before is not
// delivered; keys are remembered newest first, and beyond 2000 the 1000 oldest are
// forgotten. A backlog of more than 500 after taking one is dropped whole: late reports
// are worth less than current ones.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "frame_report.h"

namespace tarnet {

class ReportQueue {
  public:
    static constexpr std::size_t kThinAbove = 100;
    static constexpr std::size_t kDropAbove = 500;

    void push(const FrameReport& report);
    // Takes the oldest report. thin receives whether more than kThinAbove were queued
    // when it was taken; a backlog of more than kDropAbove behind it is dropped.
    std::optional<FrameReport> pop(bool& thin);
    void drop_all();
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
std::optional<FrameReport> next_to_deliver(ReportQueue& queue, DuplicateKeys& keys);

}  // namespace tarnet
