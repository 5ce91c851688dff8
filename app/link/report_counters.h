// ReportCounters: how many controller reports and replies passed each stage of their way
// through the door server, since start. A site (Porvex398.log) and bench/door_server
// compare the stages: a stage that counts fewer than the one before it is where
// something was lost.
//
//   library callback -> event queue -> event worker -> door model (card records applied,
//   leaf changes) -> OPC groups (counted by the OPC engine, opc/update/delivery_counts.h)
//
// Counting is lock-free except for the per-link counts (one short lock per callback).
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace porvex {

// One moment's values of every counter.
struct ReportCounts {
    std::uint64_t callbacks = 0;     // report and reply callbacks received from the library
    std::uint64_t card_reports = 0;  // of those, card-record reports (code 30)
    std::uint64_t queued = 0;        // entries put into the event queue
    std::uint64_t dropped = 0;       // entries dropped at the queue's bound
    std::uint64_t handled = 0;       // entries the event worker handed to the decoder
    std::uint64_t card_reports_handled = 0;
    std::uint64_t card_records = 0;  // card records applied to a door
    std::uint64_t leaf_changes = 0;  // leaf changes handed to the observers
    std::uint64_t links_up = 0;      // link-up callbacks (first connects and reconnects)
    std::uint64_t links_lost = 0;    // link-down callbacks (failed attempts included)
};

class ReportCounters {
  public:
    // A report or reply callback with command code cmd.
    void callback(std::string_view ip, int port, int cmd);
    void queued() { queued_.fetch_add(1, std::memory_order_relaxed); }
    void dropped(std::uint64_t n) { dropped_.fetch_add(n, std::memory_order_relaxed); }
    void handled(bool card_report);
    void card_record_applied() { card_records_.fetch_add(1, std::memory_order_relaxed); }
    void leaf_changes(std::uint64_t n) { leaf_changes_.fetch_add(n, std::memory_order_relaxed); }
    void link_up() { links_up_.fetch_add(1, std::memory_order_relaxed); }
    void link_lost() { links_lost_.fetch_add(1, std::memory_order_relaxed); }

    ReportCounts snapshot() const;
    // Report callbacks (codes 0x12..0x1F) per link ("ip:port"), since start.
    std::map<std::string, std::uint64_t> per_link() const;

  private:
    std::atomic<std::uint64_t> callbacks_{0};
    std::atomic<std::uint64_t> card_reports_{0};
    std::atomic<std::uint64_t> queued_{0};
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<std::uint64_t> handled_{0};
    std::atomic<std::uint64_t> card_reports_handled_{0};
    std::atomic<std::uint64_t> card_records_{0};
    std::atomic<std::uint64_t> leaf_changes_{0};
    std::atomic<std::uint64_t> links_up_{0};
    std::atomic<std::uint64_t> links_lost_{0};
    mutable std::mutex per_link_lock_;
    std::map<std::string, std::uint64_t> per_link_;
};

// One log line with every counter, for Porvex398.log.
std::string counts_text(const ReportCounts& counts);

}  // namespace porvex
