#include "link/report_counters.h"

#include "link/report_codes.h"

namespace porvex {

void ReportCounters::callback(std::string_view ip, int port, int cmd) {
    callbacks_.fetch_add(1, std::memory_order_relaxed);
    if (cmd == kCmdCardRecords) {
        card_reports_.fetch_add(1, std::memory_order_relaxed);
    }
    if (cmd < kFirstReportCode || cmd > kLastReportCode) {
        return;
    }
    std::string key(ip);
    key += ':';
    key += std::to_string(port);
    std::lock_guard lock(per_link_lock_);
    ++per_link_[key];
}

void ReportCounters::handled(bool card_report) {
    handled_.fetch_add(1, std::memory_order_relaxed);
    if (card_report) {
        card_reports_handled_.fetch_add(1, std::memory_order_relaxed);
    }
}

ReportCounts ReportCounters::snapshot() const {
    ReportCounts c;
    c.callbacks = callbacks_.load();
    c.card_reports = card_reports_.load();
    c.queued = queued_.load();
    c.dropped = dropped_.load();
    c.handled = handled_.load();
    c.card_reports_handled = card_reports_handled_.load();
    c.card_records = card_records_.load();
    c.leaf_changes = leaf_changes_.load();
    c.links_up = links_up_.load();
    c.links_lost = links_lost_.load();
    return c;
}

std::map<std::string, std::uint64_t> ReportCounters::per_link() const {
    std::lock_guard lock(per_link_lock_);
    return per_link_;
}

std::string counts_text(const ReportCounts& c) {
    return "controller reports and replies since start: callbacks " + std::to_string(c.callbacks) +
           " (card reports " + std::to_string(c.card_reports) + "), queued " +
           std::to_string(c.queued) + ", dropped at the queue bound " + std::to_string(c.dropped) +
           ", handled " + std::to_string(c.handled) + " (card reports " +
           std::to_string(c.card_reports_handled) + "), card records applied " +
           std::to_string(c.card_records) + ", leaf changes " + std::to_string(c.leaf_changes) +
           "; links up " + std::to_string(c.links_up) + ", links lost " +
           std::to_string(c.links_lost);
}

}  // namespace porvex
